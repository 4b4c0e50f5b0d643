#include "ui/settings/TestPage.h"

#include "engine/TestMode.h"
#include "serial/MessageBoxes.h"
#include "ui/FormLabel.h"
#include "ui/WxMessageBoxes.h"
#include "ui/WxText.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

CTestPage::CTestPage(wxWindow* pParent, ISheetHost* pSheet)
    : CSheetPage(pParent, pSheet) {
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    // A hint is broken into lines that fit its width: GTK would cut it at
    // the right edge.
    auto hint = [this](const char* szText, const wxPoint& pos, const wxSize& size) {
        auto* pHint = new wxStaticText(this, wxID_ANY, szText, pos, size);
        pHint->Wrap(size.x);
        pHint->SetSize(size);
    };
    new wxStaticBox(this, wxID_ANY, wxEmptyString, at(7, 4), size(186, 191));
    auto* pLabel = new CFormLabel(this, "Test modes :", at(12, 15), size(44, 8),
                                  wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    m_editModes =
        new wxTextCtrl(this, IDC_MISBEHAVE, wxEmptyString, at(60, 13), size(126, 12));
    pLabel->SetLabelFor(m_editModes);
    hint("Empty: the terminal behaves as always. Modes, joined by commas: "
         "nak-every:N, silent-every:N, delay:MS, no-logon, hangup-after:N, "
         "garble-every:N, accept-pagers:ID|ID, max-length:N, truncate:N, "
         "max-pages:N, defer-every:N, busy-every:N.",
         at(12, 28), size(176, 50));
    m_chkDiagnose = new wxCheckBox(this, IDC_DIAGNOSE,
                                   "Explain rejected blocks in the protocol window",
                                   at(12, 80), size(176, 10));
    auto* pPasswordLabel =
        new CFormLabel(this, "Logon password :", at(12, 97), size(60, 8),
                       wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    m_editPassword =
        new wxTextCtrl(this, IDC_PASSWORD, wxEmptyString, at(76, 95), size(110, 12));
    pPasswordLabel->SetLabelFor(m_editPassword);
    hint("Empty: only ESC PG1 CR logs on. *: any password or none. "
         "Otherwise that password only.",
         at(12, 110), size(176, 20));
    m_chkResponses = new wxCheckBox(this, IDC_RESPONSES,
                                    "Answer with revision 1.8 message sequences",
                                    at(12, 132), size(176, 10));
    auto* pLogLabel = new CFormLabel(this, "Session log :", at(12, 149), size(60, 8),
                                     wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    m_editLogFolder =
        new wxTextCtrl(this, IDC_LOG_FOLDER, wxEmptyString, at(76, 147), size(80, 12));
    pLogLabel->SetLabelFor(m_editLogFolder);
    new wxButton(this, IDC_LOG_BROWSE, "Browse...", at(158, 146), size(30, 14));
    hint("A folder: pages and trace are written there as they come. "
         "Empty: none.",
         at(12, 162), size(176, 16));
    new wxStaticText(this, wxID_ANY, "These take effect at the next Logon.",
                     at(12, 181), size(176, 8));
    SetMinSize(size(200, 199));

    Bind(
        wxEVT_TEXT, [this](wxCommandEvent&) { OnControlChanged(); }, IDC_MISBEHAVE);
    Bind(
        wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnControlChanged(); }, IDC_DIAGNOSE);
    Bind(
        wxEVT_TEXT, [this](wxCommandEvent&) { OnControlChanged(); }, IDC_PASSWORD);
    Bind(
        wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnControlChanged(); }, IDC_RESPONSES);
    Bind(
        wxEVT_TEXT, [this](wxCommandEvent&) { OnControlChanged(); }, IDC_LOG_FOLDER);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseLogFolder(); }, IDC_LOG_BROWSE);
}

void CTestPage::OnBrowseLogFolder() {
    wxDirDialog dialog(this, "Session Log Folder", m_editLogFolder->GetValue(),
                       wxDD_DEFAULT_STYLE);
    if (dialog.ShowModal() == wxID_OK)
        m_editLogFolder->SetValue(dialog.GetPath()); // marks the page changed
}

void CTestPage::ShowValues() {
    m_editModes->ChangeValue(FromBytes(m_config.GetMisbehave()));
    m_chkDiagnose->SetValue(m_config.GetDiagnose() != 0);
    m_editPassword->ChangeValue(FromBytes(m_config.GetPassword()));
    m_chkResponses->SetValue(m_config.HasMessageSequences());
    m_editLogFolder->ChangeValue(FromPathBytes(m_config.GetLogFolder()));
}

bool CTestPage::WriteValues(uint8_t nPort) {
    const std::string strModes = ToBytes(m_editModes->GetValue().Strip(wxString::both));
    CTestModeSettings settings;
    std::string strError;
    if (!ParseTestMode(strModes, &settings, &strError)) {
        AppMessageBox(CWxMessageBoxes::Instance(), "Test modes: " + strError, MB_OK);
        return false;
    }
    m_config.SetMisbehave(nPort, settings.Text());
    m_config.SetDiagnose(nPort, m_chkDiagnose->GetValue() ? 1 : 0);
    m_config.SetPassword(nPort,
                         ToBytes(m_editPassword->GetValue().Strip(wxString::both)));
    m_config.SetLogFolder(
        nPort, ToPathBytes(m_editLogFolder->GetValue().Strip(wxString::both)));
    // A value the check box does not know is kept as it was.
    if (m_chkResponses->GetValue() != m_config.HasMessageSequences())
        m_config.SetResponses(
            nPort, m_chkResponses->GetValue() ? CPortConfig::kResponsesTap18 : "");
    return true;
}
