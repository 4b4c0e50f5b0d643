// CReportListBox: a list box whose lines can be saved as a text report.
//
// Used for the page list and the protocol trace. Lines hold the bytes they
// were given (see WxText.h) and are written back unchanged. SaveReport asks
// for a file name (TEMP.TXT proposed) and writes the report through
// SaveReportToFile; the list itself is never changed by a save. An owner
// may offer other forms of the same content (the page list as CSV): the
// dialog (AskReportPath) offers them after the text report, and the one
// chosen writes the file.
//
// The owners keep the list bounded by dropping its oldest lines. A reader
// at the end of the list follows the newest line; one who scrolled up keeps
// seeing the same lines while older ones go.
//
// A row shows its line with control characters spelled out by name
// (ShownListLine); GetLine still gives the bytes the line was given. With
// wxLB_HSCROLL a line wider than the list makes it scroll sideways.
//
// Reading tools, all on the user-interface thread: lines can be selected in
// ranges and copied (Ctrl+C, Ctrl+A, a context menu with Copy, Copy All,
// Find and Clear), and Ctrl+F opens a find bar over the list (CListFindBar).
// Its filter shows only the matching lines in a second list of this class
// laid over this one; every line stays here and comes back when the filter
// goes off. Clear in the menu is the owner's double-click command, which
// asks before it empties the list. The find bar and the filtered list are
// siblings of the list in its parent, made on first use; the list deletes
// them when it goes.
#pragma once

#include "ui/ListFindBar.h"
#include "ui/ReportSaveDialog.h"

#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>
#include <wx/listbox.h>

class IMessageBoxes;
class wxMenu;

class CReportListBox : public wxListBox, public IFindableList {
  public:
    // Commands of the context menu.
    enum {
        ID_COPY = wxID_COPY,
        ID_COPY_ALL = wxID_HIGHEST + 40,
        ID_FIND = wxID_FIND,
        ID_CLEAR = wxID_CLEAR
    };

    // A single-selection style is taken as a range selection, for copying.
    CReportListBox(wxWindow* pParent, wxWindowID nId, const wxPoint& pos,
                   const wxSize& size, long nStyle);
    ~CReportListBox() override;

    // The save dialog's title names the action ("Save Page List").
    void SetSaveTitle(const wxString& strTitle) { m_strSaveTitle = strTitle; }
    void SaveReport();

    // Another form the list can be saved in (ReportSaveDialog.h).
    void AddSaveFormat(CSaveFormat format) {
        m_saveFormats.push_back(std::move(format));
    }
    // What a saved text report leaves out, said under the count when not
    // empty (the page list's pages older than its lines).
    void SetReportNote(std::function<std::string()> note) {
        m_reportNote = std::move(note);
    }

    // The lines are UTF-8 text (the page list) rather than one character a
    // byte (the protocol trace, the default). Set before the first line.
    void SetUtf8Lines(bool bUtf8) { m_bUtf8 = bUtf8; }
    // A line's bytes as the list shows them, and back.
    wxString LineText(const std::string& strBytes) const;
    std::string LineBytes(const wxString& strText) const;

    void AddLine(const std::string& strBytes);
    // Lines already in list form, appended in one go (the protocol window's
    // burst of lines).
    void AppendLines(const wxArrayString& lines) { Append(lines); }
    std::string GetLine(unsigned nIndex) const;
    std::vector<std::string> GetLines() const;

    // Whether the reader follows the newest lines: the list was at its end
    // when the reader last scrolled it (or never scrolled).
    bool IsFollowingEnd() const { return m_bFollowEnd; }
    // The tooltip of a row: the whole line, wrapped at kTipWidth characters,
    // when it is wider than the list shows; empty otherwise.
    static constexpr size_t kTipWidth = 80;
    wxString TipFor(unsigned nRow) const;
    // Removes the first nLines lines, in one pass.
    void DropOldest(unsigned nLines);
    // Removes the lines after the first nRows, in one pass.
    void KeepFirst(unsigned nRows);
    // After lines were added or dropped: a reader following the end sees
    // the last line; one who scrolled up keeps seeing the same lines.
    void ShowChanges();

