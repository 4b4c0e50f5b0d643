// ISender: how one target's pages leave the program, one scheme each (MQTT,
// HTTP, mail, a local program).
//
// A sender belongs to its target's worker thread and is called only from
// it; RequestStop alone may be called from another thread, to cut short an
// attempt in flight when the program ends. A sender keeps what it can
// between calls (a broker connection, an HTTP connection), and reopens it
// when it was lost. It never throws; every outcome, including garbage from
// the receiver, a receiver that never answers and one that closes in the
// middle, is a result.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CTargetConfig;

// One page on its way to one target.
struct COutgoing {
    std::string strId;      // the page's id, the same for every target and attempt
    std::string strPager;   // the pager ID (UTF-8)
    std::string strMessage; // the message alone (UTF-8)
    int nPort = 0;          // COMn's n
    std::string strTime;    // the record's "time" (local ISO time)
    std::string strRecord;  // the page's JSON record, one line, with its "id"
};

enum class SendOutcome {
    kDelivered, // the receiver confirmed it
    kRetry,     // not now: try again later
    kFailed,    // refused for good: never tried again
};

struct CSendResult {
    SendOutcome outcome = SendOutcome::kRetry;
    // What an operator reads: "CONNECTION REFUSED", "HTTP 500 Internal Server
    // Error", "EXIT 75", "TIMED OUT AFTER 10 S". Upper case for the notes;
    // never holds a password or an Authorization value.
    std::string strReason;
    // Kept with the attempt: the first 1 KB of an HTTP answer's body, the
    // first 4 KB of a program's standard error; empty when none.
    std::string strDetail;
    // The receiver asked to wait this long before the next try (Retry-After);
    // -1 when it did not say.
    std::int64_t nRetryAfterMs = -1;
    // False for a page not sent at all, because one before it must be tried
    // again first: it is no attempt, and keeps its place and its count.
    bool bAttempted = true;
};

class ISender {
  public:
    virtual ~ISender() = default;
    // Sends the pages in order, each within the target's Timeout, and gives
    // one result per page, in the same order. Pages after one that must be
    // tried again may be sent or not (kRetry without sending is fine).
    virtual std::vector<CSendResult> Send(const std::vector<COutgoing>& pages) = 0;
    // "MQTT", "HTTP", "SMTP", "EXEC": the scheme in the protocol window's notes.
    virtual const char* Kind() const = 0;
    // Any thread: the attempt in flight ends soon (within about 100 ms) as
    // kRetry "STOPPED", and so does every later one.
    void RequestStop() { m_bStop = true; }

  protected:
    bool StopRequested() const { return m_bStop; }
    // Sends the pages one at a time in order; after one that must be tried
    // again the rest are not sent (the order is kept) and get its result,
    // marked as not attempted.
    static std::vector<CSendResult>
    SendOneByOne(const std::vector<COutgoing>& pages,
                 const std::function<CSendResult(const COutgoing&)>& sendOne);

  private:
    std::atomic<bool> m_bStop{false};
};
