#include "headless/Headless.h"

#include "headless/OutputStream.h"
#include "headless/ServiceNotify.h"
#include "serial/JobLoop.h"
#include "serial/MessageBoxes.h"
#include "serial/TermiosDevice.h"
#include "session/CommandLine.h"
#include "session/PageSession.h"
#include "session/TraceLines.h"
#include "settings/Profile.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<bool> g_bStopSignal{false};
// How long a page's record may wait for a reader that does not read
// before the page is refused instead.
constexpr int kStdoutWaitMs = 2000;
// How long the answers already queued may take to reach the line at the
// end, and the records still waiting to reach standard output's reader.
constexpr int kEndWaitMs = 1000;
constexpr int kEndFlushMs = 2000;
constexpr int kAnswerOutMs = 100;

extern "C" void OnStopSignal(int) {
    g_bStopSignal = true;
}

// Standard error, one line at a time. A reader that does not read never
// stalls the line: a line it cannot take now is dropped and counted, and
// the count is said before the next line that goes out.
class CStderrLines {
  public:
    CStderrLines() : m_out(STDERR_FILENO) {}
    void Say(const std::string& strLine) {
        if (m_nDropped > 0) {
            const std::string strDropped = "volnex: " + std::to_string(m_nDropped) +
                                           " lines of standard error were dropped: "
                                           "nobody read them\n";
            if (m_out.Write(strDropped, 0) != COutputStream::Result::kWritten) {
                ++m_nDropped;
                return;
            }
            m_nDropped = 0;
        }
        if (m_out.Write(strLine + "\n", 0) != COutputStream::Result::kWritten)
            ++m_nDropped;
    }

  private:
    COutputStream m_out;
    size_t m_nDropped = 0;
};

// A message box as one line on standard error; a question is answered No.
class CStreamBoxes : public IMessageBoxes {
  public:
    explicit CStreamBoxes(CStderrLines& err) : m_err(err) {}
    int Show(const std::string& strText, const std::string&, unsigned nStyle,
             bool) override {
        std::string strLine = strText;
        for (char& ch : strLine) {
            if (ch == '\n' || ch == '\r')
                ch = ' ';
        }
        m_err.Say(strLine);
        switch (nStyle & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL: return IDNO;
        default: return IDOK;
        }
    }

  private:
    CStderrLines& m_err;
};

class CHeadlessDisplay : public ISessionDisplay {
  public:
    using Sink = std::function<void(const std::string&)>;
    CHeadlessDisplay(Sink trace, CStderrLines& err, int nExitAfter)
        : m_err(err), m_nExitAfter(nExitAfter), m_out(STDOUT_FILENO),
          m_bTrace(static_cast<bool>(trace)), m_lines(std::move(trace)) {}

