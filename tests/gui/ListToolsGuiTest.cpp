// The reading tools of the lists: copying, finding, filtering, sideways
// scrolling and how a line with control characters shows.
#include "engine/Checksum.h"
#include "engine/SessionState.h"
#include "tests/TempDir.h"
#include "tests/gui/GuiTest.h"
#include "tests/gui/ProgramFixture.h"
#include "ui/ListFindBar.h"
#include "ui/ProtocolDlg.h"
#include "ui/ReportListBox.h"
#include "ui/WxText.h"

#include <gtk/gtk.h>
#include <wx/checkbox.h>
#include <wx/clipbrd.h>
#include <wx/filedlg.h>
#include <wx/menu.h>
#include <wx/textctrl.h>

namespace {

// A key pressed and released in the window's top-level window, with the
// modifiers held, as the display would deliver it.
void PressKey(wxWindow* pWindow, guint nKeyval, guint nState = 0) {
    GdkWindow* pTop =
        gtk_widget_get_window(gtk_widget_get_toplevel(pWindow->GetHandle()));
    GdkDisplay* pDisplay = gdk_window_get_display(pTop);
    GdkEvent* pEvent = gdk_event_new(GDK_KEY_PRESS);
    pEvent->key.window = GDK_WINDOW(g_object_ref(pTop));
    pEvent->key.send_event = TRUE;
    pEvent->key.time = GDK_CURRENT_TIME;
    pEvent->key.keyval = nKeyval;
    pEvent->key.state = nState;
    GdkKeymapKey* pKeys = nullptr;
    gint nKeys = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(pDisplay), nKeyval,
                                          &pKeys, &nKeys) &&
        nKeys > 0)
        pEvent->key.hardware_keycode = static_cast<guint16>(pKeys[0].keycode);
    g_free(pKeys);
    gdk_event_set_device(pEvent,
                         gdk_seat_get_keyboard(gdk_display_get_default_seat(pDisplay)));
    gtk_main_do_event(pEvent);
    pEvent->type = GDK_KEY_RELEASE;
    gtk_main_do_event(pEvent);
    gdk_event_free(pEvent);
}

std::string ClipboardText() {
    std::string strText = "(nothing)";
    if (wxTheClipboard->Open()) {
        wxTextDataObject data;
        if (wxTheClipboard->GetData(data))
            strText = data.GetText().utf8_string();
        wxTheClipboard->Close();
    }
    return strText;
}

void SetClipboardText(const wxString& strText) {
    if (wxTheClipboard->Open()) {
        wxTheClipboard->SetData(new wxTextDataObject(strText));
        wxTheClipboard->Close();
    }
}

std::vector<std::string> Rows(const wxListBox& list) {
    std::vector<std::string> rows;
    for (unsigned i = 0; i < list.GetCount(); ++i)
        rows.push_back(ToBytes(list.GetString(i)));
    return rows;
}

std::vector<int> Selected(const wxListBox& list) {
    wxArrayInt rows;
    list.GetSelections(rows);
    return std::vector<int>(rows.begin(), rows.end());
}

// Whether a list box scrolls sideways over more than its own width: its
// horizontal scroll bar is shown and spans the lines' width.
bool ScrollsSideways(wxListBox& list) {
    GtkScrolledWindow* pScrolled = GTK_SCROLLED_WINDOW(list.GetHandle());
    GtkAdjustment* pAdj = gtk_scrolled_window_get_hadjustment(pScrolled);
    GtkWidget* pBar = gtk_scrolled_window_get_hscrollbar(pScrolled);
    return pBar != nullptr && gtk_widget_get_visible(pBar) &&
           gtk_adjustment_get_upper(pAdj) > list.GetSize().x;
}

class ListToolsGuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        frame =
            new wxFrame(nullptr, wxID_ANY, "test", wxDefaultPosition, wxSize(500, 400));
        panel = new wxPanel(frame);
        list = new CReportListBox(panel, 1010, wxPoint(10, 10), wxSize(300, 200),
                                  wxLB_SINGLE | wxLB_ALWAYS_SB);
        frame->Show();
        PumpEvents(30);
    }
    void TearDown() override {
        frame->Destroy();
        PumpEvents(10);
    }
    void AddPages() {
        for (const char* szLine :
             {"12/08/2026 14:05:00 1234 FIRE ALARM", "\tBAD PAGE - INVALID CHECKSUM",
              "12/08/2026 14:06:00 5678 lunch", "12/08/2026 14:07:00 1234 Fire drill"})
            list->AddLine(szLine);
    }

    wxFrame* frame = nullptr;
    wxPanel* panel = nullptr;
    CReportListBox* list = nullptr;
};

