#include "session/TraceRender.h"
#include "tests/TestClock.h"
#include "tests/gui/ProgramFixture.h"
#include "ui/CommandIds.h"
#include "ui/MainFrame.h"
#include "ui/ProtocolDlg.h"
#include "ui/ReportListBox.h"
#include "ui/VolnexView.h"

#include <gtk/gtk.h>
#include <wx/filedlg.h>
#include <wx/menu.h>
#include <wx/statusbr.h>

namespace {

class ProtocolWindowGuiTest : public CProgramFixture {
  protected:
    void Start(bool bViewProtocol) {
        StartProgram(std::string("ViewProtocol=") + (bViewProtocol ? "1" : "0") + "\n");
    }
    // A caller logs on after the operator's Logon.
    void LogOn() {
        view->OnLogon();
        Await(3);
        pty.Write("\r");
        Await(3);
        pty.Write("\x1bPG1\r");
        Await(6);
    }
};

TEST_F(ProtocolWindowGuiTest, ShowsTheTrafficOfALogonAndAPage) {
    Start(true);
    ASSERT_NE(view->GetProtocolDlg(), nullptr);
    // The trace of the start-up ESC EOT CR is lost: the window came later.
    EXPECT_EQ(view->GetProtocolDlg()->Count(), 0u);
    LogOn();
    pty.Write("\x02"
              "1234\rHELLO\r\x03"
              "25=\r");
    EXPECT_EQ(Await(2), "\x06\r");
    EXPECT_EQ(view->GetProtocolDlg()->GetList().GetLines(),
              (std::vector<std::string>{
                  "<=  <ESC><EOT><CR>", "=>  <CR>", "<=  ID=", "=>  <ESC>PG1<CR>",
                  "<=  <ACK><CR><ESC>[p<CR>", "=>  <STX>1234<CR>", "=>  HELLO<CR>",
                  "=>  <ETX>25=<CR>", "<=  <ACK><CR>"}));
}

// The test bench, set in the profile: rejected blocks are explained after
// their received lines, and a test mode's answers are marked.
TEST_F(ProtocolWindowGuiTest, TheTestBenchExplainsAndMarksInTheProtocolWindow) {
    StartProgram("ViewProtocol=1\nDiagnose1=1\nMisbehave1=nak-every:2\n");
    LogOn();
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    const unsigned nStart = pDlg->Count();
    pty.Write("\x02"
              "1234\rHI\r\x03"
              "17;\r"); // a wrong checksum
    EXPECT_EQ(Await(2), "\x15\r");
    pty.Write("\x02"
              "1234\rHI\r\x03"
              "17:\r"); // good: ACK
    EXPECT_EQ(Await(2), "\x06\r");
    pty.Write("\x02"
              "1234\rHI\r\x03"
              "17:\r"); // good, the second: NAK on purpose
    EXPECT_EQ(Await(2), "\x15\r");
    std::vector<std::string> lines = pDlg->GetList().GetLines();
    lines.erase(lines.begin(), lines.begin() + nStart);
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            "=>  <STX>1234<CR>", "=>  HI<CR>", "=>  <ETX>17;<CR>",
            "   CHECKSUM RECEIVED 17;; EXPECTED 17:", "<=  <NAK><CR>",
            "=>  <STX>1234<CR>", "=>  HI<CR>", "=>  <ETX>17:<CR>",
            "   RESEND OF THE BLOCK ANSWERED NAK BEFORE (PAGER 1234, CHECKSUM 17;)",
            "<=  <ACK><CR>", "=>  <STX>1234<CR>", "=>  HI<CR>", "=>  <ETX>17:<CR>",
            "   TEST MODE: NAK SENT FOR A GOOD BLOCK (nak-every:2)", "<=  <NAK><CR>"}));
    // The page list shows each page as the caller was answered, the resend
    // tied to its NAK.
    const std::vector<std::string> pages = view->GetPageList().GetLines();
    ASSERT_GE(pages.size(), 5u);
    EXPECT_EQ(pages[pages.size() - 3],
              "\tRESEND OF THE BLOCK ANSWERED NAK BEFORE (PAGER 1234, CHECKSUM 17;)");
    EXPECT_EQ(pages.back(), "\tNAKED ON PURPOSE (TEST MODE)");
    EXPECT_EQ(view->GetBadPages(), 2u);
    EXPECT_EQ(view->GetGoodPages(), 1u);
    frame->RefreshPanes();
    EXPECT_NE(frame->GetStatusBar()->GetStatusText(0).Find(" (test mode: nak-every:2)"),
              wxNOT_FOUND);
}

