#include "ui/VolnexView.h"

#include "engine/MessageBoxes.h"
#include "serial/TermiosDevice.h"
#include "settings/ConnectDlg.h"
#include "ui/Clock.h"
#include "ui/FormLabel.h"
#include "ui/MainFrame.h"
#include "ui/ProtocolDlg.h"
#include "ui/ReportListBox.h"
#include "ui/TraceRender.h"
#include "ui/ViewText.h"
#include "ui/WxMessageBoxes.h"
#include "ui/WxText.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/log.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

const wxColour kBlack(0, 0, 0);
const wxColour kGreen(0, 255, 0);
const wxColour kCyan(0, 255, 255);
const wxColour kRed(255, 0, 0);

constexpr const char* kClearAll = "Clear All messages?";

} // namespace

CVolnexVw::CVolnexVw(wxWindow* pParent)
    : wxScrolled<wxPanel>(pParent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                          wxHSCROLL | wxVSCROLL | wxTAB_TRAVERSAL),
      m_timer(this, kTimerId), m_recovery(&CTermiosDevice::CanOpen) {
    m_bViewProtocol = AppProfile().GetInt(CPortConfig::kSection, "ViewProtocol", 0);
    m_terminal.SetUiPoster([](CSyncCall::Job job) { wxTheApp->CallAfter(job); });
    m_terminal.SetMessageBoxes(&CWxMessageBoxes::Instance());
    // COMn is the device the profile names for it, read when the port opens.
    m_terminal.SetDeviceResolver([](int nPort) { return CPortConfig().GetDevicePath(nPort); });

    CreateControls();
    Bind(wxEVT_TIMER, [this](wxTimerEvent& event) { OnTimer(event.GetId()); });
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnLogon(); }, IDC_LOGON);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnLogoff(); }, IDC_LOGOFF);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnLogFile(); }, IDC_LOGFILE);
    Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { OnDblclkPageList(); },
         IDC_PAGE_LIST);

    // Window creation: the port is opened whether or not that works; the
    // view and its timer exist either way.
    OpenPort();
    m_timer.Start(kTimerPeriodMs);
}

CVolnexVw::~CVolnexVw() {
    m_timer.Stop();
    // Deliveries still pending run now, while the view and its controls are
    // whole; the port is closed with the engine.
    m_terminal.StopMonitor();
}

