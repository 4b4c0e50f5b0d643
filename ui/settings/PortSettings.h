// CPortSettings: the Port Settings page of the Connection sheet: baud rate,
// data bits, parity and stop bits of the selected port, and the serial
// device that port stands for on this machine.
#pragma once

#include "serial/DeviceList.h"
#include "ui/settings/SheetPage.h"

#include <vector>

class wxChoice;
class wxComboBox;

class CPortSettings : public CSheetPage {
  public:
    enum {
        IDC_BAUD_RATE = 1037,
        IDC_DATA_BITS = 1038,
        IDC_PARITY = 1039,
        IDC_STOP_BITS = 1040,
        IDC_DEVICE = 1041,
    };

    CPortSettings(wxWindow* pParent, ISheetHost* pSheet);

    wxChoice& GetList(int nId);
    wxComboBox& GetDevice() { return *m_cbDevice; }

  private:
    void ShowValues() override;
    bool WriteValues(uint8_t nPort) override;
    void OnDeviceChosen();
    // The line-format lists are enabled only for a serial device.
    void ShowLineFormatUse();

    wxChoice* m_cbStopBits = nullptr;
    wxChoice* m_cbParity = nullptr;
    wxChoice* m_cbDataBits = nullptr;
    wxChoice* m_cbBaudRate = nullptr;
    unsigned m_nListedRates = 0; // the rates the list always offers
    wxComboBox* m_cbDevice = nullptr;
    std::vector<CDeviceChoice> m_deviceChoices; // the device list's items, in order
};
