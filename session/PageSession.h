// CPageSession: one running paging session and the rules that turn the
// engine's and the line's events into what an operator sees: the state
// text, the CTS/DSR/DCD indicators, the good and bad page counts, the page
// records with their page-list lines, the protocol trace and notes, the
// test bench's set-up and the line's recovery after a lost device.
//
// It has two faces: the main window displays it, and the headless runner
// writes it out; both implement ISessionDisplay. The session owns the port
// configuration and the engine on its port (CTerminalPort). Everything the
// port's monitor thread tells comes here (IPortEvents), with the
// synchronous hop to the face's thread, whose poster the face
// gives, or run by the monitor thread itself under the face's lock
// (RunOnLineThread); the engine's news come here too (ITerminalEvents),
// on the same thread. Its display calls are made during those, on the
// thread that runs them. No GUI code here.
//
// Lifetime: the face owns the session and must stop the monitor
// (StopMonitor) while it can still display, before it goes itself.
#pragma once

#include "engine/BlockDiagnosis.h"
#include "engine/TestMode.h"
#include "serial/LineRecovery.h"
#include "session/AlertWatch.h"
#include "session/Clock.h"
#include "session/Notify.h"
#include "session/PageRecord.h"
#include "session/PageRecordList.h"
#include "session/SessionDelivery.h"
#include "session/SessionDisplay.h"
#include "session/StatusSnapshot.h"
#include "session/TerminalPort.h"
#include "settings/PortConfig.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class IMessageBoxes;
class CSessionLog;
class CStatusServer;

