// CCommPort: one serial device COMn and its monitor thread.
//
// The port opens and configures the device, runs a monitor thread that turns
// line events and received bytes into calls on its owner (IPortEvents), writes text
// queued by the user-interface thread, and reports every failed device call in an error
// box.
//
// Threads: the UI thread constructs, sets up, starts and stops the port and
// calls QueueWrite, Purge and the queries; the monitor thread runs
// MonitorProc, DrainInput and FlushOutput. Every notification from the
// monitor thread is a synchronous call into the UI thread (CSyncCall): the
// monitor thread neither reads nor writes while a delivery is in progress.
// m_lock guards the device during set-up, status queries, reads and writes
// and is never held while a notification is delivered or an error box is
// shown: a failure is collected where it happens and reported once the lock
// is released (and, at the thread's start-up, once the UI thread has
// stopped waiting for it).
//
// Its owner must call StopMonitor before it goes (or before what the
// deliveries call into goes): deliveries still pending at that moment are
// run, and they may call back into the owner.
#pragma once

#include "serial/PortEvents.h"
#include "serial/SerialDevice.h"
#include "serial/SyncCall.h"

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class IMessageBoxes;

// Sees every purge and every queued text on the calling thread, in order
// (tests).
class IPortTap {
  public:
    virtual ~IPortTap() = default;
    virtual void OnPurge(unsigned nFlags) = 0;
    virtual void OnQueueWrite(const std::string& strText) = 0;
};

// How a port is set up: which COMn, its line format and flow control as the
// profile holds them (Setup judges the format), the line events it watches
// and the size of its output buffer.
struct CLineSettings {
    int nPort = 1;
    CLineFormat format;
    CFlowControlModes flow;
    unsigned nEventMask = 0;
    unsigned nOutBufferSize = 512;
};

// Purge flags.
constexpr unsigned PURGE_TXABORT = 0x01;
constexpr unsigned PURGE_RXABORT = 0x02;
constexpr unsigned PURGE_TXCLEAR = 0x04;
constexpr unsigned PURGE_RXCLEAR = 0x08;

class CCommPort {
  public:
    using DeviceResolver = std::function<std::string(int nPort)>;

    CCommPort();
    // For tests: a device of the caller's making.
    explicit CCommPort(std::unique_ptr<ISerialDevice> pDevice);
    virtual ~CCommPort();

    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // Opens and configures COMn. False only when the device cannot be opened
    // (GetOpenError then says why); a later configuration step that fails is
    // reported in an error box and the device stays open.
    bool Setup(IPortEvents* pOwner, const CLineSettings& line);
    // Starts the monitor thread. Refused (false) without a UI poster: its
    // notifications would otherwise run on the monitor thread itself, beside
    // the engine on the UI thread.
    bool StartMonitor();
    // Stops the monitor thread, delivering what it was about to deliver.
    void StopMonitor();
    // The monitor thread writes the text; a text queued before the previous
    // one was written replaces it.
    void QueueWrite(const std::string& strText);
    void Purge(unsigned nFlags);
    // Hangs the line up once the text queued so far is out (a test mode);
    // the owner then sees one line event with the levels off.
    void RequestHangUp();
    bool IsOpen() const { return m_bDeviceRecorded; }
    int QueryDsr(bool bRefresh);
    int QueryDcd(bool bRefresh);

    // Where deliveries to the UI thread are posted (wxTheApp->CallAfter).
    void SetUiPoster(CSyncCall::Poster poster);
    // The monitor thread delivers to the owner itself, under *pLock, which
    // the owner's thread holds whenever it calls in (CSyncCall). Set before
    // the port is set up.
    void SetInlineLock(std::recursive_mutex* pLock) { m_sync.SetInlineLock(pLock); }
    void SetMessageBoxes(IMessageBoxes* pBoxes) { m_pBoxes = pBoxes; }
    void SetTap(IPortTap* pTap) { m_pTap = pTap; }
    // Maps a port number to its device path; the default is /dev/ttyS(n-1).
    void SetDeviceResolver(DeviceResolver resolver);
    // Lets the owner, which knows where the device path came from, say
    // more about an open that failed: given the port, the path and the
    // reason ("<path>: <system text>"), the text GetOpenError gives.
    using OpenErrorExplainer = std::function<std::string(
        int nPort, const std::string& strPath, const std::string& strReason)>;
    void SetOpenErrorExplainer(OpenErrorExplainer explain) {
        m_explainOpenError = std::move(explain);
    }

    // The next Setup keeps its error boxes until ReleaseSetupReports, so
    // that the caller can start the line first: a box waiting for OK then
    // does not keep the line unanswered.
    void HoldSetupReports() { m_bHoldSetupReports = true; }
    void ReleaseSetupReports();

