#include "ui/settings/ConnectDlg.h"

#include "serial/MessageBoxes.h"
#include "ui/WxMessageBoxes.h"
#include "ui/WxText.h"
#include "ui/settings/FlowControl.h"
#include "ui/settings/PortSettings.h"
#include "ui/settings/TestPage.h"

#include <wx/bookctrl.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/sizer.h>

namespace {
constexpr const char* kSettingsChanged =
    "Settings have changed! Do you want to save changes?";
constexpr const char* kUseApply = "Please use Apply button to save changes!";
} // namespace

CConnectDlg::CConnectDlg(wxWindow* pParent) : m_pBoxes(&CWxMessageBoxes::Instance()) {
    Create(pParent, wxID_ANY, "Connection");
    m_pagePortSettings = new CPortSettings(GetBookCtrl(), this);
    m_pageFlowControl = new CFlowControl(GetBookCtrl(), this);
    m_pageTest = new CTestPage(GetBookCtrl(), this);
    GetBookCtrl()->AddPage(m_pagePortSettings, "Port Settings", true);
    GetBookCtrl()->AddPage(m_pageFlowControl, "Flow Control");
    GetBookCtrl()->AddPage(m_pageTest, "Test");
    CreateButtons(wxOK | wxCANCEL | wxAPPLY);

    // The sheet's own port list, at the left of the button row.
    m_cbCommPort = new wxChoice(this, IDC_COMM_PORT);
    for (const char* szPort : {"COM1", "COM2", "COM3", "COM4"})
        m_cbCommPort->Append(szPort);
    wxSizer* pRow = GetInnerSizer();
    for (wxSizerItem* pItem : GetInnerSizer()->GetChildren()) {
        if (pItem->IsSizer() &&
            wxDynamicCast(pItem->GetSizer(), wxStdDialogButtonSizer))
            pRow = pItem->GetSizer();
    }
    pRow->Insert(0, m_cbCommPort, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    // In the tab order where the eye meets it: after the page, first in the
    // row it sits in.
    m_cbCommPort->MoveAfterInTabOrder(GetBookCtrl());
    FindWindow(wxID_APPLY)->Enable(false);
    LayoutDialog();

    // The pages show their stored values before the operator sees the sheet.
    FillPages();
    SelectConfiguredPort();

    Bind(
        wxEVT_CHOICE, [this](wxCommandEvent&) { OnPortChanged(); }, IDC_COMM_PORT);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { PressOk(); }, wxID_OK);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { PressApply(); }, wxID_APPLY);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { PressCancel(); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { PressCancel(); });
    // A page shown again shows what is stored, unless it holds edits.
    GetBookCtrl()->Bind(wxEVT_BOOKCTRL_PAGE_CHANGED, [this](wxBookCtrlEvent& event) {
        if (CSheetPage* pPage = VisiblePage())
            pPage->FillControls();
        event.Skip();
    });
}

void CConnectDlg::SelectConfiguredPort() {
    m_config.Load();
    int nIndex = m_cbCommPort->FindString(FromBytes(m_config.GetCommPort()), false);
    m_cbCommPort->SetSelection(nIndex); // none when the stored port is not listed
}

int CConnectDlg::GetSelectedPort() const {
    int nIndex = m_cbCommPort->GetSelection();
    return nIndex == wxNOT_FOUND ? 0 : nIndex + 1;
}

std::array<CSheetPage*, 3> CConnectDlg::Pages() const {
    return {m_pagePortSettings, m_pageFlowControl, m_pageTest};
}

CSheetPage* CConnectDlg::VisiblePage() const {
    const int nPage = GetBookCtrl()->GetSelection();
    return nPage >= 0 && nPage < 3 ? Pages()[static_cast<size_t>(nPage)] : nullptr;
}

void CConnectDlg::FillPages() {
    for (CSheetPage* pPage : Pages())
        pPage->FillControls();
}

bool CConnectDlg::AskSaveChanges() {
    bool bPending = false;
    for (CSheetPage* pPage : Pages())
        bPending = bPending || pPage->IsPending();
    if (!bPending)
        return false;
    if (AppMessageBox(*m_pBoxes, kSettingsChanged, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    AppMessageBox(*m_pBoxes, kUseApply, MB_OK);
    return true;
}

bool CConnectDlg::HasChanged() const {
    bool bChanged = false;
    for (CSheetPage* pPage : Pages())
        bChanged = bChanged || pPage->IsChanged();
    return bChanged;
}

void CConnectDlg::OnPageModified() {
    FindWindow(wxID_APPLY)->Enable(true);
}

void CConnectDlg::ChoosePort(int nIndex) {
    m_cbCommPort->SetSelection(nIndex);
    OnPortChanged();
}

void CConnectDlg::OnPortChanged() {
    if (AskSaveChanges()) {
        // Refused: back to the port whose values the pages show.
        m_cbCommPort->SetSelection(
            m_cbCommPort->FindString(FromBytes(m_config.GetCommPort()), false));
        return;
    }
    m_config.SetCommPort(ToBytes(m_cbCommPort->GetStringSelection()));
    FillPages();
}

bool CConnectDlg::ApplyPages() {
    bool bApplied = true;
    for (CSheetPage* pPage : Pages())
        bApplied = pPage->Apply() && bApplied;
    // A page that refused a value keeps it pending, and Apply with it.
    FindWindow(wxID_APPLY)->Enable(!bApplied);
    return bApplied;
}

void CConnectDlg::Finish(int nCode) {
    if (IsModal())
        EndModal(nCode);
    else
        SetReturnCode(nCode);
}

void CConnectDlg::PressOk() {
    if (ApplyPages())
        Finish(wxID_OK);
}

void CConnectDlg::PressApply() {
    ApplyPages();
}

void CConnectDlg::PressCancel() {
    // The visible page is asked whether the sheet may close.
    CSheetPage* pPage = VisiblePage();
    bool bMayClose = pPage != nullptr ? pPage->QueryCancel() : true;
    if (bMayClose)
        Finish(wxID_CANCEL);
}
