#include "tests/gui/ProgramFixture.h"
#include "ui/CommandIds.h"
#include "ui/MainFrame.h"
#include "ui/ProtocolDlg.h"
#include "ui/ReportListBox.h"
#include "ui/VolnexView.h"

#include <wx/menu.h>

namespace {

class ProtocolWindowGuiTest : public CProgramFixture {
protected:
    void Start(bool bViewProtocol) {
        StartProgram(std::string("ViewProtocol=") + (bViewProtocol ? "1" : "0") + "\n");
    }
};

TEST_F(ProtocolWindowGuiTest, ShowsTheTrafficOfALogonAndAPage) {
    Start(true);
    ASSERT_NE(view->GetProtocolDlg(), nullptr);
    // The trace of the start-up ESC EOT CR is lost: the window came later.
    EXPECT_EQ(view->GetProtocolDlg()->Count(), 0u);
    view->OnLogon();
    Await(3);
    pty.Write("\r");
    Await(3);
    pty.Write("\x1bPG1\r");
    Await(6);
    pty.Write("\x02" "1234\rHELLO\r\x03" "25=\r");
    EXPECT_EQ(Await(2), "\x06\r");
    EXPECT_EQ(view->GetProtocolDlg()->GetList().GetLines(),
              (std::vector<std::string>{"<=  <ESC><EOT><CR>", "=>  <CR>", "<=  ID=",
                                        "=>  <ESC>PG1<CR>", "<=  <ACK><CR><ESC>[p<CR>",
                                        "=>  <STX>1234<CR>", "=>  HELLO<CR>",
                                        "=>  <ETX>25=<CR>", "<=  <ACK><CR>"}));
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
    // A minimised frame hides it; the window and its lines remain.
    view->Notify(UM_FRAME_MINIMIZED, 0, 0);
    EXPECT_FALSE(pDlg->IsShown());
    EXPECT_EQ(view->GetProtocolDlg(), pDlg);
}

TEST_F(ProtocolWindowGuiTest, ClearingAsksFirst) {
    Start(true);
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    pDlg->Add("=>  <CR>");
    wxCommandEvent dclick(wxEVT_LISTBOX_DCLICK, CProtocolDlg::IDC_PROTOCOL_LIST);
    dclick.SetEventObject(&pDlg->GetList());
    wxTEST_DIALOG(pDlg->GetList().GetEventHandler()->ProcessEvent(dclick),
                  CExpectMessage("Clear All messages?", wxID_NO));
    EXPECT_EQ(pDlg->Count(), 1u);
    wxTEST_DIALOG(pDlg->GetList().GetEventHandler()->ProcessEvent(dclick),
                  CExpectMessage("Clear All messages?", wxID_YES));
    EXPECT_EQ(pDlg->Count(), 0u);
}

} // namespace
