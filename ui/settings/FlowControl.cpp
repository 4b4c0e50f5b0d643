#include "ui/settings/FlowControl.h"

#include "ui/FormLabel.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

namespace {

// A stored position outside the list leaves it without a selection.
void SelectPosition(wxChoice* pList, int nPosition) {
    bool bInside = nPosition >= 0 && nPosition < static_cast<int>(pList->GetCount());
    pList->SetSelection(bInside ? nPosition : wxNOT_FOUND);
}

} // namespace

CFlowControl::CFlowControl(wxWindow* pParent, ISheetHost* pSheet)
    : CSheetPage(pParent, pSheet) {
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    auto label = [&](const char* szText, int y) {
        return new CFormLabel(this, szText, at(16, y), size(22, 8),
                              wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    };
    new wxStaticBox(this, wxID_ANY, wxEmptyString, at(7, 4), size(122, 77));
    CFormLabel* pRtsLabel = label("RTS :", 15);
    CFormLabel* pCtsLabel = label("CTS :", 31);
    CFormLabel* pDtrLabel = label("DTR :", 49);
    CFormLabel* pDsrLabel = label("DSR :", 65);
    m_cbRTS = new wxChoice(this, IDC_RTS, at(47, 13), size(70, 12));
    for (const char* szItem : {"Disable", "Enable", "Handshake", "Toggle"})
        m_cbRTS->Append(szItem);
    m_chkCTS = new wxCheckBox(this, IDC_CTS, wxEmptyString, at(48, 31), size(11, 9));
    m_cbDTR = new wxChoice(this, IDC_DTR, at(48, 46), size(70, 12));
    for (const char* szItem : {"Disable", "Enable", "Handshake"})
        m_cbDTR->Append(szItem);
    m_chkDSR = new wxCheckBox(this, IDC_DSR, wxEmptyString, at(48, 63), size(10, 9));
    pRtsLabel->SetLabelFor(m_cbRTS);
    pCtsLabel->SetLabelFor(m_chkCTS);
    pDtrLabel->SetLabelFor(m_cbDTR);
    pDsrLabel->SetLabelFor(m_chkDSR);

    for (int nId : {IDC_RTS, IDC_DTR})
        Bind(
            wxEVT_CHOICE, [this](wxCommandEvent&) { OnControlChanged(); }, nId);
    for (int nId : {IDC_CTS, IDC_DSR})
        Bind(
            wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnControlChanged(); }, nId);
}

void CFlowControl::ShowValues() {
    SelectPosition(m_cbRTS, m_config.GetRTS());
    SelectPosition(m_cbDTR, m_config.GetDTR());
    m_chkCTS->SetValue(m_config.GetCTS() != 0);
    m_chkDSR->SetValue(m_config.GetDSR() != 0);
}

bool CFlowControl::WriteValues(uint8_t nPort) {
    // A list without a selection keeps its stored value.
    if (m_cbRTS->GetSelection() != wxNOT_FOUND)
        m_config.SetRTS(nPort, m_cbRTS->GetSelection());
    if (m_cbDTR->GetSelection() != wxNOT_FOUND)
        m_config.SetDTR(nPort, m_cbDTR->GetSelection());
    m_config.SetCTS(nPort, m_chkCTS->GetValue() ? 1 : 0);
    m_config.SetDSR(nPort, m_chkDSR->GetValue() ? 1 : 0);
    return true;
}
