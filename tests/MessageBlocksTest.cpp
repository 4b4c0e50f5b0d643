// Blocks of the protocol's full length, messages in several blocks, and
// logons that carry a password.
#include "engine/Checksum.h"
#include "engine/PageTerminal.h"
#include "engine/TestMode.h"
#include "tests/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Lines = std::vector<std::string>;

const std::string kIncompleteLine = "<HT>BAD PAGE - INCOMPLETE MESSAGE";

class MessageBlocksTest : public CEngineFixture {
  protected:
    // The three blocks of one message: its last field goes on after US.
    void SendFirstTwoOfThree() {
        harness->Feed(MakeBlock("1234\rROOM 412 ", kUs));
        harness->Feed(MakeBlock("BED 2 ", kUs));
    }
    std::vector<std::string> notes() const {
        Lines result;
        for (const std::string& entry : harness->timeline)
            if (entry.rfind("note", 0) == 0)
                result.push_back(entry.substr(4));
        return result;
    }
};

TEST_F(MessageBlocksTest, BlocksUpToTheProtocolsLengthAreJudgedAndHandedOnWhole) {
    // 250 characters of fields (a message of 247 and a pager ID of 1) make
    // the longest block, 256 characters.
    for (size_t nMessage : {85u, 200u, 247u}) {
        ToWaitingForPage();
        const std::string strMessage(nMessage, 'M');
        harness->Feed(MakePageBlock("1", strMessage));
        EXPECT_EQ(harness->Only("write"), Lines{"write <ACK><CR>"}) << nMessage;
        ASSERT_EQ(harness->pageTexts.size(), 1u) << nMessage;
        EXPECT_EQ(harness->pageTexts[0], " 1 " + strMessage + "  ");

        // The same block with a wrong checksum: NAK, and the whole block.
        harness->Clear();
        std::string strBad = MakePageBlock("1", strMessage);
        strBad[strBad.size() - 2] ^= 1;
        harness->Feed(strBad);
        EXPECT_EQ(harness->Only("write"), Lines{"write <NAK><CR>"}) << nMessage;
        EXPECT_EQ(harness->pageTexts[0].size(), strBad.size());
    }
}

TEST_F(MessageBlocksTest,
       ABlockLongerThanTheProtocolAllowsIsRefusedAtItsFirstCharacterPastIt) {
    // A block of 300: nothing until its 257th character, then RS CR at once.
    const std::string strBlock = MakePageBlock("1", std::string(291, 'L'));
    ASSERT_EQ(strBlock.size(), 300u);
    engine->SetExplain(true);
    ToWaitingForPage();
    harness->Feed(strBlock.substr(0, kBlockLimit));
    EXPECT_EQ(harness->written, "");
    EXPECT_EQ(engine->GetState(), ST_RECEIVING_PAGE);
    harness->Clear();
    harness->Feed(strBlock.substr(kBlockLimit, 1));
    EXPECT_EQ(
        harness->timeline,
        (Lines{"purge 0C", "write <RS><CR>",
               "page 0 | " + Named(strBlock.substr(0, kBlockLimit)) +
                   " | <HT>BAD PAGE - MESSAGE TOO LONG",
               "trace <RS><CR>",
               "note   BLOCK REFUSED: LONGER THAN 256 CHARACTERS; SPLIT LONG MESSAGES "
               "WITH ETB OR US",
               "state 5"}));
    // The rest of it, fields, ETX, checksum and CR, is swallowed, and no
    // time-out comes of it later.
    harness->Clear();
    harness->Feed(strBlock.substr(kBlockLimit + 1));
    harness->Ticks(2 * (CPageTerminal::kTimeoutTicks + 1));
    EXPECT_TRUE(harness->timeline.empty());
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
    // The caller's next page is a page as any.
    harness->Feed(MakePageBlock("1234", "HI"));
    EXPECT_EQ(harness->Only("page"), Lines{"page 1 |  1234 HI   | "});
    EXPECT_EQ(harness->written, "\x06\r");

    // With message sequences, 513 comes first.
    engine->SetMessageSequences(true);
    ToWaitingForPage();
    harness->Feed(strBlock);
    EXPECT_EQ(harness->written, "513 MESSAGE REFUSED, TOO LONG\r\x1e\r");
    EXPECT_EQ(harness->resultTexts, Lines{CPageTerminal::kResultTooLong});
    engine->SetMessageSequences(false);
}

