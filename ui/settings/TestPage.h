// CTestPage: the Test page of the Connection sheet: the test bench of the
// selected port. Its test modes (Misbehave+n: a terminal that misbehaves on
// purpose, empty for none) and whether rejected blocks are explained in the
// protocol window (Diagnose+n). Both are off unless set; a value that names
// no test mode is refused when the page is applied, and the page keeps it
// for mending. It also holds the password a logon may carry (Password+n:
// empty for none, * for any) and the folder of the session log
// (LogFolder+n: empty for none).
#pragma once

#include "ui/settings/SheetPage.h"

class wxCheckBox;
class wxTextCtrl;

class CTestPage : public CSheetPage {
  public:
    enum {
        IDC_MISBEHAVE = 1050,
        IDC_DIAGNOSE = 1051,
        IDC_PASSWORD = 1052,
        IDC_RESPONSES = 1053,
        IDC_LOG_FOLDER = 1054,
        IDC_LOG_BROWSE = 1055
    };

    CTestPage(wxWindow* pParent, ISheetHost* pSheet);

    wxTextCtrl& GetModes() { return *m_editModes; }
    wxCheckBox& GetDiagnose() { return *m_chkDiagnose; }
    wxTextCtrl& GetPassword() { return *m_editPassword; }
    wxCheckBox& GetResponses() { return *m_chkResponses; }
    wxTextCtrl& GetLogFolder() { return *m_editLogFolder; }

  private:
    void ShowValues() override;
    bool WriteValues(uint8_t nPort) override;
    void OnBrowseLogFolder();

    wxTextCtrl* m_editModes = nullptr;
    wxCheckBox* m_chkDiagnose = nullptr;
    wxTextCtrl* m_editPassword = nullptr;
    wxTextCtrl* m_editLogFolder = nullptr;
    wxCheckBox* m_chkResponses = nullptr;
};
