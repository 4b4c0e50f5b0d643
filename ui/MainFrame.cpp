#include "ui/MainFrame.h"

#include "session/Clock.h"
#include "session/Notify.h"
#include "session/ViewText.h"
#include "settings/PortConfig.h"
#include "settings/Profile.h"
#include "ui/AboutDlg.h"
#include "ui/AppIcon.h"
#include "ui/CommandIds.h"
#include "ui/DeliveriesDlg.h"
#include "ui/FormLayout.h"
#include "ui/HelpBook.h"
#include "ui/ProtocolDlg.h"
#include "ui/VolnexView.h"
#include "ui/WxText.h"

#include <wx/accel.h>
#include <wx/filename.h>
#include <wx/html/helpctrl.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/stdpaths.h>
#include <wx/time.h>

#include <charconv>

namespace {

constexpr const char* kCaption = "Volnex - Marivane Didoza Zuri Zovivazir";
constexpr int kRefreshMs = 100;
// Start larger than the form; the view fits the frame to it.
const wxSize kInitialSize(900, 700);
// The status bar draws a pane's text this far inside the pane's border (and
// on GTK one pixel further right).
constexpr int kPaneTextMargin = 2;

} // namespace

CMainFrame::CMainFrame()
    : wxFrame(nullptr, wxID_ANY, kCaption, wxDefaultPosition, kInitialSize,
              wxDEFAULT_FRAME_STYLE) {
    SetIcon(AppIcon());
    SetExtraStyle(GetExtraStyle() | wxWS_EX_PROCESS_IDLE | wxWS_EX_PROCESS_UI_UPDATES);
    m_bProtocolHex =
        AppProfile().GetInt(CPortConfig::kSection, CProtocolDlg::kHexKey, 0) != 0;
    m_bProtocolTimes =
        AppProfile().GetInt(CPortConfig::kSection, CProtocolDlg::kTimesKey, 0) != 0;
    CreateMenus();
    // The view first: its creation opens the port and starts the timer.
    m_pView = new CVolnexVw(this);

    // No size grip: it would take its room from the clock pane, and GTK 3
    // windows are resized by their edges. A pane whose text is cut shows it
    // whole as its tooltip (wxSTB_SHOW_TIPS).
    wxStatusBar* pStatus = CreateStatusBar(2, wxSTB_DEFAULT_STYLE & ~wxSTB_SIZEGRIP);
    // The clock pane is as wide as "00:00" in the bar's font.
    const int widths[2] = {-1, PaneWidthFor("00:00")};
    pStatus->SetStatusWidths(2, widths);
    const int styles[2] = {wxSB_FLAT, wxSB_NORMAL};
    pStatus->SetStatusStyles(2, styles);
    pStatus->SetStatusText("00:00", 1);
    SetStatusBarPane(0); // menu prompts go to pane 0

    Bind(wxEVT_IDLE, &CMainFrame::OnIdle, this);
    Bind(wxEVT_MOVE, &CMainFrame::OnMove, this);
    Bind(wxEVT_SIZE, &CMainFrame::OnSize, this);
    Bind(wxEVT_ICONIZE, &CMainFrame::OnIconize, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent& event) {
        m_bMenuOpen = true;
        event.Skip();
    });
    Bind(wxEVT_MENU_CLOSE, [this](wxMenuEvent& event) {
        m_bMenuOpen = false;
        m_lastRefresh = 0; // the settings text comes back at the next idle
        event.Skip();
    });
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::CreateMenus() {
    auto* pFile = new wxMenu;
    pFile->Append(ID_APP_EXIT, "E&xit",
                  "Quit the application; prompts to save documents");

    auto* pView = new wxMenu;
    m_pViewMenu = pView;
    pView->AppendCheckItem(ID_VIEW_STATUS_BAR, "&Status Bar",
                           "Show or hide the status bar");
    pView->AppendCheckItem(ID_VIEW_PROTOCOL_MESSAGES, "&Protocol Messages");
    pView->AppendCheckItem(ID_VIEW_PROTOCOL_HEX, "Protocol Bytes in &Hex",
                           "Show the hex value of every byte in the protocol messages");
    pView->AppendCheckItem(ID_VIEW_PROTOCOL_TIMES, "Protocol &Times",
                           "Show the time of every protocol message (HH:MM:SS.mmm)");
    pView->AppendCheckItem(ID_VIEW_PAGE_DETAILS, "Page &Details",
                           "Show the selected page whole below the list");

    // GTK's menu bar holds only menus: the Connection command is the one
    // item of its own menu.
    auto* pConnection = new wxMenu;
    pConnection->Append(ID_CONNECTION, "&Connection");

    auto* pHelp = new wxMenu;
    pHelp->Append(ID_HELP_INDEX, "&Index", "List Help topics");
    pHelp->Append(ID_HELP_USING, "&Using Help",
                  "Display instructions about how to use help");
    pHelp->AppendSeparator();
    pHelp->Append(ID_APP_ABOUT, "&About Volnex...",
                  "Display program information, version number and copyright");

    auto* pBar = new wxMenuBar;
    pBar->Append(pFile, "&File");
    pBar->Append(pView, "&View");
    pBar->Append(pConnection, "&Connection");
    pBar->Append(pHelp, "&Help");
    SetMenuBar(pBar);

    // Shift+F6: the previous-pane command, which has nothing to do with a
    // single pane.
    wxAcceleratorEntry entries[1];
    entries[0].Set(wxACCEL_SHIFT, WXK_F6, ID_PREV_PANE);
    SetAcceleratorTable(wxAcceleratorTable(1, entries));

    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, ID_APP_EXIT);
    Bind(wxEVT_MENU, &CMainFrame::OnToggleStatusBar, this, ID_VIEW_STATUS_BAR);
    Bind(wxEVT_MENU, &CMainFrame::OnHelpIndex, this, ID_HELP_INDEX);
    Bind(wxEVT_MENU, &CMainFrame::OnAbout, this, ID_APP_ABOUT);
    Bind(
        wxEVT_MENU, [](wxCommandEvent&) {}, ID_PREV_PANE);
    Bind(
        wxEVT_UPDATE_UI,
        [this](wxUpdateUIEvent& event) {
            event.Check(GetStatusBar() != nullptr && GetStatusBar()->IsShown());
        },
        ID_VIEW_STATUS_BAR);
    // A command with nothing behind it is shown disabled.
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { m_pView->OnViewProtocolMessages(); },
        ID_VIEW_PROTOCOL_MESSAGES);
    Bind(
        wxEVT_UPDATE_UI,
        [this](wxUpdateUIEvent& event) {
            event.Enable(true);
            event.Check(m_pView != nullptr && m_pView->IsProtocolChecked());
        },
        ID_VIEW_PROTOCOL_MESSAGES);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { OnToggleProtocolHex(); },
        ID_VIEW_PROTOCOL_HEX);
    Bind(
        wxEVT_UPDATE_UI,
        [this](wxUpdateUIEvent& event) { event.Check(m_bProtocolHex); },
        ID_VIEW_PROTOCOL_HEX);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { OnToggleProtocolTimes(); },
        ID_VIEW_PROTOCOL_TIMES);
    Bind(
        wxEVT_UPDATE_UI,
        [this](wxUpdateUIEvent& event) { event.Check(m_bProtocolTimes); },
        ID_VIEW_PROTOCOL_TIMES);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { m_pView->OnViewPageDetails(); },
        ID_VIEW_PAGE_DETAILS);
    Bind(
        wxEVT_UPDATE_UI,
        [this](wxUpdateUIEvent& event) {
            event.Check(m_pView != nullptr && m_pView->IsPageDetailsShown());
        },
        ID_VIEW_PAGE_DETAILS);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { m_pView->OnConnection(); },
        ID_CONNECTION);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { OnViewDeliveries(); },
        ID_VIEW_DELIVERIES);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ShowHelp("usinghelp.html"); },
        ID_HELP_USING);
}

