#include "ui/settings/PortSettings.h"

#include "serial/DeviceList.h"
#include "serial/TcpEndpoint.h"
#include "ui/FormLabel.h"
#include "ui/WxText.h"

#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

namespace {

// Selects the item that matches the text, ignoring letter case; leaves the
// selection as it was when none does.
void SelectText(wxChoice* pList, const std::string& strText) {
    int nIndex = pList->FindString(FromBytes(strText), false);
    if (nIndex != wxNOT_FOUND)
        pList->SetSelection(nIndex);
}

} // namespace

CPortSettings::CPortSettings(wxWindow* pParent, ISheetHost* pSheet)
    : CSheetPage(pParent, pSheet) {
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    auto label = [&](const char* szText, int x, int y) {
        return new CFormLabel(this, szText, at(x, y), size(44, 8),
                              wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    };
    auto list = [&](int nId, int x, int y, std::initializer_list<const char*> items) {
        auto* pList = new wxChoice(this, nId, at(x, y), size(52, 12));
        for (const char* szItem : items)
            pList->Append(szItem);
        return pList;
    };
    new wxStaticBox(this, wxID_ANY, wxEmptyString, at(9, 4), size(121, 86));
    CFormLabel* pBaudLabel = label("Baud Rate :", 12, 17);
    CFormLabel* pDataLabel = label("Data Bits :", 12, 37);
    CFormLabel* pParityLabel = label("Parity :", 12, 57);
    CFormLabel* pStopLabel = label("Stop Bits", 11, 74);
    // After the traditional rates, the faster ones every Linux serial line
    // takes.
    m_cbBaudRate = list(
        IDC_BAUD_RATE, 63, 15,
        {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"});
    m_nListedRates = m_cbBaudRate->GetCount();
    m_cbDataBits = list(IDC_DATA_BITS, 64, 33, {"5", "6", "7", "8"});
    m_cbParity = list(IDC_PARITY, 64, 52, {"Even", "Odd", "None"});
    m_cbStopBits = list(IDC_STOP_BITS, 64, 71, {"1", "2"});
    pBaudLabel->SetLabelFor(m_cbBaudRate);
    pDataLabel->SetLabelFor(m_cbDataBits);
    pParityLabel->SetLabelFor(m_cbParity);
    pStopLabel->SetLabelFor(m_cbStopBits);

    // On Linux COMn is a device path: the serial devices present, or any
    // path the operator types, or a network line. The list is made afresh
    // at each fill.
    CFormLabel* pDeviceLabel = label("Device :", 12, 97);
    m_cbDevice = new wxComboBox(this, IDC_DEVICE, wxEmptyString, at(63, 95),
                                size(130, 12), wxArrayString(), wxCB_DROPDOWN);
    pDeviceLabel->SetLabelFor(m_cbDevice);
    SetMinSize(size(200, 112));

    for (int nId : {IDC_BAUD_RATE, IDC_DATA_BITS, IDC_PARITY, IDC_STOP_BITS})
        Bind(
            wxEVT_CHOICE, [this](wxCommandEvent&) { OnControlChanged(); }, nId);
    Bind(
        wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnDeviceChosen(); }, IDC_DEVICE);
    Bind(
        wxEVT_TEXT,
        [this](wxCommandEvent&) {
            ShowLineFormatUse();
            OnControlChanged();
        },
        IDC_DEVICE);
}

void CPortSettings::ShowLineFormatUse() {
    // Baud rate, bits and parity mean nothing to a network line.
    const bool bSerial =
        !IsTcpEndpoint(ToPathBytes(m_cbDevice->GetValue().Strip(wxString::both)));
    for (wxChoice* pList : {m_cbBaudRate, m_cbDataBits, m_cbParity, m_cbStopBits})
        pList->Enable(bSerial);
}

wxChoice& CPortSettings::GetList(int nId) {
    switch (nId) {
    case IDC_BAUD_RATE: return *m_cbBaudRate;
    case IDC_DATA_BITS: return *m_cbDataBits;
    case IDC_PARITY: return *m_cbParity;
    default: return *m_cbStopBits;
    }
}

void CPortSettings::ShowValues() {
    // A stored rate the list does not offer (230400, say, set in the
    // profile) is shown as it is, as an item of its own, not as an empty box.
    while (m_cbBaudRate->GetCount() > m_nListedRates)
        m_cbBaudRate->Delete(m_cbBaudRate->GetCount() - 1);
    const std::string strRate = m_config.GetBaudRate();
    if (!strRate.empty() &&
        m_cbBaudRate->FindString(FromBytes(strRate), false) == wxNOT_FOUND)
        m_cbBaudRate->Append(FromBytes(strRate));
    SelectText(m_cbBaudRate, strRate);
    SelectText(m_cbDataBits, m_config.GetDataBits());
    SelectText(m_cbParity, m_config.GetParity());
    SelectText(m_cbStopBits, m_config.GetStopBits());
    const std::string strCurrent = m_config.GetDevicePath(m_config.m_nPort);
    m_deviceChoices = CDeviceScanner().List(strCurrent);
    wxArrayString labels;
    for (const CDeviceChoice& choice : m_deviceChoices)
        labels.Add(FromPathBytes(choice.strLabel));
    {
        // Refilling the list clears its text, which is no edit by the operator.
        wxEventBlocker quiet(m_cbDevice);
        m_cbDevice->Set(labels);
    }
    // A path, in the file system's encoding.
    m_cbDevice->ChangeValue(FromPathBytes(strCurrent));
    ShowLineFormatUse();
}

void CPortSettings::OnDeviceChosen() {
    // The field holds the path to store, not the list's label.
    const int nIndex = m_cbDevice->GetSelection();
    if (nIndex >= 0 && static_cast<size_t>(nIndex) < m_deviceChoices.size())
        m_cbDevice->ChangeValue(
            FromPathBytes(m_deviceChoices[static_cast<size_t>(nIndex)].strPath));
    ShowLineFormatUse();
    OnControlChanged();
}

bool CPortSettings::WriteValues(uint8_t nPort) {
    // A list without a selection (its stored value is not one of its items)
    // keeps the stored value.
    auto selected = [](wxChoice* pList, std::string* pstrText) {
        if (pList->GetSelection() == wxNOT_FOUND)
            return false;
        *pstrText = ToBytes(pList->GetStringSelection());
        return true;
    };
    std::string strText;
    if (selected(m_cbBaudRate, &strText))
        m_config.SetBaudRate(nPort, strText);
    if (selected(m_cbDataBits, &strText))
        m_config.SetDataBits(nPort, strText);
    if (selected(m_cbParity, &strText))
        m_config.SetParity(nPort, strText);
    if (selected(m_cbStopBits, &strText))
        m_config.SetStopBits(nPort, strText);
    const std::string strDevice = DevicePathForText(
        m_deviceChoices, ToPathBytes(m_cbDevice->GetValue().Strip(wxString::both)));
    if (!strDevice.empty())
        m_config.SetDevicePath(nPort, strDevice);
    return true;
}
