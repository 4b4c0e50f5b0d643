// ISessionDisplay: what a face of the session (the main window, the
// headless runner, the session log) is shown of it, on the thread that runs
// the session's notifications.
#pragma once

#include "delivery/Delivery.h"
#include "session/AlertWatch.h"
#include "session/PageRecord.h"

#include <string>

class ISessionDisplay {
  public:
    virtual ~ISessionDisplay() = default;
    // The state text, an indicator or a counter was set: show them again.
    virtual void ShowSession() = 0;
    // A page result, with the page list's lines for it.
    virtual void ShowPage(const CPageRecord& record) = 0;
    // A sent sequence or one received character, as the engine traces it.
    virtual void ShowTrace(bool bSent, const std::string& strText) = 0;
    // A warning line for the protocol window.
    virtual void ShowNote(const std::string& strNote) = 0;
    // A line event in words ("DSR OFF", "VELDRIN DISCONNECTED"), for a
    // record of the session; a display may ignore it.
    virtual void ShowEvent(const std::string& strEvent) { (void)strEvent; }
    // The session log cannot keep up or cannot write: said once, as a note
    // unless the display has a better place.
    virtual void ShowLogProblem(const std::string& strReport) { ShowNote(strReport); }
    // One delivery attempt (its note comes through ShowNote as well), for a
    // record of the session; a display may ignore it.
    virtual void ShowDelivery(const CDeliveryEvent& event) { (void)event; }
    // An alert raised or cleared: a note for the protocol window unless the
    // display has a better place for it.
    virtual void ShowAlert(const CAlertEvent& event) { ShowNote(AlertNote(event)); }
    // A display whose records must be out before a page is acknowledged
    // (the headless face's standard output) says so here: the session then
    // gives it each page that would be acknowledged through KeepRecord,
    // before the ACK; its ShowPage then comes with the record's bKept set.
    virtual bool KeepsRecordsFirst() const { return false; }
    // The record of a page about to be acknowledged. False, with the
    // reason, when it cannot be kept: the page is then refused, never
    // acknowledged unrecorded.
    virtual bool KeepRecord(const CPageRecord& record, std::string* pstrWhy) {
        (void)record;
        (void)pstrWhy;
        return true;
    }
    // False once the display's run is ending (headless: --exit-after's
    // count is made, or a signal came): a page that comes then gets no
    // answer at all.
    virtual bool TakesPages() const { return true; }
};