void CMainFrame::ShowDeliveriesCommand(bool bShow) {
    if (bShow == m_bDeliveriesCommand)
        return;
    m_bDeliveriesCommand = bShow;
    if (bShow)
        m_pViewMenu->Append(ID_VIEW_DELIVERIES, "&Deliveries",
                            "The recent pages kept for delivery, and retrying them");
    else
        m_pViewMenu->Destroy(ID_VIEW_DELIVERIES);
}

void CMainFrame::OnViewDeliveries() {
    if (m_pDeliveries == nullptr)
        m_pDeliveries = new CDeliveriesDlg(this, [this] {
            return m_pView != nullptr ? m_pView->GetSession().GetDelivery() : nullptr;
        });
    m_pDeliveries->Refresh();
    m_pDeliveries->Show();
    m_pDeliveries->Raise();
}

int CMainFrame::PaneWidthFor(const wxString& strText) const {
    const wxStatusBar* pStatus = GetStatusBar();
    return pStatus->GetTextExtent(strText).x +
           2 * (kPaneTextMargin + pStatus->GetBorderX()) + 1;
}

void CMainFrame::SetProfileName(const std::string& strName) {
    SetTitle(strName.empty()
                 ? wxString(kCaption)
                 : wxString(kCaption) + " (" + FromPathBytes(strName) + ")");
}

