#include "serial/CommPort.h"

#include "engine/ControlNames.h"
#include "serial/CommDefinition.h"
#include "serial/MessageBoxes.h"
#include "serial/OpenErrorText.h"
#include "serial/TcpDevice.h"
#include "serial/TermiosDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// The port whose monitor thread is the calling thread, if any.
thread_local const CCommPort* t_pMonitorOf = nullptr;

// How often real modem lines are read while nothing else happens.
constexpr int kLinePollMs = 20;
// Bytes read from the device at once; they are still delivered one by one.
constexpr size_t kReadChunk = 256;

constexpr unsigned kLevelBits = MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;
constexpr unsigned kVirtualLevels = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;

// The errors of a device that hung up or went away (an unplugged adapter).
bool IsLostDeviceError(int nError) {
    return nError == EIO || nError == ENXIO || nError == ENODEV;
}

// Both descriptors are open on the same file (the same connection, the same
// terminal).
bool SameFile(int fdA, int fdB) {
    struct stat a = {};
    struct stat b = {};
    if (fdA < 0 || fdB < 0 || fstat(fdA, &a) != 0 || fstat(fdB, &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Line-level bits that a change of which counts as a line event.
unsigned WatchedLevels(unsigned nEventMask) {
    unsigned nBits = 0;
    if (nEventMask & EV_CTS)
        nBits |= MS_CTS_ON;
    if (nEventMask & EV_DSR)
        nBits |= MS_DSR_ON;
    if (nEventMask & EV_RLSD)
        nBits |= MS_RLSD_ON;
    if (nEventMask & EV_RING)
        nBits |= MS_RING_ON;
    return nBits;
}

} // namespace

CCommPort::CCommPort() : CCommPort(std::make_unique<CTermiosDevice>()) {
    m_bChooseDevice = true;
}

CCommPort::CCommPort(std::unique_ptr<ISerialDevice> pDevice)
    : m_pDevice(std::move(pDevice)) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_resolver = [](int nPort) { return "/dev/ttyS" + std::to_string(nPort - 1); };
}

CCommPort::~CCommPort() {
    StopMonitor();
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_pDevice->Close();
    }
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void CCommPort::SetUiPoster(CSyncCall::Poster poster) {
    m_sync.SetPoster(std::move(poster));
}

void CCommPort::SetDeviceResolver(DeviceResolver resolver) {
    m_resolver = std::move(resolver);
}

bool CCommPort::Setup(IPortEvents* pOwner, const CLineSettings& line) {
    StopMonitor();
    m_bWriteRequested = false;
    m_bHangUpRequested = false;
    m_bDeviceLost = false;
    m_bHangupSeen = false;
    m_bNoModemLines = false;

    m_pOwner = pOwner;
    m_nPortNumber = line.nPort;
    {
        std::lock_guard<std::mutex> lock(m_outLock);
        m_nOutBufferSize = line.nOutBufferSize;
        m_strOutBuffer.clear();
    }
    // The format is judged as the text a port definition is made of, so
    // that what it cannot take fails where operators know it: BuildCommDCB().
    const CLineFormat& format = line.format;
    std::string strDefinition = FormatCommDefinition(
        format.nBaud, format.chParity, format.nDataBits, format.nStopBits);

    CFlowControlModes flow;
    flow.nRts = line.flow.nRts & 3;
    flow.nDtr = line.flow.nDtr & 3;
    flow.nCts = line.flow.nCts & 1;
    flow.nDsr = line.flow.nDsr & 1;
    std::vector<CPortError> errors;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_bDeviceRecorded = true;
        if (!OpenDevice(line.nPort))
            return false;
        // Read and write time-outs are kept by FlushOutput itself; nothing
        // to set on the device for them, nor for the event mask.
        m_nEventMask = line.nEventMask;
        ApplyLineSettings(strDefinition, flow, &errors);
    }
    if (m_bHoldSetupReports)
        m_heldErrors = errors;
    else
        ReportErrors(errors);
    return true;
}

