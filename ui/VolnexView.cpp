#include "ui/VolnexView.h"

#include "serial/MessageBoxes.h"
#include "serial/TermiosDevice.h"
#include "session/Clock.h"
#include "session/TraceRender.h"
#include "session/ViewText.h"
#include "ui/FormLayout.h"
#include "ui/ProtocolDlg.h"
#include "ui/ProtocolSwitch.h"
#include "ui/ReportFile.h"
#include "ui/ReportListBox.h"
#include "ui/ViewForm.h"
#include "ui/ViewFrame.h"
#include "ui/WxMessageBoxes.h"
#include "ui/settings/ConnectDlg.h"

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
      m_boxes(CWxMessageBoxes::Instance()),
      m_session(
          *this, m_boxes, [](CSyncCall::Job job) { wxTheApp->CallAfter(job); },
          &CTermiosDevice::CanOpen),
      m_timer(this, kTimerId), m_protocol(this, [this] { OnViewProtocolMessages(); }) {
    m_bViewProtocol = AppProfile().GetInt(CPortConfig::kSection, "ViewProtocol", 0);

    m_form.Build(this);
    m_pageList = m_form.m_pageList;
    m_session.RunOnLineThread(&m_sessionLock);
    // The page list saves every page's record too, one a page, with the
    // fields of the session log. What was let go to keep memory bounded
    // is said.
    auto save = [this](bool bCsv) {
        return [this, bCsv](const std::string& strPath, IMessageBoxes& boxes) {
            // Copied under the lock, formatted after it: the line is not
            // held up while 100,000 records are written out.
            CPageRecordList records(0, 0);
            bool bLog;
            {
                auto lock = LockSession();
                records = m_session.GetPageRecords();
                bLog = m_session.GetLog() != nullptr;
            }
            const std::vector<std::string> lines =
                bCsv ? records.CsvLines() : records.JsonLines();
            const size_t nPages = records.GetCount();
            std::string strNote;
            if (records.GetDroppedCount() > 0)
                strNote = "the oldest " + std::to_string(records.GetDroppedCount()) +
                          " pages of the session were let go" +
                          (bLog ? "; the session log has them all" : "");
            SaveLinesToFile(strPath, lines, bCsv ? kCsvLineEnd : kJsonLineEnd, nPages,
                            "pages", boxes, strNote);
        };
    };
    // The text report holds the list's lines, the newest pages only.
    m_pageList->SetReportNote([this] {
        auto lock = LockSession();
        const CPageRecordList& records = m_session.GetPageRecords();
        const size_t nPages = records.GetCount() + records.GetDroppedCount();
        if (records.GetListedCount() >= nPages)
            return std::string();
        return "the newest " + std::to_string(records.GetListedCount()) + " of " +
               std::to_string(nPages) + " pages" +
               (m_session.GetLog()               ? "; the session log has them all"
                : records.GetDroppedCount() == 0 ? "; CSV and JSON lines save them all"
                                                 : "");
    });
    m_pageList->AddSaveFormat({"CSV (*.csv)|*.csv;*.CSV", ".csv", save(true)});
    m_pageList->AddSaveFormat(
        {"JSON lines (*.jsonl)|*.jsonl;*.JSONL", ".jsonl", save(false)});
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
    Bind(
        wxEVT_LISTBOX, [this](wxCommandEvent&) { ShowDetails(); }, IDC_PAGE_LIST);
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        LayoutForm();
        event.Skip();
    });
    if (AppProfile().GetInt(CPortConfig::kSection, kDetailsKey, 0) != 0) {
        m_form.ShowDetailsPane(true);
        ShowDetails();
    }

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
    bool bOpen;
    {
        auto lock = LockSession();
        bOpen = m_session.OpenPort();
    }
    AfterSessionCall();
    return bOpen;
}

void CVolnexVw::AfterSessionCall() {
    ShowPending();
    m_boxes.ShowWaiting();
}

