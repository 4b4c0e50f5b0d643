// CAlertWatch: the conditions an operator must hear about when nobody
// watches the window. The session looks at its line and its deliveries
// every tick and hands the facts here; each condition is raised once when
// it begins and cleared once when it ends, never repeated while it holds.
//
//   line_silent     no caller completed a logon (or sent a page) for the
//                   SilenceAlert time while the line was open (off unless set)
//   device_lost     the line's device went away
//   target_stalled  a target has delivered nothing for the TargetAlert time
//                   while pages wait for it
//   pages_expired   the outbox holds pages a target let expire
//
// Times are the wall clock in milliseconds; the watch reads no clock itself.
#pragma once

#include "session/StatusSnapshot.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CAlertEvent {
    CActiveAlert alert;  // the condition, its port, target, since and text
    bool bRaised = true; // false: cleared
    std::int64_t nTimeMs = 0;
    // Cleared: the raised alert's text ("line silent since ..."); the event's
    // own text says how it ended ("line back after 12m 03s").
    std::string strRaisedText;
};

// The protocol window's line for an alert ("   ALERT: line silent since ...").
std::string AlertNote(const CAlertEvent& event);

struct CWatchFacts {
    struct CTarget {
        std::string strName;
        std::int64_t nPending = 0;
        std::int64_t nOldestPendingMs = 0;
        std::int64_t nLastDeliveredMs = 0; // 0: none in this run
        std::int64_t nExpired = 0;
    };
    int nPort = 1;
    bool bLineOpen = false;
    std::int64_t nLastCallMs = 0; // the last completed logon or page; 0: none
    bool bDeviceLost = false;
    std::string strDevice;
    std::vector<CTarget> targets;
};

class CAlertWatch {
  public:
    static constexpr std::int64_t kDefaultTargetMs = 10 * 60 * 1000;

    // 0: no silence alert.
    void SetSilenceMs(std::int64_t nMs) { m_nSilenceMs = nMs; }
    void SetTargetMs(std::int64_t nMs) { m_nTargetMs = nMs; }
    // What began or ended since the last look.
    std::vector<CAlertEvent> Look(std::int64_t nNowMs, const CWatchFacts& facts);
    std::vector<CActiveAlert> Active() const;

  private:
    void Raise(const CActiveAlert& alert, std::int64_t nNowMs,
               std::vector<CAlertEvent>* pEvents);
    void Clear(const std::string& strKey, const std::string& strText,
               std::int64_t nNowMs, std::vector<CAlertEvent>* pEvents);
    bool IsActive(const std::string& strKey) const {
        return m_active.count(strKey) != 0;
    }

    std::int64_t m_nSilenceMs = 0;
    std::int64_t m_nTargetMs = kDefaultTargetMs;
    std::int64_t m_nQuietSinceMs = 0;             // the silence clock; 0: not running
    std::map<std::string, CActiveAlert> m_active; // by condition and target
};

// "2026-12-10 14:02:11", local time.
std::string AlertTimeText(std::int64_t nMs);
// "45s", "12m 03s", "2h 05m"
std::string AlertDurationText(std::int64_t nMs);
// Minutes as a decimal ("5", "0.5"): milliseconds, 0 for empty or "0";
// false for anything else or a negative number.
bool ParseAlertMinutes(const std::string& strText, std::int64_t* pnMs);
// One alert as a JSON object on one line: the session log's alert record
// and what a target with Alerts=1 receives.
std::string AlertJson(const CAlertEvent& event);
