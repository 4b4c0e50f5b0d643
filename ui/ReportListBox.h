// CReportListBox: a list box whose lines can be saved as a text report.
//
// Used for the page list and the protocol trace. Lines hold the bytes they
// were given (see WxText.h) and are written back unchanged. SaveReport asks
// for a file name (TEMP.TXT proposed) and writes the report through
// SaveReportToFile; the list itself is never changed by a save.
//
// A line longer than the list is wide scrolls sideways (the list has a
// horizontal scroll bar with its style wxLB_HSCROLL).
//
// The owners keep the list bounded by dropping its oldest lines. A reader
// at the end of the list follows the newest line; one who scrolled up keeps
// seeing the same lines while older ones go.
#pragma once

#include <string>
#include <vector>
#include <wx/listbox.h>

class IMessageBoxes;

class CReportListBox : public wxListBox {
public:
    CReportListBox(wxWindow* pParent, wxWindowID nId, const wxPoint& pos,
                   const wxSize& size, long nStyle);
    ~CReportListBox() override;

    // The save dialog's title names the action ("Save Page List").
    void SetSaveTitle(const wxString& strTitle) { m_strSaveTitle = strTitle; }
    void SaveReport();

    void AddLine(const std::string& strBytes);
    void AppendLines(const wxArrayString& lines);
    std::string GetLine(unsigned nIndex) const;
    std::vector<std::string> GetLines() const;

    // Whether the reader follows the newest lines: the list was at its end
    // when the reader last scrolled it (or never scrolled).
    bool IsFollowingEnd() const { return m_bFollowEnd; }
    // Removes the first nLines lines.
    void DropOldest(unsigned nLines);
    // After lines were added or dropped: a reader following the end sees
    // the last line; one who scrolled up keeps seeing the same lines.
    void ShowChanges();

    // Where the boxes go (the application's boxes unless a test says).
    void SetMessageBoxes(IMessageBoxes* pBoxes) { m_pBoxes = pBoxes; }

private:
    void ScrollToEnd();
    // Makes the column as wide as a line that is longer than any before.
    void WidenTo(const wxString& strLine);
    void OnScrolled();

    IMessageBoxes* m_pBoxes;
    bool m_bFollowEnd = true;
    bool m_bScrolling = false;   // the list scrolls itself
    bool m_bShowPending = false; // a ShowChanges waits for the burst to end
    wxString m_strSaveTitle;
    size_t m_nLongestLine = 0; // characters of the longest line added
};
