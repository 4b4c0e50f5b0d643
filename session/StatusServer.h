// CStatusServer: the status page over HTTP (StatusListen=): /metrics in the
// Prometheus text format, /healthz and /readyz for probes. libmicrohttpd
// serves it on a thread of its own; it renders each answer from the last
// snapshot the session's thread published and never calls the session.
// Bounded: small request memory (a huge request line is refused), idle
// connections time out, and a limit on connections in all and per address.
#pragma once

#include "session/StatusSnapshot.h"

#include <mutex>
#include <string>

struct MHD_Daemon;

// "[ADDRESS:]PORT": 9100 is 127.0.0.1:9100 (loopback unless an address is
// given), 0.0.0.0:9100, [::1]:9100. Port 0 takes any free port. False, with
// what is wrong, for anything else.
bool ParseListenAddress(const std::string& strText, std::string* pstrHost, int* pnPort,
                        std::string* pstrError);

// The Prometheus text of a snapshot (series per port, per target, alerts).
std::string MetricsText(const CStatusSnapshot& snapshot);
// /healthz: 200 with "ok" when every line is open and no alert is active,
// else 503 with one line per reason.
int HealthStatus(const CStatusSnapshot& snapshot, std::string* pstrBody);

class CStatusServer {
  public:
    static constexpr unsigned kConnectionLimit = 64;
    static constexpr unsigned kPerAddressLimit = 16;
    static constexpr unsigned kIdleSeconds = 5;
    static constexpr size_t kRequestMemory = 16 * 1024;

    CStatusServer() = default;
    ~CStatusServer();
    CStatusServer(const CStatusServer&) = delete;
    CStatusServer& operator=(const CStatusServer&) = delete;

    // False, with the address and the reason, when it cannot listen.
    bool Start(const std::string& strHost, int nPort, std::string* pstrError);
    int GetPort() const { return m_nPort; }
    void Publish(CStatusSnapshot snapshot);
    void Stop();
    // The last snapshot published (a copy, for one answer).
    CStatusSnapshot Snapshot() const;

  private:
    MHD_Daemon* m_pDaemon = nullptr;
    int m_nPort = 0;
    mutable std::mutex m_mutex;
    CStatusSnapshot m_snapshot;
};