TEST_F(MessageBlocksTest, WhatFollowsAnOverlongBlockIsSkippedOnlyUntilItsEnd) {
    struct {
        const char* szCase;
        std::string strBlock; // its 257th character refuses it
        std::string strAfter;
        Lines writes; // everything written for both
        size_t nPages;
    } cases[] = {
        // Its 257th character is its last: a bare CR after it prompts again.
        {"ends at 257",
         MakePageBlock("1", std::string(248, 'L')),
         "\r",
         {"write <RS><CR>", "write ID="},
         1},
        // Far past it, with CRs in the tail: the tail's own end counts.
        {"ends at 409",
         MakePageBlock("2", std::string(400, 'Z')),
         "\r",
         {"write <RS><CR>", "write ID="},
         1},
        // Not a block's end in sight: the next STX starts the next block.
        {"next STX",
         "\x02" + std::string(300, 'N'),
         MakePageBlock("3", "NEXT"),
         {"write <RS><CR>", "write <ACK><CR>"},
         2},
        // Or the caller ends the session.
        {"EOT CR",
         "\x02" + std::string(300, 'N'),
         "\x04\r",
         {"write <RS><CR>", "write <ESC><EOT><CR>"},
         1},
        // EOT CR across the end of the store: no refusal, the session ends.
        {"EOT CR at 256",
         "\x02" + std::string(254, 'N') + "\x04\r",
         "",
         {"write <ESC><EOT><CR>"},
         0},
    };
    for (const auto& c : cases) {
        ToWaitingForPage();
        harness->Feed(c.strBlock + c.strAfter);
        EXPECT_EQ(harness->Only("write"), c.writes) << c.szCase;
        ASSERT_EQ(harness->resultTexts.size(), c.nPages) << c.szCase;
        if (c.nPages > 0) {
            EXPECT_EQ(harness->resultTexts[0], CPageTerminal::kResultTooLong)
                << c.szCase;
            EXPECT_EQ(harness->pageTexts[0], c.strBlock.substr(0, kBlockLimit))
                << c.szCase;
        }
        engine->Logoff();
    }

    // A pause ends it too: a caller that hung up unseen and calls again is
    // heard.
    ToWaitingForPage();
    harness->Feed("\x02" + std::string(300, 'N'));
    harness->Ticks(CPageTerminal::kQuietTicks - 1);
    harness->Feed("\r"); // still part of the block
    harness->Ticks(CPageTerminal::kQuietTicks);
    EXPECT_EQ(harness->written, "\x1e\r");
    harness->Feed("\r");
    EXPECT_EQ(harness->written, "\x1e\rID=");

    // NULs are never stored: they do not make a block too long.
    ToWaitingForPage();
    const std::string strFull = MakePageBlock("1", std::string(247, 'M'));
    std::string strWithNuls;
    for (char ch : strFull)
        strWithNuls += std::string(1, ch) + '\0';
    harness->Feed(strWithNuls);
    EXPECT_EQ(harness->written, "\x06\r");

    // Garbage of every byte value, far past every store.
    ToWaitingForPage();
    std::string noise;
    for (int i = 0; i < 5000; ++i)
        noise += static_cast<char>((i * 37) & 0xFF);
    harness->Feed("\x02" + noise);
    harness->Ticks(200);
    for (const std::string& text : harness->pageTexts)
        EXPECT_LE(text.size(), CPageTerminal::kMessageTextLimit + kBlockLimit);
}

