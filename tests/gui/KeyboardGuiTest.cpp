// The windows as a keyboard user works them: keys go through GTK's own key
// handling (key bindings, focus chain), as typed.
#include "tests/gui/ProgramFixture.h"
#include "ui/ProtocolDlg.h"
#include "ui/ReportListBox.h"
#include "ui/settings/ConnectDlg.h"
#include "ui/settings/PortSettings.h"

#include <gtk/gtk.h>
#include <wx/bookctrl.h>
#include <wx/choice.h>
#include <wx/combobox.h>

namespace {

// Presses and releases a key in the window's top-level window, where the
// display would deliver it.
void PressKey(wxWindow* pWindow, guint nKeyval) {
    GdkWindow* pTop =
        gtk_widget_get_window(gtk_widget_get_toplevel(pWindow->GetHandle()));
    GdkDisplay* pDisplay = gdk_window_get_display(pTop);
    GdkEvent* pEvent = gdk_event_new(GDK_KEY_PRESS);
    pEvent->key.window = GDK_WINDOW(g_object_ref(pTop));
    pEvent->key.send_event = TRUE;
    pEvent->key.time = GDK_CURRENT_TIME;
    pEvent->key.keyval = nKeyval;
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

// Whether the keyboard goes to the control in its window (whether or not
// that window is the active one).
bool HasFocus(wxWindow* pWindow) {
    GtkWidget* pWidget = pWindow->GetHandle();
    GtkWidget* pFocus =
        gtk_window_get_focus(GTK_WINDOW(gtk_widget_get_toplevel(pWidget)));
    return pFocus != nullptr &&
           (pFocus == pWidget || gtk_widget_is_ancestor(pFocus, pWidget));
}

class KeyboardGuiTest : public CProgramFixture {};

// Enter on a line of either list (reported as a double-click) asks, with No
// as the default: Enter pressed again cannot empty the list.
TEST_F(KeyboardGuiTest, EnterOnAListLineNeverEmptiesIt) {
    StartProgram("ViewProtocol=1\n");
    CProtocolDlg* pDlg = view->GetProtocolDlg();
    ASSERT_NE(pDlg, nullptr);
    pDlg->Add("<=  ID=");
    CReportListBox* lists[] = {&view->GetPageList(), &pDlg->GetList()};
    view->GetPageList().AddLine("12/08/2026 14:05:00  1234 HI  ");
    for (CReportListBox* pList : lists) {
        pList->SetFocus();
        ASSERT_TRUE(PumpUntil([&] { return HasFocus(pList); }));
        PressKey(pList, GDK_KEY_Down); // the cursor on the first line
        for (guint nKey : {GDK_KEY_Return, GDK_KEY_KP_Enter}) {
            bool bAsked = false;
            wxTEST_DIALOG(PressKey(pList, nKey),
                          CExpectMessage("Clear All messages?", wxID_NO,
                                         wxYES_NO | wxNO_DEFAULT | wxICON_EXCLAMATION,
                                         &bAsked));
            EXPECT_TRUE(bAsked) << nKey << " on list " << pList->GetId();
            EXPECT_EQ(pList->GetCount(), 1u);
        }
    }
}

TEST_F(KeyboardGuiTest, TheSheetsPortListComesAfterThePagesAndBeforeTheButtons) {
    StartProgram();
    CConnectDlg sheet(frame);
    // wxWidgets' tab order is the order of the children; GTK's focus chain
    // is made from it.
    const wxWindowList& children = sheet.GetChildren();
    auto place = [&](wxWindow* pChild) { return children.IndexOf(pChild); };
    EXPECT_EQ(place(&sheet.GetPortList()), place(sheet.GetBookCtrl()) + 1);
    for (int nId : {wxID_OK, wxID_CANCEL, wxID_APPLY})
        EXPECT_GT(place(sheet.FindWindow(nId)), place(&sheet.GetPortList())) << nId;
    // Tab from the last control of the page goes to the port list, and on
    // to the buttons.
    sheet.Show();
    sheet.Raise();
    wxComboBox& device = sheet.GetPortSettingsPage().GetDevice();
    device.SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return HasFocus(&device); }));
    // (The device field's own drop-down button comes first.)
    GtkWindow* pSheet = GTK_WINDOW(sheet.GetHandle());
    auto tab = [&] {
        GtkWidget* pFrom = gtk_window_get_focus(pSheet);
        PressKey(&device, GDK_KEY_Tab);
        // Moved, and everything the move set off handled.
        return PumpUntil([&] {
            return gtk_window_get_focus(pSheet) != pFrom && !gtk_events_pending();
        });
    };
    for (int i = 0; i < 3 && HasFocus(&device); ++i)
        ASSERT_TRUE(tab());
    EXPECT_TRUE(HasFocus(&sheet.GetPortList()));
    ASSERT_TRUE(tab());
    EXPECT_TRUE(HasFocus(sheet.FindWindow(wxID_OK)) ||
                HasFocus(sheet.FindWindow(wxID_CANCEL)));
    sheet.Hide();
}

} // namespace
