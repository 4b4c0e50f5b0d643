#include "engine/PageTerminal.h"
#include "engine/Checksum.h"
#include "tests/EngineFixture.h"
#include "tests/FakeSerialDevice.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Lines = std::vector<std::string>;

const std::string kExampleBlock = "\x02"
                                  "1234\rHI\r\x03"
                                  "17:\r";
const std::string kExampleBadBlock = "\x02"
                                     "1234\rHI\r\x03"
                                     "17;\r";

// A well-formed block with its checksum, as a caller sends it.
std::string Block(const std::string& strPager, const std::string& strMessage) {
    std::string body = "\x02" + strPager + "\r" + strMessage + "\r\x03";
    return body + ChecksumCharacters(BlockChecksum(body.data(), body.size())) + "\r";
}

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

TEST_F(PageTerminalTest, ConnectWritesEndOfSessionWithoutPurgeOrStateChange) {
    ASSERT_TRUE(
        engine->Connect(harness.get(), 1, 9600, 'N', 8, 1, 1, 1, 0, 0, 0x39, 512));
    EXPECT_EQ(harness->timeline,
              (Lines{"write <ESC><EOT><CR>", "trace <ESC><EOT><CR>"}));
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
}

TEST_F(PageTerminalTest, LogonArmsOnTheFreshLineLevels) {
    ASSERT_TRUE(Logon());
    EXPECT_EQ(harness->timeline, (Lines{"write <ESC><EOT><CR>", "trace <ESC><EOT><CR>",
                                        "dsr on", "state 0", "dcd on", "state 1"}));
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
    EXPECT_EQ(engine->GetPageText(), ""); // emptied after the message
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
    harness->Feed(Block("77", "FIRST"));
    harness->Feed(Block("88", "SECOND PAGE"));
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
    loop.PumpFor(50);
    EXPECT_EQ(shared.nHangUps, 0); // a serial line is not hung up
}

TEST_F(PageTerminalTest, ASetUpFailureIsShownOnceTheLineIsServed) {
    // A rejected line format: its box waits for OK, the line must not.
    struct CCheckingBoxes : CRecordingBoxes {
        int Show(const std::string& t, const std::string& c, unsigned s,
                 bool o) override {
            bMonitorAlive = pEngine->IsMonitorAlive();
            strWrittenBefore = pHarness->written;
            return CRecordingBoxes::Show(t, c, s, o);
        }
        CPageTerminal* pEngine = nullptr;
        CEngineHarness* pHarness = nullptr;
        bool bMonitorAlive = false;
        std::string strWrittenBefore;
    } checking;
    checking.pEngine = engine.get();
    checking.pHarness = harness.get();
    engine->SetMessageBoxes(&checking);
    ASSERT_TRUE(
        engine->Connect(harness.get(), 1, 12345, 'N', 8, 1, 1, 1, 0, 0, 0x39, 512));
    ASSERT_EQ(checking.boxes.size(), 1u);
    EXPECT_NE(checking.boxes[0].strText.find("BuildCommDCB()"), std::string::npos);
    EXPECT_TRUE(checking.bMonitorAlive);
    EXPECT_EQ(Named(checking.strWrittenBefore), "<ESC><EOT><CR>");
}

// On a network line each connection is a call.
class PageTerminalNetworkTest : public CEngineFixture {
  protected:
    void SetUp() override {
        CEngineFixture::SetUp();
        engine->SetDeviceResolver([](int) { return std::string("tcp-listen:2775"); });
    }
};

