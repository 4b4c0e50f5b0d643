#include "ui/ReportFile.h"
#include "tests/TempDir.h"
#include "tests/TestClock.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The files in a folder, hidden ones included.
std::vector<std::string> FilesIn(const std::string& strFolder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(strFolder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Regular files cannot grow past nBytes while it lives: writes beyond fail
// with EFBIG, as they would on a full disk.
class CFileSizeLimit {
  public:
    explicit CFileSizeLimit(rlim_t nBytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = nBytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

  private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

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
    EXPECT_EQ(boxes.boxes[0].strText, "Saved 0 lines to " + path);
    EXPECT_EQ(boxes.boxes[0].strCaption, "Marivane Didoza Zuri Zovivazir");
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONEXCLAMATION);
}

TEST_F(ReportFileTest, EveryLineIsWrittenUnchangedWithCrLf) {
    std::string path = dir.Path("pages.txt");
    std::vector<std::string> lines = {"12/08/2026 14:05:00  1234 HI  ",
                                      "\tBAD PAGE - INVALID CHECKSUM",
                                      "=>  <STX>1234<CR>\xE9"};
    EXPECT_EQ(SaveReportToFile(path, lines, when, boxes), ReportOutcome::kSaved);
    EXPECT_EQ(CTempDir::Read(path), header + "\r\n" + lines[0] + "\r\n" + lines[1] +
                                        "\r\n" + lines[2] + "\r\n");
    EXPECT_EQ(boxes.boxes.back().strText, "Saved 3 lines to " + path);
}

TEST_F(ReportFileTest, AnExistingFileIsReplacedNotAppendedTo) {
    std::string path = dir.Path("old.txt");
    CTempDir::Write(path, std::string(10000, 'x'));
    SaveReportToFile(path, {"one"}, when, boxes);
    EXPECT_EQ(CTempDir::Read(path), header + "\r\none\r\n");
}

TEST_F(ReportFileTest, OpenFailuresNameThePathAndTheReason) {
    std::string path = dir.Path("no/such/folder/r.txt");
    EXPECT_EQ(SaveReportToFile(path, {"one"}, when, boxes), ReportOutcome::kOpenFailed);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, "Unable to open/create the file\n" + path +
                                          ": No such file or directory");
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONEXCLAMATION);
    if (geteuid() != 0) { // root may write anywhere
        std::string readOnly = dir.Path("locked.txt");
        CTempDir::Write(readOnly, "keep");
        chmod(readOnly.c_str(), 0444);
        EXPECT_EQ(SaveReportToFile(readOnly, {"one"}, when, boxes),
                  ReportOutcome::kOpenFailed);
        EXPECT_EQ(boxes.boxes.back().strText, "Unable to open/create the file\n" +
                                                  readOnly + ": Permission denied");
        EXPECT_EQ(CTempDir::Read(readOnly), "keep");
    }
}

TEST_F(ReportFileTest, AFullDiskLeavesTheOldReportWholeAndCountsNothing) {
    std::string path = dir.Path("pages.txt");
    std::string old = header + "\r\n";
    for (int i = 0; i < 2000; ++i)
        old += "12/08/2026 14:05:00  1234 PAGE " + std::to_string(i) + "\r\n";
    CTempDir::Write(path, old);
    chmod(path.c_str(), 0640);
    std::vector<std::string> lines(3000,
                                   "12/08/2026 14:06:00  5678 A LONGER PAGE TEXT");
    {
        CFileSizeLimit limit(old.size() / 2);
        EXPECT_EQ(SaveReportToFile(path, lines, when, boxes),
                  ReportOutcome::kWriteFailed);
    }
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, "Disk full while accessing " + path + ".");
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(CTempDir::Read(path), old);
    EXPECT_EQ(FilesIn(dir.Path()),
              std::vector<std::string>{"pages.txt"}); // no leftovers
    // Saved again with room: replaced whole, with the permissions it had.
    EXPECT_EQ(SaveReportToFile(path, lines, when, boxes), ReportOutcome::kSaved);
    EXPECT_EQ(boxes.boxes.back().strText, "Saved 3000 lines to " + path);
    EXPECT_EQ(CTempDir::Read(path).size(),
              header.size() + 2 + 3000 * (lines[0].size() + 2));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ReportFileTest, AReportSavedThroughALinkReplacesTheFileItNames) {
    CTempDir::Write(dir.Path("real.txt"), "old");
    ASSERT_EQ(symlink("real.txt", dir.Path("link.txt").c_str()), 0);
    EXPECT_EQ(SaveReportToFile(dir.Path("link.txt"), {"one"}, when, boxes),
              ReportOutcome::kSaved);
    EXPECT_EQ(CTempDir::Read(dir.Path("real.txt")), header + "\r\none\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link.txt")));
}

TEST_F(ReportFileTest, WriteErrorsSayWhatTheyWere) {
    EXPECT_EQ(FileErrorText(ENOSPC, "/r.txt"), "Disk full while accessing /r.txt.");
    EXPECT_EQ(FileErrorText(EIO, "/r.txt"),
              "A hardware I/O error was reported while accessing /r.txt.\n"
              "Input/output error");
    EXPECT_EQ(FileErrorText(EROFS, "/r.txt"),
              "Access to /r.txt was denied.\nRead-only file system");
}

TEST_F(ReportFileTest, AFullDiskIsReportedWithTheStopIconAndNoCount) {
    EXPECT_EQ(SaveReportToFile("/dev/full", {"one", "two"}, when, boxes),
              ReportOutcome::kWriteFailed);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, "Disk full while accessing /dev/full.");
    EXPECT_EQ(boxes.boxes[0].nStyle, MB_OK | MB_ICONSTOP);
}

} // namespace