    // Where the boxes go (the application's boxes unless a test says).
    void SetMessageBoxes(IMessageBoxes* pBoxes) { m_pBoxes = pBoxes; }

    // The selected rows (all rows) as shown, one a line, to the clipboard.
    void CopySelection();
    void CopyAll();
    void SelectAllLines();
    // The context menu's items, enabled as they apply now.
    wxMenu* MakeContextMenu();
    // Opens the find bar (made on first use) and puts the keyboard in it.
    void ShowFindBar();
    // The find bar; null until it was first opened.
    CListFindBar* GetFindBar() const { return m_pFindBar; }
    // The list the reader sees: the filtered lines while the filter is on.
    CReportListBox& GetShownList();
    // Selects the next (or previous) row after the selection that holds
    // strText, wrapping around, and brings it into view; false (and the
    // selection as it was) when no row holds it.
    bool FindLine(const wxString& strText, bool bMatchCase, bool bForward);
    // Shows only the rows that hold strText while bOn; all of them again
    // when it is off.
    void SetFilter(bool bOn, const wxString& strText, bool bMatchCase) override;
    bool IsFiltered() const { return m_bFiltered; }
    // The line (numbered as in this list) of the row selected in the list
    // the reader sees; wxNOT_FOUND for none.
    int GetSelectedLine() const;
    // Puts the list in rect, sharing it with the find bar and covered by the
    // filtered rows when they are open.
    void PlaceIn(const wxRect& rect);
    // What the find bar asks of the list.
    wxWindow& ListWindow() override { return *this; }
    void PlaceRows(const wxRect& rect) override;
    bool FindShownLine(const wxString& strText, bool bMatchCase,
                       bool bForward) override {
        return GetShownList().FindLine(strText, bMatchCase, bForward);
    }
    // The pixel width the column needs for the widest line so far.
    int GetColumnWidth() const { return m_nColumnWidth; }

    void SetString(unsigned int n, const wxString& s) override;

  protected:
    int DoInsertItems(const wxArrayStringsAdapter& items, unsigned int pos,
                      void** clientData, wxClientDataType type) override;
    void DoDeleteOneItem(unsigned int n) override;
    void DoClear() override;

  private:
    void ScrollToEnd();
    void RemoveRows(unsigned nFirst, unsigned nCount);
    void OnScrolled();
    void OnKeyDown(wxKeyEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnMenu(wxCommandEvent& event);
    // The rows changed: the filtered list follows once the burst is over.
    void RowsChanged();
    void UpdateFiltered();
    // Switches the filtered rows on or off (SetFilter without its event).
    void ApplyFilter(bool bOn, const wxString& strText, bool bMatchCase);
    void WidenFor(const wxString& strShown);
    void SetColumnWidth(int nWidth);
    // The list whose lines this one filters; itself when it is the real one.
    CReportListBox& Source() { return m_pSource ? *m_pSource : *this; }

    IMessageBoxes* m_pBoxes;
    bool m_bFollowEnd = true;
    bool m_bScrolling = false;   // the list scrolls itself
    bool m_bShowPending = false; // a ShowChanges waits for the burst to end
    wxString m_strSaveTitle;
    std::vector<CSaveFormat> m_saveFormats;
    std::function<std::string()> m_reportNote;
    bool m_bUtf8 = false;

    // Per row: the line's bytes where they differ from what the row shows
    // (empty otherwise), and a number that names the row while it lives.
    std::deque<std::string> m_raw;
    std::deque<unsigned long> m_serials;
    unsigned long m_nNextSerial = 0;
    int m_nColumnWidth = 0;
    int m_nInitialWidth = 0;
    int m_nWidestChar = 0;

    CListFindBar* m_pFindBar = nullptr;
    CReportListBox* m_pFiltered = nullptr; // the filtered rows, over this list
    CReportListBox* m_pSource = nullptr;   // for a filtered list: its source
    bool m_bFiltered = false;
    wxString m_strFilter;
    bool m_bFilterCase = false;
    // Per row number: whether the row holds the filter's text.
    std::unordered_map<unsigned long, bool> m_matchMemo;
    bool m_bUpdatePosted = false;
};
