#include "ui/VolnexView.h"

#include "engine/MessageBoxes.h"
#include "serial/TermiosDevice.h"
#include "settings/ConnectDlg.h"
#include "ui/MainFrame.h"
#include "ui/ProtocolDlg.h"
#include "ui/ProtocolSwitch.h"
#include "ui/ReportFile.h"
#include "ui/ReportListBox.h"
#include "ui/TraceRender.h"
#include "ui/ViewForm.h"
#include "ui/ViewText.h"
#include "ui/WxMessageBoxes.h"

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/log.h>

namespace {

constexpr const char* kClearAll = "Clear All messages?";
// CSV rows end in CR LF (RFC 4180); JSON lines in a line feed, as the
// session log writes them.
constexpr const char* kCsvLineEnd = "\r\n";
constexpr const char* kJsonLineEnd = "\n";

} // namespace

CVolnexVw::CVolnexVw(wxWindow* pParent)
    : wxScrolled<wxPanel>(pParent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                          wxHSCROLL | wxVSCROLL | wxTAB_TRAVERSAL),
      m_session(
          *this, CWxMessageBoxes::Instance(),
          [](CSyncCall::Job job) { wxTheApp->CallAfter(job); },
          &CTermiosDevice::CanOpen),
      m_timer(this, kTimerId), m_protocol(this, [this] { OnViewProtocolMessages(); }) {
    m_bViewProtocol = AppProfile().GetInt(CPortConfig::kSection, "ViewProtocol", 0);

    m_form.Build(this);
    m_pageList = m_form.m_pageList;
    // The page list saves its pages' records too, one a page, with the
    // fields of the session log.
    const CPageRecordList& records = m_session.GetPageRecords();
    m_pageList->AddSaveFormat(
        {"CSV (*.csv)|*.csv", ".csv",
         [&records](const std::string& strPath, IMessageBoxes& boxes) {
             SaveLinesToFile(strPath, records.CsvLines(), kCsvLineEnd,
                             records.GetCount(), "pages", boxes);
         }});
    m_pageList->AddSaveFormat(
        {"JSON lines (*.jsonl)|*.jsonl", ".jsonl",
         [&records](const std::string& strPath, IMessageBoxes& boxes) {
             SaveLinesToFile(strPath, records.JsonLines(), kJsonLineEnd,
                             records.GetCount(), "pages", boxes);
         }});
    UpdateData();
    Bind(wxEVT_TIMER, [this](wxTimerEvent& event) { OnTimer(event.GetId()); });
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnLogon(); }, IDC_LOGON);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnLogoff(); }, IDC_LOGOFF);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnLogFile(); }, IDC_LOGFILE);
    Bind(
        wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { OnDblclkPageList(); },
        IDC_PAGE_LIST);

    // Window creation: the port is opened whether or not that works; the
    // view and its timer exist either way. The timer runs first: a box that
    // the set-up brings up waits for OK while the line is served.
    m_timer.Start(kTimerPeriodMs);
    OpenPort();
}

CVolnexVw::~CVolnexVw() {
    m_timer.Stop();
    // Deliveries still pending run now, while the view and its controls are
    // whole; the port is closed with the session.
    m_session.StopMonitor();
}

bool CVolnexVw::OpenPort() {
    return m_session.OpenPort();
}

void CVolnexVw::OnInitialUpdate() {
    UpdateData();
    m_form.ShowDelivery(m_session.GetDeliveryLines());
    if (auto* pFrame = dynamic_cast<CMainFrame*>(GetParent()))
        pFrame->ShowDeliveriesCommand(m_session.GetDelivery() != nullptr);
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
    m_protocol.Destroy(); // ViewProtocol stays: the window comes back next time
    m_timer.Stop();
    m_session.Close();
    m_session.StopDelivery(CSessionDelivery::kStopGraceMs);
}

void CVolnexVw::OnLogon() {
    if (m_session.Logon())
        UpdateData();
}

void CVolnexVw::OnLogoff() {
    m_session.Logoff();
    UpdateData();
}

void CVolnexVw::OnLogFile() {
    m_pageList->SaveReport();
}

void CVolnexVw::OnDblclkPageList() {
    // No is the default: Enter on a line (which GTK reports as a
    // double-click) followed by Enter never empties the list.
    if (AppMessageBox(CWxMessageBoxes::Instance(), kClearAll,
                      MB_YESNO | MB_DEFBUTTON2) == IDYES) {
        m_pageList->Clear();
        m_session.ClearPageRecords();
    }
}

void CVolnexVw::OnTimer(int nTimerId) {
    if (nTimerId == kTimerId) {
        m_session.Tick();
        // The delivery line changes at a reader's pace, not a page's.
        if (++m_nDeliveryTicks >= kDeliveryLineTicks) {
            m_nDeliveryTicks = 0;
            m_form.ShowDelivery(m_session.GetDeliveryLines());
            if (auto* pFrame = dynamic_cast<CMainFrame*>(GetParent()))
                pFrame->ShowDeliveriesCommand(m_session.GetDelivery() != nullptr);
        }
    }
    else
        wxLogDebug("\n Hit the default case in OnTimer \n");
}

long CVolnexVw::Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case UM_FRAME_MOVED: m_protocol.FrameMoved(); return 0;
    case UM_FRAME_MINIMIZED: m_protocol.FrameMinimized(); return 0;
    default: return m_session.Notify(nMsg, wParam, lParam);
    }
}

void CVolnexVw::ShowPage(const CPageRecord& record) {
    m_form.AddPage(record.lines, kPageListLimit);
}

void CVolnexVw::ShowTrace(bool bSent, const std::string& strText) {
    if (CProtocolDlg* pDlg = m_protocol.Get())
        RenderTrace(*pDlg, bSent, strText);
}

void CVolnexVw::ShowNote(const std::string& strNote) {
    if (CProtocolDlg* pDlg = m_protocol.Get())
        RenderNote(*pDlg, strNote);
}

void CVolnexVw::CreateProtocolDlg() {
    if (m_protocol.Get() != nullptr)
        return;
    m_protocol.Create();
    // A profile that is not there yet (a new --profile, a first start) says
    // so: the operator sees which file the settings will go to.
    const std::string strNote = NewProfileNote(AppProfile().GetFilePath());
    if (!strNote.empty())
        ShowNote(strNote);
}

void CVolnexVw::OnViewProtocolMessages() {
    if (m_bViewProtocol == 0) {
        CreateProtocolDlg(); // a new profile's note, before ViewProtocol makes the file
        m_bViewProtocol = 1;
    } else {
        m_protocol.Destroy();
        m_bViewProtocol = 0;
    }
    AppProfile().WriteInt(CPortConfig::kSection, "ViewProtocol", m_bViewProtocol);
}

void CVolnexVw::OnConnection() {
    CConnectDlg sheet(this);
    if (sheet.ShowModal() == wxID_OK && sheet.HasChanged()) {
        // The port is not set up again here: the next Logon does that. The
        // state display keeps its text.
        m_session.SettingsChanged();
        AppMessageBox(
            CWxMessageBoxes::Instance(),
            "Serial Port Settings have changed. New Logon to VELDRIN is required.",
            MB_OK);
    }
}
