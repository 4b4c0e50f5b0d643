// CViewForm: the main view's controls and how the session's values are
// written into them. The view builds it once and shows the session through
// it; the controls belong to the view's window.
//
// The form has its own size (m_formSize) at which it is laid out as built.
// Given more room (Grow), the page list takes it in both directions, the
// state display and the boxes around it widen, the counters and buttons
// move right and the lines below the form (page details, delivery, alerts)
// move down and widen.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>
#include <wx/panel.h>
#include <wx/scrolwin.h>

struct CPageRecord;

class CPageSession;
class CFormLabel;
class CReportListBox;
class wxStaticText;
class wxTextCtrl;

// The session's values the form shows, taken in one go.
struct CShownSession {
    std::string strState, strCts, strDsr, strDcd;
    unsigned nGood = 0, nBad = 0;
    static CShownSession Of(const CPageSession& session);
};

class CViewForm {
  public:
    // Creates the controls in pView at their dialog-unit places and sets
    // the view's virtual size to the form's.
    void Build(wxScrolled<wxPanel>* pView);
    // Writes every displayed value into its control; a control whose text
    // is unchanged is not touched.
    void Show(const CShownSession& shown);
    // Adds pages to the page list, which keeps at most nLimit lines by
    // dropping its oldest pages whole. Lines that would be dropped at once
    // are never added. The form remembers which page each line shows.
    void AddPages(const std::vector<std::shared_ptr<const CPageRecord>>& pages,
                  unsigned nLimit);
    // The page list was emptied.
    void ClearPages();
    // The page whose line nLine is in the page list; null for none.
    std::shared_ptr<const CPageRecord> PageAt(int nLine) const;
    // The page-details pane under the form: shown or not, and its text.
    void ShowDetailsPane(bool bShow);
    bool IsDetailsPaneShown() const { return m_pDetails != nullptr; }
    void SetDetails(const wxString& strText);
    wxString DetailsText() const;
    // Lays the form out in its own size plus extra (none smaller than its
    // own size).
    void Grow(const wxSize& extra);
    // The text a display control (1006 to 1008, 1012, 1016, 1017) shows.
    wxString ShownText(int nId) const;
    // The delivery line: one line per delivery target, below the form. It
    // is made with the first lines to show (the form grows by it); with no
    // target it never exists.
    void ShowDelivery(const std::vector<std::string>& lines);
    wxString DeliveryText() const;
    // The alert line: every alert active now, one a line; it appears with
    // the first alert and is emptied when none is left.
    void ShowAlerts(const std::vector<std::string>& lines);
    wxString AlertText() const;

    CReportListBox* m_pageList = nullptr;
    wxStaticText* m_pState = nullptr;
    wxStaticText* m_pCts = nullptr;
    wxStaticText* m_pDsr = nullptr;
    wxStaticText* m_pDcd = nullptr;
    wxTextCtrl* m_pGood = nullptr;
    wxTextCtrl* m_pBad = nullptr;
    unsigned m_nGoodShown = ~0u; // what the counters show
    unsigned m_nBadShown = ~0u;
    wxSize m_formSize;
    wxScrolled<wxPanel>* m_pView = nullptr;
    CFormLabel* m_pDeliveryLabel = nullptr;
    wxTextCtrl* m_pDelivery = nullptr;
    CFormLabel* m_pAlertLabel = nullptr;
    wxTextCtrl* m_pAlerts = nullptr;
    CFormLabel* m_pDetailsLabel = nullptr;
    wxTextCtrl* m_pDetails = nullptr;

  private:
    // A read-only box of nLines text lines with its label, for below the
    // form (PlaceBelow puts them in their place).
    wxTextCtrl* MakeLineBelow(const char* szLabel, int nLines, long nWrap,
                              CFormLabel** ppLabel);
    // Places the lines below the form, one under the other, and sets the
    // form's size to hold them.
    void PlaceBelow();
    // A control that follows the form's growth from where it was built.
    struct CFollower {
        wxWindow* pWindow;
        wxRect base;
        int nHow;
    };
    enum { kMoveX = 1, kGrowX = 2, kGrowY = 4 };
    void Follow(wxWindow* pWindow, int nHow);
    void SetRect(wxWindow* pWindow, const wxRect& rect) const;
    std::vector<CFollower> m_followers;
    wxSize m_templateSize; // the form without the lines below it
    wxSize m_extra;        // the room beyond the form's own size
    std::deque<std::shared_ptr<const CPageRecord>> m_linePages; // one a list line
};
