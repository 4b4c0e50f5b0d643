// CVolnexVw: the program's form and the hub of the running program.
//
// It owns the port configuration and the paging engine (itself the serial
// port), receives every notification of the engine and the monitor thread
// (INotifyTarget), drives the engine's time-outs with a 100 ms timer, and
// shows the session state, the CTS/DSR/DCD indicators, the good and bad
// page counts and the page list. All of it runs on the user-interface
// thread; the monitor thread reaches it only through synchronous deliveries.
//
// The form keeps its dialog-unit layout at every font size; when the frame
// is smaller than the form, the view scrolls. The displays are ordinary
// static texts and read-only text controls of a fixed size, so assistive
// technology reads them, and a new text costs no layout of the form.
#pragma once

#include "engine/BlockDiagnosis.h"
#include "engine/Notify.h"
#include "engine/PageTerminal.h"
#include "engine/TestMode.h"
#include "serial/LineRecovery.h"
#include "settings/PortConfig.h"

#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/timer.h>

#include <memory>

class CProtocolDlg;
class CReportListBox;
class wxStaticText;
class wxTextCtrl;

class CVolnexVw : public wxScrolled<wxPanel>, public INotifyTarget {
public:
    enum {
        IDC_CTS = 1006,
        IDC_DSR = 1007,
        IDC_DCD = 1008,
        IDC_PAGE_LIST = 1010,
        IDC_STATE = 1012,
        IDC_GOOD_PAGES = 1016,
        IDC_BAD_PAGES = 1017,
        IDC_LOGON = 1019,
        IDC_LOGFILE = 1020,
        IDC_LOGOFF = 1021,
    };
    static constexpr int kTimerId = 1;
    static constexpr int kTimerPeriodMs = 100;
    static constexpr unsigned kEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD;
    static constexpr unsigned kOutBufferSize = 512;
    static constexpr unsigned kPageListLimit = 500;

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

    // The form's size in pixels at the current font: template 102, 297 x
    // 197 dialog units, or more where a control reaches further.
    wxSize GetFormSize() const { return m_formSize; }

    // What the form shows (for tests and the frame).
    CPageTerminal& GetTerminal() { return m_terminal; }
    CReportListBox& GetPageList() { return *m_pageList; }
    // The text a display control (1006 to 1008, 1012, 1016, 1017) shows.
    wxString GetShownText(int nId) const;
    wxString GetShownState() const { return GetShownText(IDC_STATE); }
    wxString GetIndicatorText(int nId) const { return GetShownText(nId); }
    unsigned GetGoodPages() const { return m_nGoodPages; }
    unsigned GetBadPages() const { return m_nBadPages; }
    // The device the line waits for after a hang-up or loss; empty if none.
    std::string GetLostDevice() const { return m_recovery.GetLostPath(); }
    // The test modes in force ("nak-every:3"); empty when the terminal
    // behaves as always.
    std::string GetTestModeText() const;

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
    CProtocolDlg* GetProtocolDlg() const { return m_pProtocolDlg; }

private:
    void CreateControls();
    // Writes every displayed value into its control; a control whose text
    // is unchanged is not touched.
    void UpdateData();
    void OnCommCts(WPARAM wParam);
    void OnCommDsr(WPARAM wParam);
    void OnCommDcd(WPARAM wParam);
    void OnSessionState(LPARAM lParam);
    void OnPageResult(LPARAM lParam);
    void OnCommRxChar(WPARAM wParam);
    void OnProtocolTrace(WPARAM wParam, LPARAM lParam);
    void OnLineNote(LPARAM lParam);
    // A warning line for the protocol window, when it is open.
    void AddProtocolNote(const std::string& strNote);
    // Takes the port's test bench from the settings: its test modes and
    // whether rejected blocks are explained. Before every set-up. Returns
    // the text of a box about a test setting it cannot use, shown once the
    // line has been set up (empty when there is nothing to say).
    std::string ApplyTestBench();
    void ShowTestBenchBox(const std::string& strText);
    // Explains a rejected block in the protocol window (Diagnose on).
    void DiagnoseRejectedBlock();
    void OnFrameMoved();
    void OnFrameMinimized();
    void DestroyProtocolDlg();

    CReportListBox* m_pageList = nullptr;
    wxString m_strState = "DISCONNECTED";
    unsigned m_nGoodPages = 0;
    unsigned m_nBadPages = 0;
    wxString m_strDSR = "OFF";
    wxString m_strDCD = "OFF";
    wxString m_strCTS = "OFF";
    CPortConfig m_config;
    CPageTerminal m_terminal;
    CProtocolDlg* m_pProtocolDlg = nullptr;
    int m_bViewProtocol = 0;
    bool m_bProtocolHidden = false; // by a minimise of the frame

    wxStaticText* m_pState = nullptr;
    wxStaticText* m_pCts = nullptr;
    wxStaticText* m_pDsr = nullptr;
    wxStaticText* m_pDcd = nullptr;
    wxTextCtrl* m_pGood = nullptr;
    wxTextCtrl* m_pBad = nullptr;
    unsigned m_nGoodShown = ~0u; // what the counters show
    unsigned m_nBadShown = ~0u;
    wxSize m_formSize;
    wxTimer m_timer;
    CLineRecovery m_recovery;
    std::unique_ptr<CTestMode> m_pTestMode; // null: answers as always
    bool m_bDiagnose = false;
    CLineHints m_lineHints;
    bool m_bDestroyed = false;
};
