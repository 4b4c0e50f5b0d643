// CServiceNotify: what a service under systemd tells its manager: ready
// once the line is open, a one-line status, stopping, and the watchdog's
// keep-alive from the session's own tick, so that a hung session stops
// the keep-alives and gets the service restarted. Without systemd
// (no NOTIFY_SOCKET) every call does nothing.
#pragma once

#include "session/StatusSnapshot.h"

#include <chrono>
#include <cstdint>
#include <string>

class CServiceNotify {
  public:
    CServiceNotify();
    void Ready();
    // Sent only when it changed.
    void Status(const std::string& strStatus);
    void Stopping();
    // Called from the session's tick: WATCHDOG=1 at most every half of the
    // watchdog's interval (WatchdogSec=).
    void WatchdogTick();

  private:
    void Send(const std::string& strState);
    std::uint64_t m_nWatchdogUs = 0; // 0: no watchdog
    std::chrono::steady_clock::time_point m_lastKeepAlive{};
    std::string m_strStatus;
    bool m_bReady = false;
};

// "port 1 WAITING FOR CR, 12 pages (11 accepted), 0 pending, no alerts"
std::string ServiceStatusLine(const CStatusSnapshot& snapshot);