    std::string GetDevicePath() const { return m_strDevicePath; }
    // The line is a network connection (tcp-listen:, tcp:): each connection
    // is a call, and the line format does not apply.
    bool IsNetworkLine() const;
    // "<path>: <reason>" for the last open that failed, or what the
    // explainer made of it.
    std::string GetOpenError() const { return m_strOpenError; }
    bool IsMonitorAlive() const { return m_bMonitorAlive; }
    // An answer is queued that the monitor thread has not taken to write
    // yet (a purge before it is written would drop it).
    bool IsOutputQueued() const { return m_bWriteRequested; }
    // The device hung up or went away since the last Setup.
    bool IsDeviceLost() const { return m_bDeviceLost; }
    // The device has no modem lines (a pseudo-terminal): a caller that
    // hangs up at the far end of a pair (socat) may leave no trace on it.
    bool HasNoModemLines() const { return m_bNoModemLines; }
    // A network line as the status bar shows it ("tcp-listen:127.0.0.1:2775,
    // peer 127.0.0.1:53122"); empty for a serial device.
    std::string DescribeLine() const;
    int GetPortNumber() const { return m_nPortNumber; }
    // How often the monitor thread has woken up (tests check it idles).
    unsigned GetWakeCount() const { return m_nWakeups; }
    // How long an answer may wait for a line that takes no output (flow
    // control held, a network peer that stopped reading) before it is
    // given up; tests lengthen it.
    static constexpr int kWriteTimeoutMs = 1000;
    void SetWriteTimeout(int nMs) { m_nWriteTimeoutMs = nMs; }

  private:
    // Tells the owner a level; from the monitor thread it waits until the
    // UI thread has handled it.
    void SendLevel(LineLevel line, bool bOn);
    // On the monitor thread, outside a delivery it runs itself: calls to the
    // owner must hop.
    bool OnMonitorHop() const;
    // Shows "WARNING:  <call> Failed ..." in the port's error box.
    void ReportError(const char* szCall, int nError);

    // A failed device call, reported once no lock is held.
    struct CPortError {
        const char* szCall = nullptr;
        int nError = 0;
    };
    void ReportErrors(const std::vector<CPortError>& errors);
    // Under m_lock, in Setup: opens the device the port's path names (a
    // network line set up again for its endpoint stays as it is); false,
    // with GetOpenError saying why, when it cannot be opened.
    bool OpenDevice(int nPort);
    // Under m_lock, in Setup: the line format and flow control, then a purge;
    // each failure is added to *pErrors.
    void ApplyLineSettings(const std::string& strDefinition,
                           const CFlowControlModes& flow,
                           std::vector<CPortError>* pErrors);

    void MonitorProc();
    // The levels the monitor thread watches, and those it saw last.
    struct CMonitorLevels {
        unsigned nWatched = 0;
        unsigned nLast = 0;
        bool bRealLines = false; // the device has modem lines to look at
    };
    // Monitor thread, before its loop: the device purged and its levels
    // read; StartMonitor returns after it.
    CMonitorLevels BeginMonitor();
    enum class Wait { kReady, kInterrupted, kFailed };
    // Waits for the device, a request or the next look at the levels; what
    // the device showed goes to *pnDeviceEvents. kFailed: the wait cannot
    // work again (said in an error box).
    Wait WaitForEvent(bool bWatchDevice, const CMonitorLevels& levels,
                      short* pnDeviceEvents);
    // What the wait found on the device: bytes or a level change (a line
    // event), or a hang-up.
    void LookAtDevice(short nEvents, CMonitorLevels* pLevels, bool* pbLineEvent,
                      bool* pbHangup);
    // One thing to tell the owner.
    struct CPortNote {
        enum class Kind { kByte, kLevel, kEvent, kNote };
        Kind kind = Kind::kByte;
        unsigned char chByte = 0;
        LineLevel level = LineLevel::kCts;
        bool bOn = false;
        LineEvent event = LineEvent::kBreak;
        std::string strText; // kNote

