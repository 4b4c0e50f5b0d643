#include "session/Headless.h"

#include "engine/MessageBoxes.h"
#include "serial/TermiosDevice.h"
#include "session/PageSession.h"
#include "session/TraceLines.h"
#include "settings/Profile.h"
#include "ui/CommandLine.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

std::atomic<bool> g_bStopSignal{false};
constexpr int kGraceMs = 300;

extern "C" void OnStopSignal(int) {
    g_bStopSignal = true;
}

// A message box as one line on standard error; a question is answered No.
class CStreamBoxes : public IMessageBoxes {
  public:
    int Show(const std::string& strText, const std::string&, unsigned nStyle,
             bool) override {
        std::string strLine = strText;
        for (char& ch : strLine) {
            if (ch == '\n' || ch == '\r')
                ch = ' ';
        }
        std::fprintf(stderr, "%s\n", strLine.c_str());
        std::fflush(stderr);
        switch (nStyle & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL: return IDNO;
        default: return IDOK;
        }
    }
};

class CHeadlessDisplay : public ISessionDisplay {
  public:
    CHeadlessDisplay(std::FILE* pTrace, int nExitAfter)
        : m_pTrace(pTrace), m_nExitAfter(nExitAfter),
          m_lines([this](const std::string& strLine) {
              if (m_pTrace != nullptr) {
                  std::fprintf(m_pTrace, "%s\n", strLine.c_str());
                  std::fflush(m_pTrace);
              }
          }) {}

    void ShowSession() override {}
    bool KeepsRecordsFirst() const override { return true; }
    bool KeepRecord(const CPageRecord& record, std::string* pstrWhy) override {
        if (m_nStdoutError == 0)
            WriteRecord(record);
        if (m_nStdoutError != 0)
            *pstrWhy = "STANDARD OUTPUT: " + UpperCase(std::strerror(m_nStdoutError));
        return m_nStdoutError == 0;
    }
    void ShowPage(const CPageRecord& record) override {
        if (!record.bKept && m_nStdoutError == 0)
            WriteRecord(record);
        ++m_nResults;
        if (record.verdict != PageVerdict::kAccepted &&
            record.verdict != PageVerdict::kTruncated)
            m_bAllAccepted = false;
    }
    // Whether pages are kept in an outbox (delivered onward): then a failed
    // standard output is said once and given up, and the line goes on.
    void SetOutboxCheck(std::function<bool()> hasOutbox) {
        m_hasOutbox = std::move(hasOutbox);
    }
    void CheckStdout() {
        if (m_nStdoutError == 0 || m_bStdoutGivenUp || !m_hasOutbox || !m_hasOutbox())
            return;
        m_bStdoutGivenUp = true;
        std::fprintf(
            stderr,
            "volnex: standard output: %s after %d records; the pages are kept in "
            "the outbox, their records no longer written there\n",
            std::strerror(m_nStdoutError), m_nWritten);
        std::fflush(stderr);
    }
    void ShowTrace(bool bSent, const std::string& strText) override {
        if (m_pTrace != nullptr)
            m_lines.Trace(bSent, strText);
    }
    void ShowNote(const std::string& strNote) override {
        if (m_pTrace != nullptr)
            m_lines.Note(strNote);
    }
    void ShowEvent(const std::string& strEvent) override {
        if (m_pTrace != nullptr)
            m_lines.Event(strEvent);
    }

    void ShowLogProblem(const std::string& strReport) override {
        std::fprintf(stderr, "%s\n",
                     strReport.c_str() + strReport.find_first_not_of(' '));
        std::fflush(stderr);
        ShowNote(strReport);
    }

    bool IsDone() const { return m_nExitAfter > 0 && m_nResults >= m_nExitAfter; }
    // Standard output failed and the pages have no outbox: nothing more
    // can be acknowledged, the run ends (exit 1).
    bool HasLostStdout() const { return m_nStdoutError != 0 && !m_bStdoutGivenUp; }
    void SayLostStdout() const {
        std::fprintf(stderr, "exit 1: standard output: %s after %d records\n",
                     std::strerror(m_nStdoutError), m_nWritten);
        std::fflush(stderr);
    }
    int ExitStatus() const {
        return m_nResults > 0 && m_bAllAccepted ? kHeadlessAllAccepted
                                                : kHeadlessNotAllAccepted;
    }
    void Flush() { m_lines.Flush(); }