    void ShowSession() override {}
    bool KeepsRecordsFirst() const override { return true; }
    bool TakesPages() const override { return !m_bEnding && !IsDone(); }
    bool KeepRecord(const CPageRecord& record, std::string* pstrWhy) override {
        if (m_out.GetError() == 0) {
            switch (m_out.Write(PageRecordJson(record) + "\n", kStdoutWaitMs,
                                &g_bStopSignal)) {
            case COutputStream::Result::kWritten: ++m_nWritten; return true;
            case COutputStream::Result::kBehind:
                if (!m_bBehindSaid)
                    m_err.Say("volnex: standard output: the reader is not keeping up "
                              "after " +
                              std::to_string(m_nWritten) +
                              " records; pages are refused until it reads");
                m_bBehindSaid = true;
                *pstrWhy = "STANDARD OUTPUT: THE READER IS NOT KEEPING UP";
                return false;
            case COutputStream::Result::kFailed: break;
            }
        }
        *pstrWhy = "STANDARD OUTPUT: " + UpperCase(std::strerror(m_out.GetError()));
        return false;
    }
    void ShowPage(const CPageRecord& record) override {
        // Past --exit-after's count the run is ending: what still comes is
        // not answered and not a result of the run.
        if (IsDone())
            return;
        if (!record.bKept && m_out.GetError() == 0 &&
            m_out.WriteOrQueue(PageRecordJson(record) + "\n"))
            ++m_nWritten;
        ++m_nResults;
        const bool bAccepted = record.verdict == PageVerdict::kAccepted ||
                               record.verdict == PageVerdict::kTruncated;
        if (bAccepted) {
            // The same page sent again after its NAK, and accepted now: the
            // NAK was not the page's end.
            if (!m_failures.empty() && m_failures.back().bResendable &&
                m_failures.back().strPager == record.strPager &&
                m_failures.back().strMessage == record.strMessage)
                m_failures.pop_back();
            return;
        }
        const bool bNaked = record.verdict == PageVerdict::kBadChecksum ||
                            record.verdict == PageVerdict::kBadFormat ||
                            record.verdict == PageVerdict::kNakedOnPurpose;
        m_failures.push_back({m_nResults, record.strPager, record.strMessage,
                              FailureText(record), bNaked});
    }
    // Before exit status 1: one line per reason on standard error.
    void SayWhyNot() {
        if (m_nResults == 0) {
            m_err.Say("exit 1: no page came");
            return;
        }
        for (size_t i = 0; i < m_failures.size() && i < kFailuresSaid; ++i)
            m_err.Say("exit 1: page " + std::to_string(m_failures[i].nPage) +
                      " (pager " + m_failures[i].strPager + ") " +
                      m_failures[i].strWhy);
        if (m_failures.size() > kFailuresSaid)
            m_err.Say("exit 1: ... and " +
                      std::to_string(m_failures.size() - kFailuresSaid) + " more");
    }
    // Whether pages are kept in an outbox (delivered onward): then a failed
    // standard output is said once and given up, and the line goes on.
    void SetOutboxCheck(std::function<bool()> hasOutbox) {
        m_hasOutbox = std::move(hasOutbox);
    }
    // Called between jobs: records that wait go out as the reader takes
    // them, and a failed standard output with an outbox is said once.
    void Poll() {
        if (m_out.GetPending() > 0 && m_out.FlushPending(0) && m_out.GetPending() == 0)
            m_bBehindSaid = false; // caught up: a new lag is said again
        if (m_out.GetError() == 0 || m_bStdoutGivenUp || !m_hasOutbox || !m_hasOutbox())
            return;
        m_bStdoutGivenUp = true;
        m_err.Say(
            "volnex: standard output: " + std::string(std::strerror(m_out.GetError())) +
            " after " + std::to_string(m_nWritten) +
            " records; the pages are kept in the outbox, their records no "
            "longer written there");
    }
    void ShowTrace(bool bSent, const std::string& strText) override {
        if (m_bTrace)
            m_lines.Trace(bSent, strText);
    }
    void ShowNote(const std::string& strNote) override {
        if (m_bTrace)
            m_lines.Note(strNote);
    }
    void ShowEvent(const std::string& strEvent) override {
        if (m_bTrace)
            m_lines.Event(strEvent);
    }

    void ShowLogProblem(const std::string& strReport) override {
        m_err.Say(strReport.substr(strReport.find_first_not_of(' ')));
        ShowNote(strReport);
    }
    // Nobody watches a window: an alert is said on standard error as well.
    void ShowAlert(const CAlertEvent& event) override {
        m_err.Say(std::string("volnex: ") +
                  (event.bRaised ? "alert: " : "alert over: ") + event.alert.strText);
        ShowNote(AlertNote(event));
    }

    // The run ends: pages that still come are not answered.
    void SetEnding() { m_bEnding = true; }
    bool IsDone() const { return m_nExitAfter > 0 && m_nResults >= m_nExitAfter; }
    // Standard output failed and the pages have no outbox: nothing more
    // can be acknowledged, the run ends (exit 1).
    bool HasLostStdout() const { return m_out.GetError() != 0 && !m_bStdoutGivenUp; }
    // At the end: the records that wait get a last while to go out, and
    // what is lost of standard output is said.
    void Finish() {
        m_lines.Flush();
        if (m_out.GetError() == 0)
            m_out.FlushPending(kEndFlushMs);
        const size_t nLost = m_out.GetPending() + m_out.GetDropped();
        if (nLost > 0 && m_out.GetError() == 0)
            m_err.Say("volnex: standard output: " + std::to_string(nLost) +
                      " records of refused or unanswered pages were not taken by the "
                      "reader");
        if (HasLostStdout())
            m_err.Say("exit 1: standard output: " +
                      std::string(std::strerror(m_out.GetError())) + " after " +
                      std::to_string(m_nWritten) + " records");
    }
    int ExitStatus() const {
        if (HasLostStdout())
            return kHeadlessNotAllAccepted;
        return m_nResults > 0 && m_failures.empty() ? kHeadlessAllAccepted
                                                    : kHeadlessNotAllAccepted;
    }