void CVolnexVw::CreateControls() {
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    auto label = [&](const char* szText, int x, int y, int w, int h, long nAlign) {
        return new CFormLabel(this, szText, at(x, y), size(w, h), nAlign | wxST_NO_AUTORESIZE);
    };
    // The state display and the line indicators: sunken static texts in
    // their own colours on black. Fixed size: a new text lays nothing out.
    auto display = [&](int nId, int x, int y, int w, int h, const wxColour& colour) {
        auto* pText = new wxStaticText(this, nId, wxEmptyString, at(x, y), size(w, h),
                                       wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE |
                                           wxBORDER_SUNKEN);
        pText->SetForegroundColour(colour);
        pText->SetBackgroundColour(kBlack);
        return pText;
    };
    // The counters: read-only, centred text controls, green or red on black.
    auto counter = [&](int nId, int x, int y, int w, int h, const wxColour& colour) {
        auto* pText = new wxTextCtrl(this, nId, wxEmptyString, at(x, y), size(w, h),
                                     wxTE_READONLY | wxTE_CENTRE | wxBORDER_SIMPLE);
        pText->SetForegroundColour(colour);
        pText->SetBackgroundColour(kBlack);
        return pText;
    };

    // The frames first, so that the controls inside them stay on top.
    new wxStaticBox(this, wxID_ANY, wxEmptyString, at(3, 4), size(291, 189));
    new wxStaticBox(this, wxID_ANY, "VELDRIN State", at(8, 16), size(196, 63));
    new wxStaticBox(this, wxID_ANY, wxEmptyString, at(208, 16), size(82, 63));

    CFormLabel* pCtsLabel = label("CTS", 15, 55, 26, 11, wxALIGN_RIGHT);
    CFormLabel* pDsrLabel = label("DSR", 75, 55, 26, 12, wxALIGN_RIGHT);
    CFormLabel* pDcdLabel = label("DCD", 140, 55, 22, 11, wxALIGN_RIGHT);
    m_pCts = display(IDC_CTS, 44, 53, 25, 12, kGreen);
    m_pDsr = display(IDC_DSR, 103, 53, 25, 12, kGreen);
    m_pDcd = display(IDC_DCD, 163, 52, 25, 12, kGreen);
    CFormLabel* pStateLabel = label(" State", 13, 30, 22, 15, wxALIGN_LEFT);
    // A page may run to hundreds of characters: the list scrolls sideways.
    m_pageList = new CReportListBox(this, IDC_PAGE_LIST, at(8, 89), size(244, 100),
                                    wxLB_SINGLE | wxLB_ALWAYS_SB | wxLB_HSCROLL);
    m_pageList->SetSaveTitle("Save Page List");
    m_pState = display(IDC_STATE, 43, 28, 150, 12, kCyan);
    CFormLabel* pGoodLabel =
        label("Good Pages", 213, 28, 39, 12, wxALIGN_CENTRE_HORIZONTAL);
    CFormLabel* pBadLabel = label("Bad Pages", 214, 55, 37, 11, wxALIGN_CENTRE_HORIZONTAL);
    m_pGood = counter(IDC_GOOD_PAGES, 255, 28, 29, 12, kGreen);
    m_pBad = counter(IDC_BAD_PAGES, 255, 54, 29, 12, kRed);
    new wxButton(this, IDC_LOGON, "Logon", at(255, 101), size(35, 23));
    new wxButton(this, IDC_LOGFILE, "LogFile", at(255, 133), size(35, 20));
    new wxButton(this, IDC_LOGOFF, "Logoff", at(255, 165), size(36, 21));

    // Each label names its display for assistive technology.
    pCtsLabel->SetLabelFor(m_pCts);
    pDsrLabel->SetLabelFor(m_pDsr);
    pDcdLabel->SetLabelFor(m_pDcd);
    pStateLabel->SetLabelFor(m_pState);
    pGoodLabel->SetLabelFor(m_pGood);
    pBadLabel->SetLabelFor(m_pBad);

    // The form: the template's size, or more where a control (at a large
    // font, say) reaches further. Smaller frames scroll over it.
    wxRect extent(wxPoint(0, 0), size(297, 197));
    for (wxWindow* pChild : GetChildren())
        extent.Union(pChild->GetRect());
    m_formSize = wxSize(extent.GetRight() + 1, extent.GetBottom() + 1);
    SetVirtualSize(m_formSize);
    const wxSize unit = size(4, 4);
    SetScrollRate(unit.x, unit.y);
    UpdateData();
}

void CVolnexVw::UpdateData() {
    // Runs for every line event and state change, several times a page: a
    // control is touched only when its text changes.
    auto show = [](wxStaticText* pText, const wxString& strText) {
        if (pText->GetLabel() != strText)
            pText->SetLabel(strText);
    };
    auto count = [](wxTextCtrl* pText, unsigned nValue, unsigned& nShown) {
        if (nValue != nShown) {
            nShown = nValue;
            pText->ChangeValue(wxString::Format("%u", nValue));
        }
    };
    show(m_pState, m_strState);
    show(m_pCts, m_strCTS);
    show(m_pDcd, m_strDCD);
    show(m_pDsr, m_strDSR);
    count(m_pGood, m_nGoodPages, m_nGoodShown);
    count(m_pBad, m_nBadPages, m_nBadShown);
}

