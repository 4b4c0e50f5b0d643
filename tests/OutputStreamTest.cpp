#include "headless/OutputStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

class OutputStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(pipe2(m_fds, O_CLOEXEC), 0);
        // The stream's descriptor is a copy, as standard output shares the
        // shell's open pipe.
        m_nWrite = dup(m_fds[1]);
    }
    void TearDown() override {
        for (int fd : {m_fds[0], m_fds[1], m_nWrite})
            if (fd >= 0)
                close(fd);
    }
    // Everything the reader can read now.
    std::string ReadAll() {
        fcntl(m_fds[0], F_SETFL, O_NONBLOCK);
        std::string strText;
        char buffer[4096];
        ssize_t n;
        while ((n = read(m_fds[0], buffer, sizeof buffer)) > 0)
            strText.append(buffer, static_cast<size_t>(n));
        return strText;
    }
    // Writes lines, shorter and shorter, until the pipe takes not even an
    // empty one; returns what went in.
    static std::string Fill(COutputStream& out) {
        std::string strWritten;
        for (size_t nLength : {999, 99, 9, 0}) {
            for (;;) {
                const std::string strLine = std::string(nLength, 'x') + "\n";
                if (out.Write(strLine, 0) != COutputStream::Result::kWritten)
                    break;
                strWritten += strLine;
            }
        }
        return strWritten;
    }

    int m_fds[2] = {-1, -1};
    int m_nWrite = -1;
};

TEST_F(OutputStreamTest, ALineThePipeCannotTakeInTimeIsNotWrittenAtAll) {
    COutputStream out(m_nWrite);
    const std::string strBefore = Fill(out);
    ASSERT_FALSE(strBefore.empty());
    EXPECT_EQ(out.Write("{\"page\":1}\n", 50), COutputStream::Result::kBehind);
    EXPECT_TRUE(ReadAll() == strBefore); // whole lines, nothing of the late one
    EXPECT_EQ(out.GetPending(), 0u);
    // Read, the pipe takes the next one at once.
    EXPECT_EQ(out.Write("{\"page\":2}\n", 0), COutputStream::Result::kWritten);
    EXPECT_EQ(ReadAll(), "{\"page\":2}\n");
}

TEST_F(OutputStreamTest, QueuedLinesGoOutInOrderBeforeANewOneAndOnlyThen) {
    COutputStream out(m_nWrite);
    const std::string strBefore = Fill(out);
    ASSERT_TRUE(out.WriteOrQueue("late 1\n"));
    ASSERT_TRUE(out.WriteOrQueue("late 2\n"));
    EXPECT_EQ(out.GetPending(), 2u);
    // A reader still behind: a line that would have to wait is behind at
    // once, and is not queued.
    EXPECT_EQ(out.Write("page\n", 2000), COutputStream::Result::kBehind);
    EXPECT_TRUE(ReadAll() == strBefore);
    EXPECT_EQ(out.Write("page\n", 0), COutputStream::Result::kWritten);
    EXPECT_EQ(out.GetPending(), 0u);
    EXPECT_EQ(ReadAll(), "late 1\nlate 2\npage\n");
}

TEST_F(OutputStreamTest, WaitEndsWhenTheStopFlagIsSet) {
    COutputStream out(m_nWrite);
    Fill(out);
    const std::atomic<bool> bStop{true};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(out.Write("page\n", 60000, &bStop), COutputStream::Result::kBehind);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(OutputStreamTest, AReaderThatWentIsAFailureWithItsReason) {
    close(m_fds[0]);
    m_fds[0] = -1;
    COutputStream out(m_nWrite);
    EXPECT_EQ(out.Write("page\n", 0), COutputStream::Result::kFailed);
    EXPECT_EQ(out.GetError(), EPIPE);
    EXPECT_FALSE(out.WriteOrQueue("next\n"));
}

TEST_F(OutputStreamTest, TheSharedDescriptionStaysBlocking) {
    COutputStream out(m_nWrite);
    EXPECT_EQ(fcntl(m_fds[1], F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(m_nWrite, F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(OutputStreamTest, ARegularFileIsWrittenAsItIs) {
    char szPath[] = "/tmp/volnex-out-XXXXXX";
    const int fd = mkstemp(szPath);
    ASSERT_GE(fd, 0);
    {
        COutputStream out(fd);
        EXPECT_EQ(out.Write("one\n", 0), COutputStream::Result::kWritten);
        EXPECT_TRUE(out.WriteOrQueue("two\n"));
        EXPECT_EQ(out.GetPending(), 0u);
    }
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    char buffer[16] = {};
    EXPECT_EQ(pread(fd, buffer, sizeof buffer, 0), 8);
    EXPECT_STREQ(buffer, "one\ntwo\n");
    close(fd);
    unlink(szPath);
}

} // namespace
