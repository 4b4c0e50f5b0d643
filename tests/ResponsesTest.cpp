// Revision 1.8's message sequences before the answers, and the refusals a
// test mode makes (RS, a session's page limit, deferred and cut pages).
#include "engine/Checksum.h"
#include "engine/PageTerminal.h"
#include "engine/TestMode.h"
#include "tests/EngineFixture.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

class ResponsesTest : public CEngineFixture {
  protected:
    void Modes(const std::string& strModes) {
        CTestModeSettings settings;
        std::string strError;
        ASSERT_TRUE(ParseTestMode(strModes, &settings, &strError)) << strError;
        mode = std::make_unique<CTestMode>(settings);
        engine->SetAnswerHook(mode.get());
    }
    void TearDown() override {
        engine->SetAnswerHook(nullptr);
        CEngineFixture::TearDown();
    }
    std::unique_ptr<CTestMode> mode;
};

TEST_F(ResponsesTest, ASessionWithMessageSequencesInTheirOrder) {
    engine->SetMessageSequences(true);
    ToWaitingForCr();
    harness->Feed("\r");
    harness->Clear();
    harness->Feed("\x1bPG1\r");
    EXPECT_EQ(harness->timeline,
              (Lines{"purge 0C", "write 110 1.8<CR><ACK><CR><ESC>[p<CR>",
                     "trace 110 1.8<CR><ACK><CR><ESC>[p<CR>", "state 5"}));
    harness->Clear();
    harness->Feed("\x02"
                  "123\rABC\r\x03"
                  "17;\r");
    EXPECT_EQ(harness->timeline,
              (Lines{"state 6", "purge 0C",
                     "write 211 PAGE(S) SENT SUCCESSFULLY<CR><ACK><CR>",
                     "page 1 |  123 ABC   | ",
                     "trace 211 PAGE(S) SENT SUCCESSFULLY<CR><ACK><CR>", "state 5"}));
    harness->Clear();
    harness->Feed("\x04\r");
    EXPECT_EQ(harness->Only("write"), Lines{"write 115 THANK YOU<CR><ESC><EOT><CR>"});
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
}

TEST_F(ResponsesTest, ThreeChecksumErrorsInARowEndTheSessionWith503) {
    std::string strBad = MakePageBlock("1234", "HI");
    strBad[strBad.size() - 2] ^= 1;
    for (bool bSequences : {false, true}) {
        engine->SetMessageSequences(bSequences);
        ToWaitingForPage();
        harness->Feed(strBad);
        harness->Feed(strBad);
        harness->Feed(strBad);
        Lines expected{"write <NAK><CR>", "write <NAK><CR>",
                       bSequences
                           ? "write 503 TOO MANY ATTEMPTS WITH CHECKSUM ERRORS<CR><ESC>"
                             "<EOT><CR>"
                           : "write <NAK><CR>"};
        EXPECT_EQ(harness->Only("write"), expected);
        EXPECT_EQ(harness->Only("page").size(), 3u);
        EXPECT_EQ(engine->GetState(),
                  bSequences ? ST_DISCONNECTED : ST_WAITING_FOR_PAGE);
    }
    // Inside a message: the message is listed unfinished, then the block.
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\rPART ", kUs));
    std::string strBadPart = MakeBlock("MORE\r", kEtx);
    strBadPart[strBadPart.size() - 2] ^= 1;
    harness->Feed(strBadPart + strBadPart + strBadPart);
    ASSERT_EQ(harness->resultTexts.size(), 4u);
    EXPECT_EQ(harness->resultTexts[2], "\tBAD PAGE - INCOMPLETE MESSAGE");
    EXPECT_EQ(harness->resultTexts[3], "\tBAD PAGE - INVALID CHECKSUM");
    // A good block between them starts the count again.
    engine->SetMessageSequences(true);
    ToWaitingForPage();
    harness->Feed(strBad + strBad + MakePageBlock("1", "OK") + strBad);
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
}