wxSize CMainFrame::FitToForm(const wxSize& form) {
    RefreshPanes();
    wxSize client = form;
    // Wide enough for the settings text whole, as far as the screen allows.
    if (wxStatusBar* pStatus = GetStatusBar();
        pStatus != nullptr && pStatus->IsShown()) {
        client.x = std::max(client.x, PaneWidthFor(SettingsPaneText()) +
                                          pStatus->GetStatusWidth(1));
    }
    // No larger than the screen: the view scrolls over what does not fit.
    const wxRect area = ScreenAreaOf(this);
    const wxSize frame = GetSize() - GetClientSize() + client;
    client.DecBy(std::max(0, frame.x - area.width), std::max(0, frame.y - area.height));
    SetClientSize(client);
    m_fitClient = client;
    return client;
}

int CMainFrame::GrowClientBy(int nChange) {
    const wxRect area = ScreenAreaOf(this);
    const int nBorder = GetSize().y - GetClientSize().y;
    const int nBefore = GetClientSize().y;
    const int nAfter = std::max(1, std::min(nBefore + nChange, area.height - nBorder));
    m_fitClient.y += nAfter - nBefore;
    SetClientSize(GetClientSize().x, nAfter);
    return nAfter - nBefore;
}

namespace {

// "1200x800": a width and a height in pixels, each at least 100; anything
// else is no size.
bool ParseWindowSize(const std::string& strSize, wxSize* pSize) {
    const char* const pEnd = strSize.data() + strSize.size();
    int nWidth = 0, nHeight = 0;
    const auto width = std::from_chars(strSize.data(), pEnd, nWidth);
    if (width.ec != std::errc() || width.ptr == pEnd || *width.ptr != 'x')
        return false;
    const auto height = std::from_chars(width.ptr + 1, pEnd, nHeight);
    if (height.ec != std::errc() || height.ptr != pEnd || nWidth < 100 || nHeight < 100)
        return false;
    *pSize = wxSize(nWidth, nHeight);
    return true;
}

} // namespace

void CMainFrame::RestoreSize() {
    wxSize client;
    if (ParseWindowSize(AppProfile().GetString(CPortConfig::kSection, kSizeKey, ""),
                        &client)) {
        const wxSize border = GetSize() - GetClientSize();
        const wxRect area = ScreenAreaOf(this);
        SetClientSize(std::min(client.x, area.width - border.x),
                      std::min(client.y, area.height - border.y));
    }
    if (AppProfile().GetInt(CPortConfig::kSection, kMaximizedKey, 0) != 0)
        Maximize();
}

void CMainFrame::SaveSize() {
    // Written only when it changed: a window the user left alone writes
    // nothing to the profile.
    const bool bMaximized = IsMaximized();
    const int nWasMaximized =
        AppProfile().GetInt(CPortConfig::kSection, kMaximizedKey, 0);
    if (bMaximized != (nWasMaximized != 0))
        AppProfile().WriteInt(CPortConfig::kSection, kMaximizedKey, bMaximized ? 1 : 0);
    if (bMaximized || IsIconized())
        return; // the size to come back to stays as it was
    // The client's size (the window manager's border is its own), less
    // what it grew by for an alert, which a next start need not have.
    wxSize client = GetClientSize();
    if (m_pView != nullptr)
        client.y -= m_pView->GetAlertGrowth();
    const std::string strSize =
        GetClientSize() == m_fitClient
            ? std::string()
            : std::to_string(client.x) + "x" + std::to_string(client.y);
    if (AppProfile().GetString(CPortConfig::kSection, kSizeKey, "") != strSize)
        AppProfile().WriteString(CPortConfig::kSection, kSizeKey, strSize);
}

