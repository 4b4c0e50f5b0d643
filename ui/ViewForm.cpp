#include "ui/ViewForm.h"

#include <algorithm>

#include "session/PageSession.h"
#include "session/ViewText.h"
#include "ui/CommandIds.h"
#include "ui/FormLabel.h"
#include "ui/ReportListBox.h"
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
    auto* pFormBox =
        new wxStaticBox(self, wxID_ANY, wxEmptyString, at(3, 4), size(291, 189));
    auto* pStateBox =
        new wxStaticBox(self, wxID_ANY, "VELDRIN State", at(8, 16), size(196, 63));
    auto* pCountBox =
        new wxStaticBox(self, wxID_ANY, wxEmptyString, at(208, 16), size(82, 63));

    CFormLabel* pCtsLabel = label("CTS", 15, 55, 26, 11, wxALIGN_RIGHT);
    CFormLabel* pDsrLabel = label("DSR", 75, 55, 26, 12, wxALIGN_RIGHT);
    CFormLabel* pDcdLabel = label("DCD", 140, 55, 22, 11, wxALIGN_RIGHT);
    m_pCts = display(CViewControls::IDC_CTS, 44, 53, 25, 12, kGreen);
    m_pDsr = display(CViewControls::IDC_DSR, 103, 53, 25, 12, kGreen);
    m_pDcd = display(CViewControls::IDC_DCD, 163, 52, 25, 12, kGreen);
    CFormLabel* pStateLabel = label(" State", 13, 30, 22, 15, wxALIGN_LEFT);
    // A page may run to hundreds of characters: the list scrolls sideways.
    m_pageList =
        new CReportListBox(self, CViewControls::IDC_PAGE_LIST, at(8, 89),
                           size(244, 100), wxLB_SINGLE | wxLB_ALWAYS_SB | wxLB_HSCROLL);
    m_pageList->SetSaveTitle("Save Page List");
    m_pageList->SetUtf8Lines(true); // the pages as text in their charset
    m_pState = display(CViewControls::IDC_STATE, 43, 28, 150, 12, kCyan);
    CFormLabel* pGoodLabel =
        label("Good Pages", 213, 28, 39, 12, wxALIGN_CENTRE_HORIZONTAL);
    CFormLabel* pBadLabel =
        label("Bad Pages", 214, 55, 37, 11, wxALIGN_CENTRE_HORIZONTAL);
    m_pGood = counter(CViewControls::IDC_GOOD_PAGES, 255, 28, 29, 12, kGreen);
    m_pBad = counter(CViewControls::IDC_BAD_PAGES, 255, 54, 29, 12, kRed);
    auto* pLogon = new wxButton(self, CViewControls::IDC_LOGON, "Logon", at(255, 101),
                                size(35, 23));
    auto* pLogFile = new wxButton(self, CViewControls::IDC_LOGFILE, "LogFile",
                                  at(255, 133), size(35, 20));
    auto* pLogoff = new wxButton(self, CViewControls::IDC_LOGOFF, "Logoff",
                                 at(255, 165), size(36, 21));

    // Each label names its display for assistive technology.
    pCtsLabel->SetLabelFor(m_pCts);
    pDsrLabel->SetLabelFor(m_pDsr);
    pDcdLabel->SetLabelFor(m_pDcd);
    pStateLabel->SetLabelFor(m_pState);
    pGoodLabel->SetLabelFor(m_pGood);
    pBadLabel->SetLabelFor(m_pBad);

    // Given more room, the page list takes it; the state display widens
    // with it and what is right of the list moves along.
    Follow(pFormBox, kGrowX | kGrowY);
    Follow(pStateBox, kGrowX);
    Follow(m_pState, kGrowX);
    Follow(m_pageList, kGrowX | kGrowY);
    const std::initializer_list<wxWindow*> right = {
        pCountBox, pGoodLabel, pBadLabel, m_pGood, m_pBad, pLogon, pLogFile, pLogoff};
    for (wxWindow* pWindow : right)
        Follow(pWindow, kMoveX);

    // The form: 297 x 197 dialog units, or more where a control (at a large
    // font, say) reaches further. Smaller frames scroll over it.
    wxRect extent(wxPoint(0, 0), size(297, 197));
    for (wxWindow* pChild : self->GetChildren())
        extent.Union(pChild->GetRect());
    m_templateSize = wxSize(extent.GetRight() + 1, extent.GetBottom() + 1);
    m_formSize = m_templateSize;
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
    case CViewControls::IDC_STATE: return m_pState->GetLabel();
    case CViewControls::IDC_CTS: return m_pCts->GetLabel();
    case CViewControls::IDC_DSR: return m_pDsr->GetLabel();
    case CViewControls::IDC_DCD: return m_pDcd->GetLabel();
    case CViewControls::IDC_GOOD_PAGES: return m_pGood->GetValue();
    case CViewControls::IDC_BAD_PAGES: return m_pBad->GetValue();
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
        const int nLines =
            std::min<int>(std::max<int>(static_cast<int>(lines.size()), 1), 4);
        m_pDelivery =
            MakeLineBelow("Delivery", nLines, wxTE_DONTWRAP, &m_pDeliveryLabel);
        PlaceBelow();
    }
    if (m_pDelivery->GetValue() != strText)
        m_pDelivery->ChangeValue(strText);
}