bool CCommPort::OpenDevice(int nPort) {
    const std::string strPath = m_resolver ? m_resolver(nPort) : std::string();
    // A network line set up again for the same endpoint keeps its listener
    // and its peer: Logon does not cut off a caller.
    const bool bKeep =
        m_pDevice->IsOpen() && strPath == m_strDevicePath && IsTcpEndpoint(strPath);
    m_strDevicePath = strPath;
    if (!bKeep) {
        m_pDevice->Close();
        if (m_bChooseDevice && IsTcpEndpoint(strPath) != m_bTcpDevice) {
            m_bTcpDevice = IsTcpEndpoint(strPath);
            if (m_bTcpDevice)
                m_pDevice = std::make_unique<CTcpDevice>();
            else
                m_pDevice = std::make_unique<CTermiosDevice>();
        }
        if (int nError = m_pDevice->Open(m_strDevicePath)) {
            const std::string strReason = m_pDevice->GetOpenReason();
            m_strOpenError = strReason.empty() ? OpenErrorText(m_strDevicePath, nError)
                                               : m_strDevicePath + ": " + strReason;
            if (m_explainOpenError)
                m_strOpenError =
                    m_explainOpenError(nPort, m_strDevicePath, m_strOpenError);
            return false;
        }
    }
    m_strOpenError.clear();
    return true;
}

void CCommPort::ApplyLineSettings(const std::string& strDefinition,
                                  const CFlowControlModes& flow,
                                  std::vector<CPortError>* pErrors) {
    CLineFormat format;
    int nError;
    ILineFormatDevice* pDevice = m_pDevice->GetLineFormat();
    if (IsTcpEndpoint(m_strDevicePath) || pDevice == nullptr) {
        // A network line has no line format: whatever the profile holds for
        // it is not used, so it is not judged either.
    } else if ((nError = pDevice->ReadSettings()) != 0) {
        pErrors->push_back({"GetCommState()", nError});
    } else if (!ParseCommDefinition(strDefinition, &format)) {
        pErrors->push_back({"BuildCommDCB()", EINVAL});
        // The line still gets no echo, no translation and no signal
        // characters, at the speed it has: a caller's CR must not arrive as
        // LF, nor EOT as end-of-file.
        pDevice->WriteBinaryMode();
    } else if ((nError = pDevice->WriteSettings(format, flow)) != 0) {
        pErrors->push_back({"SetCommState()", nError});
    }
    if (int nPurgeError =
            PurgeDevice(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        pErrors->push_back({"PurgeComm()", nPurgeError});
}

void CCommPort::ReleaseSetupReports() {
    m_bHoldSetupReports = false;
    std::vector<CPortError> errors;
    errors.swap(m_heldErrors);
    ReportErrors(errors);
}

void CCommPort::ReportErrors(const std::vector<CPortError>& errors) {
    for (const CPortError& error : errors)
        ReportError(error.szCall, error.nError);
}

bool CCommPort::StartMonitor() {
    StopMonitor();
    if (!m_sync.HasPoster())
        return false;
    m_bStopRequested = false;
    m_bThreadExited = false;
    std::promise<void> started;
    m_pStarted = &started;
    try {
        m_thread = std::thread(&CCommPort::MonitorProc, this);
    } catch (const std::system_error&) {
        m_bThreadExited = true;
        m_pStarted = nullptr;
        return false;
    }
    // Bytes that arrive from now on are not lost to the thread's start-up
    // purge.
    started.get_future().wait();
    m_pStarted = nullptr;
    return true;
}

void CCommPort::StopMonitor() {
    if (!m_thread.joinable())
        return;
    ++m_nGeneration; // what this run still delivers is stale from here on
    m_bStopRequested = true;
    Wake();
    // The thread may be waiting for this thread to handle a notification:
    // serve it until the thread has ended.
    m_sync.ServeUntil([this] { return m_bThreadExited.load(); });
    m_thread.join();
    m_bStopRequested = false;
}

void CCommPort::Wake() {
    uint64_t nOne = 1;
    if (m_wakeFd >= 0) {
        ssize_t r = write(m_wakeFd, &nOne, sizeof nOne);
        (void)r; // a full counter already wakes the thread
    }
}

void CCommPort::QueueWrite(const std::string& strText) {
    if (m_pTap != nullptr)
        m_pTap->OnQueueWrite(strText);
    {
        std::lock_guard<std::mutex> lock(m_outLock);
        if (m_nOutBufferSize == 0)
            return; // not set up: there is no output buffer
        // The buffer holds one NUL-terminated text.
        size_t nLength = strText.find('\0');
        if (nLength == std::string::npos)
            nLength = strText.size();
        if (nLength > m_nOutBufferSize - 1)
            nLength = m_nOutBufferSize - 1;
        m_strOutBuffer.assign(strText, 0, nLength);
    }
    m_bWriteRequested = true;
    Wake();
}

void CCommPort::Purge(unsigned nFlags) {
    if (m_pTap != nullptr)
        m_pTap->OnPurge(nFlags);
    if (nFlags & PURGE_RXCLEAR)
        ++m_nRxPurges;
    if (nFlags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
        // Output that the monitor thread has not written yet goes too.
        std::lock_guard<std::mutex> lock(m_outLock);
        m_strOutBuffer.clear();
    }
    int nError;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        nError = PurgeDevice(nFlags);
    }
    if (nError != 0)
        ReportError("PurgeComm()", nError);
}

int CCommPort::PurgeDevice(unsigned nFlags) {
    if (!m_pDevice->IsOpen() || m_bDeviceLost)
        return 0;
    int nError =
        m_pDevice->Flush((nFlags & PURGE_RXCLEAR) != 0, (nFlags & PURGE_TXCLEAR) != 0);
    if (IsLostDeviceError(nError)) {
        m_bHangupSeen = true; // the monitor thread reports the loss as levels off
        return 0;
    }
    return nError;
}

unsigned CCommPort::ReadLevels(int* pnError) {
    *pnError = 0;
    if (!m_pDevice->IsOpen() || m_bDeviceLost)
        return 0;
    if (m_bNoModemLines)
        return kVirtualLevels; // known since the first query: no need to ask again
    unsigned nStatus = 0;
    m_pDevice->Service();
    int nError = m_pDevice->GetModemStatus(&nStatus);
    if (nError == ENOTTY) {
        m_bNoModemLines = true;
        return kVirtualLevels;
    }
    if (nError != 0) {
        *pnError = nError;
        return 0;
    }
    return nStatus & kLevelBits;
}

int CCommPort::QueryDsr(bool bRefresh) {
    return QueryLevel(bRefresh, MS_DSR_ON, m_nDsrLevel, LineLevel::kDsr);
}

int CCommPort::QueryDcd(bool bRefresh) {
    return QueryLevel(bRefresh, MS_RLSD_ON, m_nDcdLevel, LineLevel::kDcd);
}

int CCommPort::QueryLevel(bool bRefresh, unsigned nBit, std::atomic<int>& nLevel,
                          LineLevel line) {
    if (!bRefresh)
        return nLevel;
    int nError;
    unsigned nStatus;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        nStatus = ReadLevels(&nError);
    }
    if (nError != 0)
        ReportError("GetCommModemStatus()", nError);
    nLevel = (nStatus & nBit) ? 1 : 0;
    SendLevel(line, nLevel.load() != 0);
    return nLevel;
}

