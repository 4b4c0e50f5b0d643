#include "serial/TcpEndpoint.h"

#include <arpa/inet.h>
#include <cctype>

namespace {

constexpr const char* kListenPrefix = "tcp-listen:";
constexpr const char* kConnectPrefix = "tcp:";

bool StartsWith(const std::string& strText, const char* szPrefix) {
    return strText.compare(0, std::string(szPrefix).size(), szPrefix) == 0;
}

bool ParsePort(const std::string& strText, int* pnPort) {
    if (strText.empty() || strText.size() > 5)
        return false;
    int nPort = 0;
    for (char ch : strText) {
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            return false;
        nPort = nPort * 10 + (ch - '0');
    }
    if (nPort < 1 || nPort > 65535)
        return false;
    *pnPort = nPort;
    return true;
}

// "HOST:PORT", "[V6]:PORT", or (bPortAlone) "PORT".
bool SplitHostPort(const std::string& strText, bool bPortAlone, std::string* pstrHost,
                   std::string* pstrPort) {
    if (!strText.empty() && strText[0] == '[') {
        size_t nClose = strText.find(']');
        if (nClose == std::string::npos || nClose + 1 >= strText.size() ||
            strText[nClose + 1] != ':')
            return false;
        *pstrHost = strText.substr(1, nClose - 1);
        *pstrPort = strText.substr(nClose + 2);
        return !pstrHost->empty();
    }
    size_t nColon = strText.rfind(':');
    if (nColon == std::string::npos) {
        if (!bPortAlone)
            return false;
        pstrHost->clear();
        *pstrPort = strText;
        return true;
    }
    *pstrHost = strText.substr(0, nColon);
    *pstrPort = strText.substr(nColon + 1);
    // A bare IPv6 address has more colons: it must be in brackets.
    return !pstrHost->empty() && pstrHost->find(':') == std::string::npos;
}

} // namespace

std::string CTcpEndpoint::HostPort() const {
    const bool bV6 = strHost.find(':') != std::string::npos;
    return (bV6 ? "[" + strHost + "]" : strHost) + ":" + std::to_string(nPort);
}

bool CTcpEndpoint::IsReachableFromNetwork() const {
    if (!bListen)
        return false;
    in_addr v4{};
    if (inet_pton(AF_INET, strHost.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) != 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, strHost.c_str(), &v6) == 1)
        return !IN6_IS_ADDR_LOOPBACK(&v6);
    return strHost != "localhost";
}

bool IsTcpEndpoint(const std::string& strValue) {
    return StartsWith(strValue, kListenPrefix) || StartsWith(strValue, kConnectPrefix);
}

bool ParseTcpEndpoint(const std::string& strValue, CTcpEndpoint* pEndpoint,
                      std::string* pstrError) {
    CTcpEndpoint endpoint;
    std::string strRest;
    if (StartsWith(strValue, kListenPrefix)) {
        endpoint.bListen = true;
        strRest = strValue.substr(std::string(kListenPrefix).size());
    } else if (StartsWith(strValue, kConnectPrefix)) {
        strRest = strValue.substr(std::string(kConnectPrefix).size());
    } else {
        *pstrError = "not a network line";
        return false;
    }
    std::string strHost, strPort;
    if (!SplitHostPort(strRest, endpoint.bListen, &strHost, &strPort)) {
        *pstrError = endpoint.bListen
                         ? "expected tcp-listen:PORT or tcp-listen:ADDRESS:PORT"
                         : "expected tcp:HOST:PORT";
        return false;
    }
    if (!ParsePort(strPort, &endpoint.nPort)) {
        *pstrError = "port must be a number from 1 to 65535";
        return false;
    }
    endpoint.strHost = strHost.empty() ? kDefaultListenAddress : strHost;
    if (endpoint.bListen) {
        in_addr v4{};
        in6_addr v6{};
        if (inet_pton(AF_INET, endpoint.strHost.c_str(), &v4) != 1 &&
            inet_pton(AF_INET6, endpoint.strHost.c_str(), &v6) != 1) {
            *pstrError = "listen on an IP address of this computer, not '" +
                         endpoint.strHost + "'";
            return false;
        }
    }
    *pEndpoint = endpoint;
    return true;
}
