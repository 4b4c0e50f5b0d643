#include "ui/DeliveriesDlg.h"

#include "delivery/Delivery.h"
#include "session/PageRecord.h"
#include "ui/WxText.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace {

enum { kColTime, kColPager, kColMessage, kColDeliveries };

// "ward7: delivered; hooks: pending, 3 attempts (CONNECTION REFUSED)"
std::string DeliveriesText(const CPageStatus& page) {
    std::string strText;
    for (const CDeliveryStatus& delivery : page.deliveries) {
        if (!strText.empty())
            strText += "; ";
        strText += delivery.strTarget + ": " + DeliveryStateName(delivery.state);
        if (delivery.nAttempts > 1 || delivery.state != DeliveryState::kDelivered)
            strText += ", " + std::to_string(delivery.nAttempts) +
                       (delivery.nAttempts == 1 ? " attempt" : " attempts");
        if (!delivery.strLastReason.empty() &&
            delivery.state != DeliveryState::kDelivered)
            strText += " (" + delivery.strLastReason + ")";
    }
    return strText;
}

} // namespace

CDeliveriesDlg::CDeliveriesDlg(wxWindow* pParent,
                               std::function<CDelivery*()> getDelivery)
    : wxDialog(pParent, wxID_ANY, "Deliveries", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_getDelivery(std::move(getDelivery)), m_timer(this) {
    auto* pSizer = new wxBoxSizer(wxVERTICAL);
    auto* pLabel = new wxStaticText(this, wxID_ANY, "&Recent pages kept for delivery:");
    m_pList = new wxListCtrl(this, wxID_ANY, wxDefaultPosition,
                             FromDIP(wxSize(720, 300)), wxLC_REPORT | wxLC_SINGLE_SEL);
    m_pList->SetName("Recent pages kept for delivery");
    m_pList->AppendColumn("Time", wxLIST_FORMAT_LEFT, FromDIP(150));
    m_pList->AppendColumn("Pager", wxLIST_FORMAT_LEFT, FromDIP(80));
    m_pList->AppendColumn("Message", wxLIST_FORMAT_LEFT, FromDIP(180));
    m_pList->AppendColumn("Deliveries", wxLIST_FORMAT_LEFT, FromDIP(420));
    pSizer->Add(pLabel, 0, wxLEFT | wxRIGHT | wxTOP, FromDIP(8));
    pSizer->Add(m_pList, 1, wxEXPAND | wxALL, FromDIP(8));

    auto* pButtons = new wxBoxSizer(wxHORIZONTAL);
    auto* pRetryPage = new wxButton(this, wxID_ANY, "R&etry");
    pRetryPage->SetToolTip(
        "Send the selected page again where it failed for good or expired");
    auto* pTargetLabel = new wxStaticText(this, wxID_ANY, "&Target:");
    m_pTargets = new wxChoice(this, wxID_ANY);
    m_pTargets->SetName("Target");
    auto* pRetryTarget = new wxButton(this, wxID_ANY, "Retry &now");
    pRetryTarget->SetToolTip("Every page waiting for this target goes now");
    auto* pClose = new wxButton(this, wxID_CLOSE, "&Close");
    pButtons->Add(pRetryPage, 0, wxRIGHT, FromDIP(16));
    pButtons->Add(pTargetLabel, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, FromDIP(4));
    pButtons->Add(m_pTargets, 0, wxRIGHT, FromDIP(4));
    pButtons->Add(pRetryTarget, 0);
    pButtons->AddStretchSpacer();
    pButtons->Add(pClose, 0);
    pSizer->Add(pButtons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(8));
    SetSizerAndFit(pSizer);

    pRetryPage->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { RetrySelectedPage(); });
    pRetryTarget->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        if (m_pTargets->GetSelection() != wxNOT_FOUND)
            RetryTargetNow(ToBytes(m_pTargets->GetStringSelection()));
    });
    pClose->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Hide(); });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Hide(); });
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
        if (IsShown())
            Refresh();
    });
    m_timer.Start(kRefreshMs);
    Refresh();
}

void CDeliveriesDlg::Refresh() {
    CDelivery* pDelivery = m_getDelivery();
    const std::vector<CPageStatus> pages = pDelivery != nullptr
                                               ? pDelivery->Recent(kRecentPages)
                                               : std::vector<CPageStatus>();
    // Keep the reader's selection across the refresh.
    const long nSelected =
        m_pList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    const std::string strSelected =
        nSelected >= 0 && static_cast<size_t>(nSelected) < m_ids.size()
            ? m_ids[nSelected]
            : "";
    m_pList->Freeze();
    m_pList->DeleteAllItems();
    m_ids.clear();
    for (const CPageStatus& page : pages) {
        const long nRow = m_pList->InsertItem(
            m_pList->GetItemCount(),
            FromBytes(IsoLocalTime(page.nAcceptedMs).substr(0, 23)));
        m_pList->SetItem(nRow, kColPager, FromBytes(page.strPager));
        m_pList->SetItem(nRow, kColMessage, FromBytes(page.strMessage));
        m_pList->SetItem(nRow, kColDeliveries, FromBytes(DeliveriesText(page)));
        m_ids.push_back(page.strId);
        if (page.strId == strSelected)
            m_pList->SetItemState(nRow, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
    m_pList->Thaw();

    const wxString strTarget = m_pTargets->GetStringSelection();
    m_pTargets->Clear();
    if (pDelivery != nullptr) {
        for (const CTargetConfig& target : pDelivery->GetTargets())
            m_pTargets->Append(FromBytes(target.strName));
    }
    if (!strTarget.empty())
        m_pTargets->SetStringSelection(strTarget);
    if (m_pTargets->GetSelection() == wxNOT_FOUND && m_pTargets->GetCount() > 0)
        m_pTargets->SetSelection(0);
}

std::vector<std::string> CDeliveriesDlg::RowTexts() const {
    std::vector<std::string> rows;
    for (long i = 0; i < m_pList->GetItemCount(); ++i) {
        std::string strRow;
        for (int nCol = kColTime; nCol <= kColDeliveries; ++nCol)
            strRow += (nCol == kColTime ? "" : " | ") +
                      ToBytes(m_pList->GetItemText(i, nCol));
        rows.push_back(strRow);
    }
    return rows;
}

void CDeliveriesDlg::RetryTargetNow(const std::string& strTarget) {
    if (CDelivery* pDelivery = m_getDelivery())
        pDelivery->RetryTarget(strTarget);
    Refresh();
}

void CDeliveriesDlg::RetrySelectedPage() {
    const long nSelected =
        m_pList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    CDelivery* pDelivery = m_getDelivery();
    if (pDelivery != nullptr && nSelected >= 0 &&
        static_cast<size_t>(nSelected) < m_ids.size())
        pDelivery->RetryPage(m_ids[static_cast<size_t>(nSelected)], "");
    Refresh();
}