bool CCommPort::OnMonitorHop() const {
    // A delivery that runs on the monitor thread itself (an inline lock) is
    // in the owner's place already: what it calls goes straight through.
    return t_pMonitorOf == this && !CSyncCall::IsRunningInline();
}

void CCommPort::SendLevel(LineLevel line, bool bOn) {
    IPortEvents* pOwner = m_pOwner;
    if (pOwner == nullptr)
        return;
    if (OnMonitorHop()) {
        // Once a stop is asked for, the thread starts no new delivery; the
        // one in progress is completed by StopMonitor.
        if (!m_bStopRequested)
            m_sync.Call([=] { pOwner->OnLevel(line, bOn); });
    } else
        pOwner->OnLevel(line, bOn);
}

void CCommPort::ReportError(const char* szCall, int nError) {
    std::string strText = std::string("WARNING:  ") + szCall +
                          " Failed with the following error: \n" + SystemText(nError) +
                          "\nPort: " + std::to_string(m_nPortNumber) + "\n";
    IMessageBoxes* pBoxes = m_pBoxes;
    auto show = [pBoxes, strText] {
        if (pBoxes != nullptr)
            pBoxes->Show(strText, kPortErrorTitle, MB_OK | MB_ICONSTOP, false);
        else
            std::fprintf(stderr, "%s: %s", kPortErrorTitle, strText.c_str());
    };
    if (OnMonitorHop())
        m_sync.Call(show);
    else
        show();
}

