#include "serial/TcpDevice.h"

#include "serial/FdIo.h"
#include "serial/PortEvents.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr unsigned kLevelsOn = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
// Connections the kernel completes before the line takes them: callers that
// come in a burst are each taken (and all but one refused) at the next
// wake-up instead of waiting a second for their connection to be retried.
constexpr int kListenBacklog = 64;
// A peer that vanished without a word is noticed within about two minutes.
constexpr int kKeepIdleS = 60;
constexpr int kKeepIntervalS = 15;
constexpr int kKeepCount = 4;
// Input dropped by one purge at most; a peer sending faster than this is
// met again at the next purge.
constexpr size_t kPurgeLimit = 64 * 1024;

std::string AddressText(const sockaddr* pAddress) {
    char szHost[INET6_ADDRSTRLEN] = "?";
    int nPort = 0;
    if (pAddress->sa_family == AF_INET) {
        auto* p = reinterpret_cast<const sockaddr_in*>(pAddress);
        inet_ntop(AF_INET, &p->sin_addr, szHost, sizeof szHost);
        nPort = ntohs(p->sin_port);
    } else if (pAddress->sa_family == AF_INET6) {
        auto* p = reinterpret_cast<const sockaddr_in6*>(pAddress);
        inet_ntop(AF_INET6, &p->sin6_addr, szHost, sizeof szHost);
        nPort = ntohs(p->sin6_port);
        if (IN6_IS_ADDR_V4MAPPED(&p->sin6_addr)) // a v4 peer on a v6 listener
            inet_ntop(AF_INET, &p->sin6_addr.s6_addr[12], szHost, sizeof szHost);
        else
            return "[" + std::string(szHost) + "]:" + std::to_string(nPort);
    }
    return std::string(szHost) + ":" + std::to_string(nPort);
}

std::string Upper(std::string strText) {
    for (char& ch : strText)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return strText;
}

void SetUpConnection(int fd) {
    int nOn = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof nOn); // answers are small
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &nOn, sizeof nOn);
    int nIdle = kKeepIdleS, nInterval = kKeepIntervalS, nCount = kKeepCount;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &nIdle, sizeof nIdle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &nInterval, sizeof nInterval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &nCount, sizeof nCount);
}

} // namespace

CTcpDevice::CTcpDevice() = default;

CTcpDevice::~CTcpDevice() {
    Close();
}

void CTcpDevice::SetRetryDelays(Clock::duration first, Clock::duration longest) {
    m_firstRetry = first;
    m_longestRetry = longest;
    m_retry = first;
}

int CTcpDevice::Open(const std::string& strValue) {
    Close();
    m_strOpenReason.clear();
    std::string strError;
    if (!ParseTcpEndpoint(strValue, &m_endpoint, &strError)) {
        m_strOpenReason = strError;
        return EINVAL;
    }
    m_strValue = strValue;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = m_endpoint.bListen ? (AI_PASSIVE | AI_NUMERICHOST) : AI_ADDRCONFIG;
    addrinfo* pFound = nullptr;
    const std::string strPort = std::to_string(m_endpoint.nPort);
    if (int nGai =
            getaddrinfo(m_endpoint.strHost.c_str(), strPort.c_str(), &hints, &pFound)) {
        m_strOpenReason = gai_strerror(nGai);
        return nGai == EAI_SYSTEM ? errno : EHOSTUNREACH;
    }
    std::memcpy(&m_target, pFound->ai_addr, pFound->ai_addrlen);
    m_nTargetSize = pFound->ai_addrlen;
    freeaddrinfo(pFound);

    m_epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (m_epollFd < 0)
        return errno;
    if (!m_endpoint.bListen) {
        m_retry = m_firstRetry;
        m_nextAttempt = Clock::now();
        StartConnect();
        return 0;
    }
    int fd = socket(m_target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int nOn = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&m_target), m_nTargetSize) != 0 ||
        listen(fd, kListenBacklog) != 0) {
        int nError = errno;
        if (fd >= 0)
            close(fd);
        Close();
        return nError;
    }
    m_listenFd = fd;
    Watch(m_listenFd, EPOLLIN);
    return 0;
}

