#include "ui/WxMessageBoxes.h"

#include "session/ViewText.h"
#include "settings/Profile.h"
#include "ui/WxText.h"

#include <wx/app.h>
#include <wx/msgdlg.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>

namespace {

// GTK names a message box for assistive technology after its kind
// ("Error", "Question", "Warning"), whatever its title says. A screen
// reader should announce the caption the box carries ("Application Error"):
// as each message box is shown, it is named after its title.
gboolean NameMessageBoxByTitle(GSignalInvocationHint*, guint, const GValue* pParams,
                               gpointer) {
    GObject* pObject = G_OBJECT(g_value_get_object(&pParams[0]));
    if (GTK_IS_MESSAGE_DIALOG(pObject)) {
        const char* szTitle = gtk_window_get_title(GTK_WINDOW(pObject));
        AtkObject* pAccessible = gtk_widget_get_accessible(GTK_WIDGET(pObject));
        if (szTitle != nullptr && pAccessible != nullptr)
            atk_object_set_name(pAccessible, szTitle);
    }
    return TRUE; // stays installed
}

void NameMessageBoxesByTitle() {
    static const bool bInstalled = [] {
        g_signal_add_emission_hook(g_signal_lookup("show", GTK_TYPE_WIDGET), 0,
                                   NameMessageBoxByTitle, nullptr, nullptr);
        return true;
    }();
    (void)bInstalled;
}

} // namespace
#endif

int CWxMessageBoxes::Show(const std::string& strText, const std::string& strCaption,
                          unsigned nStyle, bool bOwned) {
    long nWxStyle = wxCENTRE;
    switch (nStyle & MB_TYPEMASK) {
    case MB_OKCANCEL: nWxStyle |= wxOK | wxCANCEL; break;
    case MB_YESNOCANCEL: nWxStyle |= wxYES_NO | wxCANCEL; break;
    case MB_YESNO:
        nWxStyle |= wxYES_NO;
        if (nStyle & MB_DEFBUTTON2)
            nWxStyle |= wxNO_DEFAULT;
        break;
    default: nWxStyle |= wxOK; break;
    }
    switch (nStyle & MB_ICONMASK) {
    case MB_ICONSTOP: nWxStyle |= wxICON_ERROR; break;
    case MB_ICONQUESTION: nWxStyle |= wxICON_QUESTION; break;
    case MB_ICONEXCLAMATION: nWxStyle |= wxICON_EXCLAMATION; break;
    case MB_ICONINFORMATION: nWxStyle |= wxICON_INFORMATION; break;
    default: break;
    }
#ifdef __WXGTK__
    NameMessageBoxesByTitle();
#endif
    wxWindow* pParent = bOwned && wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    wxMessageDialog dialog(pParent, FromMessageBytes(ReadableBoxText(strText)),
                           FromMessageBytes(strCaption), nWxStyle);
    switch (dialog.ShowModal()) {
    case wxID_YES: return IDYES;
    case wxID_NO: return IDNO;
    case wxID_CANCEL: return IDCANCEL;
    default: return IDOK;
    }
}

CWxMessageBoxes& CWxMessageBoxes::Instance() {
    static CWxMessageBoxes boxes;
    return boxes;
}

void ShowProfileFailures(CIniProfile& profile) {
    profile.SetFailureHandler([](const std::string& strReason) {
        AppMessageBox(CWxMessageBoxes::Instance(),
                      "Unable to save the settings; the change is not kept.\n" +
                          strReason,
                      MB_OK);
    });
}