void CCommPort::MonitorProc() {
    t_pMonitorOf = this;
    m_bMonitorAlive = true;
    CMonitorLevels levels = BeginMonitor();
    while (!m_bStopRequested) {
        const bool bWatchDevice = m_pDevice->IsOpen() && !m_bDeviceLost;
        short nDeviceEvents = 0;
        const Wait wait = WaitForEvent(bWatchDevice, levels, &nDeviceEvents);
        if (wait == Wait::kInterrupted)
            continue;
        if (wait == Wait::kFailed)
            break; // the wait cannot work again; stop rather than spin
        if (m_bStopRequested)
            break;

        bool bLineEvent = false;
        bool bHangup = false;
        if (bWatchDevice)
            LookAtDevice(nDeviceEvents, &levels, &bLineEvent, &bHangup);
        DeliverDeviceNotes();
        // A hung-up line is one event with every level off. Bytes still
        // readable then belong to a session that is over: the levels going
        // off end it and the engine would discard them.
        if (bHangup) {
            if (!m_bDeviceLost)
                HandleLostDevice();
        } else if (bLineEvent) {
            HandleLineEvent();
        }
        if (m_bStopRequested)
            break;
        if (m_bWriteRequested)
            FlushOutput();
        if (m_bHangUpRequested.exchange(false)) {
            HangUpLine();
            levels.nLast = 0; // the next reading that finds them on is an event
        }
    }
    // An answer queued before the stop (the logoff at shut-down) still
    // reaches the line.
    if (m_bWriteRequested)
        FlushOutput();
    m_bMonitorAlive = false;
    t_pMonitorOf = nullptr;
    m_bThreadExited = true;
    m_sync.Kick();
}

CCommPort::CMonitorLevels CCommPort::BeginMonitor() {
    std::vector<CPortError> startErrors;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (int nPurgeError = PurgeDevice(PURGE_TXABORT | PURGE_RXABORT |
                                          PURGE_TXCLEAR | PURGE_RXCLEAR))
            startErrors.push_back({"PurgeComm()", nPurgeError});
    }
    CMonitorLevels levels;
    levels.nWatched = WatchedLevels(m_nEventMask);
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        unsigned nStatus = 0;
        if (m_pDevice->IsOpen())
            m_pDevice->Service();
        levels.bRealLines =
            m_pDevice->IsOpen() && m_pDevice->GetModemStatus(&nStatus) == 0;
        int nError = 0;
        levels.nLast = ReadLevels(&nError);
    }
    // The UI thread waits in StartMonitor until here: only now may this
    // thread wait for it to show a box.
    m_pStarted->set_value();
    ReportErrors(startErrors);
    return levels;
}

CCommPort::Wait CCommPort::WaitForEvent(bool bWatchDevice, const CMonitorLevels& levels,
                                        short* pnDeviceEvents) {
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {-1, 0, 0}};
    if (bWatchDevice) {
        fds[1].fd = m_pDevice->PollFd();
        fds[1].events = (m_nEventMask & EV_RXCHAR) ? POLLIN : 0;
    }
    const int nTimeout =
        (bWatchDevice && levels.bRealLines && levels.nWatched) ? kLinePollMs : -1;
    const int r = poll(fds, 2, nTimeout);
    ++m_nWakeups;
    if (r < 0) {
        if (errno == EINTR)
            return Wait::kInterrupted;
        ReportError("WaitCommEvent()", errno);
        return Wait::kFailed;
    }
    if (fds[0].revents & POLLIN) {
        uint64_t nCount;
        ssize_t n = read(m_wakeFd, &nCount, sizeof nCount);
        (void)n;
    }
    *pnDeviceEvents = fds[1].revents;
    return Wait::kReady;
}

