// CListFindBar: the find bar of a list (a CReportListBox), laid over the top of the
// list (which gives up that room while the bar is open).
//
// The operator types a text (a pager ID, a word of a message) and goes to
// the next or previous line that holds it (Enter, Shift+Enter); "Match
// case" is off at first. "Filter" shows only the lines that hold the text;
// the others come back when it goes off or the bar closes (Escape or the
// close button). The bar belongs to the list, which deletes it; it lives in
// the list's parent and runs on the user-interface thread.
#pragma once

#include <wx/panel.h>

class wxCheckBox;
class wxTextCtrl;

// The list a find bar searches, as the bar sees it.
class IFindableList {
  public:
    virtual ~IFindableList() = default;
    // The list's own window: the bar takes its room from it and gives it
    // back.
    virtual wxWindow& ListWindow() = 0;
    // Puts the list and its filtered rows in rect.
    virtual void PlaceRows(const wxRect& rect) = 0;
    // Goes to the next (previous) row of the rows shown that holds strText.
    virtual bool FindShownLine(const wxString& strText, bool bMatchCase,
                               bool bForward) = 0;
    virtual void SetFilter(bool bOn, const wxString& strText, bool bMatchCase) = 0;
};

class CListFindBar : public wxPanel {
  public:
    CListFindBar(wxWindow* pParent, IFindableList* pList);

    // Shows the bar over the list and puts the keyboard in its text.
    void Open();
    // Hides it: the filter goes off, the list gets its room back and the
    // keyboard.
    void Close();
    // The list's room changed while the bar is open: the bar and the list
    // share rect.
    void PlaceIn(const wxRect& rect);

    wxTextCtrl& GetText() { return *m_pText; }
    wxCheckBox& GetMatchCase() { return *m_pMatchCase; }
    wxCheckBox& GetFilter() { return *m_pFilter; }
    // Goes to the next (previous) line with the text; false when none has it.
    bool FindNext(bool bForward);
    // Whether the last search found nothing (the text shows it).
    bool IsNotFound() const { return m_bNotFound; }

  private:
    void ApplyFilter();
    void ShowFound(bool bFound);

    IFindableList* m_pList;
    wxTextCtrl* m_pText;
    wxCheckBox* m_pMatchCase;
    wxCheckBox* m_pFilter;
    bool m_bNotFound = false;
};