void CViewForm::ShowAlerts(const std::vector<std::string>& lines) {
    if (lines.empty() && m_pAlerts == nullptr)
        return;
    wxString strText;
    for (const std::string& strLine : lines)
        strText += (strText.empty() ? "" : "\n") + FromBytes(strLine);
    if (m_pAlerts == nullptr) {
        m_pAlerts = MakeLineBelow("Alerts", 2, wxTE_DONTWRAP, &m_pAlertLabel);
        m_pAlerts->SetName("Alerts");
        m_pAlerts->SetForegroundColour(*wxRED);
        PlaceBelow();
    }
    if (m_pAlerts->GetValue() != strText)
        m_pAlerts->ChangeValue(strText);
}

wxTextCtrl* CViewForm::MakeLineBelow(const char* szLabel, int nLines, long nWrap,
                                     CFormLabel** ppLabel) {
    wxScrolled<wxPanel>* const self = m_pView;
    *ppLabel = new CFormLabel(self, szLabel, wxDefaultPosition,
                              self->ConvertDialogToPixels(wxSize(60, 9)),
                              wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    auto* pBox =
        new wxTextCtrl(self, wxID_ANY, wxEmptyString, wxDefaultPosition,
                       self->ConvertDialogToPixels(wxSize(291, 9 * nLines + 4)),
                       wxTE_READONLY | wxTE_MULTILINE | nWrap | wxBORDER_SIMPLE);
    (*ppLabel)->SetLabelFor(pBox);
    return pBox;
}

void CViewForm::Follow(wxWindow* pWindow, int nHow) {
    m_followers.push_back({pWindow, pWindow->GetRect(), nHow});
}

// Controls are placed in the form's own coordinates, wherever the view is
// scrolled to.
void CViewForm::SetRect(wxWindow* pWindow, const wxRect& rect) const {
    const wxRect placed(m_pView->CalcScrolledPosition(rect.GetPosition()),
                        rect.GetSize());
    if (pWindow == m_pageList)
        m_pageList->PlaceIn(placed); // with its find bar, when open
    else if (pWindow->GetRect() != placed)
        pWindow->SetSize(placed);
}

void CViewForm::Grow(const wxSize& extra) {
    const wxSize room(std::max(0, extra.x), std::max(0, extra.y));
    if (room == m_extra)
        return;
    m_extra = room;
    for (const CFollower& follower : m_followers) {
        wxRect rect = follower.base;
        if (follower.nHow & kMoveX)
            rect.x += room.x;
        if (follower.nHow & kGrowX)
            rect.width += room.x;
        if (follower.nHow & kGrowY)
            rect.height += room.y;
        SetRect(follower.pWindow, rect);
    }
    PlaceBelow();
}

void CViewForm::PlaceBelow() {
    wxScrolled<wxPanel>* const self = m_pView;
    const int nLabelX = self->ConvertDialogToPixels(wxPoint(5, 0)).x;
    const int nBoxX = self->ConvertDialogToPixels(wxPoint(3, 0)).x;
    const int nLabelHeight = self->ConvertDialogToPixels(wxSize(0, 9)).y;
    // The delivery line's box has always stood at 207 dialog units, which
    // may round one pixel away from its label's 198 plus 9.
    const int nDeliveryLabelHeight = self->ConvertDialogToPixels(wxPoint(0, 207)).y -
                                     self->ConvertDialogToPixels(wxPoint(0, 198)).y;
    const int nGap = self->ConvertDialogToPixels(wxSize(0, 3)).y;
    const int nWidth = self->ConvertDialogToPixels(wxSize(291, 0)).x + m_extra.x;
    // Each line: its label, then its box, in the order they stand.
    int nTop = self->ConvertDialogToPixels(wxPoint(0, 198)).y + m_extra.y;
    m_formSize = m_templateSize;
    const struct {
        wxWindow* pLabel;
        wxWindow* pBox;
        int nLabelHeight;
    } below[] = {
        {m_pDetailsLabel, m_pDetails, nLabelHeight},
        {m_pDeliveryLabel, m_pDelivery, nDeliveryLabelHeight},
        {m_pAlertLabel, m_pAlerts, nLabelHeight},
    };
    for (const auto& line : below) {
        if (line.pBox == nullptr)
            continue;
        SetRect(line.pLabel, wxRect(wxPoint(nLabelX, nTop), line.pLabel->GetSize()));
        const wxRect box(nBoxX, nTop + line.nLabelHeight, nWidth,
                         line.pBox->GetSize().y);
        SetRect(line.pBox, box);
        nTop = box.GetBottom() + 1 + nGap;
        m_formSize.IncTo(wxSize(box.GetRight() + 1 - m_extra.x, nTop - m_extra.y));
    }
    self->SetVirtualSize(m_formSize + m_extra);
}

void CViewForm::ShowDetailsPane(bool bShow) {
    if (bShow == (m_pDetails != nullptr))
        return;
    if (bShow) {
        // Wrapped: the whole message reads without scrolling sideways.
        m_pDetails = MakeLineBelow("Page Details", 6, wxTE_WORDWRAP, &m_pDetailsLabel);
        m_pDetails->SetName("Page Details");
    } else {
        m_pDetailsLabel->Destroy();
        m_pDetails->Destroy();
        m_pDetailsLabel = nullptr;
        m_pDetails = nullptr;
    }
    PlaceBelow();
}

void CViewForm::SetDetails(const wxString& strText) {
    if (m_pDetails != nullptr && m_pDetails->GetValue() != strText)
        m_pDetails->ChangeValue(strText);
}

wxString CViewForm::DetailsText() const {
    return m_pDetails != nullptr ? m_pDetails->GetValue() : wxString();
}

wxString CViewForm::AlertText() const {
    return m_pAlerts != nullptr ? m_pAlerts->GetValue() : wxString();
}

wxString CViewForm::DeliveryText() const {
    return m_pDelivery != nullptr ? m_pDelivery->GetValue() : wxString();
}

void CViewForm::AddPages(const std::vector<std::shared_ptr<const CPageRecord>>& pages,
                         unsigned nLimit) {
    std::vector<std::string> lines;
    std::vector<std::shared_ptr<const CPageRecord>> linePages;
    for (const auto& pPage : pages)
        for (const std::string& strLine : pPage->lines) {
            lines.push_back(strLine);
            linePages.push_back(pPage);
        }
    if (lines.empty())
        return;
    const size_t nShown = m_pageList->GetCount();
    const size_t nDrop =
        OldestPageLinesToDrop(nShown + lines.size(), nLimit, [&](size_t i) {
            return i < nShown ? m_pageList->GetLine(static_cast<unsigned>(i))
                              : lines[i - nShown];
        });
    const size_t nDropShown = std::min(nDrop, nShown);
    m_pageList->DropOldest(static_cast<unsigned>(nDropShown));
    m_linePages.erase(m_linePages.begin(),
                      m_linePages.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                nDropShown, m_linePages.size())));
    wxArrayString rows;
    for (size_t i = nDrop > nShown ? nDrop - nShown : 0; i < lines.size(); ++i) {
        rows.Add(m_pageList->LineText(lines[i]));
        m_linePages.push_back(linePages[i]);
    }
    if (!rows.empty())
        m_pageList->Append(rows);
    // A reader at the end of the list sees the new entry; one who scrolled
    // up keeps reading.
    m_pageList->ShowChanges();
}

void CViewForm::ClearPages() {
    m_pageList->Clear();
    m_linePages.clear();
}

std::shared_ptr<const CPageRecord> CViewForm::PageAt(int nLine) const {
    if (nLine < 0 || static_cast<size_t>(nLine) >= m_linePages.size() ||
        m_linePages.size() != m_pageList->GetCount())
        return nullptr;
    return m_linePages[static_cast<size_t>(nLine)];
}
