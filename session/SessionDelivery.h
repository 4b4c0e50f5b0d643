// CSessionDelivery: the session's side of delivering pages onward. It
// reads the targets and the delivery keys from the profile, keeps each
// accepted page in the outbox before it is acknowledged, makes the answer
// wait for the deliveries where the port asks for that, and turns what the
// workers report into notes, log records and the delivery line.
//
// With no target in the profile it does nothing at all: the answers, the
// lists and the files stay as they are without it.
//
// Everything here runs on the session's thread (under the session's lock
// where the line's thread runs it).
#pragma once

#include "delivery/Delivery.h"
#include "engine/AnswerHook.h"
#include "session/PageRecord.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct CAlertEvent;
class CPageTerminal;
class CPortConfig;
class IProfile;

class CSessionDelivery {
  public:
    enum class AnswerWhen { kStored, kDelivered };
    static constexpr int kDefaultDeliveryWait = 8; // seconds, under the sender's 10
    static constexpr int kDefaultKeepDays = 7;
    // SIGTERM or closing the window: attempts in flight get this long.
    static constexpr int kStopGraceMs = 5000;

    struct CCallbacks {
        std::function<void(const std::string&)> note;      // a protocol window line
        std::function<void(const CDeliveryEvent&)> logged; // every attempt
    };
    explicit CSessionDelivery(CCallbacks callbacks);
    ~CSessionDelivery();

    // Reads the targets and the keys again; when they changed,
    // stops the old deliveries and starts the new ones. Returns the text of
    // a message box saying what is wrong with any of them (empty: nothing).
    // The profile's own path names the outbox.
    std::string Apply(const CPortConfig& config, const IProfile& profile);
    // Whether pages are kept and delivered onward (a target is set up).
    bool IsOn() const { return m_pDelivery != nullptr; }

    // The delivery's part in the answer to a page's last block: the page is
    // stored (or the answer made to wait) when it goes to any target;
    // refused when it cannot be stored. change: the test bench's answer;
    // proto: the page's time, port and device.
    // *pRecord: the page's record as kept and forwarded (with its id when
    // it was stored); left empty when no target is set up.
    CAnswerChange OnLastBlock(const CAnswerChange& change, const CPageFacts& facts,
                              const CPageRecord& proto, bool bSequences,
                              CPageRecord* pRecord);
    // The record of a page about to be acknowledged with this answer, from
    // what the engine knows of it and its time, port and device (proto).
    static CPageRecord ProvisionalRecord(const CAnswerChange& change,
                                         const CPageFacts& facts,
                                         const CPageRecord& proto);
    // The result of a page: gives the record its id and, for a page refused
    // because it could not be stored or delivered in time, says why.
    // bAwaited: it is the page whose answer waited.
    // bWithheld: it was refused without an answer (the caller moved on).
    void OnPageResult(CPageRecord* pRecord, bool bAwaited, bool bWithheld);
    // Every 100 ms: what the workers told, the answer that waits for them,
    // housekeeping, and a look at the profile. Returns a message box's text
    // when changed settings are wrong (empty: nothing to say).
    std::string Tick(CPageTerminal& terminal, const CPortConfig& config,
                     const IProfile& profile);
    // Keeps an alert in the outbox for every target that takes alerts, as a
    // page of its own (pager "alert", the alert's JSON as its record). True
    // when it is kept or no target takes it.
    bool SendAlert(const CAlertEvent& event, std::string* pstrError);
    // The outbox file in use; empty when nothing is delivered.
    std::string GetOutboxPath() const {
        return m_pDelivery ? m_pDelivery->GetOutboxPath() : std::string();
    }
    // Whether a page's answer waits for its deliveries.
    bool IsAwaiting() const { return !m_await.strId.empty(); }

    // The delivery line: one text per target, for the main window.
    std::vector<std::string> StatusLines() const;
    CDelivery* GetDelivery() const { return m_pDelivery.get(); }
    void Stop(int nGraceMs);

  private:
    void Say(const CDeliveryEvent& event);

    CCallbacks m_callbacks;
    std::unique_ptr<CDelivery> m_pDelivery;
    std::vector<std::pair<std::string, std::string>> m_off; // targets off, and why
    std::string m_strFingerprint;                           // the settings in force
    AnswerWhen m_answerWhen = AnswerWhen::kStored;
    int m_nDeliveryWait = kDefaultDeliveryWait;
    int m_nKeepDays = kDefaultKeepDays;
    int m_nTicks = 0;
    int m_nEmptyLooks = 0;         // looks in a row that found no target
    bool m_bSecretSaid = false;    // the readable profile holding a secret
    std::string m_strStoreFailure; // said once until a page is stored again

    // The page just stored, for its result.
    std::string m_strPageId;
    std::int64_t m_nPageTimeMs = 0;
    std::string m_strRefusedWhy; // the page could not be stored
    // The page whose answer waits for its deliveries.
    struct CAwait {
        std::string strId;
        std::int64_t nTimeMs = 0;                       // when it came
        std::chrono::steady_clock::time_point deadline; // refused from then on
        std::set<std::string> targets;                  // not yet confirmed
        bool bFailed = false;                           // one refused it for good
    };
    CAwait m_await;
    std::string m_strAwaitResult; // the awaited page's result, once resolved
};

// One delivery attempt as a JSON object on one line (deliveries-*.jsonl).
std::string DeliveryEventJson(const CDeliveryEvent& event);

// The outbox file, named after the profile file, in StateFolder; without
// one, in the service's state folder ($STATE_DIRECTORY, which systemd sets)
// or else in $XDG_STATE_HOME/volnex (~/.local/state/volnex).
std::string OutboxPath(const std::string& strStateFolder,
                       const std::string& strProfilePath);
