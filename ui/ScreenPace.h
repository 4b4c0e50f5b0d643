// CScreenPace: runs a window's update at the screen's pace, not the line's.
//
// A list that takes a line per received block would otherwise change (and
// be laid out and repainted) once per block: at full line speed that is
// most of the program's work, and the answers wait for it. Request says
// that something changed; the update then runs once, at the next idle
// moment when the last one is at least kPaceMs ago, else when that time is
// up. A lone change shows at once; a burst costs one update per kPaceMs.
//
// User-interface thread only. The owner must outlive its pace (it is a
// member of the window whose update it runs).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <wx/timer.h>

class wxEvtHandler;

class CScreenPace {
  public:
    static constexpr int kPaceMs = 100;

    CScreenPace(wxEvtHandler* pOwner, std::function<void()> update);
    ~CScreenPace();

    CScreenPace(const CScreenPace&) = delete;
    CScreenPace& operator=(const CScreenPace&) = delete;

    void Request();

  private:
    void Run();

    wxEvtHandler* m_pOwner;
    std::function<void()> m_update;
    wxTimer m_timer;
    bool m_bPending = false;
    std::shared_ptr<bool> m_pAlive;
    std::chrono::steady_clock::time_point m_lastRun{};
};