void CCommPort::LookAtDevice(short nEvents, CMonitorLevels* pLevels, bool* pbLineEvent,
                             bool* pbHangup) {
    if (nEvents & POLLIN)
        *pbLineEvent = true;
    if (nEvents & (POLLHUP | POLLERR | POLLNVAL)) {
        *pbHangup = true;
        m_bHangupSeen = true;
    }
    if (!pLevels->bRealLines || *pbHangup)
        return;
    int nError = 0;
    unsigned nLevels;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        nLevels = ReadLevels(&nError);
    }
    if (nError != 0) {
        ReportError("GetCommModemStatus()", nError);
        *pbHangup = true; // the device has gone
    } else if ((nLevels ^ pLevels->nLast) & pLevels->nWatched) {
        *pbLineEvent = true;
    }
    pLevels->nLast = nLevels;
}

void CCommPort::HandleLineEvent() {
    int nError;
    unsigned nLevels;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        nLevels = ReadLevels(&nError);
    }
    std::vector<CPortNote> notes;
    if (m_nEventMask & EV_CTS)
        notes.push_back(CPortNote::Level(LineLevel::kCts, (nLevels & MS_CTS_ON) != 0));
    if (m_nEventMask & EV_DSR) {
        m_nDsrLevel = static_cast<int>(nLevels & MS_DSR_ON);
        notes.push_back(CPortNote::Level(LineLevel::kDsr, (nLevels & MS_DSR_ON) != 0));
    }
    if (m_nEventMask & EV_RLSD) {
        m_nDcdLevel = static_cast<int>(nLevels & MS_RLSD_ON);
        notes.push_back(CPortNote::Level(LineLevel::kDcd, (nLevels & MS_RLSD_ON) != 0));
    }
    if (m_nEventMask & EV_RXFLAG)
        notes.push_back(CPortNote::Event(LineEvent::kEventChar));
    if (m_nEventMask & EV_BREAK)
        notes.push_back(CPortNote::Event(LineEvent::kBreak));
    if (m_nEventMask & EV_ERR)
        notes.push_back(CPortNote::Event(LineEvent::kError));
    if (m_nEventMask & EV_RING)
        notes.push_back(CPortNote::Event(LineEvent::kRing));
    if (!(m_nEventMask & EV_RXCHAR)) {
        SendBatch(std::move(notes));
        return;
    }
    if (!DrainInput(std::move(notes)) && !m_bDeviceLost)
        HandleLostDevice();
}

void CCommPort::RequestHangUp() {
    m_bHangUpRequested = true;
    Wake();
}

void CCommPort::HangUpLine() {
    int nError;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        nError = m_pDevice->IsOpen() && !m_bDeviceLost ? m_pDevice->HangUp() : 0;
    }
    std::vector<std::string> texts;
    if (nError != 0)
        texts.push_back("   TEST MODE: THE LINE CANNOT BE HUNG UP: " +
                        SystemText(nError));
    // The session ends as for a caller that dropped the line.
    SendLineNews(texts, true);
    if (nError != 0)
        return;
    // Long enough for any sender or modem to notice; a stop ends it early.
    // Wake-ups already counted (the write of the last answer) do not.
    uint64_t nCount;
    ssize_t n = read(m_wakeFd, &nCount, sizeof nCount);
    (void)n;
    pollfd wake{m_wakeFd, POLLIN, 0};
    if (!m_bStopRequested)
        poll(&wake, 1, ISerialDevice::kHangUpMs);
    int nEndError;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        nEndError = m_pDevice->EndHangUp();
    }
    // A device that cannot be opened again is lost: it is watched for.
    if (nEndError != 0 && !m_bDeviceLost)
        HandleLostDevice();
}

void CCommPort::DeliverDeviceNotes() {
    std::vector<std::string> texts;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        texts = m_pDevice->TakeNotes();
    }
    SendLineNews(texts, false);
}

bool CCommPort::IsNetworkLine() const {
    return IsTcpEndpoint(m_strDevicePath);
}

std::string CCommPort::DescribeLine() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_pDevice->Describe();
}