TEST_F(PageTerminalNetworkTest, APeerThatNeverLogsOnIsHungUpAndTheNextPeerIsANewCall) {
    ToWaitingForCr();
    harness->Feed("\r");
    harness->Ticks(4 * (CPageTerminal::kTimeoutTicks + 1));
    ASSERT_EQ(engine->GetState(), ST_LOGGED_OFF);
    // Bytes of the silent peer change nothing until it has been hung up.
    harness->Feed("\r");
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    ASSERT_TRUE(loop.PumpUntil([&] { return engine->GetState() == ST_DISCONNECTED; }));
    EXPECT_EQ(shared.nHangUps, 1);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        const std::string strEnd = "\x1b\x04\r"; // it was told before the line went
        ASSERT_GE(shared.strWrittenAtHangUp.size(), strEnd.size());
        EXPECT_EQ(
            shared.strWrittenAtHangUp.substr(shared.strWrittenAtHangUp.size() - 3),
            strEnd);
    }
    // The fake's lines are on again after the hang-up: the next peer.
    ASSERT_TRUE(
        loop.PumpUntil([&] { return engine->GetState() == ST_WAITING_FOR_CR; }));
    EXPECT_EQ(shared.nHangUps, 1);
}

TEST_F(PageTerminalNetworkTest, TheLineFormatOfANetworkLineIsNotJudged) {
    // Baud rate, parity, data and stop bits do not apply to a connection.
    ASSERT_TRUE(
        engine->Connect(harness.get(), 1, 0, '?', 99, 7, 1, 1, 0, 0, 0x39, 512));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PageTerminalNetworkTest, TheOperatorsLogoffHoldsAndLogonWaitsForTheNextPeer) {
    ToWaitingForPage();
    engine->Logoff();
    SetLines(false, false);
    SetLines(true, true);
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    loop.PumpFor(50);
    EXPECT_EQ(shared.nHangUps, 0);
    // Logon while no peer is connected: the next one to come is a call.
    shared.nModemStatus = 0;
    ASSERT_TRUE(Logon());
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
    SetLines(true, true);
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_CR);
}

// A pseudo-terminal has no modem lines: a caller at the far end of a pair
// that hangs up in the middle of a block and calls again leaves no trace
// on the line but its silence and its CRs.
class PageTerminalVirtualLineTest : public CEngineFixture {
  protected:
    void SetUp() override {
        CEngineFixture::SetUp();
        shared.nModemError = ENOTTY;
    }
};

TEST_F(PageTerminalVirtualLineTest, ACrAfterTheSilenceOfAGoneCallerStartsANewCall) {
    ToWaitingForPage();
    harness->Feed(BlockOf("99\rFIRST PART\r", kEtb));
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
    harness->Feed("\x1bPG1\r" + Page("12", "NEXT CALLER"));
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
    harness->Feed(BlockOf("\rNO PAGER ID\r", kEtx));
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
    shared.nModemStatus = MS_CTS_ON | MS_RLSD_ON;
    ASSERT_TRUE(Logon());
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    SetLines(true, true);
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
    // With both lines on, Logon arms it again.
    ASSERT_TRUE(Logon());
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_CR);
}

TEST_F(PageTerminalTest, APortThatCannotOpenIsReportedAndLogonFails) {
    ToWaitingForPage();
    engine->Logoff();
    shared.nOpenError = EACCES;
    harness->Clear();
    EXPECT_FALSE(Logon());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText.substr(0, 53),
              "Unable to Open CommPort. Please check Comm. Settings\n");
    EXPECT_NE(boxes.boxes[0].strText.find("Permission denied"), std::string::npos);
    EXPECT_EQ(boxes.boxes[0].strCaption, kAppTitle);
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_TRUE(boxes.boxes[0].bOwned);
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED); // silently, no notification
    EXPECT_TRUE(harness->timeline.empty());
    // A failed set-up still counts as set up for Logoff, which finds no session.
    engine->Logoff();
    EXPECT_TRUE(harness->timeline.empty());
}

