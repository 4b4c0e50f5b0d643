#include "session/AlertWatch.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

constexpr std::int64_t kMinute = 60 * 1000;
constexpr std::int64_t kStart = 1'800'000'000'000; // a wall clock in ms

class AlertWatchTest : public ::testing::Test {
  protected:
    CAlertWatch watch;
    CWatchFacts facts;
    std::vector<CAlertEvent> Look(std::int64_t nMs) {
        return watch.Look(kStart + nMs, facts);
    }
    void SetUp() override {
        facts.bLineOpen = true;
        facts.strDevice = "/dev/ttyUSB0";
    }
};

TEST_F(AlertWatchTest, ASilentLineIsRaisedOnceAndClearedByTheNextCall) {
    watch.SetSilenceMs(5 * kMinute);
    EXPECT_TRUE(Look(0).empty()); // the clock starts with the open line
    EXPECT_TRUE(Look(5 * kMinute - 1).empty());
    const auto raised = Look(5 * kMinute);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_TRUE(raised[0].bRaised);
    EXPECT_EQ(raised[0].alert.strCondition, "line_silent");
    EXPECT_EQ(raised[0].alert.nSinceMs, kStart);
    EXPECT_EQ(raised[0].alert.strText, "line silent since " + AlertTimeText(kStart));
    // Held, not repeated.
    EXPECT_TRUE(Look(30 * kMinute).empty());
    EXPECT_EQ(watch.Active().size(), 1u);

    facts.nLastCallMs = kStart + 32 * kMinute + 5000;
    const auto cleared = Look(32 * kMinute + 5100);
    ASSERT_EQ(cleared.size(), 1u);
    EXPECT_FALSE(cleared[0].bRaised);
    EXPECT_EQ(cleared[0].alert.strText, "line back after 32m 05s");
    EXPECT_TRUE(watch.Active().empty());
    // The clock starts again from that call.
    EXPECT_TRUE(Look(36 * kMinute).empty());
    EXPECT_EQ(Look(37 * kMinute + 5000).size(), 1u);
}

TEST_F(AlertWatchTest, SilenceIsNotCountedWhileTheLineIsClosedOrWhenOff) {
    EXPECT_TRUE(Look(600 * kMinute).empty()); // no SilenceAlert
    watch.SetSilenceMs(kMinute);
    facts.bLineOpen = false;
    EXPECT_TRUE(Look(700 * kMinute).empty());
    facts.bLineOpen = true;
    EXPECT_TRUE(Look(701 * kMinute).empty()); // counted from the reopening
    EXPECT_TRUE(Look(702 * kMinute - 1).empty());
    EXPECT_EQ(Look(702 * kMinute).size(), 1u);
    // Turned off while raised: cleared, not left hanging.
    watch.SetSilenceMs(0);
    const auto off = Look(703 * kMinute);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_FALSE(off[0].bRaised);
}

TEST_F(AlertWatchTest, ALostDeviceIsRaisedAndClearedOnce) {
    facts.bDeviceLost = true;
    ASSERT_EQ(Look(0).size(), 1u);
    EXPECT_EQ(watch.Active()[0].strText, "device lost: /dev/ttyUSB0");
    EXPECT_TRUE(Look(1000).empty());
    facts.bDeviceLost = false;
    const auto back = Look(61000);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].alert.strText, "device back after 1m 01s: /dev/ttyUSB0");
    EXPECT_EQ(back[0].strRaisedText, "device lost: /dev/ttyUSB0");
}

TEST_F(AlertWatchTest, ATargetThatDeliversNothingWhilePagesWaitIsRaised) {
    watch.SetTargetMs(10 * kMinute);
    CWatchFacts::CTarget target;
    target.strName = "ward7";
    target.nPending = 3;
    target.nOldestPendingMs = kStart;
    facts.targets = {target};
    EXPECT_TRUE(Look(10 * kMinute - 1).empty());
    const auto raised = Look(10 * kMinute);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].alert.strCondition, "target_stalled");
    EXPECT_EQ(raised[0].alert.strTarget, "ward7");
    EXPECT_TRUE(Look(60 * kMinute).empty());
    // A delivery ends it, even with pages still waiting.
    facts.targets[0].nLastDeliveredMs = kStart + 61 * kMinute;
    const auto cleared = Look(61 * kMinute);
    ASSERT_EQ(cleared.size(), 1u);
    EXPECT_FALSE(cleared[0].bRaised);
    EXPECT_EQ(cleared[0].alert.strText, "target ward7 delivering again after 1h 01m");
    // An idle target with nothing waiting is never stalled.
    facts.targets[0].nPending = 0;
    EXPECT_TRUE(Look(500 * kMinute).empty());
}

TEST_F(AlertWatchTest, ExpiredPagesHoldTheirAlertUntilNoneIsLeftOrTheTargetGoes) {
    CWatchFacts::CTarget target;
    target.strName = "mail";
    target.nExpired = 2;
    facts.targets = {target};
    const auto raised = Look(0);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].alert.strText,
              "the outbox holds 2 pages that expired for mail");
    facts.targets[0].nExpired = 3;
    EXPECT_TRUE(Look(1000).empty()); // more of the same: still one alert
    facts.targets.clear();
    const auto gone = Look(2000);
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_FALSE(gone[0].bRaised);
    EXPECT_TRUE(watch.Active().empty());
}

TEST(AlertMinutesTest, TakesDecimalMinutesAndRefusesTheRest) {
    std::int64_t nMs = -1;
    EXPECT_TRUE(ParseAlertMinutes("0.05", &nMs));
    EXPECT_EQ(nMs, 3000);
    EXPECT_TRUE(ParseAlertMinutes(" 10 ", &nMs));
    EXPECT_EQ(nMs, 600000);
    EXPECT_TRUE(ParseAlertMinutes("", &nMs));
    EXPECT_EQ(nMs, 0);
    for (const char* szBad :
         {"-1", "ten", "1e3", "1.2.3", ".", "nan", "10m", "9999999"})
        EXPECT_FALSE(ParseAlertMinutes(szBad, &nMs)) << szBad;
}

TEST(AlertJsonTest, CarriesTheConditionThePortAndSinceWhen) {
    CAlertEvent event;
    event.alert.strCondition = "target_stalled";
    event.alert.nPort = 2;
    event.alert.strTarget = "ward \"7\"";
    event.alert.nSinceMs = kStart;
    event.alert.strText = "target ward \"7\" has not delivered";
    event.nTimeMs = kStart + 1000;
    const nlohmann::json object = nlohmann::json::parse(AlertJson(event));
    EXPECT_EQ(object["type"], "alert");
    EXPECT_EQ(object["condition"], "target_stalled");
    EXPECT_EQ(object["state"], "raised");
    EXPECT_EQ(object["port"], 2);
    EXPECT_EQ(object["target"], "ward \"7\"");
    EXPECT_FALSE(object["since"].get<std::string>().empty());
    EXPECT_EQ(AlertJson(event).find('\n'), std::string::npos);
}

} // namespace
