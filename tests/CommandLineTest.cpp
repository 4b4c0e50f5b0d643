#include "session/CommandLine.h"
#include "settings/Profile.h"
#include "tests/TempDir.h"
#include "ui/HelpBook.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace {

struct COutcome {
    bool bExits = false;
    int nStatus = -1;
    std::string strOut, strErr;
};

COutcome Outcome(const std::vector<std::string>& args) {
    COutcome outcome;
    std::ostringstream out, err;
    outcome.bExits =
        PrintCommandLineOutcome(ParseCommandLine(args), out, err, &outcome.nStatus);
    outcome.strOut = out.str();
    outcome.strErr = err.str();
    return outcome;
}

TEST(CommandLineTest, HelpPrintsTheUsageOnStdoutAndExitsZero) {
    for (const char* szOption : {"--help", "-h"}) {
        COutcome outcome = Outcome({szOption});
        EXPECT_TRUE(outcome.bExits) << szOption;
        EXPECT_EQ(outcome.nStatus, 0);
        EXPECT_EQ(outcome.strOut.rfind("Usage: volnex", 0), 0u) << outcome.strOut;
        EXPECT_NE(outcome.strOut.find("--profile FILE"), std::string::npos);
        EXPECT_EQ(outcome.strErr, "");
    }
}

TEST(CommandLineTest, VersionPrintsTheProjectVersionAndExitsZero) {
    COutcome outcome = Outcome({"--version"});
    EXPECT_TRUE(outcome.bExits);
    EXPECT_EQ(outcome.nStatus, 0);
    EXPECT_EQ(outcome.strOut, "volnex 8.02\n");
    // The About box carries the same version with its date.
    EXPECT_EQ(AboutVersionText(), "Ver. 8.02 09/25/07");
}

TEST(CommandLineTest, WrongOptionsPrintAReasonAndTheUsageOnStderrAndExitTwo) {
    struct {
        std::vector<std::string> args;
        const char* szReason;
    } cases[] = {
        {{"--verbose"}, "volnex: unknown option --verbose\n"},
        {{"-x"}, "volnex: unknown option -x\n"},
        {{"--profile"}, "volnex: --profile needs a file name\n"},
        {{"--profile="}, "volnex: --profile needs a file name\n"},
        {{"--profile", ""}, "volnex: --profile needs a file name\n"},
        {{"--headless", "--exit-after"},
         "volnex: --exit-after needs a whole number from 1 up\n"},
        {{"--headless", "--exit-after", "0"},
         "volnex: --exit-after needs a whole number"},
        {{"--headless", "--timeout", "-5"}, "volnex: --timeout needs a whole number"},
        {{"--headless", "--timeout", "5s"}, "volnex: --timeout needs a whole number"},
        {{"--headless", "--timeout", "99999999999"},
         "volnex: --timeout needs a whole number"},
        // The headless options mean nothing to the window.
        {{"--exit-after", "3"},
         "volnex: --trace, --exit-after and --timeout go with --headless\n"},
        {{"--trace"}, "volnex: --trace, --exit-after and --timeout go with"},
        // An error before --help wins: the arguments are read in order.
        {{"--bogus", "--help"}, "volnex: unknown option --bogus\n"},
    };
    for (const auto& c : cases) {
        COutcome outcome = Outcome(c.args);
        EXPECT_TRUE(outcome.bExits) << c.szReason;
        EXPECT_EQ(outcome.nStatus, 2) << c.szReason;
        EXPECT_EQ(outcome.strOut, "") << c.szReason;
        EXPECT_EQ(outcome.strErr.rfind(c.szReason, 0), 0u) << outcome.strErr;
        EXPECT_NE(outcome.strErr.find("Usage: volnex"), std::string::npos);
    }
}

TEST(CommandLineTest, PlainArgumentsAreIgnoredAndTheProgramStarts) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"file.txt"},
                                                 {"-"},
                                                 {"--", "--bogus", "--help"}}) {
        CCommandLine cmd = ParseCommandLine(args);
        EXPECT_EQ(cmd.action, CommandAction::kRun);
        EXPECT_EQ(cmd.strProfile, "");
        COutcome outcome = Outcome(args);
        EXPECT_FALSE(outcome.bExits);
        EXPECT_EQ(outcome.strOut + outcome.strErr, "");
    }
}

TEST(CommandLineTest, ProfileOptionNamesTheFileInEitherSpellingLastOneWins) {
    EXPECT_EQ(ParseCommandLine({"--profile", "/tmp/a.INI"}).strProfile, "/tmp/a.INI");
    EXPECT_EQ(ParseCommandLine({"--profile=/tmp/b.INI"}).strProfile, "/tmp/b.INI");
    CCommandLine cmd =
        ParseCommandLine({"--profile", "a.INI", "x", "--profile", "b.INI"});
    EXPECT_EQ(cmd.action, CommandAction::kRun);
    EXPECT_EQ(cmd.strProfile, "b.INI");
    // A file name that looks like an option is still the file.
    EXPECT_EQ(ParseCommandLine({"--profile", "--help"}).strProfile, "--help");
}

