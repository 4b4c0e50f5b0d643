#include "ui/WxMessageBoxes.h"

#include "settings/Profile.h"
#include "ui/WxText.h"

#include <wx/app.h>
#include <wx/msgdlg.h>

int CWxMessageBoxes::Show(const std::string& strText, const std::string& strCaption,
                          unsigned nStyle, bool bOwned) {
    long nWxStyle = wxCENTRE;
    switch (nStyle & MB_TYPEMASK) {
    case MB_OKCANCEL: nWxStyle |= wxOK | wxCANCEL; break;
    case MB_YESNOCANCEL: nWxStyle |= wxYES_NO | wxCANCEL; break;
    case MB_YESNO: nWxStyle |= wxYES_NO; break;
    default: nWxStyle |= wxOK; break;
    }
    switch (nStyle & MB_ICONMASK) {
    case MB_ICONSTOP: nWxStyle |= wxICON_ERROR; break;
    case MB_ICONQUESTION: nWxStyle |= wxICON_QUESTION; break;
    case MB_ICONEXCLAMATION: nWxStyle |= wxICON_EXCLAMATION; break;
    case MB_ICONINFORMATION: nWxStyle |= wxICON_INFORMATION; break;
    default: break;
    }
    wxWindow* pParent = bOwned && wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    wxMessageDialog dialog(pParent, FromBytes(strText), FromBytes(strCaption), nWxStyle);
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
                      "Unable to save the settings; the change is not kept.\n" + strReason,
                      MB_OK);
    });
}
