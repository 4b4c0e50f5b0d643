#include "tests/TempDir.h"
#include "tests/TestClock.h"
#include "tests/TestSupport.h"
#include "ui/ReportFile.h"

#include <gtest/gtest.h>

namespace {


class ReportFileTest : public ::testing::Test {
protected:
    CTempDir dir;
    CRecordingBoxes boxes;
    std::time_t when = LocalTime(2008, 3, 14, 15, 4, 5);
    const std::string header = "Dudova Deza List Report saved:  03/14/08 03:04:05 PM";
};

TEST_F(ReportFileTest, HeaderIsAlways52CharactersInTheCLocale) {
    EXPECT_EQ(ReportHeader(when), header);
    EXPECT_EQ(ReportHeader(LocalTime(2026, 12, 8, 0, 30, 0)),
              "Dudova Deza List Report saved:  12/08/26 12:30:00 AM");
    EXPECT_EQ(ReportHeader(LocalTime(1999, 1, 1, 12, 0, 0)).size(), 52u);
    EXPECT_EQ(ReportHeader(LocalTime(2030, 11, 30, 23, 59, 59)).size(), 52u);
}

TEST_F(ReportFileTest, AnEmptyListGivesTheHeaderAlone) {
    std::string path = dir.Path("TEMP.TXT");
    EXPECT_EQ(SaveReportToFile(path, {}, when, boxes), ReportOutcome::kSaved);
    EXPECT_EQ(CTempDir::Read(path), header + "\r\n");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, "Saved 0 lines");
    EXPECT_EQ(boxes.boxes[0].strCaption, "Marivane Didoza Zuri Zovivazir");
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONEXCLAMATION);
}

TEST_F(ReportFileTest, EveryLineIsWrittenUnchangedWithCrLf) {
    std::string path = dir.Path("pages.txt");
    std::vector<std::string> lines = {
        "12/08/2026 14:05:00  1234 HI  ", "\tBAD PAGE - INVALID CHECKSUM",
        "=>  <STX>1234<CR>\xE9"};
    EXPECT_EQ(SaveReportToFile(path, lines, when, boxes), ReportOutcome::kSaved);
    EXPECT_EQ(CTempDir::Read(path), header + "\r\n" + lines[0] + "\r\n" + lines[1] +
                                        "\r\n" + lines[2] + "\r\n");
    EXPECT_EQ(boxes.boxes.back().strText, "Saved 3 lines");
}

TEST_F(ReportFileTest, AnExistingFileIsReplacedNotAppendedTo) {
    std::string path = dir.Path("old.txt");
    CTempDir::Write(path, std::string(10000, 'x'));
    SaveReportToFile(path, {"one"}, when, boxes);
    EXPECT_EQ(CTempDir::Read(path), header + "\r\none\r\n");
}

TEST_F(ReportFileTest, AFolderThatDoesNotExistCannotBeOpened) {
    std::string path = dir.Path("no/such/folder/r.txt");
    EXPECT_EQ(SaveReportToFile(path, {"one"}, when, boxes), ReportOutcome::kOpenFailed);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, "Unable to open/create the file");
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONEXCLAMATION);
}

TEST_F(ReportFileTest, AFullDiskIsReportedWithTheStopIconAndNoCount) {
    EXPECT_EQ(SaveReportToFile("/dev/full", {"one", "two"}, when, boxes),
              ReportOutcome::kWriteFailed);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, "Disk full while accessing /dev/full.");
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONSTOP);
}

} // namespace
