// What assistive technology reads from the main window. GTK keeps an
// accessible object for every control, which its AT-SPI bridge puts on the
// accessibility bus for screen readers; these tests read those objects in
// process (tests/a11y reads the bus itself, from outside, against the real
// program).
#include "engine/SessionState.h"
#include "tests/gui/ProgramFixture.h"

#include <gtk/gtk.h>

namespace {

AtkObject* Accessible(wxWindow* pControl) {
    return gtk_widget_get_accessible(pControl->GetHandle());
}

std::string AccessibleText(wxWindow* pControl) {
    AtkObject* pAcc = Accessible(pControl);
    if (!ATK_IS_TEXT(pAcc))
        return "(no text)";
    gchar* szText = atk_text_get_text(ATK_TEXT(pAcc), 0, -1);
    std::string strText = szText ? szText : "";
    g_free(szText);
    return strText;
}

// The name of the label that names the control for assistive technology.
std::string AccessibleLabel(wxWindow* pControl) {
    AtkRelationSet* pSet = atk_object_ref_relation_set(Accessible(pControl));
    std::string strLabel = "(none)";
    if (AtkRelation* pRelation =
            atk_relation_set_get_relation_by_type(pSet, ATK_RELATION_LABELLED_BY)) {
        GPtrArray* pTargets = atk_relation_get_target(pRelation);
        if (pTargets->len > 0)
            strLabel = atk_object_get_name(ATK_OBJECT(g_ptr_array_index(pTargets, 0)));
    }
    g_object_unref(pSet);
    return strLabel;
}

// The colour of the pixel at the control's point, as the screen shows it.
wxColour ShownColour(wxWindow* pControl, const wxPoint& point) {
    const wxPoint onScreen = pControl->ClientToScreen(point);
    GdkWindow* pRoot = gdk_get_default_root_window();
    GdkPixbuf* pPixels =
        gdk_pixbuf_get_from_window(pRoot, onScreen.x, onScreen.y, 1, 1);
    if (pPixels == nullptr)
        return wxNullColour;
    const guchar* p = gdk_pixbuf_get_pixels(pPixels);
    wxColour colour(p[0], p[1], p[2]);
    g_object_unref(pPixels);
    return colour;
}

// Whether some pixel of the control shows the colour (the text's).
bool ShowsColour(wxWindow* pControl, const wxColour& colour) {
    const wxSize size = pControl->GetClientSize();
    const wxPoint onScreen = pControl->ClientToScreen(wxPoint(0, 0));
    GdkPixbuf* pPixels = gdk_pixbuf_get_from_window(
        gdk_get_default_root_window(), onScreen.x, onScreen.y, size.x, size.y);
    if (pPixels == nullptr)
        return false;
    bool bFound = false;
    const int nStride = gdk_pixbuf_get_rowstride(pPixels);
    const int nChannels = gdk_pixbuf_get_n_channels(pPixels);
    const guchar* pData = gdk_pixbuf_get_pixels(pPixels);
    for (int y = 0; y < size.y && !bFound; ++y) {
        for (int x = 0; x < size.x && !bFound; ++x) {
            const guchar* p = pData + y * nStride + x * nChannels;
            bFound = std::abs(p[0] - colour.Red()) < 40 &&
                     std::abs(p[1] - colour.Green()) < 40 &&
                     std::abs(p[2] - colour.Blue()) < 40;
        }
    }
    g_object_unref(pPixels);
    return bFound;
}

class AccessibilityGuiTest : public CProgramFixture {
  protected:
    void SetUp() override { StartProgram(); }
    wxWindow* Control(int nId) { return view->FindWindow(nId); }
    void Feed(const std::string& strBytes) {
        for (char ch : strBytes)
            view->Notify(UM_COMM_RXCHAR, static_cast<unsigned char>(ch), 1);
    }
    void FourGoodPagesAndOneBad() {
        auto hold = view->LockSession(); // the line's thread runs the session too
        view->GetPort().QueryDsr(true);
        view->GetPort().QueryDcd(true);
        view->Notify(UM_COMM_CTS, MS_CTS_ON, 1);
        Feed("\r\x1bPG1\r");
        for (int i = 0; i < 4; ++i)
            Feed("\x02"
                 "1234\rHI\r\x03"
                 "17:\r");
        Feed("\x02"
             "1234\rHI\r\x03"
             "17;\r");
    }
};

TEST_F(AccessibilityGuiTest, EveryDisplayExposesItsTextUnderItsLabel) {
    FourGoodPagesAndOneBad();
    struct {
        int nId;
        AtkRole role;
        const char* szText;
        const char* szLabel;
    } displays[] = {
        {CVolnexVw::IDC_STATE, ATK_ROLE_LABEL, "WAITING FOR PAGE ", " State"},
        // A pseudo-terminal has no modem lines.
        {CVolnexVw::IDC_CTS, ATK_ROLE_LABEL, "n/a", "CTS"},
        {CVolnexVw::IDC_DSR, ATK_ROLE_LABEL, "n/a", "DSR"},
        {CVolnexVw::IDC_DCD, ATK_ROLE_LABEL, "n/a", "DCD"},
        {CVolnexVw::IDC_GOOD_PAGES, ATK_ROLE_TEXT, "4", "Good Pages"},
        {CVolnexVw::IDC_BAD_PAGES, ATK_ROLE_TEXT, "1", "Bad Pages"},
    };
    for (const auto& display : displays) {
        wxWindow* pControl = Control(display.nId);
        ASSERT_NE(pControl, nullptr) << display.nId;
        EXPECT_EQ(atk_object_get_role(Accessible(pControl)), display.role)
            << display.nId;
        EXPECT_EQ(AccessibleText(pControl), display.szText) << display.nId;
        EXPECT_EQ(AccessibleLabel(pControl), display.szLabel) << display.nId;
    }
    // The labels name their displays only: the page list has no label.
    EXPECT_EQ(AccessibleLabel(Control(CVolnexVw::IDC_PAGE_LIST)), "(none)");
    // A label names its display with its own text.
    EXPECT_STREQ(atk_object_get_name(Accessible(Control(CVolnexVw::IDC_STATE))),
                 "WAITING FOR PAGE ");
    // The counters are read-only.
    AtkStateSet* pStates =
        atk_object_ref_state_set(Accessible(Control(CVolnexVw::IDC_GOOD_PAGES)));
    EXPECT_FALSE(atk_state_set_contains_state(pStates, ATK_STATE_EDITABLE));
    g_object_unref(pStates);
}

TEST_F(AccessibilityGuiTest, DisplaysShowTheirColoursOnBlack) {
    FourGoodPagesAndOneBad();
    const wxColour black(0, 0, 0), green(0, 255, 0), cyan(0, 255, 255), red(255, 0, 0);
    struct {
        int nId;
        wxColour text;
    } displays[] = {
        {CVolnexVw::IDC_STATE, cyan},       {CVolnexVw::IDC_CTS, green},
        {CVolnexVw::IDC_DSR, green},        {CVolnexVw::IDC_DCD, green},
        {CVolnexVw::IDC_GOOD_PAGES, green}, {CVolnexVw::IDC_BAD_PAGES, red},
    };
    for (const auto& display : displays) {
        wxWindow* pControl = Control(display.nId);
        const wxPoint inside(3, pControl->GetClientSize().y - 3);
        EXPECT_TRUE(PumpUntil([&] {
            return ShownColour(pControl, inside) == black &&
                   ShowsColour(pControl, display.text);
        })) << display.nId;
    }
    // "OFF" shows in the same green as "ON".
    view->Notify(UM_COMM_CTS, 0, 1);
    EXPECT_TRUE(
        PumpUntil([&] { return ShowsColour(Control(CVolnexVw::IDC_CTS), green); }));
}

TEST_F(AccessibilityGuiTest, ATextIsSetOnlyWhenItChangesAndMovesNothing) {
    GtkWidget* pState = Control(CVolnexVw::IDC_STATE)->GetHandle();
    GtkWidget* pGood = Control(CVolnexVw::IDC_GOOD_PAGES)->GetHandle();
    int nStateSets = 0, nGoodSets = 0;
    auto count =
        +[](GObject*, GParamSpec*, gpointer pCount) { ++*static_cast<int*>(pCount); };
    g_signal_connect(pState, "notify::label", G_CALLBACK(count), &nStateSets);
    auto countChange =
        +[](GtkEditable*, gpointer pCount) { ++*static_cast<int*>(pCount); };
    g_signal_connect(pGood, "changed", G_CALLBACK(countChange), &nGoodSets);
    std::vector<wxRect> rects;
    for (wxWindow* pChild : view->GetChildren())
        rects.push_back(pChild->GetRect());

    view->Notify(UM_SESSION_STATE, 0, ST_WAITING_FOR_CR);
    ASSERT_EQ(nStateSets, 1);
    for (int i = 0; i < 5; ++i) // every display shown again
        view->Notify(UM_SESSION_STATE, 0, ST_WAITING_FOR_CR);
    EXPECT_EQ(nStateSets, 1);
    FourGoodPagesAndOneBad();
    ASSERT_GT(nGoodSets, 0);
    const int nAfterPages = nGoodSets;
    view->Notify(UM_COMM_CTS, 0, 1);
    view->Notify(UM_SESSION_STATE, 0, ST_RECEIVING_PAGE);
    EXPECT_EQ(nGoodSets, nAfterPages);

    PumpEvents(30);
    std::vector<wxRect> now;
    for (wxWindow* pChild : view->GetChildren())
        now.push_back(pChild->GetRect());
    EXPECT_EQ(now, rects);
    g_signal_handlers_disconnect_by_data(pState, &nStateSets);
    g_signal_handlers_disconnect_by_data(pGood, &nGoodSets);
}

} // namespace
