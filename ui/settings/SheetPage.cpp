#include "ui/settings/SheetPage.h"

CSheetPage::CSheetPage(wxWindow* pParent, ISheetHost* pSheet)
    : wxPanel(pParent, wxID_ANY), m_pSheet(pSheet) {}

void CSheetPage::OnControlChanged() {
    m_bPending = true;
    m_bChanged = true;
    m_pSheet->OnPageModified();
}

void CSheetPage::FillControls() {
    if (m_bPending)
        return; // edits not yet applied are never overwritten
    m_config.Load();
    ShowValues();
}

bool CSheetPage::Apply() {
    if (!m_bPending)
        return true;
    if (!WriteValues(static_cast<uint8_t>(m_pSheet->GetSelectedPort())))
        return false;
    m_bPending = false;
    return true;
}

bool CSheetPage::QueryCancel() {
    return !m_pSheet->AskSaveChanges();
}
