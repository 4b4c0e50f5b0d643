#include "serial/PtyMasterDevice.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

CPtyMasterDevice::~CPtyMasterDevice() { Close(); }

int CPtyMasterDevice::Open(const std::string& strLink) {
    Close();
    // Never replace anything but an old link.
    struct stat st;
    if (lstat(strLink.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            return EEXIST;
        unlink(strLink.c_str());
    }
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char szName[PATH_MAX];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, szName, sizeof szName) != 0) {
        int nError = errno;
        close(fd);
        return nError;
    }
    // A raw line from the start: no echo of what is written before the
    // terminal sets its own line format.
    int slave = open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        termios tio{};
        if (tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(slave, TCSANOW, &tio);
        }
        close(slave);
    }
    if (symlink(szName, strLink.c_str()) != 0) {
        int nError = errno;
        close(fd);
        return nError;
    }
    m_fd = fd;
    m_strLink = strLink;
    m_strTerminal = szName;
    return 0;
}

void CPtyMasterDevice::Close() {
    if (m_fd < 0)
        return;
    close(m_fd);
    m_fd = -1;
    unlink(m_strLink.c_str());
}

int CPtyMasterDevice::Flush(bool bInput, bool bOutput) {
    if (!bInput && !bOutput)
        return 0;
    int queue = bInput && bOutput ? TCIOFLUSH : (bInput ? TCIFLUSH : TCOFLUSH);
    return tcflush(m_fd, queue) == 0 ? 0 : errno;
}

int CPtyMasterDevice::BytesWaiting(int* pnCount) {
    *pnCount = 0;
    return ioctl(m_fd, FIONREAD, pnCount) == 0 ? 0 : errno;
}

ssize_t CPtyMasterDevice::Read(unsigned char* pBuffer, size_t nSize) {
    ssize_t r;
    do {
        r = read(m_fd, pBuffer, nSize);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t CPtyMasterDevice::Write(const char* pData, size_t nSize) {
    ssize_t r;
    do {
        r = write(m_fd, pData, nSize);
    } while (r < 0 && errno == EINTR);
    return r;
}

int CPtyMasterDevice::WaitWritable(int nTimeoutMs) {
    pollfd pfd{m_fd, POLLOUT, 0};
    int r = poll(&pfd, 1, nTimeoutMs);
    if (r < 0)
        return errno;
    return r == 0 ? ETIMEDOUT : 0;
}

int CPtyMasterDevice::GetModemStatus(unsigned* pnStatus) {
    *pnStatus = 0;
    return ENOTTY; // a virtual line has no modem lines
}
