#include "serial/TermiosDevice.h"

#include "serial/FdIo.h"
#include "serial/PortEvents.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct CSpeed {
    int nBaud;
    speed_t speed;
};

constexpr CSpeed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool FindSpeed(int nBaud, speed_t* pSpeed) {
    for (const CSpeed& s : kSpeeds) {
        if (s.nBaud == nBaud) {
            *pSpeed = s.speed;
            return true;
        }
    }
    return false;
}

int RetryIoctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

// Sets or clears one modem control line. A device without modem lines
// (a pseudo-terminal) has nothing to set, which is not a failure.
int SetLine(int fd, int nBit, bool bOn) {
    int r = RetryIoctl(fd, bOn ? TIOCMBIS : TIOCMBIC, &nBit);
    return r == ENOTTY ? 0 : r;
}

// Binary line: no translation, no echo, no signals, no parity checks, no
// software flow control, reads that never wait; the modem lines do not
// gate receiving. The speed and character format are left as they are.
void MakeBinary(termios* pTio) {
    pTio->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                       IXON | IXOFF | IXANY | INPCK);
    pTio->c_oflag &= ~OPOST;
    pTio->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    pTio->c_cflag |= CLOCAL | CREAD;
    pTio->c_cc[VMIN] = 0;
    pTio->c_cc[VTIME] = 0;
}

} // namespace

struct CTermiosDevice::CSaved {
    termios original{}; // as found at open, restored at close
    bool bHaveOriginal = false;
    termios current{}; // as read by ReadSettings
    bool bHaveCurrent = false;
};

CTermiosDevice::CTermiosDevice() : m_pSaved(std::make_unique<CSaved>()) {}

CTermiosDevice::~CTermiosDevice() {
    Close();
}

bool CTermiosDevice::IsSupportedBaud(int nBaud) {
    speed_t speed;
    return FindSpeed(nBaud, &speed);
}

bool CTermiosDevice::CanOpen(const std::string& strPath) {
    int fd = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool bTerminal = isatty(fd) != 0;
    close(fd);
    return bTerminal;
}

int CTermiosDevice::Open(const std::string& strPath) {
    Close();
    int fd = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // A file, /dev/null or a FIFO opens too, but it has no line to set up.
    if (!isatty(fd)) {
        close(fd);
        return ENOTTY;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return err;
    }
    ioctl(fd, TIOCEXCL);
    m_fd = fd;
    m_strPath = strPath;
    *m_pSaved = CSaved();
    if (tcgetattr(fd, &m_pSaved->original) == 0)
        m_pSaved->bHaveOriginal = true;
    return 0;
}

void CTermiosDevice::Close() {
    if (m_fd < 0)
        return;
    // The last answer (ESC EOT CR at shut-down) leaves at the line format it
    // was written in, before the settings found at open come back.
    fdio::WaitOutputSent(m_fd, kCloseDrainMs);
    if (m_pSaved->bHaveOriginal)
        tcsetattr(m_fd, TCSANOW, &m_pSaved->original);
    ioctl(m_fd, TIOCNXCL);
    close(m_fd);
    m_fd = -1;
}

int CTermiosDevice::ReadSettings() {
    if (m_fd < 0)
        return EBADF;
    if (tcgetattr(m_fd, &m_pSaved->current) != 0)
        return errno;
    m_pSaved->bHaveCurrent = true;
    return 0;
}

int CTermiosDevice::BinarySettings(termios* pTio) {
    if (m_fd < 0)
        return EBADF;
    if (!m_pSaved->bHaveCurrent) {
        int err = ReadSettings();
        if (err != 0)
            return err;
    }
    *pTio = m_pSaved->current;
    MakeBinary(pTio);
    return 0;
}

