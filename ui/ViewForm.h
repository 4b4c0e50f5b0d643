// CViewForm: the main view's controls (template 102) and how the session's
// values are written into them. The view builds it once and shows the
// session through it; the controls belong to the view's window.
#pragma once

#include <string>
#include <vector>
#include <wx/panel.h>
#include <wx/scrolwin.h>

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
    // Adds pages' lines to the page list, which keeps at most nLimit lines
    // by dropping its oldest pages whole. Lines that would be dropped at
    // once are never added.
    void AddPageLines(const std::vector<std::string>& lines, unsigned nLimit);
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
    wxTextCtrl* m_pDelivery = nullptr;
    CFormLabel* m_pAlertLabel = nullptr;
    wxTextCtrl* m_pAlerts = nullptr;
    // Below the delivery line when there is one.
    void PlaceAlerts();
};
