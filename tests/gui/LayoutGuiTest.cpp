// The main window at the font and scale it runs with: the first size shows
// the whole form and the whole status text, and a smaller window scrolls to
// every control. The GUI tests run these once more at a large scale
// (GDK_DPI_SCALE=1.8).
#include "tests/gui/ProgramFixture.h"

#include <wx/display.h>
#include <wx/statusbr.h>

namespace {

class LayoutGuiTest : public CProgramFixture {
  protected:
    void SetUp() override {
        StartProgram();
        RecordProperty("form", wxString::Format("%dx%d", view->GetFormSize().x,
                                                view->GetFormSize().y)
                                   .ToStdString());
    }

    // The form's controls (the frames around them included).
    std::vector<wxWindow*> Controls() {
        std::vector<wxWindow*> controls;
        for (wxWindow* pChild : view->GetChildren())
            controls.push_back(pChild);
        return controls;
    }
    bool InView(const wxPoint& point) {
        return wxRect(view->GetClientSize()).Contains(point);
    }
    // Scrolls so that the form's point (unscrolled) is in view, as far as
    // the scroll range allows.
    void ScrollTo(const wxPoint& formPoint) {
        int nUnitX = 1, nUnitY = 1;
        view->GetScrollPixelsPerUnit(&nUnitX, &nUnitY);
        const wxSize client = view->GetClientSize();
        view->Scroll(std::max(0, formPoint.x - client.x / 2) / nUnitX,
                     std::max(0, formPoint.y - client.y / 2) / nUnitY);
    }
    // Waits until the status bar has painted (its panes know then whether
    // their texts were cut).
    void AwaitStatusPaint() {
        wxStatusBar* pStatus = frame->GetStatusBar();
        int nPaints = 0;
        auto count = [&](wxPaintEvent& event) {
            ++nPaints;
            event.Skip();
        };
        pStatus->Bind(wxEVT_PAINT, count);
        pStatus->Refresh();
        EXPECT_TRUE(PumpUntil([&] { return nPaints > 0; }));
        pStatus->Unbind(wxEVT_PAINT, count);
    }
};

TEST_F(LayoutGuiTest, TheFirstSizeShowsTheWholeForm) {
    ASSERT_TRUE(
        PumpUntil([&] { return view->GetClientSize() == frame->GetClientSize(); }));
    EXPECT_GE(view->GetClientSize().x, view->GetFormSize().x);
    EXPECT_GE(view->GetClientSize().y, view->GetFormSize().y);
    for (wxWindow* pControl : Controls()) {
        const wxRect rect = pControl->GetRect();
        EXPECT_TRUE(InView(rect.GetTopLeft()) && InView(rect.GetBottomRight()))
            << pControl->GetLabel() << " " << pControl->GetId() << " at " << rect.x
            << "," << rect.y << " " << rect.width << "x" << rect.height;
    }
    EXPECT_FALSE(view->HasScrollbar(wxVERTICAL) &&
                 view->GetScrollRange(wxVERTICAL) > view->GetScrollThumb(wxVERTICAL));
}

// The first layout is the form's, whatever room the status text took; a
// larger window gives the room to the page list (and soon what was left
// beside the form), and the controls right of it move along; back at the
// first size, so is the layout.
TEST_F(LayoutGuiTest, AWindowMadeLargerGivesTheRoomToThePageList) {
    ASSERT_TRUE(
        PumpUntil([&] { return view->GetClientSize() == frame->GetClientSize(); }));
    wxWindow* pList = view->FindWindow(CVolnexVw::IDC_PAGE_LIST);
    wxWindow* pLogon = view->FindWindow(CVolnexVw::IDC_LOGON);
    wxWindow* pGood = view->FindWindow(CVolnexVw::IDC_GOOD_PAGES);
    const wxRect list = pList->GetRect(), logon = pLogon->GetRect(),
                 good = pGood->GetRect();
    EXPECT_EQ(list.GetSize(), view->ConvertDialogToPixels(wxSize(244, 100)));
    const wxSize first = frame->GetSize();
    const wxSize more(300, 200);
    frame->SetSize(first + more);
    ASSERT_TRUE(PumpUntil([&] { return pList->GetSize().y == list.height + more.y; }))
        << pList->GetSize().x << "x" << pList->GetSize().y;
    const int nWider = pList->GetSize().x - list.width;
    EXPECT_GE(nWider, more.x);
    EXPECT_LE(nWider, 2 * more.x);
    EXPECT_EQ(pList->GetPosition(), list.GetPosition());
    EXPECT_EQ(pLogon->GetPosition(), logon.GetPosition() + wxPoint(nWider, 0));
    EXPECT_EQ(pGood->GetPosition(), good.GetPosition() + wxPoint(nWider, 0));
    EXPECT_LT(pList->GetRect().GetRight(), pLogon->GetRect().GetLeft());
    // Nothing is pushed out of the window: the form's own margin stays.
    EXPECT_LE(pLogon->GetRect().GetRight() + (view->GetFormSize().x - logon.GetRight()),
              view->GetClientSize().x);
    EXPECT_FALSE(view->HasScrollbar(wxVERTICAL) &&
                 view->GetScrollRange(wxVERTICAL) > view->GetScrollThumb(wxVERTICAL));
    frame->SetSize(first);
    ASSERT_TRUE(PumpUntil([&] { return pList->GetRect() == list; }));
    EXPECT_EQ(pLogon->GetRect(), logon);
}

TEST_F(LayoutGuiTest, ASmallWindowScrollsToEveryControl) {
    frame->SetClientSize(view->GetFormSize() / 3);
    ASSERT_TRUE(
        PumpUntil([&] { return view->GetClientSize() == frame->GetClientSize(); }));
    const wxSize client = view->GetClientSize();
    ASSERT_LT(client.x, view->GetFormSize().x);
    EXPECT_GE(view->GetVirtualSize().x, view->GetFormSize().x);
    EXPECT_GE(view->GetVirtualSize().y, view->GetFormSize().y);
    for (wxWindow* pControl : Controls()) {
        // Each corner of each control can be scrolled into view.
        for (bool bEnd : {false, true}) {
            const wxRect rect = pControl->GetRect();
            wxPoint corner = bEnd ? rect.GetBottomRight() : rect.GetTopLeft();
            ScrollTo(view->CalcUnscrolledPosition(corner));
            const wxRect moved = pControl->GetRect();
            corner = bEnd ? moved.GetBottomRight() : moved.GetTopLeft();
            EXPECT_TRUE(InView(corner)) << pControl->GetLabel() << " "
                                        << pControl->GetId() << (bEnd ? " end" : "");
        }
    }
}

TEST_F(LayoutGuiTest, TheKeyboardBringsAControlOutOfViewIntoIt) {
    frame->SetClientSize(view->GetFormSize() / 3);
    ASSERT_TRUE(
        PumpUntil([&] { return view->GetClientSize() == frame->GetClientSize(); }));
    view->Scroll(0, 0);
    wxWindow* pLogoff = view->FindWindow(CVolnexVw::IDC_LOGOFF);
    ASSERT_FALSE(InView(pLogoff->GetRect().GetBottomRight()));
    pLogoff->SetFocus();
    EXPECT_TRUE(PumpUntil([&] {
        const wxRect rect = pLogoff->GetRect();
        return InView(rect.GetTopLeft()) && InView(rect.GetBottomRight());
    }));
}

// The test-mode note comes after the device and the line format: at the
// first size it is shown whole too (the line's own note after it may be
// cut where the screen is too narrow for all).
TEST_F(LayoutGuiTest, TheTestModeNoteFitsAtTheFirstSize) {
    frame->Close(true);
    PumpEvents(30);
    StartProgram("Misbehave1=nak-every:3,delay:1500\n");
    wxStatusBar* pStatus = frame->GetStatusBar();
    const wxString strText = pStatus->GetStatusText(0);
    ASSERT_NE(strText.Find(pty.SlavePath()), wxNOT_FOUND);
    const int nModeEnd = strText.Find("(test mode: nak-every:3,delay:1500)");
    ASSERT_NE(nModeEnd, wxNOT_FOUND) << strText;
    const wxString strUpToMode = strText.Left(
        static_cast<size_t>(nModeEnd) + strlen("(test mode: nak-every:3,delay:1500)"));
    wxRect field;
    ASSERT_TRUE(pStatus->GetFieldRect(0, field));
    EXPECT_LE(pStatus->GetTextExtent(strUpToMode).x, field.width) << strText;
}

TEST_F(LayoutGuiTest, TheStatusTextShowsWholeAtTheFirstSize) {
    wxStatusBar* pStatus = frame->GetStatusBar();
    ASSERT_EQ(pStatus->GetStatusText(0), "Port Settings : Port: COM1 " +
                                             pty.SlavePath() +
                                             " BaudRate: 9600 Parity: None StopBits: 1 "
                                             "DataBits: 8 (no modem lines; waiting "
                                             "for a caller)");
    AwaitStatusPaint();
    EXPECT_FALSE(pStatus->GetField(0).IsEllipsized());
    EXPECT_FALSE(pStatus->GetField(1).IsEllipsized());
    // The clock pane is about as wide as its text, not more.
    const int nClock = pStatus->GetTextExtent("00:00").x;
    EXPECT_LE(pStatus->GetStatusWidth(1), nClock + 4 * pStatus->GetBorderX() + 8);

    // A narrower window cuts the text and shows it whole as the pane's tip.
    frame->SetClientSize(frame->GetClientSize().x / 2, frame->GetClientSize().y);
    ASSERT_TRUE(
        PumpUntil([&] { return pStatus->GetSize().x == frame->GetClientSize().x; }));
    AwaitStatusPaint();
    EXPECT_TRUE(pStatus->GetField(0).IsEllipsized());
    EXPECT_FALSE(pStatus->GetField(1).IsEllipsized());
    EXPECT_TRUE(pStatus->HasFlag(wxSTB_SHOW_TIPS));
}

TEST_F(LayoutGuiTest, AFormLargerThanTheScreenGetsAWindowThatFitsOnIt) {
    const wxRect area = wxDisplay(0u).GetClientArea();
    frame->FitToForm(area.GetSize() * 2);
    EXPECT_LE(frame->GetSize().x, area.width);
    EXPECT_LE(frame->GetSize().y, area.height);
    EXPECT_GT(frame->GetSize().x, area.width / 2); // as large as it can be
}

} // namespace