TEST_F(ProtocolWindowGuiTest, TheMenuSwitchesTheWindowAndTheProfileFollows) {
    Start(false);
    EXPECT_EQ(view->GetProtocolDlg(), nullptr);
    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    ASSERT_NE(pDlg, nullptr);
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocol", -1), 1);
    frame->GetMenuBar()->GetMenu(1)->UpdateUI();
    EXPECT_TRUE(frame->GetMenuBar()->IsChecked(ID_VIEW_PROTOCOL_MESSAGES));
    pDlg->Add("<=  ID=");

    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    EXPECT_EQ(view->GetProtocolDlg(), nullptr);
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocol", -1), 0);
    PumpEvents(20);

    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    pDlg = view->GetProtocolDlg();
    ASSERT_NE(pDlg, nullptr);
    EXPECT_EQ(pDlg->Count(), 0u); // the lines went with the old window
    PumpEvents(50);
    const wxRect frameRect = frame->GetScreenRect();
    const wxRect dlgRect = pDlg->GetScreenRect();
    EXPECT_EQ(dlgRect.GetLeft(), frameRect.GetLeft());
    EXPECT_EQ(dlgRect.GetTop(), frameRect.GetBottom() + 1);
    EXPECT_EQ(dlgRect.GetWidth(), frameRect.GetWidth());
}

TEST_F(ProtocolWindowGuiTest, ARestoredFrameBringsBackTheWindowItsMinimiseHid) {
    Start(true);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    pDlg->Add("<=  ID=");
    // Minimised: hidden, the window and its lines remain.
    wxIconizeEvent minimised(frame->GetId(), true);
    frame->GetEventHandler()->ProcessEvent(minimised);
    EXPECT_FALSE(pDlg->IsShown());
    EXPECT_EQ(view->GetProtocolDlg(), pDlg);
    wxIconizeEvent restored(frame->GetId(), false);
    frame->GetEventHandler()->ProcessEvent(restored);
    EXPECT_TRUE(pDlg->IsShown());
    EXPECT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(pDlg->GetHandle()); }));
    EXPECT_EQ(pDlg->Count(), 1u);
    EXPECT_TRUE(PumpUntil([&] {
        return pDlg->GetScreenRect().GetTop() == frame->GetScreenRect().GetBottom() + 1;
    }));
    // Switched off meanwhile: nothing comes back.
    frame->GetEventHandler()->ProcessEvent(minimised);
    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    frame->GetEventHandler()->ProcessEvent(restored);
    EXPECT_EQ(view->GetProtocolDlg(), nullptr);
}

TEST_F(ProtocolWindowGuiTest, ClosingItByTheWindowManagerSwitchesItOff) {
    Start(true);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    ASSERT_NE(pDlg, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(pDlg->GetHandle()); }));
    // What Alt+F4 or the close button makes the window manager send.
    GdkEvent* pDelete = gdk_event_new(GDK_DELETE);
    pDelete->any.window =
        GDK_WINDOW(g_object_ref(gtk_widget_get_window(pDlg->GetHandle())));
    gtk_main_do_event(pDelete);
    gdk_event_free(pDelete);
    EXPECT_EQ(view->GetProtocolDlg(), nullptr);
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocol", -1), 0);
    frame->GetMenuBar()->GetMenu(1)->UpdateUI();
    EXPECT_FALSE(frame->GetMenuBar()->IsChecked(ID_VIEW_PROTOCOL_MESSAGES));
    // The menu switches it on again at once.
    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    EXPECT_NE(view->GetProtocolDlg(), nullptr);
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocol", -1), 1);
}

TEST_F(ProtocolWindowGuiTest, ItNarrowsAndWidensWithTheFrame) {
    Start(true);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    // As the display has the windows, not as wxWidgets asked for them.
    auto shown = [](wxWindow* pWindow) {
        GdkWindow* pGdk = gtk_widget_get_window(pWindow->GetHandle());
        int x = 0, y = 0;
        gdk_window_get_origin(pGdk, &x, &y);
        return wxRect(x, y, gdk_window_get_width(pGdk), gdk_window_get_height(pGdk));
    };
    auto docked = [&] {
        const wxRect frameRect = shown(frame);
        const wxRect dlgRect = shown(pDlg);
        return dlgRect.GetLeft() == frameRect.GetLeft() &&
               dlgRect.GetTop() == frameRect.GetBottom() + 1 &&
               dlgRect.GetWidth() == frameRect.GetWidth();
    };
    ASSERT_TRUE(PumpUntil(docked));
    const int nFirst = shown(frame).width;
    const int nList = pDlg->GetList().GetSize().x;
    for (int nWidth : {nFirst * 2 / 3, nFirst + 100}) {
        frame->SetSize(frame->GetSize().x + nWidth - shown(frame).width,
                       frame->GetSize().y);
        ASSERT_TRUE(PumpUntil([&] { return shown(frame).width == nWidth; }));
        EXPECT_TRUE(PumpUntil(docked)) << shown(pDlg).width << " for " << nWidth;
        // Narrower, the list keeps its size and is cut; wider, it takes the
        // room beyond the frame's first width, and what was left beside it.
        auto grown = [&] { return pDlg->GetList().GetSize().x - nList; };
        const int nRoom = std::max(0, nWidth - nFirst);
        EXPECT_TRUE(PumpUntil([&] { return grown() >= nRoom && grown() <= 2 * nRoom; }))
            << grown() << " for " << nWidth;
    }
}

