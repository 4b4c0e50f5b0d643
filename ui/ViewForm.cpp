#include "ui/ViewForm.h"

#include <algorithm>

#include "session/PageSession.h"
#include "ui/FormLabel.h"
#include "ui/ReportListBox.h"
#include "ui/ViewText.h"
#include "ui/VolnexView.h"
#include "ui/WxText.h"

#include <wx/button.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

const wxColour kBlack(0, 0, 0);
const wxColour kGreen(0, 255, 0);
const wxColour kCyan(0, 255, 255);
const wxColour kRed(255, 0, 0);

} // namespace

void CViewForm::Build(wxScrolled<wxPanel>* pView) {
    m_pView = pView;
    wxScrolled<wxPanel>* const self = pView;
    auto at = [self](int x, int y) {
        return self->ConvertDialogToPixels(wxPoint(x, y));
    };
    auto size = [self](int w, int h) {
        return self->ConvertDialogToPixels(wxSize(w, h));
    };
    auto label = [&](const char* szText, int x, int y, int w, int h, long nAlign) {
        return new CFormLabel(self, szText, at(x, y), size(w, h),
                              nAlign | wxST_NO_AUTORESIZE);
    };
    // The state display and the line indicators: sunken static texts in
    // their own colours on black. Fixed size: a new text lays nothing out.
    auto display = [&](int nId, int x, int y, int w, int h, const wxColour& colour) {
        auto* pText = new wxStaticText(self, nId, wxEmptyString, at(x, y), size(w, h),
                                       wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE |
                                           wxBORDER_SUNKEN);
        pText->SetForegroundColour(colour);
        pText->SetBackgroundColour(kBlack);
        return pText;
    };
    // The counters: read-only, centred text controls, green or red on black.
    auto counter = [&](int nId, int x, int y, int w, int h, const wxColour& colour) {
        auto* pText = new wxTextCtrl(self, nId, wxEmptyString, at(x, y), size(w, h),
                                     wxTE_READONLY | wxTE_CENTRE | wxBORDER_SIMPLE);
        pText->SetForegroundColour(colour);
        pText->SetBackgroundColour(kBlack);
        return pText;
    };

    // The frames first, so that the controls inside them stay on top.
    new wxStaticBox(self, wxID_ANY, wxEmptyString, at(3, 4), size(291, 189));
    new wxStaticBox(self, wxID_ANY, "VELDRIN State", at(8, 16), size(196, 63));
    new wxStaticBox(self, wxID_ANY, wxEmptyString, at(208, 16), size(82, 63));

    CFormLabel* pCtsLabel = label("CTS", 15, 55, 26, 11, wxALIGN_RIGHT);
    CFormLabel* pDsrLabel = label("DSR", 75, 55, 26, 12, wxALIGN_RIGHT);
    CFormLabel* pDcdLabel = label("DCD", 140, 55, 22, 11, wxALIGN_RIGHT);
    m_pCts = display(CVolnexVw::IDC_CTS, 44, 53, 25, 12, kGreen);
    m_pDsr = display(CVolnexVw::IDC_DSR, 103, 53, 25, 12, kGreen);
    m_pDcd = display(CVolnexVw::IDC_DCD, 163, 52, 25, 12, kGreen);
    CFormLabel* pStateLabel = label(" State", 13, 30, 22, 15, wxALIGN_LEFT);
    // A page may run to hundreds of characters: the list scrolls sideways.
    m_pageList =
        new CReportListBox(self, CVolnexVw::IDC_PAGE_LIST, at(8, 89), size(244, 100),
                           wxLB_SINGLE | wxLB_ALWAYS_SB | wxLB_HSCROLL);
    m_pageList->SetSaveTitle("Save Page List");
    m_pageList->SetUtf8Lines(true); // the pages as text in their charset
    m_pState = display(CVolnexVw::IDC_STATE, 43, 28, 150, 12, kCyan);
    CFormLabel* pGoodLabel =
        label("Good Pages", 213, 28, 39, 12, wxALIGN_CENTRE_HORIZONTAL);
    CFormLabel* pBadLabel =
        label("Bad Pages", 214, 55, 37, 11, wxALIGN_CENTRE_HORIZONTAL);
    m_pGood = counter(CVolnexVw::IDC_GOOD_PAGES, 255, 28, 29, 12, kGreen);
    m_pBad = counter(CVolnexVw::IDC_BAD_PAGES, 255, 54, 29, 12, kRed);
    new wxButton(self, CVolnexVw::IDC_LOGON, "Logon", at(255, 101), size(35, 23));
    new wxButton(self, CVolnexVw::IDC_LOGFILE, "LogFile", at(255, 133), size(35, 20));
    new wxButton(self, CVolnexVw::IDC_LOGOFF, "Logoff", at(255, 165), size(36, 21));

    // Each label names its display for assistive technology.
    pCtsLabel->SetLabelFor(m_pCts);
    pDsrLabel->SetLabelFor(m_pDsr);
    pDcdLabel->SetLabelFor(m_pDcd);
    pStateLabel->SetLabelFor(m_pState);
    pGoodLabel->SetLabelFor(m_pGood);
    pBadLabel->SetLabelFor(m_pBad);

    // The form: the template's size, or more where a control (at a large
    // font, say) reaches further. Smaller frames scroll over it.
    wxRect extent(wxPoint(0, 0), size(297, 197));
    for (wxWindow* pChild : self->GetChildren())
        extent.Union(pChild->GetRect());
    m_formSize = wxSize(extent.GetRight() + 1, extent.GetBottom() + 1);
    self->SetVirtualSize(m_formSize);
    const wxSize unit = size(4, 4);
    self->SetScrollRate(unit.x, unit.y);
}

