#include "delivery/ExecSender.h"

#include "delivery/SenderText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// EX_TEMPFAIL: the program could not deliver the page now.
constexpr int kExitTryAgain = 75;
// What of the program's standard error is kept with the attempt.
constexpr size_t kErrorKept = 4096;
// What is still read from standard error once the program has ended (more
// may come from what it left running).
constexpr size_t kErrorDrainLimit = 64 * 1024;
// Without a process descriptor, how often the program's end is looked for;
// also how often a stop request is.
constexpr int kWatchMs = 50;

// A descriptor closed when it goes out of scope.
class CFd {
  public:
    CFd() = default;
    ~CFd() { Close(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd) {
        Close();
        m_fd = fd;
    }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd = -1;
};

// Both ends close on exec and lie above the standard descriptors, so that
// moving them onto 0 and 2 in the child never overwrites the other end even
// when this process runs with a standard descriptor closed.
bool MakePipe(CFd* pRead, CFd* pWrite) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    for (int& fd : fds) {
        if (fd <= STDERR_FILENO) {
            const int nMoved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            close(fd);
            fd = nMoved;
        }
    }
    pRead->Reset(fds[0]);
    pWrite->Reset(fds[1]);
    return pRead->Get() >= 0 && pWrite->Get() >= 0;
}

void SetNonBlocking(int fd) {
    const int nFlags = fcntl(fd, F_GETFL);
    if (nFlags >= 0)
        fcntl(fd, F_SETFL, nFlags | O_NONBLOCK);
}

// Writes what the pipe takes now. A write to a pipe nobody reads raises
// SIGPIPE, which would end this whole program: the signal is held back for
// the call and the one the call raised is taken away again.
ssize_t WriteWithoutSigpipe(int fd, const char* pData, size_t nSize, int* pnError) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool bAlreadyPending = sigismember(&pending, SIGPIPE) == 1;
    const ssize_t nWritten = write(fd, pData, nSize);
    *pnError = errno;
    if (nWritten < 0 && *pnError == EPIPE && !bAlreadyPending) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return nWritten;
}

// Reads what standard error holds now into *pstrKept (up to its limit; the
// rest is read and dropped). False at its end or on an error.
bool ReadErrorOutput(int fd, std::string* pstrKept, size_t* pnRead) {
    char buffer[4096];
    const ssize_t nRead = read(fd, buffer, sizeof buffer);
    if (nRead > 0) {
        if (pstrKept->size() < kErrorKept)
            pstrKept->append(buffer, std::min(static_cast<size_t>(nRead),
                                              kErrorKept - pstrKept->size()));
        *pnRead += static_cast<size_t>(nRead);
        return true;
    }
    return nRead < 0 && (errno == EAGAIN || errno == EINTR);
}

// Ours, less any VOLNEX_ variable of the page's, plus the page's.
std::vector<std::string> Environment(const COutgoing& page) {
    static const char* const kOwnNames[] = {
        "VOLNEX_PAGE_ID=", "VOLNEX_PAGER=", "VOLNEX_PORT="};
    std::vector<std::string> variables;
    for (char** pp = environ; pp != nullptr && *pp != nullptr; ++pp) {
        const bool bOwn = std::any_of(
            std::begin(kOwnNames), std::end(kOwnNames), [pp](const char* pName) {
                return std::strncmp(*pp, pName, std::strlen(pName)) == 0;
            });
        if (!bOwn)
            variables.push_back(*pp);
    }
    variables.push_back("VOLNEX_PAGE_ID=" + page.strId);
    variables.push_back("VOLNEX_PAGER=" + page.strPager);
    variables.push_back("VOLNEX_PORT=" + std::to_string(page.nPort));
    return variables;
}

// posix_spawn's settings for one child, released when it goes out of scope.
class CSpawnSetup {
  public:
    CSpawnSetup(int fdInput, int fdError) {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawn_file_actions_adddup2(&m_actions, fdInput, STDIN_FILENO);
        posix_spawn_file_actions_addopen(&m_actions, STDOUT_FILENO, "/dev/null",
                                         O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&m_actions, fdError, STDERR_FILENO);
        // Nothing else of ours reaches the program, whatever was opened
        // without close-on-exec.
        posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1);

        posix_spawnattr_init(&m_attributes);
        // A process group of its own, so a time-out kills what it started
        // too; no blocked signals and every signal at its default, whatever
        // this program set up for itself.
        posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETPGROUP |
                                                    POSIX_SPAWN_SETSIGMASK |
                                                    POSIX_SPAWN_SETSIGDEF);
        posix_spawnattr_setpgroup(&m_attributes, 0);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&m_attributes, &signals);
        sigfillset(&signals);
        sigdelset(&signals, SIGKILL);
        sigdelset(&signals, SIGSTOP);
        posix_spawnattr_setsigdefault(&m_attributes, &signals);
    }
    ~CSpawnSetup() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    CSpawnSetup(const CSpawnSetup&) = delete;
    CSpawnSetup& operator=(const CSpawnSetup&) = delete;
    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
    const posix_spawnattr_t* Attributes() const { return &m_attributes; }

  private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

