#include "tools/veldrin-sim/SimOptions.h"
#include "engine/Checksum.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

TEST(SimOptionsTest, PagesComeFromArgumentsFilesAndCounts) {
    CTempDir dir;
    CTempDir::Write(dir.Path("pages.txt"),
                    "# pager, TAB, message\n1234\tHELLO\r\n\n55\tTWO WORDS\n");
    CSimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--device", "/dev/ttyUSB0", "--pager", "9",
                                 "--message", "A", "--file", dir.Path("pages.txt"),
                                 "--count", "2", "--fault", "noise", "--retries", "3"},
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

TEST(SimOptionsTest, FramingIsParsedAndRefusedWhereTheLineCannotCarryIt) {
    CSimOptions options;
    std::string error;
    const std::vector<std::string> page{"--pager", "1", "--message", "A"};
    auto parse = [&](std::vector<std::string> args) {
        args.insert(args.end(), page.begin(), page.end());
        options = CSimOptions();
        return ParseSimOptions(args, &options, &error);
    };
    ASSERT_TRUE(parse({"--device", "/dev/ttyUSB0"}));
    EXPECT_EQ(FramingText(options), "8N1"); // the default
    ASSERT_TRUE(parse({"--device", "/dev/ttyUSB0", "--framing", "7e2"}));
    EXPECT_EQ(options.nDataBits, 7);
    EXPECT_EQ(options.chParity, 'E');
    EXPECT_EQ(options.nStopBits, 2);
    EXPECT_EQ(FramingRefusal(options, false), ""); // a real adapter takes it
    EXPECT_NE(FramingRefusal(options, true)
                  .find("a virtual line (pseudo-terminal) cannot "
                        "carry parity"),
              std::string::npos);
    for (const char* szBad : {"9N1", "4N1", "8X1", "8N3", "8N", "8N11", ""}) {
        EXPECT_FALSE(parse({"--device", "/dev/ttyUSB0", "--framing", szBad})) << szBad;
        EXPECT_EQ(error, std::string("bad value '") + szBad + "' for --framing");
    }
    ASSERT_TRUE(parse({"--tcp", "127.0.0.1:2775", "--framing", "8O1"}));
    EXPECT_NE(FramingRefusal(options, false).find("a network line cannot carry parity"),
              std::string::npos);
    ASSERT_TRUE(parse({"--pty", "/tmp/line", "--framing", "8N1"}));
    EXPECT_EQ(FramingRefusal(options, true), ""); // plain bytes travel everywhere
}

TEST(SimOptionsTest, BadArgumentsAreRefusedWithAReason) {
    CTempDir dir;
    CTempDir::Write(dir.Path("bad.txt"), "no tab here\n");
    struct {
        std::vector<std::string> args;
        const char* szReason;
    } cases[] = {
        {{"--pager", "1", "--message", "A"}, "one of --device, --pty and --tcp"},
        {{"--tcp", "host", "--count", "1"}, "bad value 'host' for --tcp"},
        {{"--tcp", "h:1", "--device", "/dev/x", "--count", "1"}, "one of --device"},
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

// The same conventions as volnex: help and version on stdout with status 0,
// a wrong argument with its reason and the usage on stderr with status 2.
TEST(SimOptionsTest, HelpVersionAndWrongArgumentsEndTheProgramLikeVolnex) {
    struct {
        std::vector<std::string> args;
        int nStatus;
        const char* szOut;
        const char* szErr;
    } cases[] = {
        {{"--help"}, 0, "Usage: veldrin-sim", ""},
        {{"-h", "--bogus"}, 0, "Usage: veldrin-sim", ""},
        {{"--version"}, 0, "veldrin-sim 8.02\n", ""},
        {{"--device", "/d", "--count", "1", "--bogus"},
         2,
         "",
         "veldrin-sim: unknown option --bogus\n\nUsage: veldrin-sim"},
        {{}, 2, "", "veldrin-sim: give one of --device, --pty and --tcp\n"},
    };
    for (const auto& c : cases) {
        CSimOptions options;
        std::string error;
        const bool bParsed = ParseSimOptions(c.args, &options, &error);
        std::ostringstream out, err;
        int nStatus = -1;
        EXPECT_TRUE(PrintSimOutcome(bParsed, options, error, out, err, &nStatus))
            << c.szOut;
        EXPECT_EQ(nStatus, c.nStatus);
        EXPECT_EQ(out.str().rfind(c.szOut, 0), 0u) << out.str();
        EXPECT_EQ(err.str().rfind(c.szErr, 0), 0u) << err.str();
        EXPECT_EQ(out.str().empty(), *c.szOut == '\0');
        EXPECT_EQ(err.str().empty(), *c.szErr == '\0');
    }
    CSimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--device", "/d", "--count", "1"}, &options, &error));
    std::ostringstream out, err;
    int nStatus = -1;
    EXPECT_FALSE(PrintSimOutcome(true, options, error, out, err, &nStatus));
    EXPECT_EQ(out.str() + err.str(), "");
}

TEST(SimOptionsTest, BlocksCarryTheChecksumTheTerminalExpects) {
    EXPECT_EQ(MakePageBlock("1234", "HI"), "\x02"
                                           "1234\rHI\r\x03"
                                           "17:\r");
}

} // namespace
