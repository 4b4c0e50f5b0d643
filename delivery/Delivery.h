// CDelivery: every page the line accepts, carried onward to the targets
// the profile names: the outbox it is kept in, and one worker per target.
//
// The session's thread calls every member; the workers run on their own
// and tell what happened through a queue the session empties with
// TakeEvents (no call ever waits for the session's thread). Accept is the
// only call on the line's path: it commits the page to the disk and wakes
// the workers it concerns.
#pragma once

#include "delivery/Outbox.h"
#include "delivery/SenderFactory.h"
#include "delivery/TargetConfig.h"
#include "delivery/TargetWorker.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class IProfile;

// The targets a profile names: those whose settings can be used, and one
// line for each that cannot ("[Target x] Url=...: why"), that target being
// off.
struct CTargetList {
    std::vector<CTargetConfig> targets;
    std::vector<std::pair<std::string, std::string>> off; // name, problem
    // Every target key as written: equal texts, equal settings.
    std::string strFingerprint;
};
CTargetList LoadTargets(const IProfile& profile);

class CDelivery {
  public:
    // Makes a target's sender; tests give their own.
    using SenderFactory = std::function<std::unique_ptr<ISender>(const CTargetConfig&)>;

    CDelivery(std::string strOutboxPath, std::vector<CTargetConfig> targets,
              SenderFactory factory = MakeSender);
    ~CDelivery(); // Stop(0)

    CDelivery(const CDelivery&) = delete;
    CDelivery& operator=(const CDelivery&) = delete;

    // Opens (and checks) the outbox and starts the workers. False, with the
    // reason, when the outbox cannot be opened: every page for a target is
    // then refused until it can (Accept tries again). *pstrDamage: the file
    // was damaged and moved aside.
    bool Start(std::string* pstrError, std::string* pstrDamage);

    // The targets a page from this port for this pager goes to.
    std::vector<const CTargetConfig*> Route(int nPort,
                                            const std::string& strPager) const;
    // The targets that take alerts about this port (Alerts=1 or only).
    std::vector<const CTargetConfig*> RouteAlert(int nPort) const;
    const std::string& GetOutboxPath() const { return m_strOutboxPath; }
    // Commits the page with a pending delivery to each target; true once it
    // is on the disk.
    bool Accept(const CStoredPage& page,
                const std::vector<const CTargetConfig*>& targets,
                std::string* pstrError);
    // The page's pending deliveries are cancelled; the targets that already
    // had it.
    std::vector<std::string> Cancel(const std::string& strId);

    // What the workers told since the last call, oldest first.
    std::vector<CDeliveryEvent> TakeEvents();
    std::vector<CTargetStatus> Status() const;
    const std::vector<CTargetConfig>& GetTargets() const { return m_targets; }

    void RetryTarget(const std::string& strTarget);
    // A page that failed for good (or expired) goes out again.
    void RetryPage(const std::string& strId, const std::string& strTarget);
    std::vector<CPageStatus> Recent(size_t nMax);
    // Removes the records of pages delivered everywhere more than nKeepDays
    // ago; returns how many went.
    std::int64_t Housekeep(std::int64_t nNowMs, int nKeepDays);

    // Lets the attempts in flight finish for up to nGraceMs, leaves the rest
    // in the outbox, and stops the workers.
    void Stop(int nGraceMs);

  private:
    void Push(CDeliveryEvent event);
    // One worker per target, once the outbox is open.
    void StartWorkers();

    const std::string m_strOutboxPath;
    const std::vector<CTargetConfig> m_targets;
    SenderFactory m_factory;
    std::unique_ptr<COutbox> m_pOutbox; // the session thread's connection
    std::vector<std::unique_ptr<CTargetWorker>> m_workers;
    // Shared with the workers' sinks, which may outlive nothing: Stop joins
    // them before this goes.
    mutable std::mutex m_mutex;
    std::deque<CDeliveryEvent> m_events;
};