void Reap(pid_t pid, int* pnStatus) {
    while (waitpid(pid, pnStatus, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

CExecSender::CExecSender(const CTargetConfig& target) : m_target(target) {}

std::vector<CSendResult> CExecSender::Send(const std::vector<COutgoing>& pages) {
    return SendOneByOne(pages, [this](const COutgoing& page) { return RunOne(page); });
}

CSendResult CExecSender::RunOne(const COutgoing& page) {
    CSendResult result;
    if (StopRequested()) {
        result.strReason = "STOPPED";
        return result;
    }
    CFd inputRead, inputWrite, errorRead, errorWrite;
    if (!MakePipe(&inputRead, &inputWrite) || !MakePipe(&errorRead, &errorWrite)) {
        result.strReason = "CANNOT RUN THE PROGRAM: " + UpperCase(std::strerror(errno));
        return result;
    }
    std::vector<std::string> arguments = {m_target.strProgram, page.strPager};
    std::vector<std::string> variables = Environment(page);
    std::vector<char*> argv, envp;
    for (std::string& strArgument : arguments)
        argv.push_back(strArgument.data());
    argv.push_back(nullptr);
    for (std::string& strVariable : variables)
        envp.push_back(strVariable.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    int nSpawnError;
    {
        const CSpawnSetup setup(inputRead.Get(), errorWrite.Get());
        nSpawnError = posix_spawn(&pid, m_target.strProgram.c_str(), setup.Actions(),
                                  setup.Attributes(), argv.data(), envp.data());
    }
    inputRead.Close();
    errorWrite.Close();
    if (nSpawnError != 0) {
        // Short of processes or memory is for now; a program that is not
        // there or not runnable is for good.
        const bool bForNow = nSpawnError == EAGAIN || nSpawnError == ENOMEM;
        result.outcome = bForNow ? SendOutcome::kRetry : SendOutcome::kFailed;
        result.strReason =
            "CANNOT RUN THE PROGRAM: " + UpperCase(std::strerror(nSpawnError));
        return result;
    }

    SetNonBlocking(inputWrite.Get());
    SetNonBlocking(errorRead.Get());
    // Readable when the child ends, so its end is seen at once; without it
    // (an old kernel) the loop looks every kWatchMs.
    CFd processFd;
    processFd.Reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    const std::string strInput = page.strRecord + "\n";
    size_t nInputSent = 0;
    std::string strError;
    size_t nErrorRead = 0;

    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(m_target.nTimeoutSeconds);
    int nStatus = 0;
    bool bEnded = false;
    bool bStopped = false;
    for (;;) {
        if (waitpid(pid, &nStatus, WNOHANG) == pid) {
            bEnded = true;
            break;
        }
        if (StopRequested()) {
            bStopped = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd fds[3];
        nfds_t nFds = 0;
        if (inputWrite.Get() >= 0)
            fds[nFds++] = {inputWrite.Get(), POLLOUT, 0};
        if (errorRead.Get() >= 0)
            fds[nFds++] = {errorRead.Get(), POLLIN, 0};
        if (processFd.Get() >= 0)
            fds[nFds++] = {processFd.Get(), POLLIN, 0};
        const int nWaitMs =
            static_cast<int>(std::min<long long>(kWatchMs, left.count() + 1));
        if (poll(fds, nFds, nWaitMs) <= 0)
            continue;
        for (nfds_t i = 0; i < nFds; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == inputWrite.Get()) {
                int nError = 0;
                const ssize_t nWritten =
                    WriteWithoutSigpipe(inputWrite.Get(), strInput.data() + nInputSent,
                                        strInput.size() - nInputSent, &nError);
                if (nWritten > 0)
                    nInputSent += static_cast<size_t>(nWritten);
                // All written, or the program closed its input (EPIPE):
                // either way it has what it will read.
                const bool bFailed =
                    nWritten < 0 && nError != EAGAIN && nError != EINTR;
                if (nInputSent == strInput.size() || bFailed)
                    inputWrite.Close();
            } else if (fds[i].fd == errorRead.Get()) {
                if (!ReadErrorOutput(errorRead.Get(), &strError, &nErrorRead))
                    errorRead.Close();
            }
        }
    }

    if (bEnded) {
        // What the program wrote just before it ended, but no more than a
        // bounded amount: what it left running may write on.
        const size_t nLimit = nErrorRead + kErrorDrainLimit;
        while (errorRead.Get() >= 0 && nErrorRead < nLimit) {
            const size_t nBefore = nErrorRead;
            if (!ReadErrorOutput(errorRead.Get(), &strError, &nErrorRead) ||
                nErrorRead == nBefore)
                break;
        }
    } else {
        kill(-pid, SIGKILL);
        Reap(pid, &nStatus);
    }
    result.strDetail = Excerpt(strError, kErrorKept);

    if (bStopped) {
        result.strReason = "STOPPED";
    } else if (!bEnded) {
        result.strReason =
            "TIMED OUT AFTER " + std::to_string(m_target.nTimeoutSeconds) + " S";
    } else if (WIFEXITED(nStatus)) {
        const int nExit = WEXITSTATUS(nStatus);
        result.outcome = nExit == 0               ? SendOutcome::kDelivered
                         : nExit == kExitTryAgain ? SendOutcome::kRetry
                                                  : SendOutcome::kFailed;
        if (nExit != 0)
            result.strReason = "EXIT " + std::to_string(nExit);
    } else {
        result.outcome = SendOutcome::kFailed;
        result.strReason = "KILLED BY SIGNAL " + std::to_string(WTERMSIG(nStatus));
    }
    return result;
}