CShownSession CShownSession::Of(const CPageSession& session) {
    CShownSession shown;
    shown.strState = session.GetStateText();
    shown.strCts = session.GetCts();
    shown.strDsr = session.GetDsr();
    shown.strDcd = session.GetDcd();
    shown.nGood = session.GetGoodPages();
    shown.nBad = session.GetBadPages();
    return shown;
}

void CViewForm::Show(const CShownSession& session) {
    // Runs for every line event and state change, several times a page: a
    // control is touched only when its text changes.
    auto show = [](wxStaticText* pText, const wxString& strText) {
        if (pText->GetLabel() != strText)
            pText->SetLabel(strText);
    };
    auto count = [](wxTextCtrl* pText, unsigned nValue, unsigned& nShown) {
        if (nValue != nShown) {
            nShown = nValue;
            pText->ChangeValue(wxString::Format("%u", nValue));
        }
    };
    show(m_pState, FromBytes(session.strState));
    show(m_pCts, FromBytes(session.strCts));
    show(m_pDcd, FromBytes(session.strDcd));
    show(m_pDsr, FromBytes(session.strDsr));
    count(m_pGood, session.nGood, m_nGoodShown);
    count(m_pBad, session.nBad, m_nBadShown);
}

wxString CViewForm::ShownText(int nId) const {
    switch (nId) {
    case CVolnexVw::IDC_STATE: return m_pState->GetLabel();
    case CVolnexVw::IDC_CTS: return m_pCts->GetLabel();
    case CVolnexVw::IDC_DSR: return m_pDsr->GetLabel();
    case CVolnexVw::IDC_DCD: return m_pDcd->GetLabel();
    case CVolnexVw::IDC_GOOD_PAGES: return m_pGood->GetValue();
    case CVolnexVw::IDC_BAD_PAGES: return m_pBad->GetValue();
    default: return wxEmptyString;
    }
}

void CViewForm::ShowDelivery(const std::vector<std::string>& lines) {
    if (lines.empty() && m_pDelivery == nullptr)
        return;
    wxString strText;
    for (const std::string& strLine : lines)
        strText += (strText.empty() ? "" : "\n") + FromBytes(strLine);
    if (m_pDelivery == nullptr) {
        wxScrolled<wxPanel>* const self = m_pView;
        const int nLines = std::min<int>(std::max<int>(static_cast<int>(lines.size()), 1), 4);
        auto* pLabel = new CFormLabel(self, "Delivery",
                                      self->ConvertDialogToPixels(wxPoint(5, 198)),
                                      self->ConvertDialogToPixels(wxSize(60, 9)),
                                      wxALIGN_LEFT | wxST_NO_AUTORESIZE);
        m_pDelivery = new wxTextCtrl(
            self, wxID_ANY, wxEmptyString, self->ConvertDialogToPixels(wxPoint(3, 207)),
            self->ConvertDialogToPixels(wxSize(291, 9 * nLines + 4)),
            wxTE_READONLY | wxTE_MULTILINE | wxTE_DONTWRAP | wxBORDER_SIMPLE);
        pLabel->SetLabelFor(m_pDelivery);
        const wxRect rect = m_pDelivery->GetRect();
        m_formSize.IncTo(wxSize(rect.GetRight() + 1, rect.GetBottom() + 1 +
                                                         self->ConvertDialogToPixels(wxSize(0, 3)).y));
        self->SetVirtualSize(m_formSize);
    }
    if (m_pDelivery->GetValue() != strText)
        m_pDelivery->ChangeValue(strText);
    PlaceAlerts();
}

