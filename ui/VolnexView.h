// CVolnexVw: the program's form: it displays the running session.
//
// The session (CPageSession) holds the rules: it owns the port
// configuration and the engine, receives the engine's and the monitor
// thread's notifications, and tells the view what to show. The view keeps
// the controls, the 100 ms timer, the protocol window and the operator's
// commands, and forwards to the session; it receives the frame's
// notifications and passes every other one on to the session.
//
// The session runs on the line's monitor thread (RunOnLineThread), so that
// a page is answered without waiting for the window; the view holds the
// session lock whenever it calls the session, and takes what the session
// shows, from either thread, into a queue that the user-interface thread
// empties at the screen's pace (CScreenPace): a burst of pages costs one
// update of the form, not one a page. The session's boxes wait for the
// user-interface thread as well (CDeferredBoxes). The controls, the timer
// and the protocol window belong to the user-interface thread.
//
// The form keeps its dialog-unit layout at every font size; when the frame
// is smaller than the form, the view scrolls; when the user makes it larger
// than its first size, the page list takes the room. The displays are ordinary
// static texts and read-only text controls of a fixed size, so assistive
// technology reads them, and a new text costs no layout of the form.
#pragma once

#include "session/Notify.h"
#include "session/PageSession.h"
#include "ui/CommandIds.h"
#include "ui/DeferredBoxes.h"
#include "ui/ProtocolSwitch.h"
#include "ui/ScreenPace.h"
#include "ui/ViewForm.h"

#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CProtocolDlg;
class CReportListBox;

