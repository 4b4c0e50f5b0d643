// CTargetWorker: one target's deliveries, on a thread of its own, off the
// line's path.
//
// The worker takes the target's due deliveries from the outbox (through a
// connection of its own), oldest page first, hands them to the target's
// sender and records every attempt. A page the receiver refused for good
// never holds back those after it; one that must be tried again does, and
// waits 1 s, 2 s, 4 s ... at most 5 min (each +-20 %), or as long as the
// receiver asked. What happens is told through the event sink (from the
// worker's thread: the sink must only queue it) and shown by Status.
//
// Start, Wake, RetryNow, RequestStop, AbortInFlight, Join and Status may be
// called from any thread; the rest of the worker runs on its own.
#pragma once

#include "delivery/Outbox.h"
#include "delivery/Sender.h"
#include "delivery/TargetConfig.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Something that happened to a delivery, for the notes, the session log
// and the session's own bookkeeping.
struct CDeliveryEvent {
    enum class Kind {
        kDelivered, // the receiver confirmed a page
        kRetry,     // an attempt failed; the page is tried again later
        kFailed,    // refused for good
        kExpired,   // still undelivered after the target's Expire
        kProblem,   // the outbox cannot be read or written
    };
    Kind kind = Kind::kDelivered;
    std::string strTarget;
    std::string strKind; // "MQTT", ...
    std::string strId;   // the page (empty for kProblem)
    std::string strPager;
    int nPort = 0;
    std::int64_t nTimeMs = 0;    // when the attempt ended
    std::int64_t nTookMs = 0;    // how long the attempt took
    int nAttempt = 0;            // 1 for the first
    std::int64_t nAgainInMs = 0; // kRetry: when the next try comes
    std::string strReason;
    std::string strDetail;
};

struct CTargetStatus {
    enum class State { kUp, kRetrying, kOff };
    std::string strName;
    std::string strKind;
    State state = State::kUp;
    std::string strReason; // why it is trying again, or why it is off
    CTargetCounts counts;
};

// The wait before the next try after nAttempts failed ones: 1 s, 2 s, 4 s
// ... at most 5 min, times (1 + dJitter), dJitter in [-0.2, 0.2].
std::int64_t RetryDelayMs(int nAttempts, double dJitter);

class CTargetWorker {
  public:
    using EventSink = std::function<void(CDeliveryEvent)>;
    static constexpr size_t kBatch = 200;

    CTargetWorker(CTargetConfig target, std::string strOutboxPath,
                  std::unique_ptr<ISender> pSender, EventSink sink);
    ~CTargetWorker(); // stops at once: AbortInFlight, Join

    CTargetWorker(const CTargetWorker&) = delete;
    CTargetWorker& operator=(const CTargetWorker&) = delete;

    void Start();
    // New pages wait: look now.
    void Wake();
    // Every pending page is due now (Retry now).
    void RetryNow();
    // No attempt starts after this; the one in flight finishes.
    void RequestStop();
    // The attempt in flight ends as soon as the sender can end it.
    void AbortInFlight();
    // Waits for the thread to end; false when it has not within nTimeoutMs
    // (-1: as long as it takes).
    bool Join(int nTimeoutMs = -1);

    CTargetStatus Status() const;
    const CTargetConfig& GetTarget() const { return m_target; }

  private:
    void Run();
    // One batch: false when there was nothing due.
    bool DeliverDue(COutbox& outbox);
    void RefreshCounts(COutbox& outbox, bool bForce);
    void Emit(CDeliveryEvent event);

    const CTargetConfig m_target;
    const std::string m_strOutboxPath;
    std::unique_ptr<ISender> m_pSender;
    EventSink m_sink;

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bWake = false;
    bool m_bRetryNow = false;
    bool m_bStop = false;
    bool m_bDone = false;
    bool m_bBackingOff = false; // the oldest page waits for its next try
    CTargetStatus m_status;
    std::int64_t m_nCountsMs = 0; // when the counts were last read (worker)
    std::thread m_thread;
};