TEST_F(ProtocolWindowGuiTest, TheSaveDialogsAreTitledByTheirAction) {
    Start(true);
    wxTEST_DIALOG(view->OnLogFile(),
                  CExpectSaveDialog("Save Page List", dir.Path("pages.txt")),
                  CExpectMessage("Saved 0 lines to " + dir.Path("pages.txt")));
    wxCommandEvent save(wxEVT_BUTTON, CProtocolDlg::IDC_SAVE);
    wxTEST_DIALOG(view->GetProtocolDlg()->GetEventHandler()->ProcessEvent(save),
                  CExpectSaveDialog("Save Protocol Messages", dir.Path("protocol.txt")),
                  CExpectMessage("Saved 0 lines to " + dir.Path("protocol.txt")));
    EXPECT_TRUE(wxFileExists(dir.Path("pages.txt")));
    EXPECT_TRUE(wxFileExists(dir.Path("protocol.txt")));
}

// A profile that is not there yet is named when the window opens; the
// window's own ViewProtocol then makes it.
TEST_F(ProtocolWindowGuiTest, AProfileNotThereYetIsNotedWhenTheWindowOpens) {
    Start(false);
    const std::string strPath = dir.Path("volnex.INI");
    std::remove(strPath.c_str());
    view->OnViewProtocolMessages();
    ASSERT_NE(view->GetProtocolDlg(), nullptr);
    EXPECT_EQ(view->GetProtocolDlg()->GetList().GetLines(),
              std::vector<std::string>{"   PROFILE " + strPath +
                                       " IS NEW: IT IS WRITTEN AT THE FIRST CHANGE"});
    EXPECT_TRUE(wxFileExists(strPath));
    view->OnViewProtocolMessages();
    view->OnViewProtocolMessages();
    EXPECT_EQ(view->GetProtocolDlg()->Count(), 0u); // said once, while it was new
}

TEST_F(ProtocolWindowGuiTest, ClearingAsksFirst) {
    Start(true);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    pDlg->Add("=>  <CR>");
    wxCommandEvent dclick(wxEVT_LISTBOX_DCLICK, CProtocolDlg::IDC_PROTOCOL_LIST);
    dclick.SetEventObject(&pDlg->GetList());
    wxTEST_DIALOG(pDlg->GetList().GetEventHandler()->ProcessEvent(dclick),
                  CExpectMessage("Clear All messages?", wxID_NO, wxNO_DEFAULT));
    EXPECT_EQ(pDlg->Count(), 1u);
    wxTEST_DIALOG(pDlg->GetList().GetEventHandler()->ProcessEvent(dclick),
                  CExpectMessage("Clear All messages?", wxID_YES));
    EXPECT_EQ(pDlg->Count(), 0u);
}

// The hex view adds each line's bytes after its text, at once for the open
// window and from the profile for one opened later; off, the lines are as
// they always were.
TEST_F(ProtocolWindowGuiTest, TheHexViewShowsTheBytesOfEveryLine) {
    Start(true);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    auto trace = [&](bool bSent, const std::string& strBytes) {
        for (size_t i = 0; i < strBytes.size(); i += bSent ? strBytes.size() : 1)
            view->Notify(UM_PROTOCOL_TRACE, bSent ? kTraceSent : kTraceReceived,
                         ReleaseTraceText(std::make_unique<std::string>(
                             bSent ? strBytes : strBytes.substr(i, 1))));
    };
    trace(false, std::string("\x02"
                             "1\xe9\r",
                             4));
    trace(true, "\x06\r");
    const std::vector<std::string> plain{"=>  <STX>1\xe9<CR>", "<=  <ACK><CR>"};
    EXPECT_EQ(pDlg->GetList().GetLines(), plain);
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocolHex", -1), -1);

    frame->ProcessCommand(ID_VIEW_PROTOCOL_HEX);
    const std::vector<std::string> hex{"=>  <STX>1\xe9<CR>    [02 31 E9 0D]",
                                       "<=  <ACK><CR>    [06 0D]"};
    EXPECT_EQ(pDlg->GetList().GetLines(), hex);
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocolHex", -1), 1);
    frame->GetMenuBar()->GetMenu(1)->UpdateUI();
    EXPECT_TRUE(frame->GetMenuBar()->IsChecked(ID_VIEW_PROTOCOL_HEX));
    // An open line gains its bytes as they come.
    trace(false, "AB");
    EXPECT_EQ(pDlg->GetList().GetLine(2), "=>  AB    [41 42]");

    // A window opened later shows hex from the start.
    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    pDlg = view->GetProtocolDlg();
    ASSERT_NE(pDlg, nullptr);
    EXPECT_TRUE(pDlg->IsHexView());
    trace(true, "ID=");
    EXPECT_EQ(pDlg->GetList().GetLines(),
              std::vector<std::string>{"<=  ID=    [49 44 3D]"});

    frame->ProcessCommand(ID_VIEW_PROTOCOL_HEX);
    EXPECT_EQ(pDlg->GetList().GetLines(), std::vector<std::string>{"<=  ID="});
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocolHex", -1), 0);
}