TEST_F(ListToolsGuiTest, CtrlCCopiesTheSelectedLinesAndCtrlASelectsAll) {
    AddPages();
    list->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return list->HasFocus(); }));
    SetClipboardText("before");
    PressKey(list, GDK_KEY_c, GDK_CONTROL_MASK); // nothing selected: nothing copied
    EXPECT_EQ(ClipboardText(), "before");
    list->SetSelection(0);
    list->SetSelection(2);
    EXPECT_EQ(Selected(*list), (std::vector<int>{0, 2}));
    PumpEvents(10);
    PressKey(list, GDK_KEY_c, GDK_CONTROL_MASK);
    EXPECT_EQ(ClipboardText(),
              "12/08/2026 14:05:00 1234 FIRE ALARM\n12/08/2026 14:06:00 5678 lunch\n");
    PressKey(list, GDK_KEY_a, GDK_CONTROL_MASK);
    EXPECT_EQ(Selected(*list), (std::vector<int>{0, 1, 2, 3}));
    PressKey(list, GDK_KEY_c, GDK_CONTROL_MASK);
    EXPECT_EQ(ClipboardText(), "12/08/2026 14:05:00 1234 FIRE ALARM\n"
                               "\tBAD PAGE - INVALID CHECKSUM\n"
                               "12/08/2026 14:06:00 5678 lunch\n"
                               "12/08/2026 14:07:00 1234 Fire drill\n");
}

TEST_F(ListToolsGuiTest, TheContextMenuCopiesAllFindsAndClearsThroughTheOwner) {
    AddPages();
    std::unique_ptr<wxMenu> menu(list->MakeContextMenu());
    ASSERT_NE(menu->FindItem(CReportListBox::ID_COPY), nullptr);
    EXPECT_FALSE(menu->IsEnabled(CReportListBox::ID_COPY)); // no selection yet
    EXPECT_TRUE(menu->IsEnabled(CReportListBox::ID_COPY_ALL));
    EXPECT_EQ(menu->GetLabelText(CReportListBox::ID_COPY_ALL), "Copy All");
    ASSERT_NE(menu->FindItem(CReportListBox::ID_FIND), nullptr);
    ASSERT_NE(menu->FindItem(CReportListBox::ID_CLEAR), nullptr);

    auto command = [&](int nId) {
        wxCommandEvent event(wxEVT_MENU, nId);
        event.SetEventObject(list);
        list->ProcessWindowEvent(event);
    };
    command(CReportListBox::ID_COPY_ALL);
    EXPECT_EQ(ClipboardText().substr(0, 36), "12/08/2026 14:05:00 1234 FIRE ALARM\n");
    // Clear is the owner's double-click command (which asks first).
    int nAsked = 0;
    panel->Bind(wxEVT_LISTBOX_DCLICK, [&](wxCommandEvent& event) {
        EXPECT_EQ(event.GetId(), 1010);
        ++nAsked;
    });
    command(CReportListBox::ID_CLEAR);
    EXPECT_EQ(nAsked, 1);
    EXPECT_EQ(list->GetCount(), 4u);
    command(CReportListBox::ID_FIND);
    ASSERT_NE(list->GetFindBar(), nullptr);
    EXPECT_TRUE(list->GetFindBar()->IsShown());
}

