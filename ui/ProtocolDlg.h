// CProtocolDlg: the protocol message window, hung directly below the main
// frame and exactly as wide. It shows the trace lines (a CReportListBox, so
// they can be saved) and a Save button. The view creates, owns and destroys
// it; its lines live only as long as the window.
#pragma once

#include "ui/TraceRender.h"

#include <wx/dialog.h>

class CReportListBox;

class CProtocolDlg : public wxDialog, public ITraceList {
public:
    enum { IDC_PROTOCOL_LIST = 1023, IDC_SAVE = 1027 };

    // pView: the view that creates the window; it is owned by the frame.
    explicit CProtocolDlg(wxWindow* pView);

    // Left edge and width of the main frame, top at its bottom edge; the
    // window keeps its own height.
    void PositionBelowFrame();
    CReportListBox& GetList() { return *m_protocolList; }

    unsigned Count() const override;
    std::string Line(unsigned nIndex) const override;
    void Delete(unsigned nIndex) override;
    void Add(const std::string& strLine) override;
    void ReplaceLast(const std::string& strLine) override;
    void ScrollToTop(unsigned nIndex) override;

private:
    void OnDblclkProtocolList();
    void OnSave();

    CReportListBox* m_protocolList = nullptr;
    wxWindow* m_pView;
};
