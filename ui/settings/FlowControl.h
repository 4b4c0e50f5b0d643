// CFlowControl: the Flow Control page of the Connection sheet: how RTS and
// DTR are driven, and whether sending waits for CTS or DSR. List positions
// and check states are stored as integers.
#pragma once

#include "ui/settings/SheetPage.h"

class wxCheckBox;
class wxChoice;

class CFlowControl : public CSheetPage {
  public:
    enum { IDC_CTS = 1006, IDC_DSR = 1007, IDC_DTR = 1043, IDC_RTS = 1045 };

    CFlowControl(wxWindow* pParent, ISheetHost* pSheet);

    wxChoice& GetRts() { return *m_cbRTS; }
    wxChoice& GetDtr() { return *m_cbDTR; }
    wxCheckBox& GetCts() { return *m_chkCTS; }
    wxCheckBox& GetDsr() { return *m_chkDSR; }

  private:
    void ShowValues() override;
    bool WriteValues(uint8_t nPort) override;

    wxCheckBox* m_chkDSR = nullptr;
    wxCheckBox* m_chkCTS = nullptr;
    wxChoice* m_cbDTR = nullptr;
    wxChoice* m_cbRTS = nullptr;
};