class CPageSession : public INotifyTarget,
                     public IPortEvents,
                     private IAnswerHook,
                     private ITerminalEvents {
  public:
    static constexpr unsigned kEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD;
    static constexpr unsigned kOutBufferSize = 512;
    // The page list's lines, and the page records kept for saving the list
    // whole (the oldest let go beyond it).
    static constexpr unsigned kPageListLimit = 500;
    static constexpr size_t kPageRecordLimit = 100000;

    // poster: where the monitor thread's deliveries run (the UI thread's
    // loop); probe: whether a lost device path opens again. pDevice: a
    // device of a test's making; null for the one the profile names.
    // pClock: where the session reads the time of its records and counters;
    // null for the process-wide clock (GetClock), read at each use. Not
    // owned.
    CPageSession(ISessionDisplay& display, IMessageBoxes& boxes,
                 CSyncCall::Poster poster, CLineRecovery::Probe probe,
                 std::unique_ptr<ISerialDevice> pDevice = nullptr,
                 const IClock* pClock = nullptr);
    ~CPageSession() override;

    CPageSession(const CPageSession&) = delete;
    CPageSession& operator=(const CPageSession&) = delete;

    // The port's news, told by the port's monitor thread.
    void OnByte(unsigned char ch) override;
    void OnLevel(LineLevel line, bool bOn) override;
    void OnLineNote(const std::string& strNote) override;
    // The same, a state and a trace told by number, as a face or a test in
    // its place hands them on (session/Notify.h).
    long Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) override;

    // Takes the test bench from the settings and opens the port (Connect).
    bool OpenPort();
    // Sets the port up again (Logon); true when that worked.
    bool Logon();
    // Ends the session: counters to 0, ESC EOT CR, no recovery until Logon.
    void Logoff();
    // One 100 ms tick: the engine's time-outs and the line's recovery.
    void Tick();
    // The stored settings changed: takes them, logs off; the next Logon
    // uses them.
    void SettingsChanged();
    // The face goes: a session in progress ends on the line. Once.
    void Close();
    // Delivers what the monitor thread still has and stops it.
    void StopMonitor() { m_port.StopMonitor(); }
    // The line's own thread runs the session, under *pLock, instead of
    // hopping to the face's thread for every read: a page is answered
    // without waiting for the face. The face then holds *pLock whenever it
    // calls the session, and its display and boxes are called on either
    // thread (under the lock). Set before OpenPort.
    void RunOnLineThread(std::recursive_mutex* pLock) { m_port.SetInlineLock(pLock); }
    // Writes what the session log holds and tells its last problems; the
    // session logs no more after it (the run is over).
    void FinishLog();
    // An answer waits for the monitor thread to write it.
    bool IsAnswerQueued() const { return m_port.IsOutputQueued(); }
    // Lets delivery attempts in flight finish for up to nGraceMs and stops
    // delivering; what is left stays in the outbox for the next start.
    void StopDelivery(int nGraceMs) { m_delivery.Stop(nGraceMs); }
    // Delivery onward: the targets' state for the delivery line (empty when
    // no target is set up), and the deliveries themselves (null: none).
    std::vector<std::string> GetDeliveryLines() const {
        return m_delivery.StatusLines();
    }
    CDelivery* GetDelivery() const { return m_delivery.GetDelivery(); }

    // The session log in use (LogFolder set at the last set-up); null when
    // none is kept.
    CSessionLog* GetLog() const { return m_pLog.get(); }

    // The records of the session's pages, oldest first, up to
    // kPageRecordLimit. They are cleared with the list (ClearPageRecords).
    const CPageRecordList& GetPageRecords() const { return m_pageRecords; }
    void ClearPageRecords() { m_pageRecords.Clear(); }

    const std::string& GetStateText() const { return m_strState; }
    // The levels as the window shows them: "ON", "OFF", or "n/a" on a
    // device that has no modem lines (a pseudo-terminal).
    std::string GetCts() const { return ShownLevel(m_strCTS); }
    std::string GetDsr() const { return ShownLevel(m_strDSR); }
    std::string GetDcd() const { return ShownLevel(m_strDCD); }
    // What the status bar says of the line beyond its settings: that the
    // device has no modem lines, that the open line waits for a caller;
    // empty when neither.
    std::string GetLineNote() const;
    unsigned GetGoodPages() const { return m_nGoodPages; }
    unsigned GetBadPages() const { return m_nBadPages; }
    CPageTerminal& GetTerminal() { return m_terminal; }
    CCommPort& GetPort() { return m_port; }
    const CPortConfig& GetConfig() const { return m_config; }
    // The device the line waits for after a hang-up or loss; empty if none.
    std::string GetLostDevice() const { return m_recovery.GetLostPath(); }
    // The test modes in force ("nak-every:3"); empty when there are none.
    std::string GetTestModeText() const;
    // The alerts active now, oldest condition first.
    std::vector<CActiveAlert> GetAlerts() const { return m_alerts.Active(); }
    // What the status page and the service's status line tell, as the
    // session's own counters have it now.
    CStatusSnapshot MakeStatusSnapshot() const;

  private:
    void OnProtocolTrace(WPARAM wParam, LPARAM lParam);
    void ShowTraced(bool bSent, const std::string& strText);
    // The engine's news.
    void OnState(int nState) override;
    void OnPage(const CPageResult& page) override;
    void OnTrace(const std::string& strSent) override;
    void OnNote(const std::string& strNote) override;
    void OnFault(const std::string& strText) override;
    void AddNote(const std::string& strNote);
    // What the trace shows of a received byte: the byte, or for a logon's
    // password "***" once and nothing for the rest of it.
    std::string TracedLogonByte(unsigned char ch);
    bool NeedsHook() const;
    // The test bench's answer, then the delivery's part in it, then the
    // record kept before the ACK where the display asks for that.
    CAnswerChange OnAnswer(AnswerKind kind, const CPageFacts& facts) override;
    // The box of settings that cannot be used, when no other box is up.
    void ShowSettingsBox(const std::string& strText);
    void TellLogProblems();
    // Returns the text of a box about a test setting it cannot use, shown
    // once the line is set up (empty when there is nothing to say).
    std::string ApplyTestBench();
    void ShowTestBenchBox(const std::string& strText);
    void DiagnoseRejectedBlock(const CPageResult& page);
    CPageRecord MakeRecord(const CPageResult& page) const;
    // The port's set-up as the stored settings give it.
    CLineSettings LineSettings() const;
    // Starts, changes or ends the session log as LogFolder says.
    void ApplyLogFolder();
    // Calls the display, then the log.
    template <typename F> void Tell(F show);
    // Reads the alert and status page settings; the text of a box about
    // those that cannot be used (empty: none).
    std::string ApplyWatchSettings();
    // Looks for alerts to raise or clear and tells them everywhere.
    void WatchAlerts();
    // Counts an answer sent to the caller, and how long it took.
    void CountAnswer(const std::string& strSent);
    void CountDelivery(const CDeliveryEvent& event);

    const IClock& Clock() const { return m_pClock != nullptr ? *m_pClock : GetClock(); }

    ISessionDisplay& m_display;
    const IClock* m_pClock;
    IMessageBoxes& m_boxes;
    std::string m_strState = "DISCONNECTED";
    unsigned m_nGoodPages = 0;
    unsigned m_nBadPages = 0;
    std::string m_strDSR = "OFF";
    std::string m_strDCD = "OFF";
    std::string m_strCTS = "OFF";
    CPortConfig m_config;
    std::string ShownLevel(const std::string& strLevel) const;
    // A page that is the block answered NAK just before, sent again: said.
    void MarkResend(CPageRecord* pRecord, const std::string& strBlock);

    Charset m_charset = Charset::kAscii; // how message bytes become text
    // The last page result of this call, when it was answered NAK.
    struct CNakedBlock {
        bool bSet = false;
        std::string strPager;
        std::string strMessage;
        std::string strChecksum; // its three checksum characters as they came
    } m_lastNak;
    CTerminalPort m_line;
    CPageTerminal& m_terminal; // the engine on m_line
    CCommPort& m_port;         // the port of m_line
    CLineRecovery m_recovery;
    std::unique_ptr<CTestMode> m_pTestMode; // null: none in force
    bool m_bDiagnose = false;
    CLineHints m_lineHints;
    bool m_bClosed = false;
    CPageRecordList m_pageRecords{kPageListLimit, kPageRecordLimit};
    CSessionDelivery m_delivery;
    // The page whose record the display kept before its ACK: its result is
    // not shown to the display again.
    bool m_bRecordKept = false;
    bool m_bBoxUp = false;      // a box about settings waits for OK
    std::string m_strLogonTail; // the last received bytes, for ESC "PG1"
    int m_nPasswordChars = -1;  // password bytes hidden so far; -1: none now
    // Sees everything the display sees, after it. Goes after the monitor
    // thread has stopped (the destructor stops it first).
    std::unique_ptr<CSessionLog> m_pLog;

    // What the status page counts, kept on the session's thread.
    struct CCounters {
        std::uint64_t nSessions = 0;
        std::map<std::string, std::uint64_t> pages; // by verdict
        std::uint64_t nBlocks = 0;
        std::uint64_t nNaks = 0;
        CLatencyHistogram latency;
        std::int64_t nLastPageMs = 0;
        std::int64_t nLastCallMs = 0;                      // the last logon or page
        std::map<std::string, std::uint64_t> attempts;     // by target
        std::map<std::string, std::int64_t> lastDelivered; // by target
    };
    CCounters m_counters;
    // When the last byte came, for the answer's latency.
    std::chrono::steady_clock::time_point m_lastRx;
    bool m_bRxSinceAnswer = false;
    bool m_bReady = false; // the line was open once
    CAlertWatch m_alerts;
    std::string m_strStatusListen; // the address served now
    std::unique_ptr<CStatusServer> m_pStatus;
};