void CTcpDevice::Close() {
    for (int* pFd : {&m_peerFd, &m_connectFd, &m_listenFd, &m_epollFd}) {
        if (*pFd >= 0)
            close(*pFd);
        *pFd = -1;
    }
    m_strPeer.clear();
    m_notes.clear();
    m_bFailureNoted = false;
    m_strLastFailure.clear();
}

void CTcpDevice::Watch(int fd, unsigned nEvents, bool bModify) {
    epoll_event event{};
    event.events = nEvents;
    event.data.fd = fd;
    epoll_ctl(m_epollFd, bModify ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event);
}

void CTcpDevice::Note(const std::string& strText) {
    m_notes.push_back("   " + Upper(strText));
}

std::vector<std::string> CTcpDevice::TakeNotes() {
    std::vector<std::string> notes;
    notes.swap(m_notes);
    return notes;
}

std::string CTcpDevice::Describe() const {
    if (!IsOpen())
        return m_strValue;
    std::string strText =
        (m_endpoint.bListen ? "tcp-listen:" : "tcp:") + m_endpoint.HostPort();
    if (m_endpoint.IsReachableFromNetwork())
        strText += " (reachable from the network)";
    if (m_peerFd >= 0)
        return strText + (m_endpoint.bListen ? ", peer " + m_strPeer : ", connected");
    if (m_endpoint.bListen)
        return strText + ", no peer";
    return strText + ", not connected" +
           (m_strLastFailure.empty() ? std::string() : " (" + m_strLastFailure + ")");
}

void CTcpDevice::Service() {
    if (m_epollFd < 0)
        return;
    epoll_event events[4];
    int n = epoll_wait(m_epollFd, events, 4, 0);
    for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == m_listenFd) {
            AcceptAll();
        } else if (fd == m_connectFd) {
            FinishConnect();
        } else if (fd == m_peerFd &&
                   (events[i].events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP))) {
            // What the peer sent before it went is read first.
            int nWaiting = 0;
            if (ioctl(m_peerFd, FIONREAD, &nWaiting) != 0 || nWaiting == 0)
                DropPeer("connection closed by " + m_strPeer);
        }
    }
    const auto now = Clock::now();
    if (m_peerFd >= 0 && m_endpoint.bListen && now - m_lastData >= m_idleLimit)
        DropPeer(
            "no data from " + m_strPeer + " for " +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(m_idleLimit).count()) +
            " s: connection closed");
    if (!m_endpoint.bListen && m_peerFd < 0 && m_connectFd < 0 && now >= m_nextAttempt)
        StartConnect();
}

void CTcpDevice::AcceptAll() {
    for (;;) {
        sockaddr_storage address{};
        socklen_t nSize = sizeof address;
        int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&address), &nSize,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN, or a connection that went before it was taken
        const std::string strAddress =
            AddressText(reinterpret_cast<sockaddr*>(&address));
        if (m_peerFd >= 0) {
            close(fd); // one peer at a time, never mixed into the session
            Note("connection refused: line busy (" + strAddress + ")");
            continue;
        }
        TakePeer(fd, strAddress);
        Note("connection from " + strAddress);
    }
}

void CTcpDevice::TakePeer(int fd, const std::string& strAddress) {
    SetUpConnection(fd);
    m_peerFd = fd;
    m_strPeer = strAddress;
    m_lastData = Clock::now();
    Watch(fd, EPOLLIN | EPOLLRDHUP);
}

void CTcpDevice::DropPeer(const std::string& strNote) {
    if (m_peerFd < 0)
        return;
    epoll_ctl(m_epollFd, EPOLL_CTL_DEL, m_peerFd, nullptr);
    close(m_peerFd);
    m_peerFd = -1;
    Note(strNote);
    m_strPeer.clear();
    if (!m_endpoint.bListen) {
        m_retry = m_firstRetry;
        m_nextAttempt = Clock::now() + m_retry;
    }
}