int CTermiosDevice::WriteBinaryMode() {
    termios tio;
    if (int err = BinarySettings(&tio))
        return err;
    if (tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return errno;
    m_pSaved->current = tio;
    return 0;
}

int CTermiosDevice::WriteSettings(const CLineFormat& format,
                                  const CFlowControlModes& flow) {
    if (m_fd < 0)
        return EBADF;
    speed_t speed;
    if (!FindSpeed(format.nBaud, &speed)) {
        // Still a binary line, at the speed it has.
        int err = WriteBinaryMode();
        return err != 0 ? err : EINVAL;
    }
    termios tio;
    if (int err = BinarySettings(&tio))
        return err;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (format.nDataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
    }
    switch (format.chParity) {
    case 'E': tio.c_cflag |= PARENB; break;
    case 'O': tio.c_cflag |= PARENB | PARODD; break;
    case 'M': tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 'S': tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (format.nStopBits == 2)
        tio.c_cflag |= CSTOPB;
    // RTS handshake and CTS output flow are one setting on Linux.
    if ((flow.nRts & 3) == 2 || (flow.nCts & 1))
        tio.c_cflag |= CRTSCTS;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return errno;
    m_pSaved->current = tio;

    int firstFailure = 0;
    auto note = [&](int err) {
        if (err != 0 && firstFailure == 0)
            firstFailure = err;
    };
    switch (flow.nRts & 3) {
    case 0: note(SetLine(m_fd, TIOCM_RTS, false)); break;
    case 1: note(SetLine(m_fd, TIOCM_RTS, true)); break;
    case 2: break; // driven by the driver (CRTSCTS)
    case 3: {
        // RTS raised while sending: the driver's RS-485 mode, where it has one.
        serial_rs485 rs485{};
        rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        if (RetryIoctl(m_fd, TIOCSRS485, &rs485) != 0)
            note(EOPNOTSUPP);
        break;
    }
    }
    switch (flow.nDtr & 3) {
    case 0: note(SetLine(m_fd, TIOCM_DTR, false)); break;
    case 1: note(SetLine(m_fd, TIOCM_DTR, true)); break;
    default: note(EOPNOTSUPP); break; // Linux has no DTR handshake
    }
    if (flow.nDsr & 1)
        note(EOPNOTSUPP); // nor output flow control by DSR
    return firstFailure;
}

int CTermiosDevice::Flush(bool bInput, bool bOutput) {
    return fdio::Flush(m_fd, bInput, bOutput);
}

int CTermiosDevice::BytesWaiting(int* pnCount) {
    return fdio::BytesWaiting(m_fd, pnCount);
}

ssize_t CTermiosDevice::Read(unsigned char* pBuffer, size_t nSize) {
    return fdio::Read(m_fd, pBuffer, nSize);
}

ssize_t CTermiosDevice::Write(const char* pData, size_t nSize) {
    return fdio::Write(m_fd, pData, nSize);
}

int CTermiosDevice::WaitWritable(int nTimeoutMs) {
    return fdio::WaitWritable(m_fd, nTimeoutMs);
}

int CTermiosDevice::GetModemStatus(unsigned* pnStatus) {
    *pnStatus = 0;
    if (m_fd < 0)
        return EBADF;
    int bits = 0;
    int err = RetryIoctl(m_fd, TIOCMGET, &bits);
    if (err != 0)
        return err;
    if (bits & TIOCM_CTS)
        *pnStatus |= MS_CTS_ON;
    if (bits & TIOCM_DSR)
        *pnStatus |= MS_DSR_ON;
    if (bits & TIOCM_RI)
        *pnStatus |= MS_RING_ON;
    if (bits & TIOCM_CD)
        *pnStatus |= MS_RLSD_ON;
    return 0;
}

int CTermiosDevice::HangUp() {
    if (m_fd < 0)
        return EBADF;
    int bits = 0;
    int err = RetryIoctl(m_fd, TIOCMGET, &bits);
    if (err == ENOTTY) {
        // A pseudo-terminal has no DTR: closing its side is its hang-up.
        m_pHangUpSaved = std::make_unique<CSaved>(*m_pSaved);
        const std::string strPath = m_strPath;
        Close();
        m_strPath = strPath;
        m_bClosedForHangUp = true;
        return 0;
    }
    if (err != 0)
        return err;
    m_bRaiseDtr = (bits & TIOCM_DTR) != 0;
    return SetLine(m_fd, TIOCM_DTR, false);
}

int CTermiosDevice::EndHangUp() {
    if (m_bClosedForHangUp) {
        m_bClosedForHangUp = false;
        // Opened again it takes the next call, with the settings it had.
        if (int err = Open(m_strPath))
            return err;
        if (m_pHangUpSaved && m_pHangUpSaved->bHaveCurrent &&
            tcsetattr(m_fd, TCSANOW, &m_pHangUpSaved->current) == 0) {
            m_pSaved->current = m_pHangUpSaved->current;
            m_pSaved->bHaveCurrent = true;
        }
        m_pHangUpSaved.reset();
        return 0;
    }
    if (m_bRaiseDtr && m_fd >= 0) {
        m_bRaiseDtr = false;
        return SetLine(m_fd, TIOCM_DTR, true);
    }
    return 0;
}
