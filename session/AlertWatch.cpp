#include "session/AlertWatch.h"

#include "session/Clock.h"
#include "session/PageRecord.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

std::string Key(const std::string& strCondition, const std::string& strTarget) {
    return strCondition + "/" + strTarget;
}

std::string Pad2(std::int64_t n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

} // namespace

std::string AlertTimeText(std::int64_t nMs) {
    return FormatTimeC("%Y-%m-%d %H:%M:%S", static_cast<std::time_t>(nMs / 1000));
}

std::string AlertDurationText(std::int64_t nMs) {
    const std::int64_t nSeconds = nMs < 0 ? 0 : nMs / 1000;
    if (nSeconds < 60)
        return std::to_string(nSeconds) + "s";
    if (nSeconds < 3600)
        return std::to_string(nSeconds / 60) + "m " + Pad2(nSeconds % 60) + "s";
    return std::to_string(nSeconds / 3600) + "h " + Pad2(nSeconds / 60 % 60) + "m";
}

bool ParseAlertMinutes(const std::string& strText, std::int64_t* pnMs) {
    size_t nStart = strText.find_first_not_of(" \t");
    if (nStart == std::string::npos) {
        *pnMs = 0;
        return true;
    }
    const std::string strValue =
        strText.substr(nStart, strText.find_last_not_of(" \t") + 1 - nStart);
    // Digits and one point only: no signs, exponents, "inf" or "nan".
    if (strValue.find_first_not_of("0123456789.") != std::string::npos ||
        strValue.find('.') != strValue.rfind('.') || strValue == ".")
        return false;
    errno = 0;
    char* pEnd = nullptr;
    const double dMinutes = std::strtod(strValue.c_str(), &pEnd);
    // At most a year: anything longer is a typing mistake.
    if (errno != 0 || *pEnd != '\0' || dMinutes > 525600)
        return false;
    *pnMs = static_cast<std::int64_t>(std::llround(dMinutes * 60000));
    return true;
}

