#include "engine/PageTerminal.h"
#include "engine/Checksum.h"
#include "tests/EngineFixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Lines = std::vector<std::string>;

class PageTerminalTest : public CEngineFixture {};

TEST_F(PageTerminalTest, StateTextsAreExact) {
    const char* texts[] = {
        "VELDRIN DISCONNECTED",   "WAITING FOR CR",   "SENDING LOGON PROMPT",
        "WAIT FOR LOGON REQUEST", "SENT LOGON ACK",   "WAITING FOR PAGE ",
        "RECEIVING PAGE",         "SENDING PAGE ACK", "LOGGED OFF"};
    for (int i = 0; i < 9; ++i)
        EXPECT_STREQ(GetStateText(i), texts[i]);
    EXPECT_STREQ(GetStateText(9), "");
    EXPECT_STREQ(GetStateText(-1), "");
}

TEST_F(PageTerminalTest, AcceptsTheExampleBlockWithAckInTheRightOrder) {
    ToWaitingForPage();
    harness->Feed(kExampleBlock);
    EXPECT_EQ(harness->timeline,
              (Lines{"state 6", "purge 0C", "write <ACK><CR>", "page 1 |  1234 HI   | ",
                     "trace <ACK><CR>", "state 5"}));
    ASSERT_EQ(harness->pageTexts.size(), 1u);
    EXPECT_EQ(harness->pageTexts[0], std::string("\x20"
                                                 "1234\x20HI\x20\x20"));
    EXPECT_EQ(harness->resultTexts[0], "");
    EXPECT_FALSE(engine->KeepsPageText()); // emptied after the message
}