TEST_F(ListToolsGuiTest, FindGoesToTheNextAndPreviousMatchAndWrapsAround) {
    AddPages();
    EXPECT_TRUE(list->FindLine("fire", false, true));
    EXPECT_EQ(Selected(*list), std::vector<int>{0});
    EXPECT_TRUE(list->FindLine("fire", false, true));
    EXPECT_EQ(Selected(*list), std::vector<int>{3});
    EXPECT_TRUE(list->FindLine("fire", false, true)); // around to the first
    EXPECT_EQ(Selected(*list), std::vector<int>{0});
    EXPECT_TRUE(list->FindLine("fire", false, false)); // back round to the last
    EXPECT_EQ(Selected(*list), std::vector<int>{3});
    // Match case: only the line spelled so.
    EXPECT_TRUE(list->FindLine("FIRE", true, true));
    EXPECT_EQ(Selected(*list), std::vector<int>{0});
    EXPECT_TRUE(list->FindLine("FIRE", true, true));
    EXPECT_EQ(Selected(*list), std::vector<int>{0});
    // Nothing found: the selection stays where it was.
    EXPECT_FALSE(list->FindLine("9999", false, true));
    EXPECT_EQ(Selected(*list), std::vector<int>{0});
    EXPECT_FALSE(list->FindLine("", false, true));
}

TEST_F(ListToolsGuiTest, TheFindBarOpensWithCtrlFAndFindsWithEnter) {
    AddPages();
    list->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return list->HasFocus(); }));
    const wxRect whole = list->GetRect();
    PressKey(list, GDK_KEY_f, GDK_CONTROL_MASK);
    CListFindBar* pBar = list->GetFindBar();
    ASSERT_NE(pBar, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return pBar->GetText().HasFocus(); }));
    EXPECT_FALSE(pBar->GetMatchCase().GetValue()); // match case is off at first
    // The bar lies over the top of the list, which gives up that room.
    EXPECT_EQ(pBar->GetRect().GetTop(), whole.GetTop());
    EXPECT_EQ(list->GetRect().GetTop(), pBar->GetRect().GetBottom() + 1);
    EXPECT_EQ(list->GetRect().GetBottom(), whole.GetBottom());

    pBar->GetText().ChangeValue("5678");
    PressKey(&pBar->GetText(), GDK_KEY_Return);
    EXPECT_EQ(Selected(*list), std::vector<int>{2});
    EXPECT_FALSE(pBar->IsNotFound());
    pBar->GetText().ChangeValue("no such pager");
    EXPECT_FALSE(pBar->FindNext(true));
    EXPECT_TRUE(pBar->IsNotFound());
    EXPECT_EQ(Selected(*list), std::vector<int>{2});

    PressKey(&pBar->GetText(), GDK_KEY_Escape);
    EXPECT_FALSE(pBar->IsShown());
    EXPECT_EQ(list->GetRect(), whole);
}

TEST_F(ListToolsGuiTest, TheFilterShowsOnlyMatchingLinesAndKeepsTheOthers) {
    AddPages();
    list->ShowFindBar();
    CListFindBar* pBar = list->GetFindBar();
    pBar->GetText().SetValue("1234");
    pBar->GetFilter().SetValue(true);
    wxCommandEvent toggled(wxEVT_CHECKBOX, pBar->GetFilter().GetId());
    toggled.SetEventObject(&pBar->GetFilter());
    toggled.SetInt(1);
    pBar->GetFilter().ProcessWindowEvent(toggled);
    ASSERT_TRUE(list->IsFiltered());
    CReportListBox& shown = list->GetShownList();
    ASSERT_NE(&shown, list);
    EXPECT_TRUE(shown.IsShown());
    EXPECT_FALSE(list->IsShown());
    EXPECT_EQ(Rows(shown),
              (std::vector<std::string>{"12/08/2026 14:05:00 1234 FIRE ALARM",
                                        "12/08/2026 14:07:00 1234 Fire drill"}));
    EXPECT_EQ(list->GetCount(), 4u); // every line is still in the list

    // Lines that come and go while filtered: the filtered rows follow.
    list->AddLine("12/08/2026 14:08:00 5678 not shown");
    list->AddLine("12/08/2026 14:09:00 1234 new");
    list->DropOldest(1);
    const std::vector<std::string> expected{"12/08/2026 14:07:00 1234 Fire drill",
                                            "12/08/2026 14:09:00 1234 new"};
    EXPECT_TRUE(PumpUntil([&] { return Rows(shown) == expected; }));
    EXPECT_EQ(Rows(shown), expected);
    // A new text filters again; match case applies.
    pBar->GetMatchCase().SetValue(true);
    pBar->GetText().SetValue("Fire");
    EXPECT_EQ(Rows(shown),
              std::vector<std::string>{"12/08/2026 14:07:00 1234 Fire drill"});
    // Find works among the filtered lines.
    EXPECT_TRUE(pBar->FindNext(true));
    EXPECT_EQ(Selected(shown), std::vector<int>{0});

    pBar->Close();
    EXPECT_FALSE(list->IsFiltered());
    EXPECT_TRUE(list->IsShown());
    EXPECT_FALSE(shown.IsShown());
    EXPECT_EQ(list->GetCount(), 5u);
    EXPECT_EQ(&list->GetShownList(), list);
}