  private:
    // One write of the whole line, straight to the descriptor: nothing held
    // in a buffer across pages, and a failure seen at once.
    void WriteRecord(const CPageRecord& record) {
        const std::string strLine = PageRecordJson(record) + "\n";
        size_t nDone = 0;
        while (nDone < strLine.size()) {
            const ssize_t n =
                write(STDOUT_FILENO, strLine.data() + nDone, strLine.size() - nDone);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_nStdoutError = n < 0 ? errno : EIO;
                return;
            }
            nDone += static_cast<size_t>(n);
        }
        ++m_nWritten;
    }
    static std::string UpperCase(std::string strText) {
        for (char& c : strText)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return strText;
    }

    std::FILE* m_pTrace;
    int m_nExitAfter;
    int m_nStdoutError = 0;        // the errno of the failed write; 0: none
    bool m_bStdoutGivenUp = false; // failed with an outbox: said, the line goes on
    int m_nWritten = 0;            // records written to standard output
    std::function<bool()> m_hasOutbox;
    int m_nResults = 0;
    bool m_bAllAccepted = true;
    CTraceLines m_lines;
};

} // namespace

CSyncCall::Poster CJobLoop::Poster() {
    std::weak_ptr<CState> weak = m_state;
    return [weak](CSyncCall::Job job) {
        if (std::shared_ptr<CState> state = weak.lock()) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->jobs.push_back(std::move(job));
            state->cv.notify_one();
        }
    };
}

void CJobLoop::RunUntil(std::chrono::steady_clock::time_point until,
                        const std::atomic<bool>& bStop) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    while (!bStop) {
        if (m_state->jobs.empty()) {
            const auto wake = std::min(until, std::chrono::steady_clock::now() +
                                                  std::chrono::milliseconds(100));
            m_state->cv.wait_until(lock, wake, [&] { return !m_state->jobs.empty(); });
            if (m_state->jobs.empty() && std::chrono::steady_clock::now() >= until)
                return;
            continue;
        }
        CSyncCall::Job job = std::move(m_state->jobs.front());
        m_state->jobs.pop_front();
        lock.unlock(); // the job may post again
        job();
        lock.lock();
    }
}

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
    CIniProfile profile(ProgramProfilePath(cmd));
    SetAppProfile(&profile);
    struct CResetProfile {
        ~CResetProfile() { SetAppProfile(nullptr); }
    } resetProfile;

    std::FILE* pTrace = nullptr;
    if (cmd.bTrace) {
        pTrace = cmd.strTrace.empty() ? stderr : std::fopen(cmd.strTrace.c_str(), "a");
        if (pTrace == nullptr) {
            std::fprintf(stderr, "volnex: cannot write the trace to %s: %s\n",
                         cmd.strTrace.c_str(), std::strerror(errno));
            return kHeadlessLineFailed;
        }
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
    CStreamBoxes boxes;
    CHeadlessDisplay display(pTrace, cmd.nExitAfter);
    int nStatus;
    {
        CPageSession session(display, boxes, loop.Poster(), &CTermiosDevice::CanOpen);
        display.SetOutboxCheck([&session] { return session.GetDelivery() != nullptr; });
        if (!session.OpenPort()) {
            nStatus = kHeadlessLineFailed;
        } else {
            using Clock = std::chrono::steady_clock;
            const Clock::time_point start = Clock::now();
            const Clock::time_point end =
                cmd.nTimeoutSeconds > 0
                    ? start + std::chrono::seconds(cmd.nTimeoutSeconds)
                    : Clock::time_point::max();
            Clock::time_point nextTick = start + std::chrono::milliseconds(100);
            while (!g_bStopSignal && !display.IsDone() && !display.HasLostStdout() &&
                   Clock::now() < end) {
                loop.RunUntil(std::min(nextTick, end), g_bStopSignal);
                display.CheckStdout();
                if (Clock::now() >= nextTick) {
                    session.Tick();
                    nextTick += std::chrono::milliseconds(100);
                }
            }
            // The answer to the last page is on its way out: let it go
            // before the session ends on the line.
            if (display.IsDone())
                loop.RunUntil(Clock::now() + std::chrono::milliseconds(kGraceMs),
                              g_bStopSignal);
            nStatus = display.ExitStatus();
            if (display.HasLostStdout()) {
                display.SayLostStdout();
                nStatus = kHeadlessNotAllAccepted;
            }
        }
        // As the window's close: a session in progress ends on the line.
        session.Close();
        session.StopMonitor();
        // Deliveries in flight finish (for a while); the rest wait in the
        // outbox for the next start.
        session.StopDelivery(CSessionDelivery::kStopGraceMs);
    }
    display.Flush();
    if (pTrace != nullptr && pTrace != stderr)
        std::fclose(pTrace);
    return nStatus;
}