wxString CVolnexVw::GetShownText(int nId) const {
    switch (nId) {
    case IDC_STATE: return m_pState->GetLabel();
    case IDC_CTS: return m_pCts->GetLabel();
    case IDC_DSR: return m_pDsr->GetLabel();
    case IDC_DCD: return m_pDcd->GetLabel();
    case IDC_GOOD_PAGES: return m_pGood->GetValue();
    case IDC_BAD_PAGES: return m_pBad->GetValue();
    default: return wxEmptyString;
    }
}

void CVolnexVw::ApplyTestBench() {
    m_bDiagnose = m_config.GetDiagnose() != 0;
    m_terminal.SetExplain(m_bDiagnose);
    m_terminal.SetLogonPassword(m_config.GetPassword());
    m_terminal.SetMessageSequences(m_config.HasMessageSequences());
    m_lineHints.NewSession();
    m_terminal.SetAnswerHook(nullptr);
    m_pTestMode.reset();
    CTestModeSettings settings;
    std::string strError;
    if (!ParseTestMode(m_config.GetMisbehave(), &settings, &strError)) {
        AppMessageBox(CWxMessageBoxes::Instance(),
                      "The test setting " + CPortConfig::PortKey("Misbehave", m_config.m_nPort) +
                          "=" + m_config.GetMisbehave() + " is not used:\n" + strError,
                      MB_OK);
        return;
    }
    if (settings.IsOn()) {
        m_pTestMode = std::make_unique<CTestMode>(settings);
        m_terminal.SetAnswerHook(m_pTestMode.get());
    }
}

std::string CVolnexVw::GetTestModeText() const {
    return m_pTestMode ? m_pTestMode->GetSettings().Text() : std::string();
}

bool CVolnexVw::OpenPort() {
    ApplyTestBench();
    return m_terminal.Connect(this, m_config.m_nPort, m_config.m_nBaudRate,
                              m_config.m_chParity, m_config.m_nDataBits,
                              m_config.m_nStopBits, m_config.GetRTS(), m_config.GetDTR(),
                              m_config.GetCTS(), m_config.GetDSR(), kEventMask,
                              kOutBufferSize);
}

void CVolnexVw::OnInitialUpdate() {
    UpdateData();
    // The frame's first size is the form's at the current font and scale.
    if (auto* pFrame = dynamic_cast<CMainFrame*>(GetParent())) {
        pFrame->Layout();
        pFrame->FitToForm(GetFormSize());
    }
    // The keyboard starts where the form's tab order does: the page list.
    m_pageList->SetFocus();
    if (m_bViewProtocol != 0)
        CreateProtocolDlg();
}

void CVolnexVw::OnDestroy() {
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    DestroyProtocolDlg(); // ViewProtocol stays: the window comes back next time
    m_timer.Stop();
    m_terminal.Logoff();
}

void CVolnexVw::OnLogon() {
    ApplyTestBench();
    if (m_terminal.Logon(this, m_config.m_nPort, m_config.m_nBaudRate,
                         m_config.m_chParity, m_config.m_nDataBits, m_config.m_nStopBits,
                         m_config.GetRTS(), m_config.GetDTR(), m_config.GetCTS(),
                         m_config.GetDSR(), kEventMask, kOutBufferSize)) {
        m_recovery.Recovered();
        m_strState = ::GetStateText(m_terminal.GetState());
        UpdateData();
    }
}

void CVolnexVw::OnLogoff() {
    m_recovery.Cancel(); // a lost line stays off until Logon
    m_nGoodPages = 0;
    m_nBadPages = 0;
    m_terminal.Logoff();
    m_strState = ::GetStateText(m_terminal.GetState());
    UpdateData();
}

void CVolnexVw::OnLogFile() { m_pageList->SaveReport(); }

void CVolnexVw::OnDblclkPageList() {
    // No is the default: Enter on a line (which GTK reports as a
    // double-click) followed by Enter never empties the list.
    if (AppMessageBox(CWxMessageBoxes::Instance(), kClearAll, MB_YESNO | MB_DEFBUTTON2) ==
        IDYES)
        m_pageList->Clear();
}