void CCommPort::SendBatch(std::vector<CPortNote> notes) {
    IPortEvents* pOwner = m_pOwner;
    if (pOwner == nullptr || notes.empty() || m_bStopRequested)
        return;
    // The job owns what it delivers: a handler that sets the port up again
    // releases this thread, which then ends while the job still runs.
    auto pBatch = std::make_shared<CBatch>();
    pBatch->notes = std::move(notes);
    pBatch->nRxPurges = m_nRxPurges;
    pBatch->nGeneration = m_nGeneration;
    while (pBatch->nNext < pBatch->notes.size()) {
        const size_t nFirst = pBatch->nNext;
        m_sync.Call([this, pOwner, pBatch] { DeliverBatch(pOwner, *pBatch); });
        if (m_bStopRequested || m_nGeneration != pBatch->nGeneration ||
            pBatch->nNext == nFirst)
            return;
        // The answer to what was just delivered goes out before anything
        // read after it is delivered.
        if (m_bWriteRequested)
            FlushOutput();
        if (m_bHangUpRequested)
            return; // the call ends: what is left of it is not delivered
    }
}

void CCommPort::DeliverBatch(IPortEvents* pOwner, CBatch& batch) {
    // One hop to the UI thread for several notes. A received byte that a
    // purge since the batch was read would have discarded from the device
    // queue is discarded here, so the engine sees exactly what it would
    // have seen reading byte by byte.
    const size_t nFirst = batch.nNext;
    for (size_t i = nFirst; i < batch.notes.size(); ++i) {
        if (i > nFirst && m_nGeneration != batch.nGeneration)
            return; // no new delivery once a stop is asked for
        const CPortNote& note = batch.notes[i];
        if (note.kind == CPortNote::Kind::kByte && m_nRxPurges != batch.nRxPurges) {
            batch.nNext = batch.notes.size();
            return;
        }
        batch.nNext = i + 1;
        switch (note.kind) {
        case CPortNote::Kind::kByte: pOwner->OnByte(note.chByte); break;
        case CPortNote::Kind::kLevel: pOwner->OnLevel(note.level, note.bOn); break;
        case CPortNote::Kind::kEvent: pOwner->OnLineEvent(note.event); break;
        case CPortNote::Kind::kNote: pOwner->OnLineNote(note.strText); break;
        }
        if (m_bWriteRequested || m_bHangUpRequested)
            return; // carried out on the monitor thread before the next note
    }
}

void CCommPort::HandleLostDevice() {
    // One line event with every level off ends the session; the device is
    // not touched again until the next Setup.
    m_bDeviceLost = true;
    SendLineNews({}, true);
    std::lock_guard<std::mutex> lock(m_outLock);
    m_strOutBuffer.clear();
    m_bWriteRequested = false;
}

void CCommPort::SendLineNews(const std::vector<std::string>& texts, bool bLevelsOff) {
    std::vector<CPortNote> notes;
    for (const std::string& strText : texts)
        notes.push_back(CPortNote::Note(strText));
    if (bLevelsOff) {
        if (m_nEventMask & EV_CTS)
            notes.push_back(CPortNote::Level(LineLevel::kCts, false));
        if (m_nEventMask & EV_DSR) {
            m_nDsrLevel = 0;
            notes.push_back(CPortNote::Level(LineLevel::kDsr, false));
        }
        if (m_nEventMask & EV_RLSD) {
            m_nDcdLevel = 0;
            notes.push_back(CPortNote::Level(LineLevel::kDcd, false));
        }
    }
    SendBatch(std::move(notes));
}

bool CCommPort::DrainInput(std::vector<CPortNote> notes) {
    // The wake-up's level messages are sent on every way out, before any
    // report. A hang-up asked for ends the call: nothing more is read.
    while (!m_bStopRequested && !m_bDeviceLost && !m_bHangUpRequested) {
        unsigned char buffer[kReadChunk];
        ssize_t r;
        int nError = 0;
        {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            int nWaiting = 0;
            nError = m_pDevice->BytesWaiting(&nWaiting);
            if (nError == 0 && nWaiting == 0)
                break;
            r = nError != 0
                    ? -1
                    : m_pDevice->Read(buffer,
                                      std::min<size_t>(sizeof buffer,
                                                       static_cast<size_t>(nWaiting)));
            if (r < 0 && nError == 0)
                nError = errno;
        }
        for (ssize_t i = 0; i < r; ++i)
            notes.push_back(CPortNote::Byte(buffer[i]));
        SendBatch(std::move(notes));
        notes.clear();
        if (r > 0)
            continue;
        if (r == 0) {
            m_bHangupSeen = true;
            return false;
        }
        if (nError == EAGAIN || nError == EWOULDBLOCK)
            return true;
        // A failed read delivers nothing. A read failing after a hang-up is
        // the hang-up itself, reported by the level messages alone.
        if (!m_bHangupSeen && nError != EIO)
            ReportError("ReadFile()", nError);
        return false;
    }
    SendBatch(std::move(notes));
    return true;
}

