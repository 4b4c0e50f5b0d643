// CPortSettings: the Port Settings page of the Connection sheet: baud rate,
// data bits, parity and stop bits of the selected port, and the serial
// device that port stands for on this machine.
#pragma once

#include "settings/PortConfig.h"

#include <wx/panel.h>

class CConnectDlg;
class wxChoice;
class wxComboBox;

class CPortSettings : public wxPanel {
public:
    enum {
        IDC_BAUD_RATE = 1037,
        IDC_DATA_BITS = 1038,
        IDC_PARITY = 1039,
        IDC_STOP_BITS = 1040,
        IDC_DEVICE = 1041,
    };

    CPortSettings(wxWindow* pParent, CConnectDlg* pSheet);

    bool IsPending() const { return m_bPending; }
    bool IsChanged() const { return m_bChanged; }
    // Shows the stored values of the port in use, unless edits are pending.
    void FillControls();
    // Writes all values for the sheet's selected port when edits are pending.
    void Apply();
    bool QueryCancel();
    void OnControlChanged();

    wxChoice& GetList(int nId);
    wxComboBox& GetDevice() { return *m_cbDevice; }

private:
    wxChoice* m_cbStopBits = nullptr;
    wxChoice* m_cbParity = nullptr;
    wxChoice* m_cbDataBits = nullptr;
    wxChoice* m_cbBaudRate = nullptr;
    wxComboBox* m_cbDevice = nullptr;
    CPortConfig m_config;
    bool m_bPending = false;
    bool m_bChanged = false;
    CConnectDlg* m_pSheet;
};