TEST(CommandLineTest, HeadlessOptionsInAnyOrderAndTraceWithOrWithoutAFile) {
    CCommandLine cmd = ParseCommandLine(
        {"--exit-after", "5", "--headless", "--profile", "lab.INI", "--timeout", "30"});
    EXPECT_EQ(cmd.action, CommandAction::kRun);
    EXPECT_TRUE(cmd.bHeadless);
    EXPECT_EQ(cmd.nExitAfter, 5);
    EXPECT_EQ(cmd.nTimeoutSeconds, 30);
    EXPECT_EQ(cmd.strProfile, "lab.INI");
    EXPECT_FALSE(cmd.bTrace);
    cmd = ParseCommandLine({"--headless", "--trace", "--exit-after", "1"});
    EXPECT_TRUE(cmd.bTrace);
    EXPECT_EQ(cmd.strTrace, ""); // standard error
    EXPECT_EQ(cmd.nExitAfter, 1);
    EXPECT_EQ(ParseCommandLine({"--headless", "--trace", "t.log"}).strTrace, "t.log");
    EXPECT_EQ(ParseCommandLine({"--headless", "--trace=t.log"}).strTrace, "t.log");
    EXPECT_FALSE(ParseCommandLine({}).bHeadless);
}

TEST(CommandLineTest, ProfilePathIsTheOptionTakenFromTheStartFolderOrTheDefault) {
    CCommandLine cmd = ParseCommandLine({"--profile", "line2.INI"});
    EXPECT_EQ(ChooseProfilePath(cmd, "/home/op", "volnex"), "/home/op/line2.INI");
    EXPECT_EQ(ChooseProfilePath(cmd, "/", "volnex"), "/line2.INI");
    cmd = ParseCommandLine({"--profile", "/srv/line1.INI"});
    EXPECT_EQ(ChooseProfilePath(cmd, "/home/op", "volnex"), "/srv/line1.INI");
    cmd = ParseCommandLine({});
    EXPECT_EQ(ChooseProfilePath(cmd, "/home/op", "volnex"),
              DefaultProfilePath("volnex"));
}

TEST(CommandLineTest, TheTitleNamesAProfileOtherThanTheDefault) {
    const std::string strDefault = DefaultProfilePath("volnex");
    CCommandLine cmd = ParseCommandLine({"--profile", "lab-line-2.INI"});
    EXPECT_EQ(
        ProfileTitleName(ChooseProfilePath(cmd, "/home/op", "volnex"), strDefault),
        "lab-line-2");
    EXPECT_EQ(ProfileTitleName("/srv/lines/line.1.ini", strDefault), "line.1");
    EXPECT_EQ(ProfileTitleName("/srv/noext", strDefault), "noext");
    EXPECT_EQ(ProfileTitleName("/srv/.hidden", strDefault), ".hidden");
    EXPECT_EQ(ProfileTitleName(strDefault, strDefault), ""); // named as the default
    EXPECT_EQ(ProfileTitleName(ChooseProfilePath(ParseCommandLine({}), "/", "volnex"),
                               strDefault),
              "");
}

TEST(CommandLineTest, AMissingProfileFileIsMadeWithItsFolderOnTheFirstWrite) {
    CTempDir dir;
    CCommandLine cmd = ParseCommandLine({"--profile", "lines/line2.INI"});
    const std::string strPath = ChooseProfilePath(cmd, dir.Path(), "volnex");
    ASSERT_EQ(strPath, dir.Path("lines/line2.INI"));
    CIniProfile profile(strPath);
    // A missing file reads as empty, as the default profile does.
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", "COM1"), "COM1");
    EXPECT_FALSE(std::filesystem::exists(strPath));
    ASSERT_TRUE(profile.WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_EQ(CTempDir::Read(strPath), "[Configuration]\nCommPort=COM2\n");
}

TEST(HelpBookTest, TheBookBesideTheExecutableComesBeforeTheInstalledOne) {
    CTempDir dir;
    std::filesystem::create_directories(dir.Path("bin/volnex-help"));
    std::filesystem::create_directories(dir.Path("share/volnex/help"));
    CTempDir::Write(dir.Path("share/volnex/help/volnex.hhp"), "[OPTIONS]\n");
    // An installed program (bin/ beside share/) finds the installed book.
    EXPECT_EQ(std::filesystem::canonical(FindHelpBook(dir.Path("bin"))),
              std::filesystem::canonical(dir.Path("share/volnex/help/volnex.hhp")));
    // In the build tree the book beside the executable wins.
    CTempDir::Write(dir.Path("bin/volnex-help/volnex.hhp"), "[OPTIONS]\n");
    EXPECT_EQ(FindHelpBook(dir.Path("bin")), dir.Path("bin/volnex-help/volnex.hhp"));
}

TEST(HelpBookTest, NoBookAnywhereNamesTheFirstPlaceLookedAt) {
    CTempDir dir;
    const std::vector<std::string> candidates = HelpBookCandidates(dir.Path());
    ASSERT_EQ(candidates.size(), 3u);
    if (std::filesystem::exists(candidates.back()))
        GTEST_SKIP() << "a book is installed on this machine: " << candidates.back();
    EXPECT_EQ(FindHelpBook(dir.Path()), dir.Path("volnex-help/volnex.hhp"));
}

} // namespace