TEST_F(ResponsesTest, PromptsRunningOutEndWith501AndAWrongPasswordWith509) {
    engine->SetMessageSequences(true);
    ToWaitingForCr();
    harness->Feed("\r");
    harness->Clear();
    harness->Ticks(4 * 81);
    EXPECT_EQ(harness->Only("write").back(),
              "write 501 TIME-OUT WAITING FOR INPUT<CR><ESC><EOT><CR>");
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);

    engine->SetLogonPassword("000000");
    ToWaitingForCr();
    harness->Feed("\r");
    harness->Clear();
    harness->Feed("\x1bPG1"
                  "123456\r");
    EXPECT_EQ(harness->Only("write"),
              Lines{"write 509 INVALID PASSWORD<CR><ESC><EOT><CR>"});
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
    // Without message sequences the wrong password is not recognised, as before.
    engine->SetMessageSequences(false);
    SetLines(true, true);
    harness->Clear();
    harness->Feed("\r\x1bPG1"
                  "123456\r");
    EXPECT_EQ(harness->Only("write"), Lines{"write ID="});
}

TEST_F(ResponsesTest, EachRefusalIsAnsweredListedAndNamedInBothModes) {
    struct {
        const char* szModes;
        std::string block;
        const char* szBare;  // the answer without message sequences
        const char* szCoded; // and its code with them
        int nAccepted;
        const char* szResult;
        int nEndState;
    } cases[] = {
        {"accept-pagers:1234|99", MakePageBlock("555", "HI"), "<RS><CR>",
         "511 INVALID PAGER ID<CR>", 0, "\tREFUSED: PAGER ID NOT ACCEPTED",
         ST_WAITING_FOR_PAGE},
        {"max-length:5", MakePageBlock("1234", "TOO LONG"), "<RS><CR>",
         "513 MESSAGE REFUSED, TOO LONG<CR>", 0, "\tREFUSED: MESSAGE TOO LONG",
         ST_WAITING_FOR_PAGE},
        {"busy-every:1", MakePageBlock("1234", "HI"), "<RS><CR>",
         "512 TEMPORARILY CANNOT DELIVER, TRY LATER<CR>", 0,
         "\tREFUSED: CANNOT DELIVER NOW", ST_WAITING_FOR_PAGE},
        {"defer-every:1", MakePageBlock("1234", "HI"), "<ACK><CR>",
         "213 MESSAGE ACCEPTED, HELD FOR DEFERRED DELIVERY<CR>", 1, "",
         ST_WAITING_FOR_PAGE},
        {"truncate:4", MakePageBlock("1234", "ABCDEFGH"), "<ACK><CR>",
         "214 4 CHARACTER MAXIMUM, MESSAGE HAS BEEN TRUNCATED AND SENT<CR>", 1,
         "\tACCEPTED, CUT TO 4 CHARACTERS", ST_WAITING_FOR_PAGE},
        {"max-pages:1", MakePageBlock("1234", "HI") + MakePageBlock("1234", "NEXT"),
         "<ESC><EOT><CR>", "112 MAXIMUM PAGES ENTERED FOR SESSION<CR>", 0,
         "\tREFUSED: SESSION PAGE LIMIT", ST_DISCONNECTED},
    };
    for (bool bSequences : {false, true}) {
        engine->SetMessageSequences(bSequences);
        for (const auto& c : cases) {
            Modes(c.szModes);
            ToWaitingForPage();
            harness->Feed(c.block);
            const std::string strAnswer =
                std::string(bSequences ? c.szCoded : "") + c.szBare;
            EXPECT_EQ(harness->Only("write").back(), "write " + strAnswer) << c.szModes;
            const Lines pages = harness->Only("page");
            ASSERT_FALSE(pages.empty());
            EXPECT_EQ(pages.back().substr(0, 6), "page " + std::to_string(c.nAccepted))
                << c.szModes;
            EXPECT_EQ(harness->resultTexts.back(), c.szResult) << c.szModes;
            EXPECT_EQ(engine->GetState(), c.nEndState) << c.szModes;
            bool bNamed = false;
            for (const std::string& entry : harness->timeline)
                bNamed =
                    bNamed || (entry.rfind("note   TEST MODE:", 0) == 0 &&
                               entry.find(std::string(c.szModes)) != std::string::npos);
            EXPECT_TRUE(bNamed) << c.szModes;
        }
    }
    // The cut page's text is the message cut short.
    engine->SetMessageSequences(false);
    Modes("truncate:4");
    ToWaitingForPage();
    harness->Feed(MakePageBlock("1234", "ABCDEFGH"));
    EXPECT_EQ(harness->pageTexts.back(), " 1234 ABCD  ");
}