TEST_F(PageTerminalTest, RejectsAWrongChecksumWithNak) {
    ToWaitingForPage();
    harness->Feed(kExampleBadBlock);
    EXPECT_EQ(harness->Only("write"), (Lines{"write <NAK><CR>"}));
    ASSERT_EQ(harness->pageTexts.size(), 1u);
    EXPECT_EQ(harness->pageTexts[0], std::string(" 1234 HI  17; "));
    EXPECT_EQ(harness->resultTexts[0], "\tBAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(harness->timeline[3],
              "page 0 |  1234 HI  17;  | <HT>BAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
}

TEST_F(PageTerminalTest, ChecksumCountsHighBytesAsNegativeAndReadsOnlyLowNibbles) {
    struct {
        std::string block;
        bool bAccepted;
    } cases[] = {
        // 02+31+0D+E9+0D+03 with E9 as -23 is 0x039; as 233 it would be 0x139.
        {std::string("\x02"
                     "1\r\xE9\r\x03"
                     "039\r"),
         true},
        {std::string("\x02"
                     "1\r\xE9\r\x03"
                     "139\r"),
         false},
        // Only the low four bits of each checksum character count.
        {std::string("\x02"
                     "1234\rHI\r\x03"
                     "\x61\x37\x3A\r"),
         true},
        {std::string("\x02"
                     "1234\rHI\r\x03"
                     "\xF1\x77\x4A\r"),
         true},
        {std::string("\x02"
                     "1234\rHI\r\x03"
                     "\x61\x37\x3B\r"),
         false},
        // A NUL inside a block is dropped: not stored, not summed.
        {std::string("\x02"
                     "1234\rH\0I\r\x03"
                     "17:\r",
                     15),
         true},
    };
    for (const auto& c : cases) {
        ToWaitingForPage();
        harness->Feed(c.block);
        ASSERT_EQ(harness->pageTexts.size(), 1u) << Named(c.block);
        EXPECT_EQ(harness->Only("write"),
                  (Lines{c.bAccepted ? "write <ACK><CR>" : "write <NAK><CR>"}))
            << Named(c.block);
        EXPECT_EQ(harness->pageTexts[0].find('\0'), std::string::npos);
        engine->Logoff();
    }
}

TEST_F(PageTerminalTest, TwoBlocksInARowStartFromZero) {
    ToWaitingForPage();
    harness->Feed(MakePageBlock("77", "FIRST"));
    harness->Feed(MakePageBlock("88", "SECOND PAGE"));
    EXPECT_EQ(harness->Only("write"), (Lines{"write <ACK><CR>", "write <ACK><CR>"}));
    ASSERT_EQ(harness->pageTexts.size(), 2u);
    EXPECT_EQ(harness->pageTexts[1], " 88 SECOND PAGE  ");
}

TEST_F(PageTerminalTest, AThirdFieldFailsTheFormatAtItsEtxWithoutAnswer) {
    ToWaitingForPage();
    harness->Feed("\x02"
                  "1234\rHI\rX\r\x03");
    EXPECT_EQ(
        harness->timeline,
        (Lines{"state 6",
               "page 0 | <STX>1234<CR>HI<CR>X<CR><ETX> | <HT>BAD PAGE - INVALID FORMAT",
               "state 5"}));
    // The checksum and CR that follow arrive between blocks: a new prompt.
    harness->Clear();
    harness->Feed("17:\r");
    EXPECT_EQ(harness->Only("write"), (Lines{"write ID="}));
    EXPECT_EQ(engine->GetState(), ST_SENDING_LOGON_PROMPT);
}

TEST_F(PageTerminalTest, AOneFieldBlockTimesOutOnThe81stTick) {
    ToWaitingForPage();
    harness->Feed("\x02"
                  "1234\r\x03"
                  "abc\r");
    harness->Ticks(80);
    EXPECT_EQ(harness->Only("page"), Lines{});
    harness->Ticks(1);
    EXPECT_EQ(
        harness->timeline,
        (Lines{"state 6", "page 0 | <STX>1234 <ETX>abc  | <HT>TIMED OUT ", "state 5"}));
    EXPECT_EQ(harness->written, "");
    // The next block's time-out counts from its own STX.
    harness->Clear();
    harness->Feed("\x02"
                  "9");
    harness->Ticks(80);
    EXPECT_EQ(engine->GetState(), ST_RECEIVING_PAGE);
    harness->Ticks(1);
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
}

TEST_F(PageTerminalTest, EndOfSessionFromTheCallerIsAnsweredWithEscEotCr) {
    // Between blocks, and inside one (the block is dropped without a page
    // result); the EOT may follow other characters on the line.
    struct {
        const char* szBytes;
        Lines before; // what the bytes before the EOT CR cause
    } cases[] = {
        {"\x04\r", {}},
        {"BYE\x04\r", {}},
        {"\x02"
         "1234\rH\x04\r",
         {"state 6"}},
    };
    for (const auto& c : cases) {
        ToWaitingForPage();
        harness->Feed(c.szBytes);
        Lines expected = c.before;
        for (const char* szEntry :
             {"purge 0C", "write <ESC><EOT><CR>", "trace <ESC><EOT><CR>", "state 0"})
            expected.push_back(szEntry);
        EXPECT_EQ(harness->timeline, expected) << Named(c.szBytes);
        EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
        // A new session starts as before: the levels are seen, then a CR.
        harness->Clear();
        SetLines(true, true);
        harness->Feed("\r");
        EXPECT_EQ(harness->Only("write"), Lines{"write ID="}) << Named(c.szBytes);
        engine->Logoff();
    }
}

TEST_F(PageTerminalTest, ACrIsAnsweredWithThePromptAtOnce) {
    ToWaitingForCr();
    harness->Feed("xyz"); // not stored, not answered
    EXPECT_TRUE(harness->timeline.empty());
    harness->Feed("\r");
    EXPECT_EQ(harness->timeline,
              (Lines{"purge 0C", "write ID=", "trace ID=", "state 2"}));
}

TEST_F(PageTerminalTest, WithoutACrThePromptGoesOutOnThe21stTick) {
    ToWaitingForCr();
    harness->Ticks(20);
    EXPECT_TRUE(harness->timeline.empty());
    harness->Ticks(1);
    EXPECT_EQ(harness->Only("write"), (Lines{"write ID="}));
}

TEST_F(PageTerminalTest, FourUnansweredPromptsEndInLoggedOff) {
    ToWaitingForCr();
    harness->Feed("\r");
    for (int nRepeat = 0; nRepeat < 3; ++nRepeat) {
        harness->Ticks(80);
        EXPECT_EQ(harness->Only("write").size(), 1u + nRepeat);
        harness->Ticks(1);
    }
    EXPECT_EQ(harness->Only("write").size(), 4u);
    harness->Ticks(80);
    EXPECT_EQ(engine->GetState(), ST_SENDING_LOGON_PROMPT);
    harness->Clear();
    harness->Ticks(1);
    EXPECT_EQ(harness->timeline, (Lines{"purge 0C", "write <ESC><EOT><CR>",
                                        "trace <ESC><EOT><CR>", "state 8"}));
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    EXPECT_EQ(harness->nHangUps, 0); // a serial line is not hung up
}

// A pseudo-terminal has no modem lines: a caller at the far end of a pair
// that hangs up in the middle of a block and calls again leaves no trace
// on the line but its silence and its CRs.
class PageTerminalVirtualLineTest : public CEngineFixture {
  protected:
    void SetUp() override {
        CEngineFixture::SetUp();
        harness->bNoModemLines = true;
    }
};

TEST_F(PageTerminalVirtualLineTest, ACrAfterTheSilenceOfAGoneCallerStartsANewCall) {
    ToWaitingForPage();
    harness->Feed(MakeBlock("99\rFIRST PART\r", kEtb));
    harness->Feed("\x02"
                  "MORE OF IT");
    harness->Feed("\r"); // the new caller's first CR, at once: a field's end
    harness->Ticks(CPageTerminal::kQuietTicks);
    harness->Clear();
    harness->Feed("\r"); // its CR again, after the wait for a prompt
    EXPECT_EQ(harness->Only("page"),
              (Lines{"page 0 |  99 FIRST PART  | <HT>BAD PAGE - INCOMPLETE MESSAGE"}));
    EXPECT_EQ(harness->Only("state"), (Lines{"state 0", "state 1", "state 2"}));
    EXPECT_EQ(harness->written, "ID=");
    // The new call goes on as any other.
    harness->Clear();
    harness->Feed("\x1bPG1\r" + MakePageBlock("12", "NEXT CALLER"));
    EXPECT_EQ(harness->written, "\x06\r\x1b[p\r\x06\r");
    EXPECT_EQ(harness->Only("page"), (Lines{"page 1 |  12 NEXT CALLER   | "}));
}

TEST_F(PageTerminalVirtualLineTest, AShorterPauseOrAnotherByteKeepsTheBlock) {
    ToWaitingForPage();
    harness->Feed("\x02"
                  "1234\rHI");
    harness->Ticks(CPageTerminal::kQuietTicks - 1);
    harness->Feed("\r");
    harness->Ticks(CPageTerminal::kQuietTicks); // not a CR after this one
    harness->Feed(kExampleBlock.substr(9, 4));
    // A CR after the end character ends the block, however late it comes.
    harness->Ticks(CPageTerminal::kQuietTicks);
    harness->Feed("\r");
    EXPECT_EQ(harness->written, "\x06\r");
    // The silence of an earlier block does not count in the next one.
    harness->Clear();
    harness->Feed("\x02"
                  "1");
    harness->Ticks(CPageTerminal::kTimeoutTicks + 1); // that block times out
    harness->Feed(MakeBlock("\rNO PAGER ID\r", kEtx));
    EXPECT_EQ(harness->written, "\x06\r");
}

TEST_F(PageTerminalTest, OnALineWithModemLinesACrAfterSilenceStaysInTheBlock) {
    // There a hang-up drops DCD; the silence alone means nothing.
    ToWaitingForPage();
    harness->Feed("\x02"
                  "1234\rHI");
    harness->Ticks(CPageTerminal::kTimeoutTicks - 9);
    harness->Feed(kExampleBlock.substr(8));
    EXPECT_EQ(harness->written, "\x06\r");
}

TEST_F(PageTerminalTest, LogonRequestIsRecognisedOnlyWithNothingBetweenPg1AndCr) {
    struct {
        std::string bytes;
        bool bAccepted;
    } cases[] = {
        {"\x1bPG1\r", true},
        {"garbage\x1bPG1\r", true},
        {"AB\rCD\x1bPG1\r", true}, // an earlier CR changes nothing
        {"\x1bPG1234\r", false},   // a password is not a logon
        {"\x1bPG2\r", false},
        {"PG1\r", false},
        {std::string("\0\x1bPG1\r", 6), false}, // a stored NUL hides the rest
    };
    for (const auto& c : cases) {
        ToWaitingForCr();
        harness->Feed("\r");
        harness->Clear();
        const std::string& bytes = c.bytes;
        harness->Feed(bytes);
        if (c.bAccepted) {
            EXPECT_EQ(harness->timeline,
                      (Lines{"purge 0C", "write <ACK><CR><ESC>[p<CR>",
                             "trace <ACK><CR><ESC>[p<CR>", "state 5"}))
                << Named(bytes);
        } else {
            EXPECT_TRUE(harness->timeline.empty()) << Named(bytes);
        }
        engine->Logoff();
    }
}

TEST_F(PageTerminalTest, ABareCrAfterLogonPromptsAgainButByeDoesNot) {
    ToWaitingForPage();
    harness->Feed("BYE\r");
    harness->Feed("\r"); // the line store still holds BYE
    EXPECT_TRUE(harness->timeline.empty());
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);

    ToWaitingForPage();
    harness->Feed("\r");
    EXPECT_EQ(harness->Only("write"), (Lines{"write ID="}));
    // The caller logs on again.
    harness->Feed("\x1bPG1\r");
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
}

