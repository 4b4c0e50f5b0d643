// A terminal that misbehaves on purpose: the test modes, through the engine
// as the view wires them, each changing only what it names.
#include "engine/TestMode.h"
#include "tests/EngineFixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Lines = std::vector<std::string>;

TEST(TestModeSettingsTest, ReadsEveryModeAndCombinations) {
    CTestModeSettings settings;
    std::string strError;
    ASSERT_TRUE(
        ParseTestMode(" nak-every:3, delay:9000 ,no-logon", &settings, &strError));
    EXPECT_EQ(settings.nNakEvery, 3);
    EXPECT_EQ(settings.nDelayMs, 9000);
    EXPECT_TRUE(settings.bNoLogon);
    EXPECT_EQ(settings.Text(), "nak-every:3,delay:9000,no-logon");
    ASSERT_TRUE(ParseTestMode("silent-every:1,hangup-after:5,garble-every:2", &settings,
                              &strError));
    EXPECT_EQ(settings.Text(), "silent-every:1,hangup-after:5,garble-every:2");
    ASSERT_TRUE(ParseTestMode("", &settings, &strError));
    EXPECT_FALSE(settings.IsOn());
}

TEST(TestModeSettingsTest, RefusesWhatItDoesNotKnowSayingWhy) {
    struct {
        const char* szValue;
        const char* szError;
    } cases[] = {
        {"nak-every", "nak-every needs a count from 1 to 100000, as in nak-every:3"},
        {"nak-every:0", "nak-every needs a count from 1 to 100000, as in nak-every:3"},
        {"delay:fast", "delay needs milliseconds from 1 to 600000, as in delay:3"},
        {"no-logon:2", "unknown mode 'no-logon:2'"},
        {"nak-every:2,explode", "unknown mode 'explode'"},
    };
    for (const auto& c : cases) {
        CTestModeSettings settings;
        std::string strError;
        EXPECT_FALSE(ParseTestMode(c.szValue, &settings, &strError)) << c.szValue;
        EXPECT_EQ(strError, c.szError);
    }
}

class TestModeEngineTest : public CEngineFixture {
  protected:
    // The modes in force, and (unless told otherwise) a caller logged on.
    void Start(const std::string& strModes, bool bLogOn = true) {
        CTestModeSettings settings;
        std::string strError;
        ASSERT_TRUE(ParseTestMode(strModes, &settings, &strError)) << strError;
        mode = std::make_unique<CTestMode>(settings);
        engine->SetAnswerHook(mode.get());
        if (bLogOn)
            ToWaitingForPage();
        else
            ToWaitingForCr();
    }

    std::unique_ptr<CTestMode> mode;
};

TEST_F(TestModeEngineTest, NakEveryNthGoodBlockIsListedAsTheCallerWasAnswered) {
    Start("nak-every:2");
    harness->Feed(kExampleBlock);
    EXPECT_EQ(harness->Only("write"), Lines{"write <ACK><CR>"});
    harness->Clear();
    harness->Feed(kExampleBlock);
    EXPECT_EQ(harness->timeline,
              (Lines{"state 6", "purge 0C", "write <NAK><CR>",
                     "page 0 |  1234 HI   | <HT>NAKED ON PURPOSE (TEST MODE)",
                     "note   TEST MODE: NAK SENT FOR A GOOD BLOCK (nak-every:2)",
                     "trace <NAK><CR>", "state 5"}));
    // A block that fails the checksum is NAKed as always, not counted.
    harness->Clear();
    harness->Feed(kExampleBadBlock);
    harness->Feed(kExampleBlock);
    EXPECT_EQ(harness->Only("write"), (Lines{"write <NAK><CR>", "write <ACK><CR>"}));
}

TEST_F(TestModeEngineTest, SilentEveryNthGoodBlockGetsNoAnswerAtAll) {
    Start("silent-every:1");
    harness->Feed(kExampleBlock);
    EXPECT_EQ(harness->timeline,
              (Lines{"state 6",
                     "page 0 |  1234 HI   | <HT>NOT ANSWERED ON PURPOSE (TEST MODE)",
                     "note   TEST MODE: NO ANSWER TO A GOOD BLOCK (silent-every:1)",
                     "state 5"}));
    EXPECT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
}

TEST_F(TestModeEngineTest, ADelayedAnswerGoesOutWhenItsTicksHavePassed) {
    Start("delay:250"); // three ticks of 100 ms, and one for the first tick's phase
    harness->Feed(kExampleBlock);
    EXPECT_EQ(
        harness->timeline,
        (Lines{"state 6", "purge 0C", "page 1 |  1234 HI   | ",
               "note   TEST MODE: ANSWER HELD FOR 250 MS (delay:250)", "state 5"}));
    harness->Clear();
    harness->Ticks(3);
    EXPECT_TRUE(harness->timeline.empty());
    harness->Ticks(1);
    EXPECT_EQ(harness->timeline, (Lines{"write <ACK><CR>", "trace <ACK><CR>"}));
    // NAKs are held as well.
    harness->Clear();
    harness->Feed(kExampleBadBlock);
    harness->Ticks(4);
    EXPECT_EQ(harness->Only("write"), Lines{"write <NAK><CR>"});
}

TEST_F(TestModeEngineTest, NoLogonLeavesTheCallerPromptedUntilTheSessionEnds) {
    Start("no-logon", false);
    harness->Feed("\r");
    harness->Clear();
    harness->Feed("\x1bPG1\r");
    EXPECT_EQ(harness->timeline,
              Lines{"note   TEST MODE: LOGON NOT ANSWERED (no-logon)"});
    EXPECT_EQ(engine->GetState(), ST_SENDING_LOGON_PROMPT);
    harness->Ticks(4 * 81);
    EXPECT_EQ(harness->Only("write"),
              (Lines{"write ID=", "write ID=", "write ID=", "write <ESC><EOT><CR>"}));
    EXPECT_EQ(engine->GetState(), ST_LOGGED_OFF);
}

TEST_F(TestModeEngineTest, AStrayByteGoesBeforeEveryNthAnswer) {
    Start("garble-every:2");
    harness->Feed(kExampleBlock);
    harness->Feed(kExampleBadBlock);
    EXPECT_EQ(harness->Only("write"),
              (Lines{"write <ACK><CR>", "write \x7f<NAK><CR>"}));
    EXPECT_EQ(harness->Only("page"),
              (Lines{"page 1 |  1234 HI   | ",
                     "page 0 |  1234 HI  17;  | <HT>BAD PAGE - INVALID CHECKSUM"}));
}

} // namespace
