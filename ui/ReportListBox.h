// CReportListBox: a list box whose lines can be saved as a text report.
//
// Used for the page list and the protocol trace. Lines hold the bytes they
// were given (see WxText.h) and are written back unchanged. SaveReport asks
// for a file name (TEMP.TXT proposed) and writes the report through
// SaveReportToFile; the list itself is never changed by a save.
#pragma once

#include <string>
#include <vector>
#include <wx/listbox.h>

class IMessageBoxes;

class CReportListBox : public wxListBox {
public:
    CReportListBox(wxWindow* pParent, wxWindowID nId, const wxPoint& pos,
                   const wxSize& size, long nStyle);

    void SaveReport();

    void AddLine(const std::string& strBytes);
    std::string GetLine(unsigned nIndex) const;
    std::vector<std::string> GetLines() const;

    // Where the boxes go (the application's boxes unless a test says).
    void SetMessageBoxes(IMessageBoxes* pBoxes) { m_pBoxes = pBoxes; }

private:
    IMessageBoxes* m_pBoxes;
};
