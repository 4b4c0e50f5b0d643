// CListFindBar: the find bar of a CReportListBox, laid over the top of the
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

class CReportListBox;
class wxCheckBox;
class wxTextCtrl;

class CListFindBar : public wxPanel {
  public:
    CListFindBar(wxWindow* pParent, CReportListBox* pList);

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

    CReportListBox* m_pList;
    wxTextCtrl* m_pText;
    wxCheckBox* m_pMatchCase;
    wxCheckBox* m_pFilter;
    bool m_bNotFound = false;
};