TEST_F(ResponsesTest, RefusalsCombineWithTheOtherModes) {
    Modes("nak-every:2,accept-pagers:1234");
    ToWaitingForPage();
    harness->Feed(MakePageBlock("1234", "A"));
    harness->Feed(MakePageBlock("777", "B"));
    harness->Feed(MakePageBlock("1234", "C"));
    harness->Feed(MakePageBlock("1234", "C"));
    EXPECT_EQ(harness->Only("write"), (Lines{"write <ACK><CR>", "write <RS><CR>",
                                             "write <NAK><CR>", "write <ACK><CR>"}));
}

TEST_F(ResponsesTest, DeferredAndCutPagesTakeTheOtherModesAlong) {
    Modes("defer-every:1,garble-every:1");
    ToWaitingForPage();
    harness->Feed(MakePageBlock("1234", "HI"));
    EXPECT_EQ(harness->Only("write"), Lines{"write \x7f<ACK><CR>"});
    // hangup-after counts pages, not the blocks of one.
    Modes("hangup-after:1");
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\rAB", kUs));
    for (const std::string& entry : harness->timeline)
        EXPECT_EQ(entry.find("HANGING UP"), std::string::npos) << entry;
    harness->Feed(MakeBlock("CD\r", kEtx));
    bool bHangUp = false;
    for (const std::string& entry : harness->timeline)
        bHangUp =
            bHangUp || entry.find("HANGING UP AFTER 1 PAGES") != std::string::npos;
    EXPECT_TRUE(bHangUp);
}

TEST_F(ResponsesTest, AWrongPasswordLeavesTheNextCallerEveryPrompt) {
    engine->SetMessageSequences(true);
    engine->SetLogonPassword("000000");
    ToWaitingForCr();
    harness->Feed("\r");
    harness->Ticks(3 * 81); // three prompts repeated
    harness->Feed("\x1bPG1"
                  "999\r");
    EXPECT_EQ(engine->GetState(), ST_DISCONNECTED);
    SetLines(true, true);
    harness->Clear();
    harness->Feed("\r");
    harness->Ticks(3 * 81);
    EXPECT_EQ(harness->Only("write").size(), 4u); // the prompt and three repeats
    EXPECT_EQ(engine->GetState(), ST_SENDING_LOGON_PROMPT);
}

TEST_F(ResponsesTest, AMessageInBlocksIsRefusedAtItsFirstBlockOrALaterOne) {
    engine->SetMessageSequences(true);
    // The pager ID is known at the first block.
    Modes("accept-pagers:1234");
    ToWaitingForPage();
    harness->Feed(MakeBlock("555\rPART ONE ", kUs));
    EXPECT_EQ(harness->Only("write"), Lines{"write 511 INVALID PAGER ID<CR><RS><CR>"});
    ASSERT_EQ(harness->pageTexts.size(), 1u);
    EXPECT_EQ(harness->pageTexts[0], " 555 PART ONE ");
    // The length only as the blocks come: the third passes it.
    Modes("max-length:20");
    ToWaitingForPage();
    harness->Feed(MakeBlock("1234\rROOM 412 ", kUs));
    harness->Feed(MakeBlock("BED 2 ", kUs));
    harness->Feed(MakeBlock("PATIENT CALL\r", kEtx));
    EXPECT_EQ(harness->Only("write"),
              (Lines{"write <ACK><CR>", "write <ACK><CR>",
                     "write 513 MESSAGE REFUSED, TOO LONG<CR><RS><CR>"}));
    ASSERT_EQ(harness->pageTexts.size(), 1u);
    EXPECT_EQ(harness->pageTexts[0], " 1234 ROOM 412 BED 2 PATIENT CALL  ");
    EXPECT_EQ(harness->resultTexts[0], "\tREFUSED: MESSAGE TOO LONG");
    // The caller goes on with its next page, a message of its own.
    harness->Clear();
    harness->Feed(MakePageBlock("1234", "SHORT"));
    EXPECT_EQ(harness->Only("page"), Lines{"page 1 |  1234 SHORT   | "});
}

TEST(ResponsesParseTest, RefusalModesAreReadAndBadValuesSayWhy) {
    CTestModeSettings settings;
    std::string strError;
    ASSERT_TRUE(ParseTestMode("max-pages:3, accept-pagers:1234|ab9,truncate:80",
                              &settings, &strError));
    EXPECT_EQ(settings.Text(), "accept-pagers:1234|ab9,truncate:80,max-pages:3");
    for (const char* szBad : {"accept-pagers:", "accept-pagers:12||3",
                              "accept-pagers:1 2", "max-length:0", "busy-every:x"})
        EXPECT_FALSE(ParseTestMode(szBad, &settings, &strError)) << szBad;
    ParseTestMode("accept-pagers:|1", &settings, &strError);
    EXPECT_EQ(
        strError,
        "accept-pagers needs pager IDs joined by |, as in accept-pagers:1234|5678");
}

} // namespace