void CCommPort::FlushOutput() {
    std::string strText;
    {
        std::lock_guard<std::mutex> lock(m_outLock);
        strText.swap(m_strOutBuffer); // taken: a purge can no longer drop it
        // Cleared once taken, so that an answer seen as no longer queued
        // (IsOutputQueued) is one that will be written.
        m_bWriteRequested = false;
    }
    std::vector<CPortError> errors;
    std::string strUnsent;
    WriteOutput(strText, &errors, &strUnsent);
    ReportErrors(errors);
    if (!strUnsent.empty())
        NoteUnsent(strText, strUnsent);
}

void CCommPort::WriteOutput(const std::string& strText,
                            std::vector<CPortError>* pErrors, std::string* pstrUnsent) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(m_nWriteTimeoutMs);
    size_t nDone = 0;
    int nWaitFd = -1; // the device's output descriptor, duplicated for an unlocked wait
    for (;;) {
        {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            if (!m_pDevice->IsOpen() || m_bDeviceLost)
                break; // nothing can be written to a lost device
            if (nWaitFd < 0) {
                if (int nPurgeError = PurgeDevice(PURGE_TXABORT | PURGE_RXABORT |
                                                  PURGE_TXCLEAR | PURGE_RXCLEAR))
                    pErrors->push_back({"PurgeComm()", nPurgeError});
            } else if (!SameFile(nWaitFd, m_pDevice->OutputFd())) {
                *pstrUnsent = "THE LINE WENT WHILE THE ANSWER WAITED";
                break; // the rest is not for whoever is on the line now
            }
            int nError = 0;
            while (nDone < strText.size()) {
                ssize_t r =
                    m_pDevice->Write(strText.data() + nDone, strText.size() - nDone);
                if (r > 0) {
                    nDone += static_cast<size_t>(r);
                    continue;
                }
                nError = r < 0 ? errno : EIO;
                break;
            }
            if (nDone == strText.size())
                break;
            if (IsLostDeviceError(nError)) {
                m_bHangupSeen = true; // reported as levels off, not as a box
                break;
            }
            if (nError != EAGAIN && nError != EWOULDBLOCK) {
                pErrors->push_back({"WriteFile()", nError});
                *pstrUnsent = "THE WRITE FAILED: " + SystemText(nError);
                break;
            }
            if (nWaitFd < 0) {
                const int fd = m_pDevice->OutputFd();
                nWaitFd = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
            }
        }
        // The line takes no more for now (flow control, a network peer that
        // does not read): wait for it without the lock, so that the UI
        // thread's queries and purges go on meanwhile.
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now());
        int r = 0;
        if (nWaitFd >= 0 && nLeft.count() > 0) {
            pollfd pfd{nWaitFd, POLLOUT, 0};
            do {
                r = poll(&pfd, 1, static_cast<int>(nLeft.count()));
            } while (r < 0 && errno == EINTR);
        }
        if (r < 0) {
            pErrors->push_back({"GetOverlappedResults() in WriteFile()", errno});
            *pstrUnsent = "THE WAIT FOR THE LINE FAILED";
            break;
        }
        if (r == 0) {
            *pstrUnsent = "THE LINE TOOK NO OUTPUT FOR " +
                          std::to_string(m_nWriteTimeoutMs) + " MS";
            if (nDone > 0)
                *pstrUnsent += ", " + std::to_string(nDone) + " OF " +
                               std::to_string(strText.size()) + " BYTES SENT";
            break;
        }
        // Writable, or hung up: the next write says which.
    }
    if (nWaitFd >= 0)
        close(nWaitFd);
}

void CCommPort::NoteUnsent(const std::string& strText, const std::string& strWhy) {
    SendLineNews(
        {"   ANSWER NOT SENT: " + WithControlNames(strText) + " (" + strWhy + ")"},
        false);
}
