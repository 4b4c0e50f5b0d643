#include "serial/CommDefinition.h"

#include <gtest/gtest.h>

namespace {

TEST(CommDefinitionTest, FormsTheDefinitionText) {
    EXPECT_EQ(FormatCommDefinition(9600, 'N', 8, 1),
              "baud=9600 parity=N data=8 stop=1");
    // An empty parity setting gives a NUL letter, which ends the text.
    EXPECT_EQ(FormatCommDefinition(9600, '\0', 8, 1), "baud=9600 parity=");
}

TEST(CommDefinitionTest, ParsesEveryValueTheSettingsOffer) {
    for (int nBaud : {300, 1200, 2400, 4800, 9600, 19200, 115200}) {
        for (char chParity : {'N', 'E', 'O', 'M', 'S'}) {
            for (int nData : {5, 6, 7, 8}) {
                for (int nStop : {1, 2}) {
                    CLineFormat format;
                    ASSERT_TRUE(ParseCommDefinition(
                        FormatCommDefinition(nBaud, chParity, nData, nStop), &format));
                    EXPECT_EQ(format.nBaud, nBaud);
                    EXPECT_EQ(format.chParity, chParity);
                    EXPECT_EQ(format.nDataBits, nData);
                    EXPECT_EQ(format.nStopBits, nStop);
                }
            }
        }
    }
}

TEST(CommDefinitionTest, RejectsWhatTheLineCannotTake) {
    const char* bad[] = {
        "baud=12345 parity=N data=8 stop=1", // no such speed
        "baud=0 parity=N data=8 stop=1",
        "baud=fast parity=N data=8 stop=1",
        "baud=9600 parity=X data=8 stop=1",
        "baud=9600 parity= data=8 stop=1",
        "baud=9600 parity=NN data=8 stop=1",
        "baud=9600 parity=N data=4 stop=1",
        "baud=9600 parity=N data=9 stop=1",
        "baud=9600 parity=N data=8 stop=3",
        "baud=9600 parity=N data=8 stop=0",
        "baud=9600 parity=N data=8", // incomplete
        "baud=-9600 parity=N data=8 stop=1",
        "speed=9600 parity=N data=8 stop=1",
        "",
    };
    for (const char* szText : bad) {
        CLineFormat format;
        EXPECT_FALSE(ParseCommDefinition(szText, &format)) << szText;
    }
}

} // namespace