  private:
    static std::string UpperCase(std::string strText) {
        for (char& c : strText)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return strText;
    }

    CStderrLines& m_err;
    int m_nExitAfter;
    // Each record is one whole line on standard output, handed to the
    // kernel before its page's ACK: nothing held in a buffer across pages.
    COutputStream m_out;
    bool m_bStdoutGivenUp = false; // failed with an outbox: said, the line goes on
    bool m_bBehindSaid = false;    // the reader's lag said since it last caught up
    bool m_bEnding = false;
    int m_nWritten = 0; // records written to standard output
    std::function<bool()> m_hasOutbox;
    int m_nResults = 0;
    // The pages that were not accepted in the end, in their order.
    struct CFailure {
        int nPage; // its place among the run's results
        std::string strPager;
        std::string strMessage;
        std::string strWhy;
        bool bResendable; // answered NAK: a good resend makes up for it
    };
    static constexpr size_t kFailuresSaid = 20;
    std::vector<CFailure> m_failures;
    static std::string FailureText(const CPageRecord& record) {
        const std::string strBlocks = std::to_string(record.nBlocks) +
                                      (record.nBlocks == 1 ? " block" : " blocks");
        switch (record.verdict) {
        case PageVerdict::kTimedOut: return "timed out after " + strBlocks;
        case PageVerdict::kIncomplete: return "left unfinished after " + strBlocks;
        case PageVerdict::kBadChecksum:
            return "answered NAK (bad checksum), not sent again";
        case PageVerdict::kBadFormat:
            return "answered NAK (bad format), not sent again";
        default: break;
        }
        std::string strResult = record.strResult;
        while (!strResult.empty() && (strResult[0] == '\t' || strResult[0] == ' '))
            strResult.erase(0, 1);
        return std::string(VerdictName(record.verdict)) +
               (strResult.empty() ? "" : ": " + strResult);
    }
    bool m_bTrace; // --trace was given
    CTraceLines m_lines;
};

} // namespace

std::string ProgramProfilePath(const CCommandLine& cmd) {
    // The profile the window would use: named after the executable unless
    // --profile names another.
    char szCwd[4096];
    const std::string strCwd = getcwd(szCwd, sizeof szCwd) ? szCwd : "";
    char szExe[4096];
    const ssize_t nExe = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    std::string strExe =
        nExe > 0 ? std::string(szExe, static_cast<size_t>(nExe)) : "volnex";
    strExe = strExe.substr(strExe.rfind('/') + 1);
    return ChooseProfilePath(cmd, strCwd, strExe);
}

bool OpenStandardDescriptors() {
    bool bStdoutClosed = false;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        bStdoutClosed = bStdoutClosed || fd == STDOUT_FILENO;
        // The lowest free number is this one.
        const int nNull = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (nNull >= 0 && nNull != fd)
            close(nNull);
    }
    return bStdoutClosed;
}

