#include "serial/LineRecovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class LineRecoveryTest : public ::testing::Test {
  protected:
    // Ticks until the recovery asks for a new set-up or the ticks run out;
    // the number of ticks taken, or -1.
    int TicksUntilAsked(bool bLost, int nMaxTicks) {
        for (int i = 1; i <= nMaxTicks; ++i) {
            if (recovery.Tick(bLost, "/dev/ttyUSB0"))
                return i;
        }
        return -1;
    }

    bool bPresent = false;
    std::vector<std::string> probed;
    CLineRecovery recovery{[this](const std::string& strPath) {
        probed.push_back(strPath);
        return bPresent;
    }};
};

TEST_F(LineRecoveryTest, ALineThatStaysPresentIsNeverProbed) {
    bPresent = true;
    EXPECT_EQ(TicksUntilAsked(false, 100), -1);
    EXPECT_TRUE(probed.empty());
    EXPECT_EQ(recovery.GetLostPath(), "");
}

TEST_F(LineRecoveryTest, ALostDeviceIsCheckedOnceASecondUntilItOpensAgain) {
    EXPECT_EQ(TicksUntilAsked(true, 35), -1);
    EXPECT_EQ(probed, (std::vector<std::string>(3, "/dev/ttyUSB0")));
    EXPECT_EQ(recovery.GetLostPath(), "/dev/ttyUSB0");
    bPresent = true;
    EXPECT_EQ(TicksUntilAsked(true, 20),
              5); // the fourth check, a second after the third
    recovery.Recovered();
    EXPECT_EQ(recovery.GetLostPath(), "");
    probed.clear();
    EXPECT_EQ(TicksUntilAsked(false, 30), -1);
    EXPECT_TRUE(probed.empty());
}

TEST_F(LineRecoveryTest, ASetUpThatFailsKeepsWatching) {
    // The set-up clears the port's loss even when its open fails: the watch
    // must go on without it.
    bPresent = true;
    ASSERT_EQ(TicksUntilAsked(true, 20), CLineRecovery::kCheckTicks);
    bPresent = false;
    EXPECT_EQ(TicksUntilAsked(false, 25), -1);
    EXPECT_EQ(probed.size(), 3u);
    bPresent = true;
    EXPECT_EQ(TicksUntilAsked(false, 10), 5);
}

TEST_F(LineRecoveryTest, TheOperatorsLogoffStopsTheLineComingBack) {
    bPresent = true;
    recovery.Tick(true, "/dev/ttyUSB0");
    recovery.Cancel();
    EXPECT_EQ(TicksUntilAsked(true, 50), -1);
    EXPECT_TRUE(probed.empty());
    EXPECT_EQ(recovery.GetLostPath(), "");
    // After the operator's own Logon a later loss is watched again.
    recovery.Recovered();
    EXPECT_EQ(TicksUntilAsked(true, 20), CLineRecovery::kCheckTicks);
}

} // namespace