void CVolnexVw::OnTimer(int nTimerId) {
    if (nTimerId == kTimerId) {
        m_terminal.Tick();
        // A line that hung up or lost its device comes back by itself once
        // the device opens again: the same as pressing Logon.
        if (m_recovery.Tick(m_terminal.IsDeviceLost(), m_terminal.GetDevicePath()))
            OnLogon();
    } else
        wxLogDebug("\n Hit the default case in OnTimer \n");
}

long CVolnexVw::Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case UM_COMM_CTS: OnCommCts(wParam); break;
    case UM_COMM_DSR: OnCommDsr(wParam); break;
    case UM_COMM_DCD: OnCommDcd(wParam); break;
    case UM_COMM_RXCHAR: OnCommRxChar(wParam); break;
    case UM_SESSION_STATE: OnSessionState(lParam); break;
    case UM_PAGE_RESULT: OnPageResult(lParam); break;
    case UM_PROTOCOL_TRACE: OnProtocolTrace(wParam, lParam); break;
    case UM_FRAME_MOVED: OnFrameMoved(); break;
    case UM_FRAME_MINIMIZED: OnFrameMinimized(); break;
    case UM_LINE_NOTE: OnLineNote(lParam); break;
    default: break; // break, error, ring, event character: no handler
    }
    return 0;
}

void CVolnexVw::OnCommCts(WPARAM wParam) {
    m_strCTS = wParam ? "ON" : "OFF";
    UpdateData();
}

void CVolnexVw::OnCommDsr(WPARAM wParam) {
    m_strDSR = wParam ? "ON" : "OFF";
    m_terminal.CheckLineSignals();
    UpdateData();
}

void CVolnexVw::OnCommDcd(WPARAM wParam) {
    m_strDCD = wParam ? "ON" : "OFF";
    m_terminal.CheckLineSignals();
    UpdateData();
}

void CVolnexVw::OnSessionState(LPARAM lParam) {
    if (lParam == ST_WAITING_FOR_CR)
        m_lineHints.NewSession();
    m_strState = ::GetStateText(static_cast<int>(lParam));
    UpdateData();
}

void CVolnexVw::OnPageResult(LPARAM lParam) {
    if (lParam == 0 && m_bDiagnose)
        DiagnoseRejectedBlock();
    m_pageList->AddLine(FormatPageLine(GetClock().Now(), m_terminal.GetPageText()));
    (lParam != 0 ? m_nGoodPages : m_nBadPages) += 1;
    // A bad page says why; a page accepted cut short by a test mode says so.
    const std::string strResult = m_terminal.GetResultText();
    if (!strResult.empty())
        m_pageList->AddLine(strResult);
    m_pageList->DropOldest(static_cast<unsigned>(OldestPageLinesToDrop(
        m_pageList->GetCount(), kPageListLimit,
        [this](size_t i) { return m_pageList->GetLine(static_cast<unsigned>(i)); })));
    UpdateData();
    // A reader at the end of the list sees the new entry; one who scrolled
    // up keeps reading.
    m_pageList->ShowChanges();
}

void CVolnexVw::OnCommRxChar(WPARAM wParam) {
    const unsigned char ch = static_cast<unsigned char>(wParam & 0xFF);
    // The character is traced before the engine can answer it.
    Notify(UM_PROTOCOL_TRACE, kTraceReceived,
           ReleaseTraceText(std::make_unique<std::string>(1, static_cast<char>(ch))));
    if (m_bDiagnose) {
        const std::string strHint = m_lineHints.OnByte(ch);
        if (!strHint.empty())
            AddProtocolNote(strHint);
    }
    m_terminal.HandleChar(ch);
}

void CVolnexVw::OnProtocolTrace(WPARAM wParam, LPARAM lParam) {
    HandleProtocolTrace(m_pProtocolDlg, wParam, lParam);
}

void CVolnexVw::OnLineNote(LPARAM lParam) {
    AddProtocolNote(*reinterpret_cast<const std::string*>(lParam));
}

