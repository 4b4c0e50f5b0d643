#include "delivery/TargetWorker.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace {

constexpr std::int64_t kFirstRetryMs = 1000;
constexpr std::int64_t kLongestRetryMs = 5 * 60 * 1000;
// A receiver's Retry-After past this is taken as this: a page is not held
// for a day because a server said so.
constexpr std::int64_t kLongestRetryAfterMs = 60 * 60 * 1000;
// The counts shown are read again at most this often while pages flow.
constexpr std::int64_t kCountsEveryMs = 250;
// An outbox that cannot be read or written is tried again after this.
constexpr std::int64_t kProblemPauseMs = 2000;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double Jitter() {
    thread_local std::minstd_rand random(std::random_device{}());
    return std::uniform_real_distribution<double>(-0.2, 0.2)(random);
}

} // namespace

std::int64_t RetryDelayMs(int nAttempts, double dJitter) {
    std::int64_t nDelay = kFirstRetryMs;
    for (int i = 1; i < nAttempts && nDelay < kLongestRetryMs; ++i)
        nDelay *= 2;
    nDelay = std::min(nDelay, kLongestRetryMs);
    return static_cast<std::int64_t>(static_cast<double>(nDelay) * (1.0 + dJitter));
}

CTargetWorker::CTargetWorker(CTargetConfig target, std::string strOutboxPath,
                             std::unique_ptr<ISender> pSender, EventSink sink)
    : m_target(std::move(target)), m_strOutboxPath(std::move(strOutboxPath)),
      m_pSender(std::move(pSender)), m_sink(std::move(sink)) {
    m_status.strName = m_target.strName;
    m_status.strKind = m_target.KindText();
}

CTargetWorker::~CTargetWorker() {
    RequestStop();
    AbortInFlight();
    Join();
}

void CTargetWorker::Start() {
    m_thread = std::thread([this] { Run(); });
}

void CTargetWorker::Wake() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // While the oldest page waits for its next try, a new page behind it
    // cannot go either: no need to look (and to take time from the line).
    if (m_bBackingOff)
        return;
    m_bWake = true;
    m_cv.notify_all();
}

void CTargetWorker::RetryNow() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bBackingOff = false;
    m_bRetryNow = true;
    m_bWake = true;
    m_cv.notify_all();
}

void CTargetWorker::RequestStop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStop = true;
    m_cv.notify_all();
}

void CTargetWorker::AbortInFlight() {
    m_pSender->RequestStop();
}

bool CTargetWorker::Join(int nTimeoutMs) {
    if (!m_thread.joinable())
        return true;
    if (nTimeoutMs >= 0) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                           [this] { return m_bDone; }))
            return false;
    }
    m_thread.join();
    return true;
}

CTargetStatus CTargetWorker::Status() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

void CTargetWorker::Emit(CDeliveryEvent event) {
    event.strTarget = m_target.strName;
    event.strKind = m_target.KindText();
    m_sink(std::move(event));
}

void CTargetWorker::Run() {
    std::string strError;
    std::unique_ptr<COutbox> pOutbox;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_bStop)
                break;
        }
        if (!pOutbox) {
            pOutbox = COutbox::Open(m_strOutboxPath, false, &strError);
            if (!pOutbox) {
                CDeliveryEvent event;
                event.kind = CDeliveryEvent::Kind::kProblem;
                event.nTimeMs = NowMs();
                event.strReason = "THE OUTBOX CANNOT BE OPENED: " + strError;
                Emit(event);
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait_for(lock, std::chrono::milliseconds(kProblemPauseMs),
                              [this] { return m_bStop; });
                continue;
            }
            RefreshCounts(*pOutbox, true);
        }
        bool bRetryNow;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bRetryNow = m_bRetryNow;
            m_bRetryNow = false;
            m_bWake = false;
        }
        if (bRetryNow)
            pOutbox->RetryTarget(m_target.strName, NowMs());
        if (DeliverDue(*pOutbox))
            continue;
        RefreshCounts(*pOutbox, false);
        // Nothing due: sleep until the oldest pending page is, a new page
        // comes, or the program ends. Looked at every second all the same,
        // should another process have changed the file.
        const std::int64_t nNextMs = pOutbox->NextDueMs(m_target.strName);
        std::int64_t nWaitMs = 1000;
        if (nNextMs >= 0)
            nWaitMs = std::clamp<std::int64_t>(nNextMs - NowMs(), 0, 1000);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bBackingOff = nNextMs > NowMs();
        m_cv.wait_for(lock, std::chrono::milliseconds(nWaitMs),
                      [this] { return m_bStop || m_bWake; });
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bDone = true;
    m_cv.notify_all();
}