// An answer that waits for the owner (a page delivered onward before its
// ACK): given when the owner says, refused when its time passes or the
// caller moves on first.
class AwaitTest : public CEngineFixture, public IAnswerHook {
  protected:
    CAnswerChange OnAnswer(AnswerKind kind, const CPageFacts& facts) override {
        CAnswerChange change;
        if (kind == AnswerKind::kPageAccepted && facts.bLastBlock) {
            lastFacts = facts;
            change.kind = CAnswerChange::Kind::kAwait;
            change.nDelayTicks = 5;
        }
        return change;
    }
    void SetUp() override {
        CEngineFixture::SetUp();
        engine->SetAnswerHook(this);
    }
    void TearDown() override {
        engine->SetAnswerHook(nullptr);
        CEngineFixture::TearDown();
    }
    CPageFacts lastFacts;
};

TEST_F(AwaitTest, TheAnswerWaitsUntilTheOwnerGivesIt) {
    for (bool bSequences : {false, true}) {
        engine->SetMessageSequences(bSequences);
        ToWaitingForPage();
        harness->Feed(MakeBlock("12\rPART ", kEtb));
        harness->Feed(MakeBlock("TWO\r", kEtx));
        EXPECT_EQ(lastFacts.strPageText, " 12 PART TWO  ");
        EXPECT_EQ(lastFacts.nBlocks, 2);
        EXPECT_TRUE(engine->IsAwaiting());
        EXPECT_EQ(harness->Only("write").size(), 1u); // the first block's ACK only
        EXPECT_TRUE(harness->Only("page").empty());
        for (int i = 0; i < 4; ++i)
            engine->Tick();
        harness->Clear();
        engine->ResolveAwait(true);
        EXPECT_FALSE(engine->IsAwaiting());
        const std::string strAck =
            bSequences ? "211 PAGE(S) SENT SUCCESSFULLY<CR><ACK><CR>" : "<ACK><CR>";
        EXPECT_EQ(harness->timeline,
                  (Lines{"write " + strAck, "page 1 |  12 PART TWO   | ",
                         "trace " + strAck}));
        engine->ResolveAwait(false); // nothing waits: nothing happens
        EXPECT_EQ(harness->timeline.size(), 3u);
    }
}

TEST_F(AwaitTest, AnAnswerNotGivenInTimeIsARefusal) {
    engine->SetMessageSequences(true);
    ToWaitingForPage();
    harness->Feed(MakePageBlock("1234", "HI"));
    for (int i = 0; i < 4; ++i)
        engine->Tick();
    EXPECT_TRUE(harness->Only("write").empty());
    engine->Tick();
    EXPECT_EQ(harness->Only("write"),
              Lines{"write 512 TEMPORARILY CANNOT DELIVER, TRY LATER<CR><RS><CR>"});
    ASSERT_EQ(harness->resultTexts.size(), 1u);
    EXPECT_EQ(harness->resultTexts[0], CPageTerminal::kResultRefusedBusy);
    EXPECT_FALSE(engine->IsAwaiting());
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
}

TEST_F(AwaitTest, ACallerThatMovesOnOrLeavesGetsNoLateAnswer) {
    ToWaitingForPage();
    harness->Feed(MakePageBlock("1", "A"));
    harness->Clear();
    harness->Feed("\x02"); // the next page before the answer
    // No RS now: the caller would take it for the new block's answer.
    EXPECT_TRUE(harness->Only("write").empty());
    EXPECT_EQ(harness->resultTexts, Lines{CPageTerminal::kResultRefusedBusy});
    EXPECT_FALSE(engine->IsAwaiting());

    ToWaitingForPage();
    harness->Feed(MakePageBlock("2", "B"));
    harness->Clear();
    harness->Feed("\x04\r"); // EOT CR: the caller ends the session
    EXPECT_EQ(harness->Only("write"), (Lines{"write <ESC><EOT><CR>"}));

    ToWaitingForPage();
    harness->Feed(MakePageBlock("3", "C"));
    harness->Clear();
    SetLines(false, true);
    engine->OnLevels(false, true); // the line drops
    EXPECT_FALSE(engine->IsAwaiting());
    EXPECT_EQ(harness->Only("page").size(), 1u);
}
