#include "delivery/Delivery.h"

#include "settings/Profile.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace {

// Events wait here until the session takes them; past this many (nobody
// takes them) the oldest go, so a stuck display cannot eat the memory.
constexpr size_t kEventLimit = 100000;

bool StartsWithNoCase(const std::string& strText, const std::string& strPrefix) {
    if (strText.size() < strPrefix.size())
        return false;
    for (size_t i = 0; i < strPrefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(strText[i])) !=
            std::tolower(static_cast<unsigned char>(strPrefix[i])))
            return false;
    }
    return true;
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

CTargetList LoadTargets(const IProfile& profile) {
    CTargetList list;
    for (const std::string& strSection : profile.GetSectionNames()) {
        if (!StartsWithNoCase(strSection, CTargetConfig::kSectionPrefix))
            continue;
        std::string strName =
            strSection.substr(std::string(CTargetConfig::kSectionPrefix).size());
        while (!strName.empty() &&
               std::isspace(static_cast<unsigned char>(strName.front())))
            strName.erase(0, 1);
        if (strName.empty())
            continue;
        list.strFingerprint += "[" + strSection + "]\n";
        for (const char* szKey : CTargetConfig::kKeys)
            list.strFingerprint += profile.GetString(strSection, szKey, "") + "\n";
        CTargetConfig target;
        std::string strError;
        if (ParseTarget(profile, strName, &target, &strError))
            list.targets.push_back(std::move(target));
        else
            list.off.emplace_back(strName, strError);
    }
    return list;
}

CDelivery::CDelivery(std::string strOutboxPath, std::vector<CTargetConfig> targets,
                     SenderFactory factory)
    : m_strOutboxPath(std::move(strOutboxPath)), m_targets(std::move(targets)),
      m_factory(std::move(factory)) {}

CDelivery::~CDelivery() {
    Stop(0);
}

bool CDelivery::Start(std::string* pstrError, std::string* pstrDamage) {
    m_pOutbox = COutbox::Open(m_strOutboxPath, true, pstrError, pstrDamage);
    if (!m_pOutbox)
        return false;
    StartWorkers();
    return true;
}

void CDelivery::StartWorkers() {
    if (!m_workers.empty())
        return;
    for (const CTargetConfig& target : m_targets) {
        auto pWorker = std::make_unique<CTargetWorker>(
            target, m_strOutboxPath, m_factory(target),
            [this](CDeliveryEvent event) { Push(std::move(event)); });
        pWorker->Start();
        m_workers.push_back(std::move(pWorker));
    }
}

std::vector<const CTargetConfig*> CDelivery::Route(int nPort,
                                                   const std::string& strPager) const {
    std::vector<const CTargetConfig*> routed;
    for (const CTargetConfig& target : m_targets) {
        if (target.Routes(nPort, strPager))
            routed.push_back(&target);
    }
    return routed;
}

std::vector<const CTargetConfig*> CDelivery::RouteAlert(int nPort) const {
    std::vector<const CTargetConfig*> routed;
    for (const CTargetConfig& target : m_targets) {
        if (target.RoutesAlert(nPort))
            routed.push_back(&target);
    }
    return routed;
}

bool CDelivery::Accept(const CStoredPage& page,
                       const std::vector<const CTargetConfig*>& targets,
                       std::string* pstrError) {
    if (!m_pOutbox) {
        // The outbox could not be opened at the start: perhaps it can now.
        std::string strDamage;
        m_pOutbox = COutbox::Open(m_strOutboxPath, false, pstrError, &strDamage);
        if (!m_pOutbox)
            return false;
        StartWorkers(); // nothing kept may wait without a worker
    }
    std::vector<std::string> names;
    std::vector<std::int64_t> expire;
    for (const CTargetConfig* pTarget : targets) {
        names.push_back(pTarget->strName);
        expire.push_back(pTarget->nExpireMs);
    }
    if (!m_pOutbox->Accept(page, names, expire, pstrError))
        return false;
    for (auto& pWorker : m_workers) {
        if (std::find(names.begin(), names.end(), pWorker->GetTarget().strName) !=
            names.end())
            pWorker->Wake();
    }
    return true;
}

std::vector<std::string> CDelivery::Cancel(const std::string& strId) {
    return m_pOutbox ? m_pOutbox->Cancel(strId) : std::vector<std::string>();
}

void CDelivery::Push(CDeliveryEvent event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_events.size() >= kEventLimit)
        m_events.pop_front();
    m_events.push_back(std::move(event));
}

std::vector<CDeliveryEvent> CDelivery::TakeEvents() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<CDeliveryEvent> events(std::make_move_iterator(m_events.begin()),
                                       std::make_move_iterator(m_events.end()));
    m_events.clear();
    return events;
}

std::vector<CTargetStatus> CDelivery::Status() const {
    std::vector<CTargetStatus> status;
    for (const auto& pWorker : m_workers)
        status.push_back(pWorker->Status());
    return status;
}

void CDelivery::RetryTarget(const std::string& strTarget) {
    for (auto& pWorker : m_workers) {
        if (pWorker->GetTarget().strName == strTarget)
            pWorker->RetryNow();
    }
}

void CDelivery::RetryPage(const std::string& strId, const std::string& strTarget) {
    if (!m_pOutbox)
        return;
    for (auto& pWorker : m_workers) {
        const CTargetConfig& target = pWorker->GetTarget();
        if (!strTarget.empty() && target.strName != strTarget)
            continue;
        m_pOutbox->RetryPage(strId, target.strName, NowMs(), target.nExpireMs);
        pWorker->Wake();
    }
}

std::vector<CPageStatus> CDelivery::Recent(size_t nMax) {
    return m_pOutbox ? m_pOutbox->Recent(nMax) : std::vector<CPageStatus>();
}

std::int64_t CDelivery::Housekeep(std::int64_t nNowMs, int nKeepDays) {
    if (!m_pOutbox)
        return 0;
    return m_pOutbox->RemoveFinishedBefore(
        nNowMs - static_cast<std::int64_t>(nKeepDays) * 24 * 3600 * 1000);
}

void CDelivery::Stop(int nGraceMs) {
    for (auto& pWorker : m_workers)
        pWorker->RequestStop();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(nGraceMs);
    for (auto& pWorker : m_workers) {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                               deadline - std::chrono::steady_clock::now())
                               .count();
        if (!pWorker->Join(static_cast<int>(std::max<std::int64_t>(nLeft, 0)))) {
            pWorker->AbortInFlight();
            pWorker->Join();
        }
    }
    m_workers.clear();
}
