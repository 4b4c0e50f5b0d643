#include "session/StatusServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>

namespace {

// At most this many targets and alerts are listed: the page stays small.
constexpr size_t kListLimit = 200;

std::string Escaped(const std::string& strValue) {
    std::string strOut;
    for (char ch : strValue) {
        if (ch == '\\' || ch == '"')
            strOut += '\\';
        if (ch == '\n') {
            strOut += "\\n";
            continue;
        }
        strOut += ch;
    }
    return strOut;
}

std::string Trimmed(const std::string& strText) {
    const size_t nEnd = strText.find_last_not_of(' ');
    return nEnd == std::string::npos ? std::string() : strText.substr(0, nEnd + 1);
}

std::string Number(double dValue) {
    if (std::isnan(dValue))
        return "NaN";
    std::ostringstream out;
    out.precision(15);
    out << dValue;
    return out.str();
}

class CText {
  public:
    void Head(const char* szName, const char* szType, const char* szHelp) {
        m_out << "# HELP " << szName << ' ' << szHelp << "\n# TYPE " << szName << ' '
              << szType << '\n';
    }
    void Sample(const std::string& strName, const std::string& strLabels,
                double dValue) {
        m_out << strName;
        if (!strLabels.empty())
            m_out << '{' << strLabels << '}';
        m_out << ' ' << Number(dValue) << '\n';
    }
    std::string Text() const { return m_out.str(); }

  private:
    std::ostringstream m_out;
};

std::string PortLabel(const CPortStatus& port) {
    return "port=\"" + std::to_string(port.nPort) + "\"";
}

std::string TargetLabel(const CTargetMetrics& target) {
    return "target=\"" + Escaped(target.strName) + "\"";
}

MHD_Result Answer(MHD_Connection* pConnection, unsigned nStatus,
                  const std::string& strBody, const char* szType,
                  bool bAllowHeader = false) {
    MHD_Response* pResponse = MHD_create_response_from_buffer(
        strBody.size(), const_cast<char*>(strBody.data()), MHD_RESPMEM_MUST_COPY);
    if (pResponse == nullptr)
        return MHD_NO;
    MHD_add_response_header(pResponse, "Content-Type", szType);
    MHD_add_response_header(pResponse, "Cache-Control", "no-store");
    if (bAllowHeader)
        MHD_add_response_header(pResponse, "Allow", "GET, HEAD");
    const MHD_Result result = MHD_queue_response(pConnection, nStatus, pResponse);
    MHD_destroy_response(pResponse);
    return result;
}

MHD_Result OnRequest(void* pContext, MHD_Connection* pConnection, const char* szUrl,
                     const char* szMethod, const char*, const char*,
                     size_t* pnUploadSize, void** ppRequest) {
    // The first call only announces the request; a body is never read.
    static int nSeen;
    if (*ppRequest == nullptr) {
        *ppRequest = &nSeen;
        return MHD_YES;
    }
    if (*pnUploadSize != 0) {
        *pnUploadSize = 0; // dropped unread
        return MHD_YES;
    }
    const char* const kText = "text/plain; charset=utf-8";
    const std::string strUrl = szUrl;
    const bool bKnown =
        strUrl == "/metrics" || strUrl == "/healthz" || strUrl == "/readyz";
    if (!bKnown)
        return Answer(pConnection, MHD_HTTP_NOT_FOUND, "not found\n", kText);
    if (std::strcmp(szMethod, MHD_HTTP_METHOD_GET) != 0 &&
        std::strcmp(szMethod, MHD_HTTP_METHOD_HEAD) != 0)
        return Answer(pConnection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n",
                      kText, true);
    const CStatusSnapshot snapshot = static_cast<CStatusServer*>(pContext)->Snapshot();
    if (strUrl == "/metrics")
        return Answer(pConnection, MHD_HTTP_OK, MetricsText(snapshot),
                      "text/plain; version=0.0.4; charset=utf-8");
    if (strUrl == "/readyz")
        return snapshot.bReady ? Answer(pConnection, MHD_HTTP_OK, "ready\n", kText)
                               : Answer(pConnection, MHD_HTTP_SERVICE_UNAVAILABLE,
                                        "not ready\n", kText);
    std::string strBody;
    const int nStatus = HealthStatus(snapshot, &strBody);
    return Answer(pConnection, static_cast<unsigned>(nStatus), strBody, kText);
}

void DropLog(void*, const char*, va_list) {}

} // namespace