TEST_F(MessageBlocksTest, AnOverlongBlockInAMessageLeavesWhatCameListedAsUnfinished) {
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\rROOM 412 ", kUs));
    harness->Clear();
    const std::string strBlock = MakeBlock(std::string(300, 'B'), kUs);
    harness->Feed(strBlock);
    EXPECT_EQ(harness->Only("page"),
              (Lines{"page 0 |  1234 ROOM 412  | " + kIncompleteLine,
                     "page 0 | " + Named(strBlock.substr(0, kBlockLimit)) +
                         " | <HT>BAD PAGE - MESSAGE TOO LONG"}));
    EXPECT_EQ(harness->written, "\x1e\r");
    // The next message starts afresh.
    harness->Clear();
    harness->Feed(MakeBlock("5678\r", kEtb) + MakeBlock("NEXT\r", kEtx));
    EXPECT_EQ(harness->Only("page"), Lines{"page 1 |  5678 NEXT   | "});
}

TEST_F(MessageBlocksTest, AMessageInThreeBlocksIsAnsweredBlockByBlockAndListedOnce) {
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\rROOM 412 ", kUs));
    // A continued block is answered as any block, and not listed.
    EXPECT_EQ(harness->timeline, (Lines{"state 6", "purge 0C", "write <ACK><CR>",
                                        "trace <ACK><CR>", "state 5"}));
    harness->Feed(MakeBlock("BED 2 ", kUs));
    harness->Feed(
        MakeBlock("PATIENT CALL\r", kEtx)); // the rest of the field, one field
    EXPECT_EQ(harness->Only("write"),
              (Lines{"write <ACK><CR>", "write <ACK><CR>", "write <ACK><CR>"}));
    // The field continued after US joins without a break.
    EXPECT_EQ(harness->Only("page"),
              Lines{"page 1 |  1234 ROOM 412 BED 2 PATIENT CALL   | "});

    // After ETB the message goes on with its next field.
    harness->Clear();
    harness->Feed(MakeBlock("5678\r", kEtb));
    harness->Feed(MakeBlock("CARDIAC ALARM\r", kEtx));
    EXPECT_EQ(harness->Only("page"), Lines{"page 1 |  5678 CARDIAC ALARM   | "});

    // Then a page in one block, as always.
    harness->Clear();
    harness->Feed(MakePageBlock("1234", "HI"));
    EXPECT_EQ(harness->Only("page"), Lines{"page 1 |  1234 HI   | "});
}

TEST_F(MessageBlocksTest, APageTheSimulatorSplitsIsListedWholeWhereverItIsCut) {
    const std::string strMessage = "ROOM 412 BED 2 PATIENT CALL - NURSE ASSIST "
                                   "REQUESTED - CARDIAC MONITOR ALARM ON "
                                   "TELEMETRY UNIT 7";
    for (int nBlockSize : {250, 5, 10, 17}) {
        ToWaitingForPage();
        const std::vector<std::string> blocks =
            MakePageBlocks("1234", strMessage, nBlockSize);
        for (const std::string& strBlock : blocks) {
            EXPECT_LE(strBlock.size(), static_cast<size_t>(nBlockSize) + 6);
            harness->Feed(strBlock);
        }
        EXPECT_EQ(harness->written.size(), 2 * blocks.size())
            << nBlockSize; // ACK CR each
        EXPECT_EQ(harness->Only("page"),
                  Lines{"page 1 |  1234 " + strMessage + "   | "})
            << nBlockSize;
    }
    // Cut after the pager ID: that block ends in ETB, the message's in ETX.
    const std::vector<std::string> blocks = MakePageBlocks("1234", "HELLO", 5);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0][6], kEtb);
    EXPECT_EQ(blocks[1][6], kUs);
    EXPECT_EQ(blocks[2][2], kEtx);
}

