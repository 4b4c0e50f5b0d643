#include "session/ViewText.h"
#include "settings/PortConfig.h"
#include "tests/TempDir.h"
#include "tests/TestClock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::time_t At(int nHour, int nMin, int nSec = 0) {
    return LocalTime(2026, 12, 8, nHour, nMin, nSec);
}

TEST(ViewTextTest, PageLineStartsWithTheTimeStamp) {
    EXPECT_EQ(FormatPageLine(At(14, 5), " 1234 HI  "),
              "12/08/2026 14:05:00  1234 HI  ");
}

TEST(ViewTextTest, PageLineRendersSubEscapesAndKeepsEverythingElse) {
    const std::time_t when = At(9, 0);
    const std::string stamp = "12/08/2026 09:00:00 ";
    struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"A\x1a"
         "AB",
         "A<SOH>B"},
        {"\x1a"
         "B\x1a[",
         "<STX><ESC>"},
        {"\x1a"
         "@\x1a_",
         "<NUL><US>"},
        {"\x01\x03\xE9\x7F", "\x01\x03\xE9\x7F"}, // other bytes unchanged
        {"end\x1a", "end<SUB>"},                  // SUB as the last byte
        {"\x1a"
         "a",
         "<SUB>a"}, // no escape: a is kept
        {"\x1a\x1a"
         "A",
         "<SUB><SOH>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatPageLine(when, c.text), stamp + c.shown);
}

TEST(ViewTextTest, LongValuesInBoxesAreCutWithTheirLengthSaid) {
    EXPECT_EQ(ShownValue("nak-every:3"), "nak-every:3");
    const std::string strHuge(102400, 'x');
    EXPECT_EQ(ShownValue(strHuge),
              std::string(kShownValueLimit, 'x') + "... (102400 characters)");
    // A line of the box, whatever it quotes; short lines and line ends stay.
    const std::string strBox =
        "The setting is not used:\nunknown mode '" + strHuge + "'\nOK";
    EXPECT_EQ(ReadableBoxText(strBox), "The setting is not used:\nunknown mode '" +
                                           std::string(kBoxLineLimit - 14, 'x') +
                                           "... (102415 characters)\nOK");
    EXPECT_EQ(ReadableBoxText("a\n\nb\n"), "a\n\nb\n");
    // Never cut inside a character: the text stays valid UTF-8.
    std::string strWide;
    for (int i = 0; i < 40; ++i)
        strWide += "\xc3\xa9"; // e acute, two bytes
    EXPECT_EQ(ShownValue(strWide).substr(0, kShownValueLimit),
              strWide.substr(0, kShownValueLimit));
    EXPECT_EQ(ShownValue(" " + strWide).find("\xc3..."), std::string::npos);
}