bool ParseListenAddress(const std::string& strText, std::string* pstrHost, int* pnPort,
                        std::string* pstrError) {
    std::string strHost = "127.0.0.1";
    std::string strPort = strText;
    if (!strText.empty() && strText[0] == '[') {
        const size_t nClose = strText.find("]:");
        if (nClose == std::string::npos) {
            *pstrError = "an IPv6 address goes in brackets before the port: [::1]:9100";
            return false;
        }
        strHost = strText.substr(1, nClose - 1);
        strPort = strText.substr(nClose + 2);
    } else if (strText.find(':') != std::string::npos) {
        strHost = strText.substr(0, strText.rfind(':'));
        strPort = strText.substr(strText.rfind(':') + 1);
    }
    unsigned char addr[sizeof(in6_addr)];
    if (inet_pton(AF_INET, strHost.c_str(), addr) != 1 &&
        inet_pton(AF_INET6, strHost.c_str(), addr) != 1) {
        *pstrError = "not an IP address: " + strHost;
        return false;
    }
    if (strPort.empty() || strPort.size() > 5 ||
        strPort.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(strPort) > 65535) {
        *pstrError = "the port is a number from 1 to 65535: [ADDRESS:]PORT";
        return false;
    }
    *pstrHost = strHost;
    *pnPort = std::stoi(strPort);
    return true;
}

std::string MetricsText(const CStatusSnapshot& snapshot) {
    CText text;
    const auto perPort = [&](const char* szName, const char* szType, const char* szHelp,
                             auto value) {
        text.Head(szName, szType, szHelp);
        for (const CPortStatus& port : snapshot.ports)
            text.Sample(szName, PortLabel(port), static_cast<double>(value(port)));
    };
    perPort("volnex_line_up", "gauge", "1 while the port's line is open.",
            [](const CPortStatus& p) { return p.bLineOpen ? 1 : 0; });
    text.Head("volnex_line_state", "gauge",
              "The session state now (1 for the state named).");
    for (const CPortStatus& port : snapshot.ports)
        text.Sample(
            "volnex_line_state",
            PortLabel(port) + ",state=\"" + Escaped(Trimmed(port.strState)) + "\"", 1);
    perPort("volnex_device_present", "gauge", "1 while the port's device is there.",
            [](const CPortStatus& p) { return p.bDevicePresent ? 1 : 0; });
    perPort("volnex_sessions_total", "counter", "Logons completed.",
            [](const CPortStatus& p) { return p.nSessions; });
    text.Head("volnex_pages_total", "counter", "Page results by verdict.");
    for (const CPortStatus& port : snapshot.ports) {
        if (port.pages.count("accepted") == 0)
            text.Sample("volnex_pages_total", PortLabel(port) + ",result=\"accepted\"",
                        0);
        for (const auto& entry : port.pages)
            text.Sample("volnex_pages_total",
                        PortLabel(port) + ",result=\"" + Escaped(entry.first) + "\"",
                        static_cast<double>(entry.second));
    }
    perPort("volnex_blocks_total", "counter", "Blocks received.",
            [](const CPortStatus& p) { return p.nBlocks; });
    perPort("volnex_naks_total", "counter", "NAKs sent.",
            [](const CPortStatus& p) { return p.nNaks; });
    text.Head("volnex_answer_latency_seconds", "histogram",
              "From the last byte received to the answer (ACK, NAK or RS).");
    for (const CPortStatus& port : snapshot.ports) {
        std::uint64_t nCumulative = 0;
        for (size_t i = 0; i <= kLatencyBounds.size(); ++i) {
            nCumulative += port.latency.buckets[i];
            const std::string strLe =
                i < kLatencyBounds.size() ? Number(kLatencyBounds[i]) : "+Inf";
            text.Sample("volnex_answer_latency_seconds_bucket",
                        PortLabel(port) + ",le=\"" + strLe + "\"",
                        static_cast<double>(nCumulative));
        }
        text.Sample("volnex_answer_latency_seconds_sum", PortLabel(port),
                    port.latency.dSumSeconds);
        text.Sample("volnex_answer_latency_seconds_count", PortLabel(port),
                    static_cast<double>(port.latency.nCount));
    }
    text.Head("volnex_seconds_since_last_page", "gauge",
              "Seconds since the last page result (NaN: none yet).");
    for (const CPortStatus& port : snapshot.ports)
        text.Sample("volnex_seconds_since_last_page", PortLabel(port),
                    port.nLastPageMs == 0
                        ? std::nan("")
                        : static_cast<double>(snapshot.nNowMs - port.nLastPageMs) /
                              1000);

    const size_t nTargets = std::min(snapshot.targets.size(), kListLimit);
    const auto perTarget = [&](const char* szName, const char* szType,
                               const char* szHelp, auto value) {
        if (nTargets == 0)
            return;
        text.Head(szName, szType, szHelp);
        for (size_t i = 0; i < nTargets; ++i)
            text.Sample(szName, TargetLabel(snapshot.targets[i]),
                        static_cast<double>(value(snapshot.targets[i])));
    };
    perTarget("volnex_target_delivered_total", "counter", "Pages delivered.",
              [](const CTargetMetrics& t) { return t.nDelivered; });
    perTarget("volnex_target_failed_total", "counter", "Pages refused for good.",
              [](const CTargetMetrics& t) { return t.nFailed; });
    perTarget("volnex_target_expired_total", "counter",
              "Pages that expired undelivered.",
              [](const CTargetMetrics& t) { return t.nExpired; });
    perTarget("volnex_target_attempts_total", "counter",
              "Delivery attempts in this run.",
              [](const CTargetMetrics& t) { return t.nAttempts; });
    perTarget("volnex_target_pending", "gauge", "Pages waiting for the target.",
              [](const CTargetMetrics& t) { return t.nPending; });
    perTarget(
        "volnex_target_oldest_pending_age_seconds", "gauge",
        "Age of the oldest page waiting (0: none).", [&](const CTargetMetrics& t) {
            return t.nOldestPendingMs == 0
                       ? 0.0
                       : static_cast<double>(snapshot.nNowMs - t.nOldestPendingMs) /
                             1000;
        });
    if (snapshot.bOutbox) {
        text.Head("volnex_outbox_bytes", "gauge", "Size of the outbox file.");
        text.Sample("volnex_outbox_bytes", "",
                    static_cast<double>(snapshot.nOutboxBytes));
    }
    text.Head("volnex_alerts_active", "gauge", "Alerts active now.");
    text.Sample("volnex_alerts_active", "",
                static_cast<double>(snapshot.alerts.size()));
    text.Head("volnex_alert", "gauge", "1 for each alert active now.");
    for (size_t i = 0; i < std::min(snapshot.alerts.size(), kListLimit); ++i) {
        const CActiveAlert& alert = snapshot.alerts[i];
        text.Sample("volnex_alert",
                    "condition=\"" + Escaped(alert.strCondition) + "\",port=\"" +
                        std::to_string(alert.nPort) + "\",target=\"" +
                        Escaped(alert.strTarget) + "\"",
                    1);
    }
    return text.Text();
}

