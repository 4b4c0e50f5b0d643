#include "session/SessionDelivery.h"

#include "engine/PageTerminal.h"
#include "session/AlertWatch.h"
#include "session/Clock.h"
#include "session/ViewText.h"
#include "settings/PortConfig.h"
#include "settings/Profile.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <sys/stat.h>

namespace {

// Housekeeping runs at the start and then once an hour (in 100 ms ticks).
constexpr int kHousekeepTicks = 36000;
// The profile is looked at for changed targets once a second.
constexpr int kProfileTicks = 10;
// Settings changed while the program runs: attempts in flight get this long.
constexpr int kRestartGraceMs = 1000;

std::string AgeText(std::int64_t nMs) {
    const std::int64_t nSeconds = nMs / 1000;
    if (nSeconds < 120)
        return std::to_string(nSeconds) + " s";
    if (nSeconds < 2 * 3600)
        return std::to_string(nSeconds / 60) + " min";
    if (nSeconds < 2 * 86400)
        return std::to_string(nSeconds / 3600) + " h";
    return std::to_string(nSeconds / 86400) + " days";
}

std::string SecondsText(std::int64_t nMs) {
    return std::to_string((nMs + 500) / 1000) + " S";
}

void SetResult(CPageRecord* pRecord, const std::string& strResult) {
    pRecord->strResult = strResult;
    if (pRecord->lines.size() >= 2)
        pRecord->lines[1] = strResult;
    else
        pRecord->lines.push_back(strResult);
}

bool HasSecret(const CTargetConfig& target) {
    return !target.strPassword.empty() || !target.strAuthorization.empty();
}

} // namespace

std::string OutboxPath(const std::string& strStateFolder,
                       const std::string& strProfilePath) {
    std::string strFolder = strStateFolder;
    // A service's own state folder, which systemd names (StateDirectory=).
    const char* szService = std::getenv("STATE_DIRECTORY");
    if (strFolder.empty() && szService != nullptr && szService[0] == '/')
        strFolder = std::string(szService).substr(0, std::string(szService).find(':'));
    if (strFolder.empty()) {
        const char* szState = std::getenv("XDG_STATE_HOME");
        const char* szHome = std::getenv("HOME");
        if (szState != nullptr && szState[0] == '/')
            strFolder = std::string(szState) + "/volnex";
        else
            strFolder =
                std::string(szHome != nullptr ? szHome : "") + "/.local/state/volnex";
    }
    std::string strName = strProfilePath.substr(strProfilePath.find_last_of('/') + 1);
    const size_t nDot = strName.find_last_of('.');
    if (nDot != std::string::npos && nDot > 0)
        strName.resize(nDot);
    if (strName.empty())
        strName = "volnex";
    return strFolder + "/" + strName + ".outbox.db";
}

CSessionDelivery::CSessionDelivery(CCallbacks callbacks)
    : m_callbacks(std::move(callbacks)) {}

CSessionDelivery::~CSessionDelivery() {
    Stop(0);
}

void CSessionDelivery::Stop(int nGraceMs) {
    if (m_pDelivery)
        m_pDelivery->Stop(nGraceMs);
}