// The time view puts each line's start time before it, and the saved
// report holds the lines as shown; off (the default), both are as always.
TEST_F(ProtocolWindowGuiTest, TheTimeViewShowsWhenEachLineBeganAndIsSavedSo) {
    CMsClock clock;
    clock.nMs =
        static_cast<std::int64_t>(LocalTime(2026, 12, 8, 14, 5, 0)) * 1000 + 250;
    SetClock(&clock);
    Start(true);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    auto trace = [&](bool bSent, const std::string& strBytes) {
        view->Notify(UM_PROTOCOL_TRACE, bSent ? kTraceSent : kTraceReceived,
                     ReleaseTraceText(std::make_unique<std::string>(strBytes)));
    };
    trace(false, "\r");
    clock.nMs += 1500;
    trace(true, "ID=");
    const std::vector<std::string> plain{"=>  <CR>", "<=  ID="};
    EXPECT_EQ(pDlg->GetList().GetLines(), plain);
    wxCommandEvent save(wxEVT_BUTTON, CProtocolDlg::IDC_SAVE);
    const std::string path = dir.Path("protocol.txt");
    const std::string strHeader =
        "Dudova Deza List Report saved:  12/08/26 02:05:01 PM\r\n";
    wxTEST_DIALOG(pDlg->GetEventHandler()->ProcessEvent(save),
                  wxExpectModal<wxFileDialog>(path),
                  CExpectMessage("Saved 2 lines to " + path));
    EXPECT_EQ(CTempDir::Read(path), strHeader + "=>  <CR>\r\n<=  ID=\r\n");

    frame->ProcessCommand(ID_VIEW_PROTOCOL_TIMES);
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocolTimes", -1), 1);
    const std::vector<std::string> timed{"14:05:00.250 =>  <CR>",
                                         "14:05:01.750 <=  ID="};
    EXPECT_EQ(pDlg->GetList().GetLines(), timed);
    wxTEST_DIALOG(pDlg->GetEventHandler()->ProcessEvent(save),
                  wxExpectModal<wxFileDialog>(path),
                  CExpectMessage("Saved 2 lines to " + path));
    EXPECT_EQ(CTempDir::Read(path),
              strHeader + "14:05:00.250 =>  <CR>\r\n14:05:01.750 <=  ID=\r\n");
    // Cleared, the next line has its own time, not a cleared one's.
    wxCommandEvent dclick(wxEVT_LISTBOX_DCLICK, CProtocolDlg::IDC_PROTOCOL_LIST);
    dclick.SetEventObject(&pDlg->GetList());
    wxTEST_DIALOG(pDlg->GetList().GetEventHandler()->ProcessEvent(dclick),
                  CExpectMessage("Clear All messages?", wxID_YES, wxNO_DEFAULT));
    clock.nMs += 60000;
    trace(true, "\x06\r");
    EXPECT_EQ(pDlg->GetList().GetLines(),
              std::vector<std::string>{"14:06:01.750 <=  <ACK><CR>"});
    // A window opened later shows the times from the start.
    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    frame->ProcessCommand(ID_VIEW_PROTOCOL_MESSAGES);
    ASSERT_NE(view->GetProtocolDlg(), nullptr);
    EXPECT_TRUE(view->GetProtocolDlg()->IsTimesView());
    frame->ProcessCommand(ID_VIEW_PROTOCOL_TIMES);
    EXPECT_FALSE(view->GetProtocolDlg()->IsTimesView());
    EXPECT_EQ(profile.GetInt("Configuration", "ViewProtocolTimes", -1), 0);
    SetClock(nullptr);
}

} // namespace
