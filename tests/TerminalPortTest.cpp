// The engine on its port: what the two do together, over a fake device and
// a pseudo-terminal pair (set-up and its failures, the line's levels at a
// logon, hang-ups of network calls, the answers on a real line).
#include "session/TerminalPort.h"
#include "engine/Checksum.h"
#include "engine/TestMode.h"
#include "serial/MessageBoxes.h"
#include "tests/TerminalPortFixture.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <mutex>

namespace {

using Lines = std::vector<std::string>;

class TerminalPortTest : public CTerminalPortFixture {};

TEST_F(TerminalPortTest, ConnectWritesEndOfSessionWithoutPurgeOrStateChange) {
    ASSERT_TRUE(line->Connect(harness.get(), TestLine(1)));
    EXPECT_EQ(harness->timeline,
              (Lines{"write <ESC><EOT><CR>", "trace <ESC><EOT><CR>"}));
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
}

TEST_F(TerminalPortTest, LogonArmsOnTheFreshLineLevels) {
    ASSERT_TRUE(Logon());
    EXPECT_EQ(harness->timeline, (Lines{"write <ESC><EOT><CR>", "trace <ESC><EOT><CR>",
                                        "dsr on", "state 0", "dcd on", "state 1"}));
}

TEST_F(TerminalPortTest, ASetUpFailureIsShownOnceTheLineIsServed) {
    // A rejected line format: its box waits for OK, the line must not.
    struct CCheckingBoxes : CRecordingBoxes {
        int Show(const std::string& t, const std::string& c, unsigned s,
                 bool o) override {
            bMonitorAlive = pPort->IsMonitorAlive();
            strWrittenBefore = pHarness->written;
            return CRecordingBoxes::Show(t, c, s, o);
        }
        CCommPort* pPort = nullptr;
        CEngineHarness* pHarness = nullptr;
        bool bMonitorAlive = false;
        std::string strWrittenBefore;
    } checking;
    checking.pPort = &line->Port();
    checking.pHarness = harness.get();
    line->SetMessageBoxes(&checking);
    ASSERT_TRUE(line->Connect(harness.get(), TestLine(1, 12345, 'N', 8, 1)));
    ASSERT_EQ(checking.boxes.size(), 1u);
    EXPECT_NE(checking.boxes[0].strText.find("BuildCommDCB()"), std::string::npos);
    EXPECT_TRUE(checking.bMonitorAlive);
    EXPECT_EQ(Named(checking.strWrittenBefore), "<ESC><EOT><CR>");
}

TEST_F(TerminalPortTest, ASerialLineIsNotHungUpWhenTheLogonPromptsRunOut) {
    ToWaitingForCr();
    harness->Feed("\r");
    harness->Ticks(4 * (CPageTerminal::kTimeoutTicks + 1));
    ASSERT_EQ(engine->GetState(), ST_LOGGED_OFF);
    loop.PumpFor(50);
    EXPECT_EQ(shared.nHangUps, 0);
}

// On a network line each connection is a call.
class TerminalPortNetworkTest : public CTerminalPortFixture {
  protected:
    void SetUp() override {
        CTerminalPortFixture::SetUp();
        line->Port().SetDeviceResolver(
            [](int) { return std::string("tcp-listen:2775"); });
    }
};

TEST_F(TerminalPortNetworkTest, APeerThatNeverLogsOnIsHungUpAndTheNextPeerIsANewCall) {
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

TEST_F(TerminalPortNetworkTest, TheLineFormatOfANetworkLineIsNotJudged) {
    // Baud rate, parity, data and stop bits do not apply to a connection.
    ASSERT_TRUE(line->Connect(harness.get(), TestLine(1, 0, '?', 99, 7)));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(TerminalPortNetworkTest, TheOperatorsLogoffHoldsAndLogonWaitsForTheNextPeer) {
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

TEST_F(TerminalPortTest, APortThatCannotOpenIsReportedAndLogonFails) {
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
TEST(TerminalPortPtyTest, ACallerOnTheLineGetsExactlyTheAnswers) {
    CPtyPair pty;
    CTestUiLoop loop;
    CRecordingBoxes boxes;
    CPortHarness harness;
    CTerminalPort terminal(harness);
    harness.SetLine(&terminal);
    terminal.Port().SetUiPoster(loop.Poster());
    terminal.Port().SetTap(&harness);
    terminal.SetMessageBoxes(&boxes);
    terminal.Port().SetDeviceResolver([&](int) { return pty.SlavePath(); });
    ASSERT_TRUE(terminal.Connect(&harness, TestLine(1)));

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
TEST(TerminalPortPtyTest, EveryPageCountedAsAcceptedHadItsAckWritten) {
    CPtyPair pty;
    CTestUiLoop loop;
    CRecordingBoxes boxes;
    struct CEagerSender : CPortHarness {
        void OnPage(const CPageResult& page) override {
            CPortHarness::OnPage(page);
            if (page.bAccepted && ++nAccepted < 3)
                pPty->Write(
                    MakePageBlock("2", "NEXT PAGE " + std::to_string(nAccepted)));
        }
        CPtyPair* pPty = nullptr;
        int nAccepted = 0;
    } sender;
    CTerminalPort terminal(sender);
    sender.SetLine(&terminal);
    sender.pPty = &pty;
    terminal.Port().SetUiPoster(loop.Poster());
    terminal.Port().SetTap(&sender);
    terminal.SetMessageBoxes(&boxes);
    terminal.Port().SetDeviceResolver([&](int) { return pty.SlavePath(); });
    ASSERT_TRUE(terminal.Connect(&sender, TestLine(1)));
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
    pty.Write(MakePageBlock("1", "FIRST PAGE"));
    ASSERT_TRUE(loop.PumpUntil([&] { return sender.nAccepted > 0; }));
    loop.PumpFor(200); // the line goes quiet: no more answers to come
    line += pty.Read(64, 0);
    size_t nAcks = 0;
    for (size_t i = 0; (i = line.find("\x06\r", i)) != std::string::npos; i += 2)
        ++nAcks;
    EXPECT_EQ(nAcks, static_cast<size_t>(sender.nAccepted)) << Named(line);
    EXPECT_TRUE(boxes.boxes.empty());
}

// A test mode that hangs up: the line is hung up once the answer is out.
class TerminalPortTestModeTest : public CTerminalPortFixture {
  public:
    std::unique_ptr<CTestMode> mode; // outlives the line's last deliveries
};

TEST_F(TerminalPortTestModeTest, HangUpAfterNPagesEndsTheSessionOnceTheAnswerIsOut) {
    CTestModeSettings settings;
    std::string strError;
    ASSERT_TRUE(ParseTestMode("hangup-after:2", &settings, &strError)) << strError;
    mode = std::make_unique<CTestMode>(settings);
    engine->SetAnswerHook(mode.get());
    ToWaitingForPage();
    harness->Feed(kExampleBlock);
    harness->Feed(kExampleBlock);
    EXPECT_EQ(harness->Only("note"),
              Lines{"note   TEST MODE: HANGING UP AFTER 2 PAGES (hangup-after:2)"});
    ASSERT_TRUE(loop.PumpUntil([&] { return engine->GetState() == ST_DISCONNECTED; }));
    EXPECT_EQ(shared.nHangUps, 1);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        // The last answer reached the line before it was hung up.
        const std::string& strWritten = shared.strWrittenAtHangUp;
        ASSERT_GE(strWritten.size(), 2u);
        EXPECT_EQ(strWritten.substr(strWritten.size() - 2), "\x06\r");
    }
    // The next call is served, and counted afresh.
    SetLines(true, true); // the caller's lines are seen on again
    harness->Feed("\r\x1bPG1\r");
    harness->Feed(kExampleBlock);
    EXPECT_EQ(harness->Only("note").size(), 1u);
}

} // namespace
