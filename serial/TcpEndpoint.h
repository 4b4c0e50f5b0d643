// Network lines: the device values that make a port a TCP connection.
//
//   tcp-listen:PORT, tcp-listen:ADDR:PORT  the terminal listens (ADDR
//                                          defaults to 127.0.0.1)
//   tcp:HOST:PORT                          the terminal connects out
//
// An IPv6 address stands in brackets ("tcp-listen:[::1]:2775"). Any other
// value is a device path. The names follow socat's.
#pragma once

#include <string>

struct CTcpEndpoint {
    bool bListen = false;
    std::string strHost; // address to listen on, or host to connect to
    int nPort = 0;

    // "127.0.0.1:2775", "[::1]:2775": the address as the status bar shows it.
    std::string HostPort() const;
    // Listening on anything but a loopback address: reachable from the
    // network.
    bool IsReachableFromNetwork() const;
};

constexpr const char* kDefaultListenAddress = "127.0.0.1";

// Whether the value names a network line (well formed or not).
bool IsTcpEndpoint(const std::string& strValue);

// Parses a network line. False with what is wrong ("port must be a number
// from 1 to 65535", "expected tcp:HOST:PORT").
bool ParseTcpEndpoint(const std::string& strValue, CTcpEndpoint* pEndpoint,
                      std::string* pstrError);
