#include "headless/ServiceNotify.h"

#include <systemd/sd-daemon.h>

CServiceNotify::CServiceNotify() {
    uint64_t nUs = 0;
    if (sd_watchdog_enabled(0, &nUs) > 0)
        m_nWatchdogUs = nUs;
}

void CServiceNotify::Send(const std::string& strState) {
    sd_notify(0, strState.c_str());
}

void CServiceNotify::Ready() {
    if (m_bReady)
        return;
    m_bReady = true;
    Send("READY=1");
}

void CServiceNotify::Status(const std::string& strStatus) {
    if (strStatus == m_strStatus)
        return;
    m_strStatus = strStatus;
    Send("STATUS=" + strStatus);
}

void CServiceNotify::Stopping() {
    Send("STOPPING=1");
}

void CServiceNotify::WatchdogTick() {
    if (m_nWatchdogUs == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastKeepAlive < std::chrono::microseconds(m_nWatchdogUs / 2))
        return;
    m_lastKeepAlive = now;
    Send("WATCHDOG=1");
}

std::string ServiceStatusLine(const CStatusSnapshot& snapshot) {
    std::string strLine;
    for (const CPortStatus& port : snapshot.ports) {
        std::uint64_t nPages = 0;
        for (const auto& entry : port.pages)
            nPages += entry.second;
        const auto accepted = port.pages.find("accepted");
        std::string strState = port.strState;
        while (!strState.empty() && strState.back() == ' ')
            strState.pop_back();
        strLine += "port " + std::to_string(port.nPort) + " " + strState + ", " +
                   std::to_string(nPages) + " pages (" +
                   std::to_string(accepted == port.pages.end() ? 0 : accepted->second) +
                   " accepted)";
    }
    std::uint64_t nPending = 0;
    for (const CTargetMetrics& target : snapshot.targets)
        nPending += target.nPending;
    if (snapshot.bOutbox)
        strLine += ", " + std::to_string(nPending) + " pending";
    if (snapshot.alerts.empty()) {
        strLine += ", no alerts";
    } else {
        strLine += ", " + std::to_string(snapshot.alerts.size()) +
                   (snapshot.alerts.size() == 1 ? " alert: " : " alerts: ");
        for (size_t i = 0; i < snapshot.alerts.size(); ++i)
            strLine += (i == 0 ? "" : "; ") + snapshot.alerts[i].strText;
    }
    // A status line, not a report.
    if (strLine.size() > 400)
        strLine = strLine.substr(0, 397) + "...";
    return strLine;
}