void CVolnexVw::ShowDeliveryLine() {
    std::vector<std::string> lines;
    bool bDelivery;
    {
        auto lock = LockSession();
        lines = m_session.GetDeliveryLines();
        bDelivery = m_session.GetDelivery() != nullptr;
    }
    const wxSize before = GetFormSize();
    m_form.ShowDelivery(lines);
    FormResized(before); // a line that comes later is seen without scrolling
    if (auto* pFrame = dynamic_cast<IViewFrame*>(GetParent()))
        pFrame->ShowDeliveriesCommand(bDelivery);
}

void CVolnexVw::OnInitialUpdate() {
    UpdateData();
    ShowDeliveryLine();
    // The frame's first size is the form's at the current font and scale;
    // a size the user gave this profile's window before comes after it.
    if (auto* pFrame = dynamic_cast<IViewFrame*>(GetParent())) {
        GetParent()->Layout();
        m_firstClient = pFrame->FitToForm(GetFormSize());
        m_firstClient.IncTo(GetFormSize());
        m_bFitted = true;
        pFrame->RestoreSize();
    }
    LayoutForm();
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
    {
        auto lock = LockSession();
        m_session.Close();
    }
    AfterSessionCall();
    auto lock = LockSession(); // attempts in flight get their time
    m_session.StopDelivery(CSessionDelivery::kStopGraceMs);
}

void CVolnexVw::OnLogon() {
    {
        auto lock = LockSession();
        m_session.Logon();
    }
    AfterSessionCall();
}

void CVolnexVw::OnLogoff() {
    {
        auto lock = LockSession();
        m_session.Logoff();
    }
    AfterSessionCall();
}

void CVolnexVw::OnLogFile() {
    ShowPending(); // the report holds every page shown so far
    m_pageList->SaveReport();
}

void CVolnexVw::OnDblclkPageList() {
    // No is the default: Enter on a line (which GTK reports as a
    // double-click) followed by Enter never empties the list.
    if (AppMessageBox(CWxMessageBoxes::Instance(), kClearAll,
                      MB_YESNO | MB_DEFBUTTON2) == IDYES) {
        ShowPending(); // pages that came before the answer go too
        m_form.ClearPages();
        ShowDetails();
        auto lock = LockSession();
        m_session.ClearPageRecords();
    }
}

void CVolnexVw::OnTimer(int nTimerId) {
    if (nTimerId == kTimerId) {
        {
            auto lock = LockSession();
            m_session.Tick();
        }
        m_boxes.ShowWaiting(); // what the tick showed goes at the screen's pace
        // The delivery line changes at a reader's pace, not a page's.
        if (++m_nDeliveryTicks >= kDeliveryLineTicks) {
            m_nDeliveryTicks = 0;
            ShowDeliveryLine();
        }
    } else
        wxLogDebug("\n Hit the default case in OnTimer \n");
}

long CVolnexVw::Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case UM_FRAME_MOVED: m_protocol.FrameMoved(); return 0;
    case UM_FRAME_MINIMIZED: m_protocol.FrameMinimized(); return 0;
    default: {
        long nResult;
        {
            auto lock = LockSession();
            nResult = m_session.Notify(nMsg, wParam, lParam);
        }
        AfterSessionCall();
        return nResult;
    }
    }
}

void CVolnexVw::Queue(std::function<void()> show) {
    bool bPost;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queued.push_back(std::move(show));
        bPost = !m_bQueuePosted;
        m_bQueuePosted = true;
    }
    // Once per batch; the pace decides when the batch is shown.
    if (bPost)
        CallAfter([this] { m_pace.Request(); });
}

void CVolnexVw::ShowSession() {
    Queue([this] { m_bSessionChanged = true; });
}

void CVolnexVw::ShowPage(const CPageRecord& record) {
    Queue([this, pPage = std::make_shared<const CPageRecord>(record)] {
        m_pendingPages.push_back(pPage);
    });
}

void CVolnexVw::ShowPending() {
    if (m_bShowingPending)
        return; // a reader inside the update sees it as it stands
    m_bShowingPending = true;
    std::vector<std::function<void()>> queued;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        queued.swap(m_queued);
        m_bQueuePosted = false;
    }
    for (const auto& show : queued)
        show();
    if (!m_pendingPages.empty()) {
        m_form.AddPages(m_pendingPages, kPageListLimit);
        m_pendingPages.clear();
        ShowDetails(); // the selected line may have gone with the oldest
    }
    if (m_bSessionChanged) {
        m_bSessionChanged = false;
        UpdateData();
    }
    // The trace just rendered shows now too, not one pace later.
    if (CProtocolDlg* pDlg = m_protocol.Get())
        pDlg->Sync();
    m_bShowingPending = false;
}

