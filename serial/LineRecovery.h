// CLineRecovery: brings the line back by itself after a hang-up or a lost
// device (an unplugged USB adapter, a virtual line whose other end went).
//
// The owner ticks it with its 100 ms timer and tells it whether the port has
// lost its device. From the loss on it checks once a second whether the
// device path opens again as a terminal; when it does, Tick says so and the
// owner sets the port up as Logon does. A set-up that fails keeps it
// watching; one that works, or the operator's own Logon, ends the watch, and
// the operator's Logoff cancels it (the line then stays off until Logon).
// The check opens and closes the path without keeping it; it is injected so
// that tests need no device. Used on the user-interface thread only.
#pragma once

#include <functional>
#include <string>

class CLineRecovery {
  public:
    using Probe = std::function<bool(const std::string& strPath)>;
    static constexpr int kCheckTicks = 10; // once a second

    explicit CLineRecovery(Probe probe);

    // One timer tick. True when the device at the lost path opens again and
    // the port should be set up anew.
    bool Tick(bool bDeviceLost, const std::string& strDevicePath);
    // The port was set up and has its device: nothing to wait for.
    void Recovered();
    // The operator ended the session: the line does not come back by itself.
    void Cancel();

    bool IsWaiting() const { return m_bWaiting; }
    // The device waited for; empty when nothing is lost.
    std::string GetLostPath() const { return m_bWaiting ? m_strPath : std::string(); }

  private:
    Probe m_probe;
    bool m_bWaiting = false;
    bool m_bCancelled = false; // until the port is set up again
    int m_nTicks = 0;
    std::string m_strPath;
};