void CViewForm::ShowAlerts(const std::vector<std::string>& lines) {
    if (lines.empty() && m_pAlerts == nullptr)
        return;
    wxString strText;
    for (const std::string& strLine : lines)
        strText += (strText.empty() ? "" : "\n") + FromBytes(strLine);
    if (m_pAlerts == nullptr) {
        wxScrolled<wxPanel>* const self = m_pView;
        m_pAlertLabel = new CFormLabel(self, "Alerts", wxDefaultPosition,
                                       self->ConvertDialogToPixels(wxSize(60, 9)),
                                       wxALIGN_LEFT | wxST_NO_AUTORESIZE);
        m_pAlerts = new wxTextCtrl(self, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                   self->ConvertDialogToPixels(wxSize(291, 9 * 2 + 4)),
                                   wxTE_READONLY | wxTE_MULTILINE | wxTE_DONTWRAP |
                                       wxBORDER_SIMPLE);
        m_pAlerts->SetName("Alerts");
        m_pAlerts->SetForegroundColour(*wxRED);
        m_pAlertLabel->SetLabelFor(m_pAlerts);
        PlaceAlerts();
    }
    if (m_pAlerts->GetValue() != strText)
        m_pAlerts->ChangeValue(strText);
}

void CViewForm::PlaceAlerts() {
    if (m_pAlerts == nullptr)
        return;
    wxScrolled<wxPanel>* const self = m_pView;
    int nTop = self->ConvertDialogToPixels(wxPoint(0, 198)).y;
    if (m_pDelivery != nullptr)
        nTop = m_pDelivery->GetRect().GetBottom() + 1 +
               self->ConvertDialogToPixels(wxSize(0, 3)).y;
    const int nBoxTop = nTop + self->ConvertDialogToPixels(wxSize(0, 9)).y;
    m_pAlertLabel->Move(self->ConvertDialogToPixels(wxPoint(5, 0)).x, nTop);
    m_pAlerts->Move(self->ConvertDialogToPixels(wxPoint(3, 0)).x, nBoxTop);
    const wxRect rect = m_pAlerts->GetRect();
    m_formSize.IncTo(
        wxSize(rect.GetRight() + 1,
               rect.GetBottom() + 1 + self->ConvertDialogToPixels(wxSize(0, 3)).y));
    self->SetVirtualSize(m_formSize);
}

wxString CViewForm::AlertText() const {
    return m_pAlerts != nullptr ? m_pAlerts->GetValue() : wxString();
}

wxString CViewForm::DeliveryText() const {
    return m_pDelivery != nullptr ? m_pDelivery->GetValue() : wxString();
}

void CViewForm::AddPageLines(const std::vector<std::string>& lines, unsigned nLimit) {
    if (lines.empty())
        return;
    const size_t nShown = m_pageList->GetCount();
    const size_t nDrop =
        OldestPageLinesToDrop(nShown + lines.size(), nLimit, [&](size_t i) {
            return i < nShown ? m_pageList->GetLine(static_cast<unsigned>(i))
                              : lines[i - nShown];
        });
    m_pageList->DropOldest(static_cast<unsigned>(std::min(nDrop, nShown)));
    wxArrayString rows;
    for (size_t i = nDrop > nShown ? nDrop - nShown : 0; i < lines.size(); ++i)
        rows.Add(m_pageList->LineText(lines[i]));
    if (!rows.empty())
        m_pageList->Append(rows);
    // A reader at the end of the list sees the new entry; one who scrolled
    // up keeps reading.
    m_pageList->ShowChanges();
}