        static CPortNote Byte(unsigned char ch) {
            CPortNote note;
            note.chByte = ch;
            return note;
        }
        static CPortNote Level(LineLevel level, bool bOn) {
            CPortNote note;
            note.kind = Kind::kLevel;
            note.level = level;
            note.bOn = bOn;
            return note;
        }
        static CPortNote Event(LineEvent event) {
            CPortNote note;
            note.kind = Kind::kEvent;
            note.event = event;
            return note;
        }
        static CPortNote Note(const std::string& strText) {
            CPortNote note;
            note.kind = Kind::kNote;
            note.strText = strText;
            return note;
        }
    };
    // Notifications delivered together, owned by the job that delivers them
    // (the monitor thread may have moved on, or ended, before it returns).
    struct CBatch {
        std::vector<CPortNote> notes;
        unsigned nRxPurges = 0;       // receive purges when its bytes were read
        unsigned nGeneration = 0;     // the monitor run that made it
        std::atomic<size_t> nNext{0}; // the first note not delivered yet
    };
    // Delivers the pending notes and every waiting byte; false when the
    // device was lost.
    bool DrainInput(std::vector<CPortNote> notes);
    // Delivers notifications in synchronous hops to the UI thread, the
    // notes of one hop one at a time and in order. An answer queued or a
    // hang-up asked for while a note is handled is carried out before the
    // next note is delivered, as when the bytes are read one at a time.
    void SendBatch(std::vector<CPortNote> notes);
    // On the UI thread: delivers the batch from its first undelivered note.
    void DeliverBatch(IPortEvents* pOwner, CBatch& batch);
    void FlushOutput();
    // Purges, then writes the text; waits for a line that takes no more
    // output without holding m_lock. Sets *pstrUnsent to why the text did
    // not go out in full.
    void WriteOutput(const std::string& strText, std::vector<CPortError>* pErrors,
                     std::string* pstrUnsent);
    // Monitor thread: a text the line did not take is given up; says so in
    // the protocol window, so that its trace is not taken for an answer the
    // caller got.
    void NoteUnsent(const std::string& strText, const std::string& strWhy);
    void HandleLineEvent();
    void HandleLostDevice();
    void HangUpLine();
    // One hop to the owner: the notes, then with bLevelsOff one line event
    // with every level off.
    void SendLineNews(const std::vector<std::string>& texts, bool bLevelsOff);
    // Hands the device's notes to the owner.
    void DeliverDeviceNotes();
    // Under m_lock. A device that went away is a hang-up, not an error; any
    // other failure is returned for the caller to report.
    int PurgeDevice(unsigned nFlags);
    // Current CTS/DSR/DCD bits; lines of a device without modem lines read on
    // while it is open and not lost. nError is set for a failed query.
    unsigned ReadLevels(int* pnError);
    // A fresh read stores the level as 1 or 0 and notifies the owner.
    int QueryLevel(bool bRefresh, unsigned nBit, std::atomic<int>& nLevel,
                   LineLevel line);
    void Wake();

    mutable std::recursive_mutex m_lock;
    std::atomic<bool> m_bMonitorAlive{false};
    std::atomic<bool> m_bThreadExited{true};
    std::atomic<bool> m_bStopRequested{false};
    // Counts the stops asked for: a delivery made before one is stale, also
    // once the next run has reset m_bStopRequested.
    std::atomic<unsigned> m_nGeneration{0};
    std::atomic<bool> m_bWriteRequested{false};
    std::atomic<bool> m_bHangUpRequested{false};
    int m_wakeFd = -1; // eventfd: stop and write requests
    std::unique_ptr<ISerialDevice> m_pDevice;
    // The port picks the device by its path (a tty, or a network line);
    // false when a test gave it one.
    bool m_bChooseDevice = false;
    bool m_bTcpDevice = false;
    bool m_bDeviceRecorded = false;
    std::atomic<bool> m_bDeviceLost{false};
    std::atomic<bool> m_bHangupSeen{false};
    std::atomic<bool> m_bNoModemLines{false}; // the device answered ENOTTY
    std::atomic<unsigned> m_nWakeups{0};
    std::atomic<unsigned> m_nRxPurges{0}; // receive-queue purges so far
    std::atomic<int> m_nDsrLevel{0};
    std::atomic<int> m_nDcdLevel{0};
    IPortEvents* m_pOwner = nullptr;
    int m_nPortNumber = 0;
    unsigned m_nEventMask = 0;

    std::mutex m_outLock;       // the output buffer, shared by both threads
    std::string m_strOutBuffer; // queued and not taken for writing yet
    size_t m_nOutBufferSize = 0;
    int m_nWriteTimeoutMs = kWriteTimeoutMs;

    CSyncCall m_sync;
    std::thread m_thread;
    std::promise<void>* m_pStarted = nullptr; // set while StartMonitor waits
    IMessageBoxes* m_pBoxes = nullptr;
    IPortTap* m_pTap = nullptr;
    DeviceResolver m_resolver;
    OpenErrorExplainer m_explainOpenError; // empty: the reason as it is
    bool m_bHoldSetupReports = false;
    std::vector<CPortError> m_heldErrors; // of a Setup, not reported yet
    std::string m_strDevicePath;
    std::string m_strOpenError;
};
