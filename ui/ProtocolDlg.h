// CProtocolDlg: the protocol message window, hung directly below the main
// frame and exactly as wide, also when the frame is narrower than the
// window's own layout. It shows the trace lines (a CReportListBox, so they
// can be saved) and a Save button. The view creates, owns and destroys it;
// its lines live only as long as the window. Closing it (the window
// manager's close, Alt+F4) is the same as switching it off in the View menu.
//
// The lines are kept here first and brought into the list box at the
// screen's pace (CScreenPace): a received character changes only the last
// line, and updating the widget for each of them, or for each block at full
// line speed, would cost far more than the rendering itself and delay the
// answers. Between bursts the list box shows exactly the lines rendered.
//
// With the hex view on (View > Protocol Bytes in Hex, kept in the profile
// as ViewProtocolHex) each line shows the hex of the bytes it stands for
// after its text; the rendered lines themselves do not change. With the
// time view on (View > Protocol Times, kept as ViewProtocolTimes) each line
// starts with the local time it began, "HH:MM:SS.mmm ". A saved report
// holds the lines as shown.
#pragma once

#include "session/TraceRender.h"
#include "ui/ScreenPace.h"

#include <wx/dialog.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

class CReportListBox;

class CProtocolDlg : public wxDialog, public ITraceList {
  public:
    enum { IDC_PROTOCOL_LIST = 1023, IDC_SAVE = 1027 };

    // pView: the view that creates the window; it is owned by the frame.
    // onClose runs when the operator closes the window.
    CProtocolDlg(wxWindow* pView, std::function<void()> onClose = {});

    // Left edge and width of the main frame, top at its bottom edge; the
    // window keeps its own height.
    void PositionBelowFrame();
    // The frame's width at its first size: up to there the window shows its
    // own layout; wider (the user made the frame larger), the list and the
    // title take the room and the Save button moves along.
    void SetBaseWidth(int nFrameWidth);
    // The list box, brought up to date (with what the view still holds for
    // it, through catchUp).
    CReportListBox& GetList();
    void SetCatchUp(std::function<void()> catchUp) { m_catchUp = std::move(catchUp); }
    // Brings the list box up to date with the rendered lines.
    void Sync();

    unsigned Count() const override;
    std::string Line(unsigned nIndex) const override;
    void DropOldest() override;
    void Add(const std::string& strLine) override;
    void ReplaceLast(const std::string& strLine) override;
    void NoteBytes(const std::string& strBytes) override;

    // The profile key of the hex view, and the view itself.
    static constexpr const char* kHexKey = "ViewProtocolHex";
    void SetHexView(bool bHex);
    bool IsHexView() const { return m_bHex; }
    static constexpr const char* kTimesKey = "ViewProtocolTimes";
    void SetTimesView(bool bTimes);
    bool IsTimesView() const { return m_bTimes; }
    // When the text rendered next came (ms since the epoch): the time a
    // line it starts shows. The lines are drawn later, at the screen's pace.
    void SetLineTime(std::int64_t nTimeMs) { m_nLineTimeMs = nTimeMs; }

  private:
    // Places the controls for the window's present size.
    void PlaceControls();
    void OnDblclkProtocolList();
    void OnSave();
    void MarkChanged(unsigned nFrom);

    CReportListBox* m_protocolList = nullptr;
    wxWindow* m_pTitle = nullptr;
    wxWindow* m_pSave = nullptr;
    wxSize m_baseClient;                        // the window's own layout
    wxRect m_listBase, m_titleBase, m_saveBase; // where that layout puts them
    std::deque<std::string> m_lines;            // what the list shows, up to date
    std::deque<std::string> m_hex;              // per line: the hex of its bytes
    std::deque<std::string> m_times; // per line: when it began, "HH:MM:SS.mmm "
    bool m_bHex = false;
    bool m_bTimes = false;
    std::int64_t m_nLineTimeMs = 0;
    // The list box's rows: first m_nDroppedRows rows whose lines are gone,
    // then m_nValidRows rows that match the first lines, then stale ones.
    unsigned m_nDroppedRows = 0;
    unsigned m_nValidRows = 0;
    wxWindow* m_pView;
    std::function<void()> m_onClose;
    std::function<void()> m_catchUp;
    CScreenPace m_pace{this, [this] { Sync(); }};
};