class CVolnexVw : public wxScrolled<wxPanel>,
                  public INotifyTarget,
                  public ISessionDisplay,
                  public CViewControls {
  public:
    static constexpr int kTimerId = 1;
    static constexpr int kTimerPeriodMs = 100;
    static constexpr unsigned kPageListLimit = CPageSession::kPageListLimit;

    // Constructs the view and creates its window: loads the settings, opens
    // the port and starts the timer.
    explicit CVolnexVw(wxWindow* pParent);
    ~CVolnexVw() override;

    long Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) override;

    // First update: fits the frame around the form.
    void OnInitialUpdate();
    // The window is going: ends a session in progress on the line.
    void OnDestroy();
    bool OpenPort();

    // The form's size in pixels at the current font: 297 x 197 dialog
    // units, or more where a control reaches further, and the lines below.
    wxSize GetFormSize() const { return m_form.m_formSize; }
    // Lays the form out in the room the view has now: what the view has
    // beyond its first size goes to the page list.
    void LayoutForm();
    // The page-details pane (View > Page Details, remembered in the profile
    // as ViewPageDetails): the selected page whole under the form.
    static constexpr const char* kDetailsKey = "ViewPageDetails";
    void OnViewPageDetails();
    bool IsPageDetailsShown() const { return m_form.IsDetailsPaneShown(); }
    // What the frame grew by for the alerts line: not part of the size the
    // user gave it.
    int GetAlertGrowth() const { return m_nAlertGrowth; }
    wxString GetPageDetails() const { return m_form.DetailsText(); }

    // The session lock: held while the caller uses GetTerminal, GetPort or
    // GetSession (the line's thread runs them too).
    std::unique_lock<std::recursive_mutex> LockSession() {
        return std::unique_lock<std::recursive_mutex>(m_sessionLock);
    }
    // What the form shows (for tests and the frame).
    CPageTerminal& GetTerminal() { return m_session.GetTerminal(); }
    CCommPort& GetPort() { return m_session.GetPort(); }
    CPageSession& GetSession() { return m_session; }
    CReportListBox& GetPageList() {
        ShowPending();
        return *m_pageList;
    }
    // The text a display control (1006 to 1008, 1012, 1016, 1017) shows.
    wxString GetShownText(int nId) const { return m_form.ShownText(nId); }
    wxString GetShownState() const { return GetShownText(IDC_STATE); }
    // The delivery line's text (empty when no target is set up).
    wxString GetDeliveryText() const { return m_form.DeliveryText(); }
    wxString GetAlertText() const { return m_form.AlertText(); }
    wxString GetIndicatorText(int nId) const { return GetShownText(nId); }
    unsigned GetGoodPages() {
        auto lock = LockSession();
        return m_session.GetGoodPages();
    }
    unsigned GetBadPages() {
        auto lock = LockSession();
        return m_session.GetBadPages();
    }
    std::string GetLostDevice() {
        auto lock = LockSession();
        return m_session.GetLostDevice();
    }
    std::string GetTestModeText() {
        auto lock = LockSession();
        return m_session.GetTestModeText();
    }
    std::string GetLineNote() {
        auto lock = LockSession();
        return m_session.GetLineNote();
    }

    void OnLogon();
    void OnLogoff();
    void OnLogFile();
    void OnDblclkPageList();
    void OnTimer(int nTimerId);

    // The protocol window: switched by View > Protocol Messages, remembered
    // in the profile as ViewProtocol.
    void CreateProtocolDlg();
    void OnViewProtocolMessages();
    // Connection: runs the Connection sheet; new settings need a new logon.
    void OnConnection();
    bool IsProtocolChecked() const { return m_bViewProtocol != 0; }
    // The protocol window (null when off), with what the session showed.
    CProtocolDlg* GetProtocolDlg() {
        ShowPending();
        return m_protocol.Get();
    }

    // The session's display: any thread, under the session lock.
    void ShowSession() override;
    void ShowPage(const CPageRecord& record) override;
    void ShowTrace(bool bSent, const std::string& strText) override;
    void ShowNote(const std::string& strNote) override;
    // The protocol window's note, and the alert line with every alert
    // active now.
    void ShowAlert(const CAlertEvent& event) override;

  private:
    void UpdateData() {
        CShownSession shown;
        {
            auto lock = LockSession();
            shown = CShownSession::Of(m_session);
        }
        m_form.Show(shown);
    }
    // Keeps what the session showed for the user-interface thread.
    void Queue(std::function<void()> show);
    // Brings the form up to date with what the session showed since.
    void ShowPending();
    // After the user-interface thread's own call of the session: what it
    // showed is shown now, then its boxes.
    void AfterSessionCall();
    // The delivery line and the Deliveries command, as the session has them.
    void ShowDeliveryLine();
    // The form grew or shrank below by a line: the frame follows, unless
    // it is maximised; it never shrinks by more than it grew for them.
    // Returns what the frame grew by.
    int FormResized(const wxSize& before);
    // The page-details pane shows the page of the selected line.
    void ShowDetails();

    std::recursive_mutex m_sessionLock;
    CDeferredBoxes m_boxes;
    std::mutex m_queueMutex;
    std::vector<std::function<void()>> m_queued; // shown by the session, not yet here
    bool m_bQueuePosted = false;
    CReportListBox* m_pageList = nullptr;
    CPageSession m_session;
    int m_bViewProtocol = 0;
    CViewForm m_form;
    wxTimer m_timer;
    CProtocolSwitch m_protocol;
    bool m_bDestroyed = false;
    static constexpr int kDeliveryLineTicks = 10;
    int m_nDeliveryTicks = 0;
    std::vector<std::shared_ptr<const CPageRecord>> m_pendingPages; // not listed yet
    wxSize m_firstClient; // the view's first size: the form is laid out as built in it
    bool m_bFitted = false; // the frame has had its first size
    int m_nGrownBelow = 0;  // what the frame grew by for the lines below the form
    int m_nAlertGrowth =
        0; // of that, for the alerts line, which is not there at a start
    // The page the details pane shows (held, so that its address is not
    // taken by another page while compared).
    std::shared_ptr<const CPageRecord> m_pDetailed;
    bool m_bSessionChanged = false;
    bool m_bShowingPending = false;
    CScreenPace m_pace{this, [this] { ShowPending(); }};
};