std::string CSessionDelivery::Apply(const CPortConfig& config,
                                    const IProfile& profile) {
    CTargetList list = LoadTargets(profile);
    const std::string strPath =
        OutboxPath(config.GetStateFolder(), profile.GetFilePath());
    const std::string strFingerprint =
        list.strFingerprint + strPath + "\n" + config.GetAnswerWhen() + "\n" +
        config.GetDeliveryWait() + "\n" + config.GetKeepDays();
    if (strFingerprint == m_strFingerprint)
        return std::string();
    // A profile caught in the middle of an editor's save, or unreadable for a
    // moment, holds no targets: they go only when a second look agrees.
    const bool bNoneNow = list.targets.empty() && list.off.empty();
    if (bNoneNow && m_pDelivery && ++m_nEmptyLooks < 2)
        return std::string();
    m_nEmptyLooks = 0;
    m_strFingerprint = strFingerprint;
    if (m_pDelivery) {
        m_pDelivery->Stop(kRestartGraceMs);
        m_pDelivery.reset();
    }
    m_off = list.off;
    if (list.targets.empty() && list.off.empty())
        return std::string();

    std::vector<std::string> problems;
    for (const auto& off : list.off)
        problems.push_back("The delivery target " + off.first + " is off:\n" +
                           off.second);

    const uint8_t nPort = static_cast<uint8_t>(config.m_nPort);
    const std::string strWhen = config.GetAnswerWhen();
    m_answerWhen = AnswerWhen::kStored;
    if (strWhen == "delivered")
        m_answerWhen = AnswerWhen::kDelivered;
    else if (!strWhen.empty() && strWhen != "stored")
        problems.push_back(CPortConfig::PortKey("AnswerWhen", nPort) + "=" +
                           ShownValue(strWhen) +
                           ": stored or delivered; stored is used");
    const std::string strWait = config.GetDeliveryWait();
    m_nDeliveryWait = kDefaultDeliveryWait;
    if (!strWait.empty()) {
        const int nWait = DecimalValue(strWait);
        if (nWait >= 1 && nWait <= 9 && std::to_string(nWait) == strWait)
            m_nDeliveryWait = nWait;
        else
            problems.push_back(CPortConfig::PortKey("DeliveryWait", nPort) + "=" +
                               ShownValue(strWait) +
                               ": seconds from 1 to 9 (the caller waits 10 s for an "
                               "answer); 8 is used");
    }
    const std::string strKeep = config.GetKeepDays();
    m_nKeepDays = kDefaultKeepDays;
    if (!strKeep.empty()) {
        const int nKeep = DecimalValue(strKeep);
        if (nKeep >= 1 && std::to_string(nKeep) == strKeep)
            m_nKeepDays = nKeep;
        else
            problems.push_back("KeepDays=" + ShownValue(strKeep) +
                               ": a number of days from 1 "
                               "up; 7 is used");
    }

    bool bSecret = false;
    for (const CTargetConfig& target : list.targets) {
        bSecret = bSecret || HasSecret(target);
        if (target.bInsecure && target.UsesTls())
            m_callbacks.note(
                "   WARNING: DELIVERY TO " + target.strName +
                " DOES NOT VERIFY THE RECEIVER'S CERTIFICATE (Insecure=1)");
    }
    struct stat st;
    const std::string strProfile = profile.GetFilePath();
    if (bSecret && !m_bSecretSaid && !strProfile.empty() &&
        stat(strProfile.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        m_bSecretSaid = true;
        problems.push_back(
            "The profile " + strProfile +
            " holds a delivery password or Authorization value, and other "
            "users can read it. Make it yours alone: chmod 600 " +
            strProfile);
    }

    if (!list.targets.empty()) {
        m_pDelivery = std::make_unique<CDelivery>(strPath, std::move(list.targets));
        std::string strError, strDamage;
        if (!m_pDelivery->Start(&strError, &strDamage))
            problems.push_back("The outbox cannot be opened: " + strError +
                               "\nPages for delivery are refused until it can.");
        if (!strDamage.empty()) {
            problems.push_back(strDamage);
            m_callbacks.note("   " + strDamage);
        }
        m_pDelivery->Housekeep(GetClock().NowMs(), m_nKeepDays);
    }
    std::string strBox;
    for (const std::string& strProblem : problems)
        strBox += (strBox.empty() ? "" : "\n\n") + strProblem;
    return strBox;
}

CPageRecord CSessionDelivery::ProvisionalRecord(const CAnswerChange& change,
                                                const CPageFacts& facts,
                                                const CPageRecord& proto) {
    CPageRecord record = proto;
    const bool bCut = change.kind == CAnswerChange::Kind::kTruncate;
    record.verdict = bCut ? PageVerdict::kTruncated : PageVerdict::kAccepted;
    record.nBlocks = facts.nBlocks;
    record.strAnswer = AnswerOf(record.verdict);
    if (bCut)
        record.strResult =
            "\tACCEPTED, CUT TO " + std::to_string(change.nCutTo) + " CHARACTERS";
    FillPageFields(&record, facts.strPageText, facts.strBlock, true);
    if (bCut && record.strMessage.size() > change.nCutTo)
        record.strMessage.resize(change.nCutTo);
    return record;
}

CAnswerChange CSessionDelivery::OnLastBlock(const CAnswerChange& change,
                                            const CPageFacts& facts,
                                            const CPageRecord& proto, bool bSequences,
                                            CPageRecord* pRecord) {
    using Kind = CAnswerChange::Kind;
    m_strPageId.clear();
    m_strRefusedWhy.clear();
    if (!m_pDelivery || (change.kind != Kind::kAsIs && change.kind != Kind::kDefer &&
                         change.kind != Kind::kTruncate))
        return change;
    CPageRecord record = ProvisionalRecord(change, facts, proto);
    const std::vector<const CTargetConfig*> targets =
        m_pDelivery->Route(record.nPort, record.strPager);
    if (targets.empty()) {
        *pRecord = record;
        return change;
    }

    record.strId = NewPageId();
    *pRecord = record;
    CStoredPage page;
    page.strId = record.strId;
    page.nAcceptedMs = record.nTimeMs;
    page.nPort = record.nPort;
    page.strPager = DecodeText(record.strPager, record.charset);
    page.strMessage = DecodeText(record.strMessage, record.charset);
    page.strTime = IsoLocalTime(record.nTimeMs);
    page.strRecord = PageRecordJson(record);
    std::string strError;
    if (!m_pDelivery->Accept(page, targets, &strError)) {
        // Not kept, so not acknowledged: the caller keeps the page and
        // sends it again later.
        CAnswerChange refused = change;
        refused.kind = Kind::kRefuse;
        refused.refusal = CAnswerChange::Refusal::kBusy;
        m_strRefusedWhy = strError;
        if (m_strStoreFailure != strError)
            refused.notes.push_back("   PAGE REFUSED: THE OUTBOX CANNOT KEEP IT: " +
                                    strError);
        m_strStoreFailure = strError;
        return refused;
    }
    m_strStoreFailure.clear();
    // A page a test mode cuts or defers keeps that answer: only a page
    // answered as it is waits for its deliveries.
    if (m_answerWhen == AnswerWhen::kDelivered && change.kind == Kind::kAsIs) {
        CAnswerChange wait = change;
        wait.kind = Kind::kAwait;
        wait.nDelayTicks = m_nDeliveryWait * 10;
        m_await = CAwait();
        m_await.strId = record.strId;
        m_await.nTimeMs = record.nTimeMs;
        m_await.deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(m_nDeliveryWait);
        for (const CTargetConfig* pTarget : targets)
            m_await.targets.insert(pTarget->strName);
        return wait;
    }
    m_strPageId = record.strId;
    m_nPageTimeMs = record.nTimeMs;
    CAnswerChange stored = change;
    // Revision 1.8 says what an ACK means here: kept, not yet delivered.
    if (bSequences && stored.kind == Kind::kAsIs)
        stored.kind = Kind::kDefer;
    return stored;
}

bool CSessionDelivery::SendAlert(const CAlertEvent& event, std::string* pstrError) {
    if (!m_pDelivery)
        return true;
    const std::vector<const CTargetConfig*> targets =
        m_pDelivery->RouteAlert(event.alert.nPort);
    if (targets.empty())
        return true;
    CStoredPage page;
    page.strId = NewPageId();
    page.nAcceptedMs = event.nTimeMs;
    page.nPort = event.alert.nPort;
    page.strPager = "alert";
    page.strMessage = event.alert.strText;
    page.strTime = IsoLocalTime(event.nTimeMs);
    page.strRecord = AlertJson(event);
    return m_pDelivery->Accept(page, targets, pstrError);
}

void CSessionDelivery::OnPageResult(CPageRecord* pRecord, bool bAwaited,
                                    bool bWithheld) {
    if (bAwaited && !m_await.strId.empty()) {
        pRecord->strId = m_await.strId;
        // The time the page came, as its forwarded record says, not the
        // time its answer could be given.
        pRecord->nTimeMs = m_await.nTimeMs;
        if (!pRecord->lines.empty())
            pRecord->lines[0] =
                FormatPageLine(static_cast<std::time_t>(m_await.nTimeMs / 1000), "") +
                pRecord->lines[0].substr(FormatPageLine(0, "").size());
        if (pRecord->verdict == PageVerdict::kRefused && m_pDelivery) {
            // Refused, so sent again by the caller: not delivered later too.
            const std::vector<std::string> had = m_pDelivery->Cancel(m_await.strId);
            std::string strResult = "\tREFUSED: NOT DELIVERED WITHIN " +
                                    std::to_string(m_nDeliveryWait) + " S";
            if (m_await.bFailed)
                strResult = "\tREFUSED: A TARGET REFUSED IT";
            for (size_t i = 0; i < had.size(); ++i)
                strResult += (i == 0 ? "; ALREADY DELIVERED TO " : ", ") + had[i];
            SetResult(pRecord, strResult);
            if (bWithheld)
                pRecord->strAnswer.clear(); // nothing went on the line
        }
        m_await = CAwait();
        return;
    }
    if (!m_strPageId.empty()) {
        pRecord->strId = m_strPageId;
        pRecord->nTimeMs = m_nPageTimeMs; // the same as the forwarded record's
        m_strPageId.clear();
    }
    if (!m_strRefusedWhy.empty() && pRecord->verdict == PageVerdict::kRefused) {
        SetResult(pRecord, "\tREFUSED: NOT STORED: " + m_strRefusedWhy);
        m_strRefusedWhy.clear();
    }
}

std::string CSessionDelivery::Tick(CPageTerminal& terminal, const CPortConfig& config,
                                   const IProfile& profile) {
    std::string strBox;
    ++m_nTicks;
    if (m_nTicks % kProfileTicks == 0)
        strBox = Apply(config, profile);
    if (!m_pDelivery)
        return strBox;
    for (const CDeliveryEvent& event : m_pDelivery->TakeEvents()) {
        Say(event);
        if (m_callbacks.logged)
            m_callbacks.logged(event);
        if (m_await.strId.empty() || event.strId != m_await.strId)
            continue;
        if (event.kind == CDeliveryEvent::Kind::kDelivered)
            m_await.targets.erase(event.strTarget);
        else if (event.kind == CDeliveryEvent::Kind::kFailed ||
                 event.kind == CDeliveryEvent::Kind::kExpired)
            m_await.bFailed = true;
    }
    if (!m_await.strId.empty() && terminal.IsAwaiting()) {
        // The engine counts ticks; a thread kept busy for a while misses
        // some, so the time itself decides too: the caller waits no longer.
        const bool bLate = std::chrono::steady_clock::now() >= m_await.deadline;
        if (m_await.bFailed || (bLate && !m_await.targets.empty()))
            terminal.ResolveAwait(false);
        else if (m_await.targets.empty())
            terminal.ResolveAwait(true);
    }
    if (m_nTicks % kHousekeepTicks == 0)
        m_pDelivery->Housekeep(GetClock().NowMs(), m_nKeepDays);
    return strBox;
}

void CSessionDelivery::Say(const CDeliveryEvent& event) {
    using Kind = CDeliveryEvent::Kind;
    switch (event.kind) {
    case Kind::kDelivered:
        m_callbacks.note("   DELIVERED " + event.strPager + " TO " + event.strTarget +
                         " (" + event.strKind + ") IN " +
                         std::to_string(event.nTookMs) + " MS");
        break;
    case Kind::kRetry:
        m_callbacks.note("   DELIVERY TO " + event.strTarget +
                         " FAILED: " + event.strReason + "; AGAIN IN " +
                         SecondsText(event.nAgainInMs));
        break;
    case Kind::kFailed:
        m_callbacks.note("   DELIVERY OF " + event.strPager + " TO " + event.strTarget +
                         " FAILED FOR GOOD: " + event.strReason);
        break;
    case Kind::kExpired:
        m_callbacks.note("   DELIVERY OF " + event.strPager + " TO " + event.strTarget +
                         " EXPIRED: GIVEN UP AFTER " + std::to_string(event.nAttempt) +
                         (event.nAttempt == 1 ? " ATTEMPT" : " ATTEMPTS"));
        break;
    case Kind::kProblem:
        m_callbacks.note("   DELIVERY TO " + event.strTarget + ": " + event.strReason);
        break;
    }
}

std::vector<std::string> CSessionDelivery::StatusLines() const {
    std::vector<std::string> lines;
    const std::int64_t nNow = GetClock().NowMs();
    if (m_pDelivery) {
        for (const CTargetStatus& status : m_pDelivery->Status()) {
            std::string strLine = status.strName + " (" + status.strKind + "): ";
            strLine += status.state == CTargetStatus::State::kRetrying
                           ? "trying again (" + status.strReason + ")"
                           : std::string("up");
            const CTargetCounts& counts = status.counts;
            strLine += ", " + std::to_string(counts.nPending) + " pending";
            if (counts.nPending > 0 && counts.nOldestPendingMs > 0)
                strLine += " (oldest " + AgeText(nNow - counts.nOldestPendingMs) + ")";
            strLine += ", " + std::to_string(counts.nDelivered) + " delivered, " +
                       std::to_string(counts.nFailed) + " failed";
            if (counts.nExpired > 0)
                strLine += ", " + std::to_string(counts.nExpired) + " expired";
            lines.push_back(strLine);
        }
    }
    for (const auto& off : m_off)
        lines.push_back(off.first + ": off (" + off.second + ")");
    return lines;
}

std::string DeliveryEventJson(const CDeliveryEvent& event) {
    static const char* const kOutcomes[] = {"delivered", "retry", "failed", "expired",
                                            "problem"};
    nlohmann::ordered_json object;
    object["time"] = IsoLocalTime(event.nTimeMs);
    object["target"] = event.strTarget;
    object["scheme"] = event.strKind;
    object["outcome"] = kOutcomes[static_cast<int>(event.kind)];
    if (!event.strId.empty()) {
        object["id"] = event.strId;
        object["pager"] = event.strPager;
        object["port"] = "COM" + std::to_string(event.nPort);
        object["attempt"] = event.nAttempt;
        object["ms"] = event.nTookMs;
    }
    object["reason"] = event.strReason;
    if (event.kind == CDeliveryEvent::Kind::kRetry)
        object["again_in_ms"] = event.nAgainInMs;
    if (!event.strDetail.empty())
        object["detail"] = event.strDetail;
    return object.dump(-1, ' ', false,
                       nlohmann::ordered_json::error_handler_t::replace);
}