int HealthStatus(const CStatusSnapshot& snapshot, std::string* pstrBody) {
    std::string strReasons;
    for (const CPortStatus& port : snapshot.ports) {
        if (!port.bLineOpen)
            strReasons += "port " + std::to_string(port.nPort) + ": line not open (" +
                          Trimmed(port.strState) + ")\n";
    }
    for (size_t i = 0; i < std::min(snapshot.alerts.size(), kListLimit); ++i)
        strReasons += "alert: " + snapshot.alerts[i].strText + "\n";
    if (strReasons.empty()) {
        *pstrBody = "ok\n";
        return MHD_HTTP_OK;
    }
    *pstrBody = strReasons;
    return MHD_HTTP_SERVICE_UNAVAILABLE;
}

CStatusServer::~CStatusServer() {
    Stop();
}

bool CStatusServer::Start(const std::string& strHost, int nPort,
                          std::string* pstrError) {
    sockaddr_storage address{};
    socklen_t nLength = 0;
    unsigned nFlags = MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG;
    if (strHost.find(':') != std::string::npos) {
        auto* p6 = reinterpret_cast<sockaddr_in6*>(&address);
        p6->sin6_family = AF_INET6;
        p6->sin6_port = htons(static_cast<uint16_t>(nPort));
        inet_pton(AF_INET6, strHost.c_str(), &p6->sin6_addr);
        nLength = sizeof(sockaddr_in6);
        nFlags |= MHD_USE_IPv6;
    } else {
        auto* p4 = reinterpret_cast<sockaddr_in*>(&address);
        p4->sin_family = AF_INET;
        p4->sin_port = htons(static_cast<uint16_t>(nPort));
        inet_pton(AF_INET, strHost.c_str(), &p4->sin_addr);
        nLength = sizeof(sockaddr_in);
    }
    (void)nLength;
    errno = 0;
    m_pDaemon = MHD_start_daemon(
        nFlags, static_cast<uint16_t>(nPort), nullptr, nullptr, &OnRequest, this,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
        MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kPerAddressLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kRequestMemory, MHD_OPTION_EXTERNAL_LOGGER, &DropLog, nullptr, MHD_OPTION_END);
    if (m_pDaemon == nullptr) {
        const int nError = errno;
        *pstrError =
            "cannot listen on " + strHost + ":" + std::to_string(nPort) + ": " +
            (nError != 0 ? std::strerror(nError) : "the HTTP server did not start");
        return false;
    }
    const MHD_DaemonInfo* pInfo =
        MHD_get_daemon_info(m_pDaemon, MHD_DAEMON_INFO_BIND_PORT);
    m_nPort = pInfo != nullptr ? pInfo->port : nPort;
    return true;
}

void CStatusServer::Publish(CStatusSnapshot snapshot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_snapshot = std::move(snapshot);
}

CStatusSnapshot CStatusServer::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_snapshot;
}

void CStatusServer::Stop() {
    if (m_pDaemon != nullptr) {
        MHD_stop_daemon(m_pDaemon);
        m_pDaemon = nullptr;
    }
}
