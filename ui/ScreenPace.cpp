#include "ui/ScreenPace.h"

#include <algorithm>
#include <wx/event.h>

CScreenPace::CScreenPace(wxEvtHandler* pOwner, std::function<void()> update)
    : m_pOwner(pOwner), m_update(std::move(update)),
      m_pAlive(std::make_shared<bool>(true)) {
    m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Run(); });
}

CScreenPace::~CScreenPace() {
    *m_pAlive = false; // an update still posted finds nothing to run
    m_timer.Stop();
}

void CScreenPace::Request() {
    if (m_bPending)
        return; // an update is on its way and takes this change with it
    m_bPending = true;
    using namespace std::chrono;
    const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - m_lastRun);
    if (elapsed.count() >= kPaceMs) {
        // At the next idle moment: the answer to what just came goes out
        // first, and what comes with it joins this update.
        std::weak_ptr<bool> alive = m_pAlive;
        m_pOwner->CallAfter([this, alive] {
            if (auto p = alive.lock(); p && *p)
                Run();
        });
    } else {
        m_timer.StartOnce(std::max(1, kPaceMs - static_cast<int>(elapsed.count())));
    }
}

void CScreenPace::Run() {
    if (!m_bPending)
        return;
    m_bPending = false;
    m_timer.Stop();
    m_lastRun = std::chrono::steady_clock::now();
    m_update();
}
