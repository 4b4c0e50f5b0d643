// CAboutDlg: the About box, with the program's version.
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
  public:
    enum { IDC_VERSION = 1022 };
    explicit CAboutDlg(wxWindow* pParent);
    wxString GetVersionText() const;
};
