#include "headless/OutputStream.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

COutputStream::COutputStream(int fd) : m_fd(fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return;
    if (S_ISSOCK(st.st_mode)) {
        m_bSocket = true;
    } else if (S_ISFIFO(st.st_mode)) {
        // Opening the pipe again gives a description of its own: setting it
        // non-blocking leaves the one the shell and its other children
        // share untouched. A pipe with no reader left cannot be opened so;
        // its first write then fails with EPIPE as it should.
        const std::string strPath = "/proc/self/fd/" + std::to_string(fd);
        const int nOwn = open(strPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (nOwn >= 0) {
            if (dup3(nOwn, fd, 0) < 0) // fd keeps its number, now non-blocking
                m_nOwnFd = nOwn;
            else
                close(nOwn);
        }
    }
}

COutputStream::~COutputStream() {
    if (m_nOwnFd >= 0)
        close(m_nOwnFd);
}

ssize_t COutputStream::WriteSome(const char* pData, size_t nSize) {
    const int fd = m_nOwnFd >= 0 ? m_nOwnFd : m_fd;
    for (;;) {
        const ssize_t n = m_bSocket
                              ? send(fd, pData, nSize, MSG_DONTWAIT | MSG_NOSIGNAL)
                              : write(fd, pData, nSize);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

COutputStream::Result COutputStream::WriteFront(long long nDeadlineMs,
                                                const std::atomic<bool>* pbStop) {
    const std::string& strLine = m_pending.front();
    for (;;) {
        const ssize_t n =
            WriteSome(strLine.data() + m_nFrontDone, strLine.size() - m_nFrontDone);
        if (n > 0) {
            m_nFrontDone += static_cast<size_t>(n);
            if (m_nFrontDone == strLine.size()) {
                m_pending.pop_front();
                m_nFrontDone = 0;
                return Result::kWritten;
            }
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_nError = errno;
            return Result::kFailed;
        }
        if (n == 0) {
            m_nError = EIO;
            return Result::kFailed;
        }
        const long long nLeft = nDeadlineMs - NowMs();
        if (nLeft <= 0 || (pbStop != nullptr && *pbStop))
            return Result::kBehind;
        pollfd pfd{m_nOwnFd >= 0 ? m_nOwnFd : m_fd, POLLOUT, 0};
        // Woken by the reader, a signal, or at least every 100 ms to look
        // at the stop flag.
        poll(&pfd, 1, static_cast<int>(nLeft < 100 ? nLeft : 100));
        if (pfd.revents & (POLLERR | POLLNVAL)) {
            // The next write says why.
            continue;
        }
    }
}

COutputStream::Result COutputStream::Write(const std::string& strLine, int nWaitMs,
                                           const std::atomic<bool>* pbStop) {
    if (m_nError != 0)
        return Result::kFailed;
    if (!m_pending.empty()) {
        if (!FlushPending(0))
            return Result::kFailed;
        if (!m_pending.empty())
            return Result::kBehind;
    }
    m_pending.push_back(strLine);
    const Result result = WriteFront(NowMs() + nWaitMs, pbStop);
    // A line the reader took in part stays (its rest goes first); one it
    // took nothing of is not written at all.
    if (result != Result::kWritten && m_nFrontDone == 0)
        m_pending.pop_back();
    else if (result == Result::kBehind)
        return Result::kWritten;
    return result;
}

bool COutputStream::WriteOrQueue(const std::string& strLine) {
    if (m_nError != 0)
        return false;
    if (m_pending.empty()) {
        const Result result = Write(strLine, 0);
        if (result != Result::kBehind)
            return result == Result::kWritten;
    }
    if (m_pending.size() >= kPendingLimit) {
        ++m_nDropped;
        return true;
    }
    m_pending.push_back(strLine);
    return true;
}

bool COutputStream::FlushPending(int nWaitMs, const std::atomic<bool>* pbStop) {
    const long long nDeadlineMs = NowMs() + nWaitMs;
    while (!m_pending.empty() && m_nError == 0) {
        if (WriteFront(nDeadlineMs, pbStop) != Result::kWritten)
            break;
    }
    return m_nError == 0;
}
