// The protocol trace as whole, timed lines for the log and the headless
// trace.
#include "session/TraceLines.h"

#include "tests/TestClock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TraceLinesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock.nMs = static_cast<std::int64_t>(LocalTime(2026, 12, 8, 14, 5)) * 1000 + 7;
        SetClock(&clock);
    }
    void TearDown() override { SetClock(nullptr); }
    void Receive(const std::string& strBytes) {
        for (char ch : strBytes)
            trace.Trace(false, std::string(1, ch));
    }

    CMsClock clock;
    std::vector<std::string> lines;
    CTraceLines trace{[this](const std::string& s) { lines.push_back(s); }};
};

TEST_F(TraceLinesTest, AReceivedLineIsHandedOnAtItsCrWithTheTimeOfItsFirstByte) {
    Receive("\x1bPG");
    clock.nMs += 250;
    Receive("1");
    EXPECT_TRUE(lines.empty()); // still open
    Receive("\r");
    EXPECT_EQ(lines, std::vector<std::string>{"14:05:00.007 =>  <ESC>PG1<CR>"});
}

TEST_F(TraceLinesTest, SentTextsAndNotesGoAtOnceAndEndAnOpenLine) {
    Receive("ID");
    clock.nMs += 1000;
    trace.Trace(true, "\x06\r");
    trace.Note("   TEST MODE: NAK SENT");
    EXPECT_EQ(lines, (std::vector<std::string>{"14:05:00.007 =>  ID",
                                               "14:05:01.007 <=  <ACK><CR>",
                                               "14:05:01.007    TEST MODE: NAK SENT"}));
}

TEST_F(TraceLinesTest, EventsDoNotCutAReceivedLineAndFlushHandsOnTheRest) {
    Receive("\x02"
            "12");
    clock.nMs += 993;
    trace.Event("DSR OFF");
    Receive("34");
    EXPECT_EQ(lines, std::vector<std::string>{"14:05:01.000    LINE: DSR OFF"});
    trace.Flush();
    trace.Flush();
    EXPECT_EQ(lines.back(), "14:05:00.007 =>  <STX>1234");
    EXPECT_EQ(lines.size(), 2u);
}

TEST_F(TraceLinesTest, AnOverlongReceivedLineGivesTheWarningsAsTheWindowDoes) {
    Receive(std::string(300, 'A'));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "14:05:00.007 " + std::string(kBufferExceeded));
    EXPECT_EQ(lines[2], "14:05:00.007 " + std::string(kMismatchedSettings));
}

} // namespace