TEST_F(PageTerminalTest, LogoffWritesOnlyDuringASession) {
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
    engine->Logoff(); // never set up
    ToWaitingForCr();
    engine->Logoff();
    EXPECT_TRUE(harness->timeline.empty());
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_CR);

    ToWaitingForPage();
    harness->Feed("\x02"
                  "12");
    harness->Clear();
    engine->Logoff();
    EXPECT_EQ(harness->timeline,
              (Lines{"purge 0C", "write <ESC><EOT><CR>", "trace <ESC><EOT><CR>"}));
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    harness->Clear();
    engine->Logoff();
    EXPECT_TRUE(harness->timeline.empty());
}

TEST_F(PageTerminalTest, ALineOffDisconnectsOnEveryCheck) {
    ToWaitingForPage();
    harness->Feed("\x02"
                  "12");
    harness->Clear();
    SetLines(false, true);
    EXPECT_EQ(harness->timeline, (Lines{"dsr off", "state 0", "dcd on", "state 0"}));
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
    EXPECT_EQ(harness->Only("page"), Lines{}); // the block is dropped
    // Bytes are discarded while disconnected.
    harness->Clear();
    harness->Feed("\r\x02"
                  "1234\rHI\r\x03"
                  "17:\r");
    EXPECT_TRUE(harness->timeline.empty());
    // Lines back on: waiting for a CR again.
    SetLines(true, true);
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_CR);
}

TEST_F(PageTerminalTest, ALoggedOffEngineIgnoresTheLines) {
    ToWaitingForPage();
    engine->Logoff();
    harness->Clear();
    SetLines(false, false);
    SetLines(true, true);
    EXPECT_EQ(harness->Only("state"), Lines{});
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    harness->Feed("\r");
    EXPECT_EQ(harness->written, "");
    // Logon with a line off opens the port but leaves it logged off.
    harness->HoldLines(false, true);
    ASSERT_TRUE(Logon());
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    SetLines(true, true);
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    // With both lines on, Logon arms it again.
    ASSERT_TRUE(Logon());
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_CR);
}

} // namespace