TEST_F(MessageBlocksTest, ANakedMiddleBlockIsSentAgainAndTheMessageGoesOn) {
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\rROOM 412 ", kUs));
    std::string strBad = MakeBlock("BED 2 ", kUs);
    strBad[strBad.size() - 2] ^= 1;
    harness->Feed(strBad);
    harness->Feed(MakeBlock("BED 2 ", kUs));
    harness->Feed(MakeBlock("PATIENT CALL\r", kEtx));
    EXPECT_EQ(harness->Only("write"), (Lines{"write <ACK><CR>", "write <NAK><CR>",
                                             "write <ACK><CR>", "write <ACK><CR>"}));
    ASSERT_EQ(harness->resultTexts.size(), 2u);
    EXPECT_EQ(harness->resultTexts[0], "\tBAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(harness->pageTexts[1], " 1234 ROOM 412 BED 2 PATIENT CALL  ");
}

TEST_F(MessageBlocksTest, AMessageLeftUnfinishedIsListedOnceAsABadPage) {
    const std::string kSoFar = " 1234 ROOM 412 BED 2 ";
    struct {
        const char* szCause;
        std::function<void()> end;
    } causes[] = {
        {"block time-out",
         [&] {
             harness->Feed("\x02"
                           "PATI");
             harness->Ticks(81);
         }},
        {"EOT CR between blocks", [&] { harness->Feed("\x04\r"); }},
        {"EOT CR inside a block",
         [&] {
             harness->Feed("\x02"
                           "PA\x04\r");
         }},
        {"line off", [&] { SetLines(true, false); }},
        {"Logoff", [&] { engine->Logoff(); }},
        {"a new logon", [&] { harness->Feed("\r"); }},
    };
    for (const auto& cause : causes) {
        ToWaitingForPage();
        SendFirstTwoOfThree();
        harness->Clear();
        cause.end();
        EXPECT_EQ(harness->Only("page"),
                  Lines{"page 0 | " + kSoFar + " | " + kIncompleteLine})
            << cause.szCause;
        // Nothing of it is left for later.
        harness->Clear();
        SetLines(true, true);
        harness->Ticks(100);
        EXPECT_EQ(harness->Only("page"), Lines{}) << cause.szCause;
    }
}

TEST_F(MessageBlocksTest, AMessageStopsAtItsBoundEndingTheSessionAndWhatCameIsListed) {
    ToWaitingForPage();
    for (int i = 0; i < CPageTerminal::kMessageBlockLimit; ++i)
        harness->Feed(MakeBlock(i == 0 ? "1\rX" : "X", kUs));
    EXPECT_EQ(harness->Only("page"), Lines{});
    harness->Feed(MakeBlock("X", kUs));
    EXPECT_EQ(harness->Only("write").back(), "write <ESC><EOT><CR>");
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
    ASSERT_EQ(harness->resultTexts.size(), 1u);
    EXPECT_EQ(harness->resultTexts[0], "\tBAD PAGE - MESSAGE TOO LONG");
    EXPECT_EQ(harness->pageTexts[0],
              " 1 " + std::string(CPageTerminal::kMessageBlockLimit, 'X'));
    // A block sent again then is no page: the session is over.
    harness->Clear();
    harness->Feed(MakeBlock("X", kUs) + MakeBlock("TAIL\r", kEtx));
    EXPECT_EQ(harness->Only("page"), Lines{});
    EXPECT_EQ(harness->written, "");
}

TEST_F(MessageBlocksTest, TheLastBlockOfAMessageMayHoldSeveralFields) {
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\r", kEtb));
    harness->Feed(MakeBlock("A\rB\rC\r", kEtx));
    EXPECT_EQ(harness->Only("write"), (Lines{"write <ACK><CR>", "write <ACK><CR>"}));
    EXPECT_EQ(harness->Only("page"), Lines{"page 1 |  1234 A B C   | "});
}

TEST_F(MessageBlocksTest, TheProtocolWindowIsToldWhichBlockOfAMessageCame) {
    engine->SetExplain(true);
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\r", kEtb));
    harness->Feed(MakeBlock("ROOM ", kUs));
    harness->Feed(MakeBlock("412\r", kEtx));
    EXPECT_EQ(notes(),
              (Lines{"   BLOCK 1 OF A MESSAGE: THE MESSAGE GOES ON WITH THE NEXT "
                     "FIELD (ETB)",
                     "   BLOCK 2 OF A MESSAGE: THE FIELD GOES ON (US)",
                     "   BLOCK 3 OF A MESSAGE: ITS LAST (ETX)"}));
    // A page in one block is no message in blocks: nothing is said.
    harness->Clear();
    harness->Feed(MakePageBlock("1234", "HI"));
    EXPECT_EQ(notes(), Lines{});
}

TEST_F(MessageBlocksTest, ATestModeRefusalOfAContinuedBlockKeepsTheMessageOpen) {
    CTestModeSettings settings;
    settings.nNakEvery = 2;
    CTestMode mode(settings);
    engine->SetAnswerHook(&mode);
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\rAB", kUs));
    harness->Feed(MakeBlock("CD\r", kEtx)); // the second good block: NAKed on purpose
    harness->Feed(MakeBlock("CD\r", kEtx));
    EXPECT_EQ(harness->Only("write"),
              (Lines{"write <ACK><CR>", "write <NAK><CR>", "write <ACK><CR>"}));
    ASSERT_EQ(harness->resultTexts.size(), 2u);
    EXPECT_EQ(harness->resultTexts[0], CPageTerminal::kResultNakedOnPurpose);
    EXPECT_EQ(harness->pageTexts[1], " 1234 ABCD  ");
    engine->SetAnswerHook(nullptr);
}

TEST_F(MessageBlocksTest, ALogonWithAPasswordIsTakenOnlyAsThePortIsSet) {
    struct {
        const char* szSetting;
        std::string line;
        bool bAccepted;
        const char* szNote; // with explaining on, for a logon not taken
    } cases[] = {
        {"", "\x1bPG1\r", true, nullptr},
        {"",
         "\x1bPG1"
         "000000\r",
         false,
         "   LOGON WITH A PASSWORD NOT ACCEPTED: THIS PORT TAKES NONE (Password1 IS "
         "EMPTY)"},
        {"*",
         "\x1bPG1"
         "000000\r",
         true, nullptr},
        {"*",
         "\x1bPG1"
         "SECRET99\r",
         true, nullptr},
        {"*", "\x1bPG1\r", true, nullptr},
        {"000000",
         "\x1bPG1"
         "000000\r",
         true, nullptr},
        {"000000",
         "xx\x1bPG1"
         "000000\r",
         true, nullptr},
        {"000000",
         "\x1bPG1"
         "123456\r",
         false,
         "   LOGON WITH A PASSWORD NOT ACCEPTED: NOT THE PASSWORD Password1 NAMES"},
        {"000000", "\x1bPG1\r", false,
         "   LOGON NOT ACCEPTED: NO PASSWORD; THIS PORT TAKES ONE (Password1)"},
        // The last logon on the line decides, once a password is set.
        {"000000",
         "\x1bPG1\r\x1bPG1"
         "000000\r",
         true, "   LOGON NOT ACCEPTED: NO PASSWORD; THIS PORT TAKES ONE (Password1)"},
        // A password ends at the first CR: "00" on a line of its own is none.
        {"000000",
         "\x1bPG1"
         "0000\r00\r",
         false,
         "   LOGON WITH A PASSWORD NOT ACCEPTED: NOT THE PASSWORD Password1 NAMES"},
    };
    engine->SetExplain(true);
    for (const auto& c : cases) {
        engine->SetLogonPassword(c.szSetting);
        ToWaitingForCr();
        harness->Feed("\r");
        harness->Clear();
        harness->Feed(c.line);
        EXPECT_EQ(engine->GetState(),
                  c.bAccepted ? ST_WAITING_FOR_PAGE : ST_SENDING_LOGON_PROMPT)
            << c.szSetting << " " << Named(c.line);
        EXPECT_EQ(harness->written, c.bAccepted ? "\x06\r\x1b[p\r" : "")
            << c.szSetting << " " << Named(c.line);
        Lines expected;
        if (c.szNote != nullptr)
            expected.push_back(c.szNote);
        EXPECT_EQ(notes(), expected) << c.szSetting << " " << Named(c.line);
        harness->Clear();
        engine->Logoff();
    }
    // Not explaining, a refused logon says nothing, as before.
    engine->SetExplain(false);
    engine->SetLogonPassword("");
    ToWaitingForCr();
    harness->Feed("\r\x1bPG1"
                  "000000\r");
    EXPECT_EQ(notes(), Lines{});
}

} // namespace