TEST_F(ListToolsGuiTest, ClearingTheListEmptiesTheFilteredLinesToo) {
    AddPages();
    list->SetFilter(true, "1234", false);
    CReportListBox& shown = list->GetShownList();
    ASSERT_EQ(shown.GetCount(), 2u);
    list->Clear();
    ASSERT_TRUE(PumpUntil([&] { return shown.GetCount() == 0; }));
    list->AddLine("12/08/2026 14:09:00 1234 after");
    ASSERT_TRUE(PumpUntil([&] { return shown.GetCount() == 1; }));
}

// A line wider than a list made with wxLB_HSCROLL scrolls sideways; the
// list of old keeps cutting it at its edge.
TEST_F(ListToolsGuiTest, ALongLineScrollsSidewaysOnlyWhereTheListAsksForIt) {
    auto* wide = new CReportListBox(panel, 1011, wxPoint(10, 220), wxSize(300, 120),
                                    wxLB_SINGLE | wxLB_ALWAYS_SB | wxLB_HSCROLL);
    const std::string longLine = "12/08/2026 14:05:00 " + std::string(250, 'W');
    for (CReportListBox* pList : {list, wide}) {
        pList->AddLine("short");
        pList->AddLine(longLine);
    }
    PumpEvents(100);
    EXPECT_TRUE(ScrollsSideways(*wide));
    EXPECT_GT(wide->GetColumnWidth(), wide->GetTextExtent(FromBytes(longLine)).x);
    EXPECT_FALSE(ScrollsSideways(*list));
    EXPECT_EQ(list->GetColumnWidth(), 300);
    // Emptied, the column is as wide as the list again.
    wide->Clear();
    PumpEvents(50);
    EXPECT_EQ(wide->GetColumnWidth(), 300);
    EXPECT_FALSE(ScrollsSideways(*wide));
}

// A control character in a line shows by name; the line keeps its bytes.
TEST_F(ListToolsGuiTest, ControlCharactersShowByNameAndTheLineKeepsItsBytes) {
    list->AddLine("12/08/2026 14:05:00 104 FIRE\nEXIT 2\r");
    list->AddLine("\tBAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(ToBytes(list->GetString(0)),
              "12/08/2026 14:05:00 104 FIRE<LF>EXIT 2<CR>");
    EXPECT_EQ(list->GetLine(0), "12/08/2026 14:05:00 104 FIRE\nEXIT 2\r");
    EXPECT_EQ(ToBytes(list->GetString(1)), "\tBAD PAGE - INVALID CHECKSUM");
    // A line that is replaced, and lines inserted before others, keep theirs.
    list->SetString(1, FromBytes("A\x07"
                                 "B"));
    list->Insert(FromBytes("first\x1b"), 0);
    EXPECT_EQ(
        list->GetLines(),
        (std::vector<std::string>{"first\x1b", "12/08/2026 14:05:00 104 FIRE\nEXIT 2\r",
                                  "A\x07"
                                  "B"}));
    EXPECT_EQ(ToBytes(list->GetString(2)), "A<BEL>B");
    list->Delete(1);
    EXPECT_EQ(list->GetLines(), (std::vector<std::string>{"first\x1b", "A\x07"
                                                                       "B"}));
}

class ListToolsProgramGuiTest : public CProgramFixture {
  protected:
    void Feed(const std::string& strBytes) {
        for (char ch : strBytes)
            view->Notify(UM_COMM_RXCHAR, static_cast<unsigned char>(ch), 1);
    }
    void LogOn() {
        auto hold = view->LockSession(); // the line's thread runs the session too
        view->GetPort().QueryDsr(true);
        view->GetPort().QueryDcd(true);
        Feed("\r\x1bPG1\r");
        ASSERT_EQ(view->GetTerminal().GetState(), ST_WAITING_FOR_PAGE);
    }
};