void CMainFrame::RefreshPanes() {
    wxStatusBar* pStatus = GetStatusBar();
    if (pStatus == nullptr || !pStatus->IsShown())
        return;
    const wxString strClock = ClockText(GetClock().Now());
    if (pStatus->GetStatusText(1) != strClock)
        pStatus->SetStatusText(strClock, 1);
    if (m_bMenuOpen)
        return; // the highlighted item's prompt stays until the menu closes
    const wxString strSettings = SettingsPaneText();
    if (pStatus->GetStatusText(0) != strSettings)
        pStatus->SetStatusText(strSettings, 0);
}

wxString CMainFrame::SettingsPaneText() {
    // A fresh record: the pane shows what is stored now.
    const CCommPort& line = m_pView->GetPort();
    return StatusSettingsText(CPortConfig(), line.GetDevicePath(), line.DescribeLine(),
                              m_pView->GetLostDevice()) +
           TestModeNote(m_pView->GetTestModeText()) + m_pView->GetLineNote();
}

void CMainFrame::OnIdle(wxIdleEvent& event) {
    // Idle comes after every burst of events, many times a second while
    // pages arrive; the panes show minutes and stored settings, so about ten
    // refreshes a second (the view's timer rate) are plenty.
    const wxLongLong now = wxGetLocalTimeMillis();
    if (now - m_lastRefresh >= kRefreshMs || now < m_lastRefresh) {
        m_lastRefresh = now;
        RefreshPanes();
    }
    event.Skip();
}

void CMainFrame::OnMove(wxMoveEvent& event) {
    if (m_pView != nullptr)
        m_pView->Notify(UM_FRAME_MOVED, 0, 0);
    event.Skip();
}

void CMainFrame::OnSize(wxSizeEvent& event) {
    event.Skip(); // lays out the status bar and the view
    if (m_pView != nullptr)
        m_pView->Notify(IsIconized() ? UM_FRAME_MINIMIZED : UM_FRAME_MOVED, 0, 0);
}

void CMainFrame::OnIconize(wxIconizeEvent& event) {
    if (m_pView != nullptr)
        m_pView->Notify(event.IsIconized() ? UM_FRAME_MINIMIZED : UM_FRAME_MOVED, 0, 0);
    event.Skip();
}

void CMainFrame::OnClose(wxCloseEvent&) {
    // The window always closes, ending a session on the line; its size is
    // kept for the next start.
    SaveSize();
    if (m_pView != nullptr)
        m_pView->OnDestroy();
    Destroy();
}

void CMainFrame::OnToggleProtocolHex() {
    m_bProtocolHex = !m_bProtocolHex;
    AppProfile().WriteInt(CPortConfig::kSection, CProtocolDlg::kHexKey,
                          m_bProtocolHex ? 1 : 0);
    // An open window shows it at once; one opened later reads the profile.
    if (CProtocolDlg* pDlg = m_pView->GetProtocolDlg())
        pDlg->SetHexView(m_bProtocolHex);
}

void CMainFrame::OnToggleProtocolTimes() {
    m_bProtocolTimes = !m_bProtocolTimes;
    AppProfile().WriteInt(CPortConfig::kSection, CProtocolDlg::kTimesKey,
                          m_bProtocolTimes ? 1 : 0);
    if (CProtocolDlg* pDlg = m_pView->GetProtocolDlg())
        pDlg->SetTimesView(m_bProtocolTimes);
}

void CMainFrame::OnToggleStatusBar(wxCommandEvent&) {
    if (wxStatusBar* pStatus = GetStatusBar()) {
        pStatus->Show(!pStatus->IsShown());
        SendSizeEvent();
        RefreshPanes();
    }
}

wxString CMainFrame::HelpBookPath() {
    wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
    const std::string strBook = FindHelpBook(std::string(exe.GetPath().fn_str()));
    return wxString(strBook.c_str(), *wxConvFileName);
}

void CMainFrame::OnHelpIndex(wxCommandEvent&) {
    ShowHelp(std::string());
}

void CMainFrame::ShowHelp(const std::string& strPage) {
    if (!m_pHelp) {
        m_pHelp = std::make_unique<wxHtmlHelpController>(wxHF_DEFAULT_STYLE, this);
        m_pHelp->AddBook(wxFileName(HelpBookPath()));
    }
    if (strPage.empty())
        m_pHelp->DisplayContents();
    else
        m_pHelp->Display(strPage);
}

void CMainFrame::OnAbout(wxCommandEvent&) {
    CAboutDlg dialog(this);
    dialog.ShowModal();
}
