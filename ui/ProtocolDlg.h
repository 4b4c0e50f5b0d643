// CProtocolDlg: the protocol message window, hung directly below the main
// frame and exactly as wide. It shows the trace lines (a CReportListBox, so
// they can be saved) and a Save button. The view creates, owns and destroys
// it; its lines live only as long as the window.
//
// The lines are kept here first and brought into the list box once the
// current burst of traffic has been handled: a received character changes
// only the last line, and updating the widget for each of them would cost
// far more than the rendering itself. Between bursts the list box shows
// exactly the lines rendered.
#pragma once

#include "ui/TraceRender.h"

#include <wx/dialog.h>

#include <string>
#include <vector>

class CReportListBox;

class CProtocolDlg : public wxDialog, public ITraceList {
public:
    enum { IDC_PROTOCOL_LIST = 1023, IDC_SAVE = 1027 };

    // pView: the view that creates the window; it is owned by the frame.
    explicit CProtocolDlg(wxWindow* pView);

    // Left edge and width of the main frame, top at its bottom edge; the
    // window keeps its own height.
    void PositionBelowFrame();
    // The list box, brought up to date.
    CReportListBox& GetList();
    // Brings the list box up to date with the rendered lines.
    void Sync();

    unsigned Count() const override;
    std::string Line(unsigned nIndex) const override;
    void Delete(unsigned nIndex) override;
    void Add(const std::string& strLine) override;
    void ReplaceLast(const std::string& strLine) override;
    void ScrollToTop(unsigned nIndex) override;

private:
    void OnDblclkProtocolList();
    void OnSave();
    void MarkChanged(unsigned nFrom);

    CReportListBox* m_protocolList = nullptr;
    std::vector<std::string> m_lines; // what the list shows, up to date
    unsigned m_nValidRows = 0; // list rows that still match m_lines
    int m_nTop = -1;           // the line to show at the top, -1 for none
    bool m_bSyncPosted = false;
    wxWindow* m_pView;
};