// The whole dialogue over a pseudo-terminal pair with the monitor thread.
TEST(PageTerminalPtyTest, ACallerOnTheLineGetsExactlyTheAnswers) {
    CPtyPair pty;
    CTestUiLoop loop;
    CRecordingBoxes boxes;
    CPageTerminal engine;
    CEngineHarness harness(&engine);
    engine.SetUiPoster(loop.Poster());
    engine.SetMessageBoxes(&boxes);
    engine.SetDeviceResolver([&](int) { return pty.SlavePath(); });
    ASSERT_TRUE(engine.Connect(&harness, 1, 9600, 'N', 8, 1, 1, 1, 0, 0, 0x39, 512));

    std::string line;
    auto await = [&](const std::string& strExpected) {
        line.clear();
        loop.PumpUntil([&] {
            line += pty.Read(64, 0);
            return line.size() >= strExpected.size();
        });
        loop.PumpFor(30);
        line += pty.Read(64, 0);
        return line;
    };
    EXPECT_EQ(Named(await("\x1b\x04\r")), "<ESC><EOT><CR>");
    pty.Write("\r");
    EXPECT_EQ(Named(await("ID=")), "ID=");
    pty.Write("\x1bPG1\r");
    EXPECT_EQ(Named(await("\x06\r\x1b[p\r")), "<ACK><CR><ESC>[p<CR>");
    pty.Write(kExampleBlock);
    EXPECT_EQ(Named(await("\x06\r")), "<ACK><CR>");
    pty.Write(kExampleBadBlock);
    EXPECT_EQ(Named(await("\x15\r")), "<NAK><CR>");
    pty.Write("\x04\r");
    EXPECT_EQ(Named(await("\x1b\x04\r")), "<ESC><EOT><CR>");
    EXPECT_EQ(harness.Only("page"),
              (Lines{"page 1 |  1234 HI   | ",
                     "page 0 |  1234 HI  17;  | <HT>BAD PAGE - INVALID CHECKSUM"}));
    EXPECT_TRUE(boxes.boxes.empty());
}

// A sender that does not wait for the answer: its next block is on the
// line while the engine is still handling the block before it. Whatever is
// lost of it, a page counted as accepted must have had its ACK written.
TEST(PageTerminalPtyTest, EveryPageCountedAsAcceptedHadItsAckWritten) {
    CPtyPair pty;
    CTestUiLoop loop;
    CRecordingBoxes boxes;
    CPageTerminal engine;
    struct CEagerSender : CEngineHarness {
        using CEngineHarness::CEngineHarness;
        long Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) override {
            long nResult = CEngineHarness::Notify(nMsg, wParam, lParam);
            if (nMsg == UM_PAGE_RESULT && lParam != 0 && ++nAccepted < 3)
                pPty->Write(Block("2", "NEXT PAGE " + std::to_string(nAccepted)));
            return nResult;
        }
        CPtyPair* pPty = nullptr;
        int nAccepted = 0;
    } sender(&engine);
    sender.pPty = &pty;
    engine.SetUiPoster(loop.Poster());
    engine.SetMessageBoxes(&boxes);
    engine.SetDeviceResolver([&](int) { return pty.SlavePath(); });
    ASSERT_TRUE(engine.Connect(&sender, 1, 9600, 'N', 8, 1, 1, 1, 0, 0, 0x39, 512));
    std::string line;
    auto await = [&](const std::string& strEnd) {
        return loop.PumpUntil([&] {
            line += pty.Read(64, 0);
            return line.size() >= strEnd.size() &&
                   line.compare(line.size() - strEnd.size(), strEnd.size(), strEnd) ==
                       0;
        });
    };
    // The port's ESC EOT CR is out once the monitor thread runs (and has
    // purged what came before it): only then is the caller's CR certain to
    // be read.
    ASSERT_TRUE(await("\x1b\x04\r"));
    pty.Write("\r");
    ASSERT_TRUE(await("ID="));
    pty.Write("\x1bPG1\r");
    ASSERT_TRUE(await("\x06\r\x1b[p\r"));
    line.clear();
    pty.Write(Block("1", "FIRST PAGE"));
    ASSERT_TRUE(loop.PumpUntil([&] { return sender.nAccepted > 0; }));
    loop.PumpFor(200); // the line goes quiet: no more answers to come
    line += pty.Read(64, 0);
    size_t nAcks = 0;
    for (size_t i = 0; (i = line.find("\x06\r", i)) != std::string::npos; i += 2)
        ++nAcks;
    EXPECT_EQ(nAcks, static_cast<size_t>(sender.nAccepted)) << Named(line);
    EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
