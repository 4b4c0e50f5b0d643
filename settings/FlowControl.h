// CFlowControl: the Flow Control page of the Connection sheet: how RTS and
// DTR are driven, and whether sending waits for CTS or DSR. List positions
// and check states are stored as integers.
#pragma once

#include "settings/PortConfig.h"

#include <wx/panel.h>

class CConnectDlg;
class wxCheckBox;
class wxChoice;

class CFlowControl : public wxPanel {
public:
    enum { IDC_CTS = 1006, IDC_DSR = 1007, IDC_DTR = 1043, IDC_RTS = 1045 };

    CFlowControl(wxWindow* pParent, CConnectDlg* pSheet);

    bool IsPending() const { return m_bPending; }
    bool IsChanged() const { return m_bChanged; }
    void FillControls();
    void Apply();
    bool QueryCancel();
    void OnControlChanged();

    wxChoice& GetRts() { return *m_cbRTS; }
    wxChoice& GetDtr() { return *m_cbDTR; }
    wxCheckBox& GetCts() { return *m_chkCTS; }
    wxCheckBox& GetDsr() { return *m_chkDSR; }

private:
    wxCheckBox* m_chkDSR = nullptr;
    wxCheckBox* m_chkCTS = nullptr;
    wxChoice* m_cbDTR = nullptr;
    wxChoice* m_cbRTS = nullptr;
    CPortConfig m_config;
    bool m_bPending = false;
    bool m_bChanged = false;
    CConnectDlg* m_pSheet;
};
