// CExecSender with small shell scripts as the program.
#include "delivery/ExecSender.h"

#include "TempDir.h"
#include "delivery/Receivers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 10000;

COutgoing Page(int nIndex) {
    COutgoing page;
    page.strId = "0a1b2c3d-" + std::to_string(nIndex);
    page.strPager = "1200 'x'";
    page.strMessage = "Fire alarm";
    page.nPort = 4;
    page.strRecord = "{\"id\":\"" + page.strId + "\",\"message\":\"Fire alarm\"}";
    return page;
}

class SenderExec : public ::testing::Test {
  protected:
    // A program made of the script's lines, with the folder's path as $DIR.
    void Program(const std::string& strLines, mode_t mode = 0700) {
        m_target.strProgram = m_folder.Path("program.sh");
        CTempDir::Write(m_target.strProgram,
                        "#!/bin/sh\nDIR='" + m_folder.Path() + "'\n" + strLines + "\n");
        chmod(m_target.strProgram.c_str(), mode);
    }
    CSendResult RunOne() {
        CExecSender sender(m_target);
        return sender.Send({Page(1)}).at(0);
    }
    std::string Read(const std::string& strName) const {
        return CTempDir::Read(m_folder.Path(strName));
    }

    CTempDir m_folder;
    CTargetConfig m_target;
};

// Waits until the pid file was written whole and its process ended.
bool EndsSoon(const std::string& strPidFile) {
    std::string strPid;
    const bool bWritten = WaitForChange(
        strPidFile.substr(0, strPidFile.rfind('/')),
        [&] {
            strPid = CTempDir::Read(strPidFile);
            return !strPid.empty() && strPid.back() == '\n';
        },
        kWaitMs);
    return bWritten && WaitForProcessEnd(std::stoi(strPid), kWaitMs);
}

} // namespace

TEST_F(SenderExec, TheProgramGetsThePageAndNothingElseOfOurs) {
    // A descriptor of ours without close-on-exec must not reach it.
    const int fdOpen = open("/dev/null", O_RDONLY);
    ASSERT_EQ(57, dup2(fdOpen, 57));
    close(fdOpen);
    setenv("VOLNEX_PAGER", "stale", 1);
    Program("printf '%s|' \"$@\" > \"$DIR/argv\"\n"
            "echo \"$VOLNEX_PAGE_ID|$VOLNEX_PAGER|$VOLNEX_PORT|$HOME\" > \"$DIR/env\"\n"
            "cat > \"$DIR/stdin\"\n"
            "test -e /proc/$$/fd/57 && echo leaked > \"$DIR/fd\"\n"
            "echo 'all went well' >&2\n"
            "echo $$ > \"$DIR/pid\"\n"
            "exit 0");
    const CSendResult result = RunOne();
    unsetenv("VOLNEX_PAGER");
    close(57);
    EXPECT_EQ(SendOutcome::kDelivered, result.outcome);
    EXPECT_EQ("", result.strReason);
    EXPECT_EQ("all went well\n", result.strDetail);
    EXPECT_EQ("1200 'x'|", Read("argv"));
    EXPECT_EQ("0a1b2c3d-1|1200 'x'|4|" + std::string(getenv("HOME")) + "\n",
              Read("env"));
    EXPECT_EQ(Page(1).strRecord + "\n", Read("stdin"));
    EXPECT_EQ("", Read("fd"));
    // Reaped, not left a zombie.
    EXPECT_TRUE(CTempDir::Read("/proc/" +
                               Read("pid").substr(0, Read("pid").size() - 1) + "/stat")
                    .empty());
}

TEST_F(SenderExec, TheExitStatusDecides) {
    const struct {
        const char* pszScript;
        SendOutcome outcome;
        const char* pszReason;
    } cases[] = {
        {"exit 0", SendOutcome::kDelivered, ""},
        {"exit 75", SendOutcome::kRetry, "EXIT 75"},
        {"exit 1", SendOutcome::kFailed, "EXIT 1"},
        {"kill -TERM $$", SendOutcome::kFailed, "KILLED BY SIGNAL 15"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszScript);
        Program(c.pszScript);
        const CSendResult result = RunOne();
        EXPECT_EQ(c.outcome, result.outcome);
        EXPECT_EQ(c.pszReason, result.strReason);
    }
}

TEST_F(SenderExec, AfterARetryTheRestOfTheBatchWaits) {
    Program("echo run >> \"$DIR/runs\"\nexit 75");
    CExecSender sender(m_target);
    const std::vector<CSendResult> results = sender.Send({Page(1), Page(2), Page(3)});
    for (const CSendResult& result : results)
        EXPECT_EQ("EXIT 75", result.strReason);
    EXPECT_EQ("run\n", Read("runs"));
}

TEST_F(SenderExec, AProgramThatHangsIsKilledWithWhatItStarted) {
    m_target.nTimeoutSeconds = 1;
    Program("sleep 300 &\necho $! > \"$DIR/child\"\necho $$ > \"$DIR/pid\"\nwait");
    const CSendResult result = RunOne();
    EXPECT_EQ(SendOutcome::kRetry, result.outcome);
    EXPECT_EQ("TIMED OUT AFTER 1 S", result.strReason);
    EXPECT_TRUE(EndsSoon(m_folder.Path("pid")));
    EXPECT_TRUE(EndsSoon(m_folder.Path("child")));
}

TEST_F(SenderExec, StopEndsAProgramInFlight) {
    m_target.nTimeoutSeconds = 60;
    Program("echo $$ > \"$DIR/pid\"\nexec sleep 300");
    CExecSender sender(m_target);
    std::thread stopper([&] {
        EXPECT_TRUE(WaitForChange(
            m_folder.Path(), [&] { return !Read("pid").empty(); }, kWaitMs));
        sender.RequestStop();
    });
    const CSendResult result = sender.Send({Page(1)}).at(0);
    stopper.join();
    EXPECT_EQ(SendOutcome::kRetry, result.outcome);
    EXPECT_EQ("STOPPED", result.strReason);
    EXPECT_TRUE(EndsSoon(m_folder.Path("pid")));
}

TEST_F(SenderExec, AProgramThatCannotRunFails) {
    Program("exit 0", 0600);
    const CSendResult notExecutable = RunOne();
    EXPECT_EQ(SendOutcome::kFailed, notExecutable.outcome);
    EXPECT_EQ("CANNOT RUN THE PROGRAM: PERMISSION DENIED", notExecutable.strReason);

    m_target.strProgram = m_folder.Path("missing");
    const CSendResult missing = RunOne();
    EXPECT_EQ(SendOutcome::kFailed, missing.outcome);
    EXPECT_EQ("CANNOT RUN THE PROGRAM: NO SUCH FILE OR DIRECTORY", missing.strReason);
}

TEST_F(SenderExec, AProgramThatIgnoresItsInputAndTalksALotDoesNotBlockUs) {
    // It closes its input at once, so our write of a record larger than a
    // pipe holds meets a closed pipe (EPIPE, and SIGPIPE unless held back).
    Program("exec 0<&-\n"
            "i=0; while [ $i -lt 2000 ]; do\n"
            "  echo \"line $i of a program that has a lot to say\" >&2; i=$((i+1))\n"
            "done\nexit 0");
    COutgoing page = Page(1);
    page.strRecord = std::string(1 << 20, 'r');
    CExecSender sender(m_target);
    const CSendResult result = sender.Send({page}).at(0);
    EXPECT_EQ(SendOutcome::kDelivered, result.outcome);
    EXPECT_EQ(4096u, result.strDetail.size());
    EXPECT_EQ(0u, result.strDetail.find("line 0 of a program"));
}