void CVolnexVw::AddProtocolNote(const std::string& strNote) {
    if (m_pProtocolDlg != nullptr)
        RenderNote(*m_pProtocolDlg, strNote);
}

void CVolnexVw::DiagnoseRejectedBlock() {
    using Verdict = CPageTerminal::Verdict;
    BlockVerdict verdict;
    switch (m_terminal.GetVerdict()) {
    case Verdict::kBadChecksum: verdict = BlockVerdict::kBadChecksum; break;
    case Verdict::kBadFormat: verdict = BlockVerdict::kBadFormat; break;
    case Verdict::kTimedOut: verdict = BlockVerdict::kTimedOut; break;
    case Verdict::kIncomplete:
        AddProtocolNote("   MESSAGE UNFINISHED AFTER " +
                        std::to_string(m_terminal.GetBlockCount()) +
                        (m_terminal.GetBlockCount() == 1 ? " BLOCK" : " BLOCKS"));
        // Its last block timed out: say why.
        if (!m_terminal.HasTimedOutBlock())
            return;
        verdict = BlockVerdict::kTimedOut;
        break;
    default: return; // refused on purpose by a test mode or for its length: a note says so
    }
    for (const std::string& strLine :
         DiagnoseBlock(m_terminal.GetStoredBlock(), verdict, CPageTerminal::kTimeoutTicks + 1,
                       m_terminal.GetDroppedCount()))
        AddProtocolNote(strLine);
}

void CVolnexVw::CreateProtocolDlg() {
    if (m_pProtocolDlg != nullptr)
        return;
    // Closed by the window manager: the same as the menu command.
    m_pProtocolDlg = new CProtocolDlg(this, [this] { OnViewProtocolMessages(); });
    m_bProtocolHidden = false;
    m_pProtocolDlg->Show();
    // GTK gives a window its first size when it is shown: place it again.
    m_pProtocolDlg->PositionBelowFrame();
}

void CVolnexVw::DestroyProtocolDlg() {
    if (m_pProtocolDlg == nullptr)
        return;
    m_pProtocolDlg->Destroy();
    m_pProtocolDlg = nullptr;
}

void CVolnexVw::OnViewProtocolMessages() {
    if (m_bViewProtocol == 0) {
        CreateProtocolDlg();
        m_bViewProtocol = 1;
    } else {
        DestroyProtocolDlg(); // the lines go with it
        m_bViewProtocol = 0;
    }
    AppProfile().WriteInt(CPortConfig::kSection, "ViewProtocol", m_bViewProtocol);
}

void CVolnexVw::OnConnection() {
    CConnectDlg sheet(this);
    if (sheet.ShowModal() == wxID_OK && sheet.HasChanged()) {
        // The port is not set up again here: the next Logon does that. The
        // state display keeps its text.
        m_config.Load();
        m_recovery.Cancel();
        m_terminal.Logoff();
        AppMessageBox(CWxMessageBoxes::Instance(),
                      "Serial Port Settings have changed. New Logon to VELDRIN is required.",
                      MB_OK);
    }
}

void CVolnexVw::OnFrameMoved() {
    if (m_pProtocolDlg == nullptr)
        return;
    m_pProtocolDlg->PositionBelowFrame();
    // Hidden with the minimised frame: back with the restored one.
    const wxTopLevelWindow* pFrame = wxDynamicCast(wxGetTopLevelParent(this), wxTopLevelWindow);
    if (m_bProtocolHidden && pFrame != nullptr && !pFrame->IsIconized()) {
        m_bProtocolHidden = false;
        m_pProtocolDlg->Show();
        m_pProtocolDlg->PositionBelowFrame();
    }
}

void CVolnexVw::OnFrameMinimized() {
    if (m_pProtocolDlg != nullptr && m_pProtocolDlg->IsShown()) {
        m_pProtocolDlg->Hide();
        m_bProtocolHidden = true;
    }
}