std::vector<CAlertEvent> CAlertWatch::Look(std::int64_t nNowMs,
                                           const CWatchFacts& facts) {
    std::vector<CAlertEvent> events;

    // The device: lost and back.
    const std::string strLost = Key("device_lost", "");
    if (facts.bDeviceLost && !IsActive(strLost)) {
        CActiveAlert alert;
        alert.strCondition = "device_lost";
        alert.nPort = facts.nPort;
        alert.nSinceMs = nNowMs;
        alert.strText = "device lost: " + facts.strDevice;
        Raise(alert, nNowMs, &events);
    } else if (!facts.bDeviceLost && IsActive(strLost)) {
        Clear(strLost,
              "device back after " +
                  AlertDurationText(nNowMs - m_active[strLost].nSinceMs) + ": " +
                  facts.strDevice,
              nNowMs, &events);
    }

    // The line: silent while it is open. A closed line has its own alert
    // (or was closed on purpose): its silence is not counted.
    const std::string strSilent = Key("line_silent", "");
    if (facts.nLastCallMs > m_nQuietSinceMs && m_nQuietSinceMs != 0) {
        if (IsActive(strSilent))
            Clear(strSilent,
                  "line back after " + AlertDurationText(facts.nLastCallMs -
                                                         m_active[strSilent].nSinceMs),
                  nNowMs, &events);
        m_nQuietSinceMs = facts.nLastCallMs;
    }
    if (m_nSilenceMs <= 0 && IsActive(strSilent))
        Clear(strSilent, "line silence no longer watched", nNowMs, &events);
    if (!facts.bLineOpen || m_nSilenceMs <= 0) {
        m_nQuietSinceMs = 0;
    } else {
        if (m_nQuietSinceMs == 0)
            m_nQuietSinceMs = std::max(facts.nLastCallMs, nNowMs);
        if (nNowMs - m_nQuietSinceMs >= m_nSilenceMs && !IsActive(strSilent)) {
            CActiveAlert alert;
            alert.strCondition = "line_silent";
            alert.nPort = facts.nPort;
            alert.nSinceMs = m_nQuietSinceMs;
            alert.strText = "line silent since " + AlertTimeText(m_nQuietSinceMs);
            Raise(alert, nNowMs, &events);
        }
    }

    // The targets.
    for (const CWatchFacts::CTarget& target : facts.targets) {
        const std::string strStalled = Key("target_stalled", target.strName);
        const std::int64_t nWaitingSince =
            std::max(target.nOldestPendingMs, target.nLastDeliveredMs);
        const bool bStalled = target.nPending > 0 && m_nTargetMs > 0 &&
                              nWaitingSince > 0 &&
                              nNowMs - nWaitingSince >= m_nTargetMs;
        if (bStalled && !IsActive(strStalled)) {
            CActiveAlert alert;
            alert.strCondition = "target_stalled";
            alert.nPort = facts.nPort;
            alert.strTarget = target.strName;
            alert.nSinceMs = nWaitingSince;
            alert.strText = "target " + target.strName + " has not delivered since " +
                            AlertTimeText(nWaitingSince) + " (" +
                            std::to_string(target.nPending) + " waiting)";
            Raise(alert, nNowMs, &events);
        } else if (IsActive(strStalled) &&
                   (target.nPending == 0 ||
                    target.nLastDeliveredMs > m_active[strStalled].nSinceMs)) {
            Clear(strStalled,
                  "target " + target.strName + " delivering again after " +
                      AlertDurationText(nNowMs - m_active[strStalled].nSinceMs),
                  nNowMs, &events);
        }

        const std::string strExpired = Key("pages_expired", target.strName);
        if (target.nExpired > 0 && !IsActive(strExpired)) {
            CActiveAlert alert;
            alert.strCondition = "pages_expired";
            alert.nPort = facts.nPort;
            alert.strTarget = target.strName;
            alert.nSinceMs = nNowMs;
            alert.strText = "the outbox holds " + std::to_string(target.nExpired) +
                            (target.nExpired == 1 ? " page" : " pages") +
                            " that expired for " + target.strName;
            Raise(alert, nNowMs, &events);
        } else if (target.nExpired == 0 && IsActive(strExpired)) {
            Clear(strExpired, "no expired pages left for " + target.strName, nNowMs,
                  &events);
        }
    }
    // A target no longer set up takes its alerts with it.
    for (auto it = m_active.begin(); it != m_active.end();) {
        const std::string& strTarget = it->second.strTarget;
        bool bGone = !strTarget.empty();
        for (const CWatchFacts::CTarget& target : facts.targets)
            bGone = bGone && target.strName != strTarget;
        const std::string strKey = it++->first;
        if (bGone)
            Clear(strKey, "target " + strTarget + " is no longer set up", nNowMs,
                  &events);
    }
    return events;
}

std::vector<CActiveAlert> CAlertWatch::Active() const {
    std::vector<CActiveAlert> active;
    for (const auto& entry : m_active)
        active.push_back(entry.second);
    return active;
}

void CAlertWatch::Raise(const CActiveAlert& alert, std::int64_t nNowMs,
                        std::vector<CAlertEvent>* pEvents) {
    m_active[Key(alert.strCondition, alert.strTarget)] = alert;
    CAlertEvent event;
    event.alert = alert;
    event.nTimeMs = nNowMs;
    pEvents->push_back(event);
}

void CAlertWatch::Clear(const std::string& strKey, const std::string& strText,
                        std::int64_t nNowMs, std::vector<CAlertEvent>* pEvents) {
    CAlertEvent event;
    event.alert = m_active[strKey];
    event.strRaisedText = event.alert.strText;
    event.alert.strText = strText;
    event.bRaised = false;
    event.nTimeMs = nNowMs;
    m_active.erase(strKey);
    pEvents->push_back(event);
}

std::string AlertJson(const CAlertEvent& event) {
    nlohmann::ordered_json object;
    object["type"] = "alert";
    object["time"] = IsoLocalTime(event.nTimeMs);
    object["condition"] = event.alert.strCondition;
    object["state"] = event.bRaised ? "raised" : "cleared";
    object["port"] = event.alert.nPort;
    if (!event.alert.strTarget.empty())
        object["target"] = event.alert.strTarget;
    object["since"] = IsoLocalTime(event.alert.nSinceMs);
    object["text"] = event.alert.strText;
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string AlertNote(const CAlertEvent& event) {
    return (event.bRaised ? "   ALERT: " : "   ALERT OVER: ") + event.alert.strText;
}