bool CTargetWorker::DeliverDue(COutbox& outbox) {
    std::vector<CDueDelivery> expired;
    const std::int64_t nNow = NowMs();
    std::vector<CDueDelivery> due =
        outbox.TakeDue(m_target.strName, nNow, kBatch, &expired);
    for (const CDueDelivery& delivery : expired) {
        CDeliveryEvent event;
        event.kind = CDeliveryEvent::Kind::kExpired;
        event.strId = delivery.page.strId;
        event.strPager = delivery.page.strPager;
        event.nPort = delivery.page.nPort;
        event.nTimeMs = nNow;
        event.nAttempt = delivery.nAttempts;
        event.strReason = "EXPIRED";
        Emit(event);
    }
    if (due.empty())
        return !expired.empty();

    std::vector<COutgoing> pages;
    pages.reserve(due.size());
    for (const CDueDelivery& delivery : due) {
        COutgoing page;
        page.strId = delivery.page.strId;
        page.strPager = delivery.page.strPager;
        page.strMessage = delivery.page.strMessage;
        page.nPort = delivery.page.nPort;
        page.strTime = delivery.page.strTime;
        page.strRecord = delivery.page.strRecord;
        pages.push_back(std::move(page));
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<CSendResult> results = m_pSender->Send(pages);
    const std::int64_t nTookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
    results.resize(due.size(),
                   CSendResult{SendOutcome::kRetry, "NOT SENT", "", -1, false});
    const std::int64_t nEnd = NowMs();

    std::vector<CAttemptResult> attempts;
    std::vector<CDeliveryEvent> events;
    bool bRetrying = false;
    std::string strRetryReason;
    for (size_t i = 0; i < due.size(); ++i) {
        const CSendResult& result = results[i];
        // Not sent: it waits behind the page that failed, as it was.
        if (!result.bAttempted)
            continue;
        CAttemptResult attempt;
        attempt.nSeq = due[i].nSeq;
        attempt.nTimeMs = nEnd;
        attempt.strReason = result.strReason;
        attempt.strDetail = result.strDetail;
        CDeliveryEvent event;
        event.strId = due[i].page.strId;
        event.strPager = due[i].page.strPager;
        event.nPort = due[i].page.nPort;
        event.nTimeMs = nEnd;
        event.nTookMs = nTookMs;
        event.nAttempt = due[i].nAttempts + 1;
        event.strReason = result.strReason;
        event.strDetail = result.strDetail;
        switch (result.outcome) {
        case SendOutcome::kDelivered:
            attempt.state = DeliveryState::kDelivered;
            event.kind = CDeliveryEvent::Kind::kDelivered;
            break;
        case SendOutcome::kFailed:
            attempt.state = DeliveryState::kFailed;
            event.kind = CDeliveryEvent::Kind::kFailed;
            break;
        case SendOutcome::kRetry: {
            std::int64_t nDelay = RetryDelayMs(due[i].nAttempts + 1, Jitter());
            // Retry-After says how long at least; never less than the
            // first step, so "Retry-After: 0" cannot make the worker spin.
            if (result.nRetryAfterMs >= 0)
                nDelay = std::clamp(result.nRetryAfterMs, kFirstRetryMs,
                                    kLongestRetryAfterMs);
            attempt.state = DeliveryState::kPending;
            attempt.nNextMs = nEnd + nDelay;
            event.kind = CDeliveryEvent::Kind::kRetry;
            event.nAgainInMs = nDelay;
            if (!bRetrying) {
                bRetrying = true;
                strRetryReason = result.strReason;
            }
            break;
        }
        }
        attempts.push_back(std::move(attempt));
        events.push_back(std::move(event));
    }
    std::string strError;
    if (!outbox.Record(m_target.strName, attempts, &strError)) {
        // The attempts are lost to the file: what was delivered is sent
        // again later (at least once), nothing is dropped.
        CDeliveryEvent event;
        event.kind = CDeliveryEvent::Kind::kProblem;
        event.nTimeMs = nEnd;
        event.strReason = "THE OUTBOX CANNOT RECORD DELIVERIES: " + strError;
        Emit(event);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(kProblemPauseMs),
                      [this] { return m_bStop; });
        return true;
    }
    // Only the first of a run of retries is told: a receiver that is down
    // makes one note per try, not one per page waiting.
    bool bRetryTold = false;
    for (CDeliveryEvent& event : events) {
        if (event.kind == CDeliveryEvent::Kind::kRetry) {
            if (bRetryTold)
                continue;
            bRetryTold = true;
        }
        Emit(std::move(event));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status.state =
            bRetrying ? CTargetStatus::State::kRetrying : CTargetStatus::State::kUp;
        m_status.strReason = strRetryReason;
    }
    RefreshCounts(outbox, false);
    // After a retry the next attempt waits its time; go round to sleep.
    return !bRetrying;
}

void CTargetWorker::RefreshCounts(COutbox& outbox, bool bForce) {
    const std::int64_t nNow = NowMs();
    if (!bForce && nNow - m_nCountsMs < kCountsEveryMs)
        return;
    m_nCountsMs = nNow;
    const CTargetCounts counts = outbox.Counts(m_target.strName);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status.counts = counts;
}