// A sender that ends its fields with CR LF puts an LF into the page text:
// the page list shows it by name and the rest of the line after it; the
// report keeps the page text as it came.
TEST_F(ListToolsProgramGuiTest, APageWithAnLfInItsTextShowsTheWholeLine) {
    StartProgram();
    LogOn();
    Feed(MakePageBlock("104", "\nFIRE EXIT 2"));
    ASSERT_EQ(view->GetGoodPages(), 1u);
    CReportListBox& pages = view->GetPageList();
    ASSERT_EQ(pages.GetCount(), 1u);
    const std::string shown = ToBytes(pages.GetString(0));
    EXPECT_NE(shown.find("104 <LF>FIRE EXIT 2"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    const std::string line = pages.GetLine(0);
    EXPECT_NE(line.find("104 \nFIRE EXIT 2"), std::string::npos);
    const std::string path = dir.Path("pages.txt");
    wxTEST_DIALOG(pages.SaveReport(), wxExpectModal<wxFileDialog>(path),
                  CExpectMessage("Saved 1 lines to " + path));
    EXPECT_NE(CTempDir::Read(path).find(line + "\r\n"), std::string::npos);
}

TEST_F(ListToolsProgramGuiTest, ClearFromTheContextMenuAsksAsADoubleClickDoes) {
    StartProgram();
    CReportListBox& pages = view->GetPageList();
    pages.AddLine("12/08/2026 14:05:00 1234 HI");
    wxCommandEvent clear(wxEVT_MENU, CReportListBox::ID_CLEAR);
    wxTEST_DIALOG(pages.ProcessWindowEvent(clear),
                  CExpectMessage("Clear All messages?", wxID_NO));
    EXPECT_EQ(pages.GetCount(), 1u);
    wxTEST_DIALOG(pages.ProcessWindowEvent(clear),
                  CExpectMessage("Clear All messages?", wxID_YES));
    EXPECT_EQ(pages.GetCount(), 0u);
}

TEST_F(ListToolsProgramGuiTest, TheProtocolListScrollsSidewaysForA250CharacterLine) {
    StartProgram("ViewProtocol=1\n");
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    ASSERT_NE(pDlg, nullptr);
    pDlg->Add("<=  " + std::string(246, 'M'));
    CReportListBox& list = pDlg->GetList();
    ASSERT_TRUE(PumpUntil([&] { return ScrollsSideways(list); }));
}

} // namespace

// A burst of 5,000 lines (pages at full line speed) reaches the lists in one
// update: they show the newest 500, in order, and the find bar finds the
// first of those.
TEST_F(ListToolsProgramGuiTest, ABurstOf5000LinesLeavesTheNewest500Findable) {
    StartProgram("ViewProtocol=1\n");
    auto lineText = [](int i) {
        return "12/10/2026 14:05:00 " + std::to_string(100000 + i) + " LOAD";
    };
    for (int i = 0; i < 5000; ++i) {
        CPageRecord record;
        record.lines = {lineText(i)};
        view->ShowPage(record);
        view->ShowNote("   NOTE " + std::to_string(100000 + i));
    }
    CReportListBox& pages = view->GetPageList();
    ASSERT_EQ(pages.GetCount(), 500u);
    EXPECT_EQ(pages.GetLine(0), lineText(4500));
    EXPECT_EQ(pages.GetLine(499), lineText(4999));
    pages.ShowFindBar();
    ASSERT_NE(pages.GetFindBar(), nullptr);
    pages.GetFindBar()->GetText().ChangeValue(std::to_string(104500));
    EXPECT_TRUE(pages.GetFindBar()->FindNext(true));
    EXPECT_EQ(Selected(pages), std::vector<int>{0});

    CReportListBox& trace = view->GetProtocolDlg()->GetList();
    ASSERT_EQ(trace.GetCount(), 500u);
    EXPECT_EQ(trace.GetLine(0), "   NOTE 104500");
    EXPECT_EQ(trace.GetLine(499), "   NOTE 104999");
    EXPECT_TRUE(trace.FindLine("104500", false, true));
    EXPECT_EQ(Selected(trace), std::vector<int>{0});
}
