#include "tests/TempDir.h"
#include "tools/veldrin-sim/Caller.h"
#include "tools/veldrin-sim/SimOptions.h"

#include <gtest/gtest.h>

namespace {

TEST(SimOptionsTest, PagesComeFromArgumentsFilesAndCounts) {
    CTempDir dir;
    CTempDir::Write(dir.Path("pages.txt"), "# pager, TAB, message\n1234\tHELLO\r\n\n55\tTWO WORDS\n");
    CSimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--device", "/dev/ttyUSB0", "--pager", "9", "--message", "A",
                                 "--file", dir.Path("pages.txt"), "--count", "2", "--fault",
                                 "noise", "--retries", "3"},
                                &options, &error))
        << error;
    ASSERT_EQ(options.pages.size(), 5u);
    EXPECT_EQ(options.pages[0].strPager, "9");
    EXPECT_EQ(options.pages[1].strMessage, "HELLO");
    EXPECT_EQ(options.pages[2].strMessage, "TWO WORDS");
    EXPECT_EQ(options.pages[4].strMessage, "LOAD TEST PAGE 2");
    EXPECT_EQ(options.fault, SimFault::kNoise);
    EXPECT_EQ(options.nRetries, 3);
}

TEST(SimOptionsTest, BadArgumentsAreRefusedWithAReason) {
    CTempDir dir;
    CTempDir::Write(dir.Path("bad.txt"), "no tab here\n");
    struct {
        std::vector<std::string> args;
        const char* szReason;
    } cases[] = {
        {{"--pager", "1", "--message", "A"}, "either --device or --pty"},
        {{"--device", "/d"}, "no pages"},
        {{"--device", "/d", "--pager", "1"}, "needs its --message"},
        {{"--device", "/d", "--count", "0"}, "bad value '0' for --count"},
        {{"--device", "/d", "--count", "x"}, "bad value"},
        {{"--device", "/d", "--count", "1", "--fault", "gremlins"}, "for --fault"},
        {{"--device", "/d", "--count", "1", "--speed", "9"}, "unknown option --speed"},
        {{"--device", "/d", "--count", "1", "stray"}, "unexpected argument 'stray'"},
        {{"--device", "/d", "--count"}, "--count needs a value"},
        {{"--device", "/d", "--pager", "1", "--message", "A\rB"}, "control characters"},
        {{"--device", "/d", "--file", dir.Path("bad.txt")}, "expected a pager, a TAB"},
        {{"--device", "/d", "--file", dir.Path("none.txt")}, "cannot read"},
    };
    for (const auto& c : cases) {
        CSimOptions options;
        std::string error;
        EXPECT_FALSE(ParseSimOptions(c.args, &options, &error)) << c.szReason;
        EXPECT_NE(error.find(c.szReason), std::string::npos) << error;
    }
}

TEST(SimOptionsTest, BlocksCarryTheChecksumTheTerminalExpects) {
    EXPECT_EQ(CCaller::MakeBlock("1234", "HI"), "\x02" "1234\rHI\r\x03" "17:\r");
}

} // namespace
