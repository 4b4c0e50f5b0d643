// Delivery onward in the window: the delivery line under the form and
// View > Deliveries, which appear only when a target is set up, and the
// Retry command bringing back a page a target refused for good.
#include "engine/SessionState.h"
#include "tests/TempDir.h"
#include "tests/gui/GuiTest.h"
#include "tests/gui/ProgramFixture.h"
#include "ui/CommandIds.h"
#include "ui/DeliveriesDlg.h"
#include "ui/MainFrame.h"
#include "ui/VolnexView.h"

#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>

#include <sys/stat.h>

namespace {

class DeliveryGuiTest : public CProgramFixture {
  protected:
    // A target whose program refuses pages until the file "fixed" exists.
    std::string Targets() {
        const std::string strScript = dir.Path("deliver.sh");
        CTempDir::Write(strScript, "#!/bin/sh\ntest -e " + dir.Path("fixed") + "\n");
        chmod(strScript.c_str(), 0755);
        return "StateFolder=" + dir.Path("state") +
               "\n[Target ward7]\nUrl=exec:" + strScript +
               "\n[Target bad]\nUrl=exec:relative\n";
    }
    bool HasDeliveriesCommand() const {
        return frame->GetMenuBar()->FindItem(ID_VIEW_DELIVERIES) != nullptr;
    }
};

TEST_F(DeliveryGuiTest, WithoutTargetsTheWindowIsAsItWas) {
    StartProgram();
    EXPECT_EQ(view->GetDeliveryText(), "");
    EXPECT_FALSE(HasDeliveriesCommand());
}

TEST_F(DeliveryGuiTest, TheDeliveryLineAndTheRetryOfAPageRefusedForGood) {
    wxTEST_DIALOG(
        StartProgram(Targets()),
        wxExpectModal<wxMessageDialog>(wxID_OK).Describe("the bad target's message"));
    EXPECT_TRUE(HasDeliveriesCommand());
    const wxString strLine = view->GetDeliveryText();
    EXPECT_TRUE(strLine.StartsWith("ward7 (EXEC): up, 0 pending")) << strLine;
    EXPECT_NE(strLine.Find("bad: off ([Target bad] Url=exec:relative"), wxNOT_FOUND)
        << strLine;

    LogOnCaller();
    FeedBytes("\x02"
              "1234\rHI\r\x03"
              "17:\r");
    ASSERT_TRUE(PumpUntil([&] {
        return view->GetDeliveryText().Find("0 delivered, 1 failed") != wxNOT_FOUND;
    })) << view->GetDeliveryText();

    frame->OnViewDeliveries();
    CDeliveriesDlg* pDlg = frame->GetDeliveriesDlg();
    ASSERT_NE(pDlg, nullptr);
    ASSERT_TRUE(pDlg->IsShown());
    std::vector<std::string> rows = pDlg->RowTexts();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NE(rows[0].find("| 1234 | HI | ward7: failed, 1 attempt (EXIT 1)"),
              std::string::npos)
        << rows[0];

    CTempDir::Write(dir.Path("fixed"), "");
    pDlg->RetrySelectedPage(); // nothing selected: nothing happens
    EXPECT_EQ(pDlg->RowTexts(), rows);
    // Select the page and retry it: this time the program takes it.
    frame->GetDeliveriesDlg()->Refresh();
    wxListCtrl* pList = nullptr;
    for (wxWindow* pChild : pDlg->GetChildren())
        if (auto* p = dynamic_cast<wxListCtrl*>(pChild))
            pList = p;
    ASSERT_NE(pList, nullptr);
    pList->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    pDlg->RetrySelectedPage();
    ASSERT_TRUE(PumpUntil([&] {
        pDlg->Refresh();
        return pDlg->RowTexts()[0].find("ward7: delivered, 2 attempts") !=
               std::string::npos;
    })) << pDlg->RowTexts()[0];
}

} // namespace
