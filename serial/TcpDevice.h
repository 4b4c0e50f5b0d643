// CTcpDevice: a TCP connection as the port's line (tcp-listen:..., tcp:...).
//
// To the port it is a serial device with modem lines: a connected peer is a
// line with CTS, DSR and DCD on, no peer all three off. So a caller that
// connects gets a fresh session and one that goes ends it, exactly as a
// serial caller that raises and drops DCD; the device itself is never lost.
// Bytes are bytes: no telnet negotiation, no line-end translation; Nagle is
// off and keep-alive on.
//
// Listening, it serves one peer at a time: a second connection is accepted
// and closed at once, a peer that sends nothing for ten minutes is dropped,
// and it goes on listening when a peer leaves. Connecting out, it retries a
// failed or lost connection after 1, 2, 4, then every 8 seconds.
//
// Everything happens on the port's calls (the port holds its device lock
// around each): Service, which the port calls before every reading of the
// levels (at every wake-up of the monitor thread and every 20 ms), accepts,
// refuses, completes connections and retries; GetModemStatus only says
// whether a peer is connected. PollFd is an epoll descriptor over the listener, the
// peer and a connection in progress, so one poll() sees all of them. What happened is
// kept as notes for the protocol window ("   CONNECTION REFUSED: LINE BUSY
// (10.0.0.8:40112)"), taken by the port.
#pragma once

#include "serial/SerialDevice.h"
#include "serial/TcpEndpoint.h"

#include <chrono>
#include <string>
#include <sys/socket.h>
#include <vector>

class CTcpDevice : public ISerialDevice {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kIdleLimit{10};

    CTcpDevice();
    ~CTcpDevice() override;

    // Listens, or starts connecting (a refused connection is retried, not
    // an open failure). EINVAL for a value that is no network line (see
    // GetOpenReason), or the errno of resolving, binding or listening.
    int Open(const std::string& strValue) override;
    void Close() override;
    bool IsOpen() const override { return m_epollFd >= 0; }
    int PollFd() const override { return m_epollFd; }
    int OutputFd() const override { return m_peerFd; }
    // Input: drops what the peer sent and was not read yet.
    int Flush(bool bInput, bool bOutput) override;
    int BytesWaiting(int* pnCount) override;
    // A peer that closed or failed is dropped (levels off) and the read
    // finds nothing (EAGAIN): the line is not lost.
    ssize_t Read(unsigned char* pBuffer, size_t nSize) override;
    // Without a peer the bytes go nowhere, as on a line nobody listens to.
    ssize_t Write(const char* pData, size_t nSize) override;
    int WaitWritable(int nTimeoutMs) override;
    // Accepts, refuses, completes and retries connections, drops idle peers.
    void Service() override;
    int GetModemStatus(unsigned* pnStatus) override;
    // Closes the connection; a listener takes the next caller.
    int HangUp() override;
    std::vector<std::string> TakeNotes() override;
    std::string Describe() const override;
    std::string GetOpenReason() const override { return m_strOpenReason; }

    // Tests shorten the waits.
    void SetIdleLimit(Clock::duration limit) { m_idleLimit = limit; }
    void SetRetryDelays(Clock::duration first, Clock::duration longest);

  private:
    void AcceptAll();
    void TakePeer(int fd, const std::string& strAddress);
    void DropPeer(const std::string& strNote);
    void StartConnect();
    void FinishConnect();
    void ConnectFailed(int nError);
    void Note(const std::string& strText);
    void Watch(int fd, unsigned nEvents, bool bModify = false);

    CTcpEndpoint m_endpoint;
    std::string m_strValue;      // as given to Open
    sockaddr_storage m_target{}; // where tcp: connects to
    socklen_t m_nTargetSize = 0;
    int m_epollFd = -1;
    int m_listenFd = -1;
    int m_peerFd = -1;
    int m_connectFd = -1; // a connection in progress
    std::string m_strPeer;
    std::string m_strLastFailure; // why the last connection attempt failed
    bool m_bFailureNoted = false; // once per outage
    Clock::time_point m_lastData;
    Clock::time_point m_nextAttempt;
    Clock::duration m_idleLimit = kIdleLimit;
    Clock::duration m_firstRetry = std::chrono::seconds(1);
    Clock::duration m_longestRetry = std::chrono::seconds(8);
    Clock::duration m_retry = m_firstRetry;
    std::vector<std::string> m_notes;
    std::string m_strOpenReason;
};