TEST(ViewTextTest, AProfileIsNotedAsNewOnlyWhileItIsNotThere) {
    CTempDir dir;
    const std::string strPath = dir.Path("line2.INI");
    EXPECT_EQ(NewProfileNote(strPath),
              "   PROFILE " + strPath + " IS NEW: IT IS WRITTEN AT THE FIRST CHANGE");
    ASSERT_TRUE(CIniProfile(strPath).WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_EQ(NewProfileNote(strPath), "");
    EXPECT_EQ(NewProfileNote(dir.Path()),
              "");                     // a folder is no new profile: a box says so
    EXPECT_EQ(NewProfileNote(""), ""); // a profile with no file
}

TEST(ViewTextTest, ClockHasNoLeadingZeroOnTheHour) {
    EXPECT_EQ(ClockText(At(0, 7)), "0:07");
    EXPECT_EQ(ClockText(At(9, 5)), "9:05");
    EXPECT_EQ(ClockText(At(23, 59, 59)), "23:59");
}

TEST(ViewTextTest, PortSettingsTextShowsTheStoredTexts) {
    CTempDir dir;
    CIniProfile profile(dir.Path("volnex.INI"));
    EXPECT_EQ(PortSettingsText(CPortConfig(profile)),
              "Port Settings : Port: COM1 BaudRate: 9600 Parity: None StopBits: 1 "
              "DataBits: 8");
    profile.WriteString("Configuration", "CommPort", "COM2");
    profile.WriteString("Configuration", "Parity2", "odd");
    EXPECT_EQ(PortSettingsText(CPortConfig(profile)),
              "Port Settings : Port: COM2 BaudRate: 9600 Parity: odd StopBits: 1 "
              "DataBits: 8");
}

TEST(ViewTextTest, StatusTextShowsANetworkLineInsteadOfTheLineFormat) {
    CTempDir dir;
    CIniProfile profile(dir.Path("volnex.INI"));
    profile.WriteString("Configuration", "Device1", "/dev/ttyUSB0");
    EXPECT_EQ(
        StatusSettingsText(CPortConfig(profile), "/dev/ttyUSB0", "", "/dev/ttyUSB0"),
        "Port Settings : Port: COM1 /dev/ttyUSB0 BaudRate: 9600 Parity: None "
        "StopBits: 1 DataBits: 8 (device lost: /dev/ttyUSB0)");
    // No Device key: the default device of the port is named.
    CIniProfile empty(dir.Path("empty.INI"));
    EXPECT_EQ(StatusSettingsText(CPortConfig(empty), "", "", ""),
              "Port Settings : Port: COM1 /dev/ttyS0 BaudRate: 9600 Parity: None "
              "StopBits: 1 DataBits: 8");
    profile.WriteString("Configuration", "Device1", "tcp-listen:2775");
    const std::string strState = "tcp-listen:127.0.0.1:2775, peer 10.0.0.7:53122";
    EXPECT_EQ(StatusSettingsText(CPortConfig(profile), "tcp-listen:2775", strState, ""),
              "Port Settings : Port: COM1 " + strState);
    // Stored but not in use yet (no Logon since): the stored value.
    EXPECT_EQ(StatusSettingsText(CPortConfig(profile), "/dev/ttyUSB0", "", ""),
              "Port Settings : Port: COM1 tcp-listen:2775");
}

} // namespace

namespace {

// The page list's 500-line rule: the oldest entries go whole.
class OldestPageLinesTest : public ::testing::Test {
  protected:
    size_t Drop(size_t nLimit) {
        return OldestPageLinesToDrop(lines.size(), nLimit,
                                     [this](size_t i) { return lines.at(i); });
    }
    std::vector<std::string> lines;
};

TEST_F(OldestPageLinesTest, NothingGoesWithinTheLimit) {
    lines = {"p1", "\tBAD PAGE - INVALID CHECKSUM", "p2"};
    EXPECT_EQ(Drop(3), 0u);
    lines.clear();
    EXPECT_EQ(Drop(500), 0u);
}

TEST_F(OldestPageLinesTest, APageGoesWithItsResultLine) {
    lines = {"p1", "\tBAD PAGE - INVALID CHECKSUM", "p2", "p3"};
    EXPECT_EQ(Drop(3), 2u); // one over: the rejected page goes whole
    EXPECT_EQ(Drop(2), 2u);
    EXPECT_EQ(Drop(1), 3u);
    lines = {"p1", "p2", "\tTIMED OUT ", "p3", "\tBAD PAGE - INVALID FORMAT"};
    EXPECT_EQ(Drop(4), 1u);
    EXPECT_EQ(Drop(3), 3u);
}

TEST_F(OldestPageLinesTest, AResultLineLeftAtTheTopGoesFirst) {
    lines = {"\tTIMED OUT ", "p1", "p2"};
    EXPECT_EQ(Drop(2), 1u);
    // A page text that merely contains a tab is a page line.
    lines = {"p1", "12/08/2026 14:05:00 A\tB", "p3"};
    EXPECT_EQ(Drop(2), 1u);
}

} // namespace