int RunHeadless(const CCommandLine& cmd) {
    if (cmd.bStdoutClosed) {
        std::fprintf(stderr,
                     "volnex: standard output is closed: the page records would "
                     "have nowhere to go\n");
        return kHeadlessLineFailed;
    }
    const std::string strProfilePath = ProgramProfilePath(cmd);
    std::string strProfileWhy;
    const ProfileFileState profileState =
        CheckProfileFile(strProfilePath, &strProfileWhy);
    // A run on the defaults in place of the profile asked for would serve
    // the wrong line; a headless run writes no setting, so a profile named
    // that is missing stays missing. The default one may be missing.
    if (profileState == ProfileFileState::kUnusable ||
        (profileState == ProfileFileState::kMissing && !cmd.strProfile.empty())) {
        if (profileState == ProfileFileState::kMissing)
            std::fprintf(stderr, "volnex: no such profile: %s\n",
                         strProfilePath.c_str());
        else
            std::fprintf(stderr, "volnex: cannot use the profile %s: %s\n",
                         strProfilePath.c_str(), strProfileWhy.c_str());
        return kHeadlessLineFailed;
    }
    CIniProfile profile(strProfilePath);
    SetAppProfile(&profile);
    struct CResetProfile {
        ~CResetProfile() { SetAppProfile(nullptr); }
    } resetProfile;

    CStderrLines err;
    std::FILE* pTraceFile = nullptr;
    CHeadlessDisplay::Sink trace;
    if (cmd.bTrace && cmd.strTrace.empty()) {
        trace = [&err](const std::string& strLine) { err.Say(strLine); };
    } else if (cmd.bTrace) {
        pTraceFile = std::fopen(cmd.strTrace.c_str(), "a");
        if (pTraceFile == nullptr) {
            std::fprintf(stderr, "volnex: cannot write the trace to %s: %s\n",
                         cmd.strTrace.c_str(), std::strerror(errno));
            return kHeadlessLineFailed;
        }
        trace = [pTraceFile](const std::string& strLine) {
            std::fprintf(pTraceFile, "%s\n", strLine.c_str());
            std::fflush(pTraceFile);
        };
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A hang-up (the terminal or the supervisor's session went) ends the run
    // as SIGTERM does: the caller gets ESC EOT CR, the records are out.
    for (int nSignal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(nSignal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a reader that went is a failed write

    CJobLoop loop; // outlives the session: its deliveries run here
    CStreamBoxes boxes(err);
    CHeadlessDisplay display(trace, err, cmd.nExitAfter);
    int nStatus;
    {
        CPageSession session(display, boxes, loop.Poster(), &CTermiosDevice::CanOpen);
        display.SetOutboxCheck([&session] { return session.GetDelivery() != nullptr; });
        CServiceNotify service; // systemd's, when it runs the program
        if (!session.OpenPort()) {
            nStatus = kHeadlessLineFailed;
        } else {
            service.Ready();
            using Clock = std::chrono::steady_clock;
            const Clock::time_point start = Clock::now();
            const Clock::time_point end =
                cmd.nTimeoutSeconds > 0
                    ? start + std::chrono::seconds(cmd.nTimeoutSeconds)
                    : Clock::time_point::max();
            Clock::time_point nextTick = start + std::chrono::milliseconds(100);
            unsigned nTicks = 0;
            // Looked at after every job: the run ends right after the page
            // that makes --exit-after's count, or that standard output lost.
            const auto ends = [&display] {
                return display.IsDone() || display.HasLostStdout();
            };
            while (!g_bStopSignal && !ends() && Clock::now() < end) {
                loop.RunUntil(std::min(nextTick, end), g_bStopSignal, ends);
                display.Poll();
                if (Clock::now() >= nextTick) {
                    session.Tick();
                    // Only a tick that ran keeps the watchdog quiet.
                    service.WatchdogTick();
                    if (++nTicks % 10 == 0)
                        service.Status(ServiceStatusLine(session.MakeStatusSnapshot()));
                    nextTick += std::chrono::milliseconds(100);
                }
            }
            // From here no page is answered. The answers already queued (the
            // last page's ACK, whose record is out) reach the line before
            // the session's end does, which would otherwise purge them.
            display.SetEnding();
            const Clock::time_point endWait =
                Clock::now() + std::chrono::milliseconds(kEndWaitMs);
            const std::atomic<bool> bGoOn{false}; // after a signal, too
            while (session.IsAnswerQueued() && Clock::now() < endWait)
                loop.RunUntil(Clock::now() + std::chrono::milliseconds(5), bGoOn);
            // Written, it may still wait in the line's output queue, which
            // the session's end purges: a pseudo-terminal does not tell
            // when its far side has read it, so it gets a while.
            loop.RunUntil(Clock::now() + std::chrono::milliseconds(kAnswerOutMs),
                          bGoOn);
            nStatus = display.ExitStatus();
            if (nStatus == kHeadlessNotAllAccepted && !display.HasLostStdout())
                display.SayWhyNot();
        }
        service.Stopping();
        // As the window's close: a session in progress ends on the line.
        session.Close();
        session.StopMonitor();
        // Deliveries in flight finish (for a while); the rest wait in the
        // outbox for the next start.
        session.StopDelivery(CSessionDelivery::kStopGraceMs);
        session.FinishLog();
    }
    display.Finish();
    if (pTraceFile != nullptr)
        std::fclose(pTraceFile);
    return nStatus;
}
