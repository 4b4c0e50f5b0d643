#include "ui/VolnexView.h"

#include "engine/MessageBoxes.h"
#include "serial/TermiosDevice.h"
#include "settings/ConnectDlg.h"
#include "ui/Clock.h"
#include "ui/Indicator.h"
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

namespace {

const wxColour kBlack(0, 0, 0);
const wxColour kGreen(0, 255, 0);
const wxColour kCyan(0, 255, 255);
const wxColour kRed(255, 0, 0);

constexpr const char* kClearAll = "Clear All messages?";

} // namespace

CVolnexVw::CVolnexVw(wxWindow* pParent)
    : wxPanel(pParent, wxID_ANY), m_timer(this, kTimerId),
      m_recovery(&CTermiosDevice::CanOpen) {
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

wxSize CVolnexVw::GetFormSize() const { return ConvertDialogToPixels(wxSize(297, 197)); }

void CVolnexVw::CreateControls() {
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    auto label = [&](const char* szText, int x, int y, int w, int h, long nAlign) {
        new wxStaticText(this, wxID_ANY, szText, at(x, y), size(w, h),
                         nAlign | wxST_NO_AUTORESIZE);
    };

    // The frames first, so that the controls inside them stay on top.
    new wxStaticBox(this, wxID_ANY, wxEmptyString, at(3, 4), size(291, 189));
    new wxStaticBox(this, wxID_ANY, "VELDRIN State", at(8, 16), size(196, 63));
    new wxStaticBox(this, wxID_ANY, wxEmptyString, at(208, 16), size(82, 63));

    label("CTS", 15, 55, 26, 11, wxALIGN_RIGHT);
    label("DSR", 75, 55, 26, 12, wxALIGN_RIGHT);
    label("DCD", 140, 55, 22, 11, wxALIGN_RIGHT);
    m_pCts = new CIndicator(this, IDC_CTS, at(44, 53), size(25, 12), kGreen, kBlack);
    m_pDsr = new CIndicator(this, IDC_DSR, at(103, 53), size(25, 12), kGreen, kBlack);
    m_pDcd = new CIndicator(this, IDC_DCD, at(163, 52), size(25, 12), kGreen, kBlack);
    label(" State", 13, 30, 22, 15, wxALIGN_LEFT);
    // No horizontal scrolling: long lines are cut at the right edge.
    m_pageList = new CReportListBox(this, IDC_PAGE_LIST, at(8, 89), size(244, 100),
                                    wxLB_SINGLE | wxLB_ALWAYS_SB);
    m_pState = new CIndicator(this, IDC_STATE, at(43, 28), size(150, 12), kCyan, kBlack);
    label("Good Pages", 213, 28, 39, 12, wxALIGN_CENTRE_HORIZONTAL);
    label("Bad Pages", 214, 55, 37, 11, wxALIGN_CENTRE_HORIZONTAL);
    // The counters are read-only displays, painted like the indicators: a
    // text control would be laid out anew for every page.
    m_pGood = new CIndicator(this, IDC_GOOD_PAGES, at(255, 28), size(29, 12), kGreen, kBlack);
    m_pBad = new CIndicator(this, IDC_BAD_PAGES, at(255, 54), size(29, 12), kRed, kBlack);
    new wxButton(this, IDC_LOGON, "Logon", at(255, 101), size(35, 23));
    new wxButton(this, IDC_LOGFILE, "LogFile", at(255, 133), size(35, 20));
    new wxButton(this, IDC_LOGOFF, "Logoff", at(255, 165), size(36, 21));

    SetMinSize(GetFormSize());
    UpdateData();
}

void CVolnexVw::UpdateData() {
    m_pState->SetLabel(m_strState);
    m_pCts->SetLabel(m_strCTS);
    m_pDcd->SetLabel(m_strDCD);
    m_pDsr->SetLabel(m_strDSR);
    m_pGood->SetLabel(wxString::Format("%u", m_nGoodPages));
    m_pBad->SetLabel(wxString::Format("%u", m_nBadPages));
}

wxString CVolnexVw::GetShownState() const { return m_pState->GetLabel(); }

wxString CVolnexVw::GetIndicatorText(int nId) const {
    switch (nId) {
    case IDC_CTS: return m_pCts->GetLabel();
    case IDC_DSR: return m_pDsr->GetLabel();
    case IDC_DCD: return m_pDcd->GetLabel();
    default: return wxEmptyString;
    }
}

void CVolnexVw::ApplyTestBench() {
    m_bDiagnose = m_config.GetDiagnose() != 0;
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
    // Fit the frame around the form, shrinking only.
    if (wxFrame* pFrame = wxDynamicCast(GetParent(), wxFrame)) {
        pFrame->Layout();
        const wxSize form = GetFormSize();
        const wxSize client = pFrame->GetClientSize();
        pFrame->SetClientSize(std::min(client.x, form.x), std::min(client.y, form.y));
    }
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
    if (AppMessageBox(CWxMessageBoxes::Instance(), kClearAll, MB_YESNO) == IDYES)
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
    unsigned n = m_pageList->GetCount();
    if (n >= kPageListLimit)
        m_pageList->Delete(n - 1);
    // Rejected pages add two lines and remove one: past the hard limit the
    // oldest line goes, so the list cannot grow without end.
    if (m_pageList->GetCount() + 2 > kPageListHardLimit) {
        m_pageList->Delete(0);
        --n;
    }
    m_pageList->AddLine(FormatPageLine(GetClock().Now(), m_terminal.GetPageText()));
    if (lParam != 0) {
        ++m_nGoodPages;
    } else {
        ++m_nBadPages;
        const std::string strResult = m_terminal.GetResultText();
        if (!strResult.empty())
            m_pageList->AddLine(strResult);
    }
    UpdateData();
    // The line at the old count becomes the topmost visible one, when there
    // is such a line.
    if (n < m_pageList->GetCount())
        m_pageList->SetFirstItem(static_cast<int>(n));
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
    const std::string strResult = m_terminal.GetResultText();
    BlockVerdict verdict;
    if (strResult == CPageTerminal::kResultBadChecksum)
        verdict = BlockVerdict::kBadChecksum;
    else if (strResult == CPageTerminal::kResultBadFormat)
        verdict = BlockVerdict::kBadFormat;
    else if (strResult == CPageTerminal::kResultTimedOut)
        verdict = BlockVerdict::kTimedOut;
    else
        return; // rejected on purpose by a test mode: its note says so
    for (const std::string& strLine : DiagnoseBlock(m_terminal.GetStoredBlock(), verdict,
                                                    CPageTerminal::kTimeoutTicks + 1))
        AddProtocolNote(strLine);
}

void CVolnexVw::CreateProtocolDlg() {
    if (m_pProtocolDlg != nullptr)
        return;
    m_pProtocolDlg = new CProtocolDlg(this);
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
    if (m_pProtocolDlg != nullptr)
        m_pProtocolDlg->PositionBelowFrame();
}

void CVolnexVw::OnFrameMinimized() {
    if (m_pProtocolDlg != nullptr)
        m_pProtocolDlg->Hide();
}
