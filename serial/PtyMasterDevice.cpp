#include "serial/PtyMasterDevice.h"

#include "serial/FdIo.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

CPtyMasterDevice::~CPtyMasterDevice() {
    Close();
}

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
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 ||
        ptsname_r(fd, szName, sizeof szName) != 0) {
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
    return fdio::Flush(m_fd, bInput, bOutput);
}

int CPtyMasterDevice::BytesWaiting(int* pnCount) {
    return fdio::BytesWaiting(m_fd, pnCount);
}

ssize_t CPtyMasterDevice::Read(unsigned char* pBuffer, size_t nSize) {
    return fdio::Read(m_fd, pBuffer, nSize);
}

ssize_t CPtyMasterDevice::Write(const char* pData, size_t nSize) {
    return fdio::Write(m_fd, pData, nSize);
}

int CPtyMasterDevice::WaitWritable(int nTimeoutMs) {
    // A virtual line without a terminal on it yet is not an error here.
    int nError = fdio::WaitWritable(m_fd, nTimeoutMs);
    return nError == EIO ? 0 : nError;
}

int CPtyMasterDevice::GetModemStatus(unsigned* pnStatus) {
    *pnStatus = 0;
    return ENOTTY; // a virtual line has no modem lines
}
