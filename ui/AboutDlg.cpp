#include "ui/AboutDlg.h"

#include "session/CommandLine.h"
#include "ui/AppIcon.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

CAboutDlg::CAboutDlg(wxWindow* pParent)
    : wxDialog(pParent, wxID_ANY, "Marivane Didoza zuri zovivazir application") {
    SetFont(GetFont().Scaled(1.25f)); // the box's 10-point font
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    new wxStaticBitmap(this, wxID_ANY, AppIcon(), at(11, 17));
    // The template leaves the text empty; the version is added at start.
    auto* pVersion = new wxStaticText(this, IDC_VERSION, wxEmptyString, at(40, 10),
                                      size(100, 8), wxST_NO_AUTORESIZE);
    pVersion->SetLabel(pVersion->GetLabel() + AboutVersionText());
    auto* pOk = new wxButton(this, wxID_OK, "OK", at(56, 60), size(32, 14));
    pOk->SetDefault();
    pOk->SetFocus();
    SetEscapeId(wxID_OK);
    SetClientSize(size(148, 84));
    CentreOnParent();
}

wxString CAboutDlg::GetVersionText() const {
    return FindWindow(IDC_VERSION)->GetLabel();
}
