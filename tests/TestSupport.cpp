#include "tests/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

bool CTestUiLoop::PumpUntil(const std::function<bool()>& done, int nTimeoutMs) {
    // Looked at every 5 ms: what a test waits for is often done by another
    // thread, with no job to wake the loop.
    const std::atomic<bool> bNever{false};
    m_loop.RunUntil(Clock::now() + std::chrono::milliseconds(nTimeoutMs), bNever, done,
                    5);
    return done();
}

void CTestUiLoop::PumpFor(int nMs) {
    PumpUntil([] { return false; }, nMs);
}

long CRecordingTarget::Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) {
    CNote note{nMsg, wParam, lParam, {}, std::this_thread::get_id()};
    if (nMsg == UM_PROTOCOL_TRACE) {
        std::unique_ptr<std::string> text = AdoptTraceText(lParam);
        if (text)
            note.strTrace = *text;
        note.lParam = 0;
    } else if (nMsg == UM_LINE_NOTE) {
        note.strTrace = *reinterpret_cast<const std::string*>(lParam);
        note.lParam = 0;
    }
    notes.push_back(note);
    if (onNotify)
        onNotify(notes.back());
    return 0;
}

void CRecordingTarget::OnLevel(LineLevel line, bool bOn) {
    Notify(line == LineLevel::kCts   ? UM_COMM_CTS
           : line == LineLevel::kDsr ? UM_COMM_DSR
                                     : UM_COMM_DCD,
           bOn ? 1 : 0, 0);
}

void CRecordingTarget::OnLineEvent(LineEvent event) {
    Notify(event == LineEvent::kBreak   ? UM_COMM_BREAK
           : event == LineEvent::kError ? UM_COMM_ERROR
           : event == LineEvent::kRing  ? UM_COMM_RING
                                        : UM_COMM_RXFLAG,
           0, 0);
}

size_t CRecordingTarget::Count(unsigned nMsg) const {
    size_t n = 0;
    for (const CNote& note : notes)
        n += note.nMsg == nMsg;
    return n;
}

std::vector<unsigned> CRecordingTarget::Messages() const {
    std::vector<unsigned> result;
    for (const CNote& note : notes)
        result.push_back(note.nMsg);
    return result;
}

std::string CRecordingTarget::ReceivedBytes() const {
    std::string bytes;
    for (const CNote& note : notes) {
        if (note.nMsg == UM_COMM_RXCHAR)
            bytes += static_cast<char>(note.wParam);
    }
    return bytes;
}

CLineSettings TestLine(int nPort) {
    CLineSettings line;
    line.nPort = nPort;
    line.nEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD; // 0x39
    return line;
}

CLineSettings TestLine(int nPort, int nBaud, char chParity, int nDataBits,
                       int nStopBits) {
    CLineSettings line = TestLine(nPort);
    line.format.nBaud = nBaud;
    line.format.chParity = chParity;
    line.format.nDataBits = nDataBits;
    line.format.nStopBits = nStopBits;
    return line;
}

int CRecordingBoxes::Show(const std::string& strText, const std::string& strCaption,
                          unsigned nStyle, bool bOwned) {
    boxes.push_back({strText, strCaption, nStyle, bOwned});
    return nAnswer;
}

CPtyPair::CPtyPair(bool bPacketMode, Mode mode) : m_bPacket(bPacketMode) {
    int slave = -1;
    char szName[128];
    if (openpty(&m_master, &slave, szName, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    m_strSlavePath = szName;
    if (mode == Mode::kRaw) {
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    close(slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (m_bPacket) {
        int nOn = 1;
        ioctl(m_master, TIOCPKT, &nOn);
    }
}

CPtyPair::~CPtyPair() {
    CloseMaster();
}

void CPtyPair::CloseMaster() {
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

void CPtyPair::Write(const std::string& strBytes) {
    size_t nDone = 0;
    while (nDone < strBytes.size()) {
        ssize_t r = write(m_master, strBytes.data() + nDone, strBytes.size() - nDone);
        if (r > 0) {
            nDone += static_cast<size_t>(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pfd{m_master, POLLOUT, 0};
            poll(&pfd, 1, 100);
        } else {
            throw std::runtime_error("write to pty master failed");
        }
    }
}

std::string CPtyPair::Read(size_t nCount, int nTimeoutMs) {
    std::string result;
    auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    bool bFirst = true;
    while (result.size() < nCount) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          Clock::now());
        if (left.count() <= 0 && !bFirst)
            break;
        bFirst = false;
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, std::max(0, static_cast<int>(left.count()))) <= 0)
            continue;
        char buffer[512];
        ssize_t r = read(m_master, buffer, sizeof buffer);
        if (r <= 0)
            continue;
        if (m_bPacket) {
            // Data packets start with TIOCPKT_DATA (0); control packets
            // carry no data.
            if (buffer[0] == TIOCPKT_DATA) {
                result.append(buffer + 1, static_cast<size_t>(r - 1));
                m_strPacketLog.append(buffer + 1, static_cast<size_t>(r - 1));
            } else if (buffer[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) {
                m_strPacketLog += "[flush]";
            }
        } else {
            result.append(buffer, static_cast<size_t>(r));
        }
    }
    return result;
}

std::string CPtyPair::ReadQuiet(int nQuietMs) {
    std::string result;
    for (;;) {
        std::string chunk = Read(4096, nQuietMs);
        if (chunk.empty())
            return result;
        result += chunk;
    }
}