void CTcpDevice::StartConnect() {
    int fd = socket(m_target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ConnectFailed(errno);
        return;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&m_target), m_nTargetSize) == 0) {
        m_connectFd = fd;
        FinishConnect();
        return;
    }
    if (errno != EINPROGRESS) {
        int nError = errno;
        close(fd);
        ConnectFailed(nError);
        return;
    }
    m_connectFd = fd;
    Watch(fd, EPOLLOUT);
}

void CTcpDevice::FinishConnect() {
    int nError = 0;
    socklen_t nSize = sizeof nError;
    if (getsockopt(m_connectFd, SOL_SOCKET, SO_ERROR, &nError, &nSize) != 0)
        nError = errno;
    int fd = m_connectFd;
    m_connectFd = -1;
    if (nError != 0) {
        close(fd); // also leaves the epoll set
        ConnectFailed(nError);
        return;
    }
    epoll_ctl(m_epollFd, EPOLL_CTL_DEL, fd, nullptr);
    TakePeer(fd, m_endpoint.HostPort());
    m_bFailureNoted = false;
    m_strLastFailure.clear();
    m_retry = m_firstRetry;
    Note("connected to " + m_endpoint.HostPort());
}

void CTcpDevice::ConnectFailed(int nError) {
    m_strLastFailure = std::strerror(nError);
    if (!m_bFailureNoted) {
        m_bFailureNoted = true;
        Note("cannot connect to " + m_endpoint.HostPort() + ": " + m_strLastFailure +
             "; trying again");
    }
    m_nextAttempt = Clock::now() + m_retry;
    m_retry = std::min(m_retry * 2, m_longestRetry);
}

int CTcpDevice::Flush(bool bInput, bool) {
    if (!bInput || m_peerFd < 0)
        return 0; // what was sent cannot be called back
    char buffer[4096];
    for (size_t nDropped = 0; nDropped < kPurgeLimit;) {
        ssize_t r = recv(m_peerFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (r > 0) {
            nDropped += static_cast<size_t>(r);
            m_lastData = Clock::now();
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            break; // nothing more, or a peer that went: the next wake-up sees it
        }
    }
    return 0;
}

int CTcpDevice::BytesWaiting(int* pnCount) {
    *pnCount = 0;
    if (m_peerFd < 0)
        return 0;
    return ioctl(m_peerFd, FIONREAD, pnCount) == 0 ? 0 : errno;
}

ssize_t CTcpDevice::Read(unsigned char* pBuffer, size_t nSize) {
    if (m_peerFd >= 0) {
        ssize_t r;
        do {
            r = recv(m_peerFd, pBuffer, nSize, MSG_DONTWAIT);
        } while (r < 0 && errno == EINTR);
        if (r > 0) {
            m_lastData = Clock::now();
            return r;
        }
        if (r == 0)
            DropPeer("connection closed by " + m_strPeer);
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            DropPeer("connection to " + m_strPeer + " lost: " + std::strerror(errno));
    }
    errno = EAGAIN;
    return -1;
}

ssize_t CTcpDevice::Write(const char* pData, size_t nSize) {
    if (m_peerFd < 0)
        return static_cast<ssize_t>(nSize);
    ssize_t r;
    do {
        r = send(m_peerFd, pData, nSize, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    if (r >= 0 || errno == EAGAIN || errno == EWOULDBLOCK)
        return r;
    DropPeer("connection to " + m_strPeer + " lost: " + std::strerror(errno));
    return static_cast<ssize_t>(nSize);
}

int CTcpDevice::WaitWritable(int nTimeoutMs) {
    if (m_peerFd < 0)
        return 0;
    const int nError = fdio::WaitWritable(m_peerFd, nTimeoutMs);
    if (nError != EIO)
        return nError;
    DropPeer("connection to " + m_strPeer + " lost");
    return 0; // what is left goes nowhere, as without a peer
}

int CTcpDevice::GetModemStatus(unsigned* pnStatus) {
    *pnStatus = m_peerFd >= 0 ? kLevelsOn : 0;
    return 0;
}

int CTcpDevice::HangUp() {
    if (m_peerFd >= 0)
        DropPeer("hung up on " + m_strPeer);
    return 0;
}