// The time each text came is taken now; the window draws it later.
void CVolnexVw::ShowTrace(bool bSent, const std::string& strText) {
    Queue([this, bSent, strText, nTimeMs = GetClock().NowMs()] {
        if (CProtocolDlg* pDlg = m_protocol.Get()) {
            pDlg->SetLineTime(nTimeMs);
            RenderTrace(*pDlg, bSent, strText);
        }
    });
}

void CVolnexVw::ShowNote(const std::string& strNote) {
    Queue([this, strNote, nTimeMs = GetClock().NowMs()] {
        if (CProtocolDlg* pDlg = m_protocol.Get()) {
            pDlg->SetLineTime(nTimeMs);
            RenderNote(*pDlg, strNote);
        }
    });
}

void CVolnexVw::ShowAlert(const CAlertEvent& event) {
    ShowNote(AlertNote(event));
    // Called by the session as it tells the alert: its list is current.
    std::vector<std::string> lines;
    for (const CActiveAlert& alert : m_session.GetAlerts())
        lines.push_back(alert.strText);
    Queue([this, lines] {
        const wxSize before = GetFormSize();
        m_form.ShowAlerts(lines);
        // The first alert's line is seen without scrolling.
        m_nAlertGrowth += FormResized(before);
    });
}

void CVolnexVw::LayoutForm() {
    m_form.Grow(GrowthFor(GetClientSize(), m_firstClient, GetFormSize()));
}

int CVolnexVw::FormResized(const wxSize& before) {
    const int nGrowth = GetFormSize().y - before.y;
    if (nGrowth == 0 || !m_bFitted)
        return 0; // before the first size, that size takes the whole form
    m_firstClient.y = std::max(m_firstClient.y + nGrowth, GetFormSize().y);
    auto* pFrame = dynamic_cast<IViewFrame*>(GetParent());
    int nChange = 0;
    if (pFrame != nullptr && !pFrame->IsFrameMaximized()) {
        // A frame that could not grow by all of a line (at the screen's
        // edge) gives back only what it grew by.
        nChange = nGrowth > 0 ? nGrowth : -std::min(-nGrowth, m_nGrownBelow);
        nChange = pFrame->GrowClientBy(nChange);
        m_nGrownBelow += nChange;
    }
    LayoutForm();
    return nChange;
}

void CVolnexVw::OnViewPageDetails() {
    const wxSize before = GetFormSize();
    const bool bShow = !m_form.IsDetailsPaneShown();
    m_form.ShowDetailsPane(bShow);
    m_pDetailed = nullptr;
    AppProfile().WriteInt(CPortConfig::kSection, kDetailsKey, bShow ? 1 : 0);
    FormResized(before);
    ShowDetails();
}

void CVolnexVw::ShowDetails() {
    if (!m_form.IsDetailsPaneShown())
        return;
    const auto pPage = m_form.PageAt(m_pageList->GetSelectedLine());
    if (pPage == m_pDetailed && !m_form.DetailsText().empty())
        return; // shown already: new pages came, the selection stayed
    m_pDetailed = pPage;
    m_form.SetDetails(
        pPage != nullptr
            ? wxString::FromUTF8(PageDetailsText(*pPage))
            : wxString("Select a page in the list to read it whole here."));
}

void CVolnexVw::CreateProtocolDlg() {
    if (m_protocol.Get() != nullptr)
        return;
    m_protocol.Create();
    if (auto* pFrame = dynamic_cast<IViewFrame*>(GetParent()))
        m_protocol.Get()->SetBaseWidth(pFrame->GetFitWidth());
    m_protocol.Get()->SetCatchUp([this] { ShowPending(); });
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
        {
            auto lock = LockSession();
            m_session.SettingsChanged();
        }
        AfterSessionCall();
        AppMessageBox(
            CWxMessageBoxes::Instance(),
            "Serial Port Settings have changed. New Logon to VELDRIN is required.",
            MB_OK);
    }
}
