#include "serial/FdIo.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace fdio {

ssize_t Read(int fd, unsigned char* pBuffer, size_t nSize) {
    ssize_t r;
    do {
        r = read(fd, pBuffer, nSize);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t Write(int fd, const char* pData, size_t nSize) {
    ssize_t r;
    do {
        r = write(fd, pData, nSize);
    } while (r < 0 && errno == EINTR);
    return r;
}

int WaitWritable(int fd, int nTimeoutMs) {
    pollfd pfd{fd, POLLOUT, 0};
    int r;
    do {
        r = poll(&pfd, 1, nTimeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return errno;
    if (r == 0)
        return ETIMEDOUT;
    if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))
        return EIO;
    return 0;
}

int BytesWaiting(int fd, int* pnCount) {
    *pnCount = 0;
    if (fd < 0)
        return EBADF;
    int r;
    do {
        r = ioctl(fd, FIONREAD, pnCount);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

int Flush(int fd, bool bInput, bool bOutput) {
    if (fd < 0)
        return EBADF;
    if (!bInput && !bOutput)
        return 0;
    int queue = bInput && bOutput ? TCIOFLUSH : (bInput ? TCIFLUSH : TCOFLUSH);
    return tcflush(fd, queue) == 0 ? 0 : errno;
}

bool WaitOutputSent(int fd, int nTimeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        int nQueued = 0;
        if (ioctl(fd, TIOCOUTQ, &nQueued) != 0)
            return true; // nothing to ask: nothing to wait for
        bool bSent = nQueued == 0;
        unsigned nStatus = 0;
        // A UART also holds bytes in its FIFO and shift register.
        if (bSent && ioctl(fd, TIOCSERGETLSR, &nStatus) == 0)
            bSent = (nStatus & TIOCSER_TEMT) != 0;
        if (bSent)
            return true;
        if (Clock::now() >= deadline)
            return false;
        poll(nullptr, 0, 5);
    }
}

} // namespace fdio
