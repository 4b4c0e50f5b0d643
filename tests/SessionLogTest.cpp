// The session log: the day's files, whole lines with their times, and a
// folder that cannot be written told once and written again when it can.
#include "session/SessionLog.h"

#include "tests/TempDir.h"
#include "tests/TestClock.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

class SessionLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock.nMs =
            static_cast<std::int64_t>(LocalTime(2026, 12, 8, 23, 59, 58)) * 1000 + 5;
        SetClock(&clock);
    }
    void TearDown() override { SetClock(nullptr); }
    CPageRecord Page(const std::string& strPager) const {
        CPageRecord record;
        record.nTimeMs = clock.nMs;
        record.nPort = 1;
        record.strPager = strPager;
        record.strMessage = "HI";
        record.strAnswer = "ACK";
        return record;
    }
    static std::vector<std::string> Lines(const std::string& strPath) {
        std::vector<std::string> lines;
        std::istringstream in(CTempDir::Read(strPath));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    // The reports that come within five seconds, until nCount came.
    static std::vector<std::string> AwaitReports(CSessionLog& log, size_t nCount) {
        std::vector<std::string> reports;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (reports.size() < nCount && std::chrono::steady_clock::now() < deadline) {
            for (const std::string& s : log.TakeReports())
                reports.push_back(s);
            std::this_thread::yield();
        }
        return reports;
    }

    CMsClock clock;
    CTempDir dir;
};

TEST_F(SessionLogTest, PagesAndTraceGoToTheDaysFilesAsWholeTimedLines) {
    {
        CSessionLog log(dir.Path());
        log.ShowTrace(false, "\x02");
        log.ShowEvent("RECEIVING PAGE");
        log.ShowTrace(false, "1");
        log.ShowTrace(false, "\r");
        log.ShowTrace(true, "\x06\r");
        log.ShowPage(Page("1"));
        clock.nMs += 2000; // past midnight: the next day's files
        log.ShowPage(Page("2"));
        log.ShowNote("   A NOTE");
    } // the rest is written when the log goes
    const std::string strDay1 = dir.Path("pages-2026-12-08.jsonl");
    ASSERT_EQ(Lines(strDay1).size(), 1u);
    const nlohmann::json page = nlohmann::json::parse(Lines(strDay1)[0]);
    EXPECT_EQ(page["pager"], "1");
    EXPECT_EQ(page["time"].get<std::string>().substr(0, 23), "2026-12-08T23:59:58.005");
    EXPECT_EQ(
        nlohmann::json::parse(Lines(dir.Path("pages-2026-12-09.jsonl")).at(0))["pager"],
        "2");
    EXPECT_EQ(Lines(dir.Path("trace-2026-12-08.log")),
              (std::vector<std::string>{"23:59:58.005    LINE: RECEIVING PAGE",
                                        "23:59:58.005 =>  <STX>1<CR>",
                                        "23:59:58.005 <=  <ACK><CR>"}));
    EXPECT_EQ(Lines(dir.Path("trace-2026-12-09.log")),
              std::vector<std::string>{"00:00:00.005    A NOTE"});
}

TEST_F(SessionLogTest, AFolderThatIsGoneIsToldOnceAndWritingResumesWhenItIsBack) {
    const std::string strFolder = dir.Path("gone");
    CSessionLog log(strFolder);
    log.ShowPage(Page("1"));
    std::vector<std::string> reports = AwaitReports(log, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "   SESSION LOG: CANNOT WRITE " + strFolder +
                              "/pages-2026-12-08.jsonl: No such file or directory");
    log.ShowPage(Page("2"));
    log.ShowTrace(true, "\x06\r");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (log.GetDropped() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(log.GetDropped(), 3u);
    EXPECT_TRUE(log.TakeReports().empty()); // said once per outage

    std::filesystem::create_directory(strFolder);
    log.ShowPage(Page("3"));
    reports = AwaitReports(log, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].find("   SESSION LOG: WRITING AGAIN TO "), 0u) << reports[0];
    const std::vector<std::string> pages = Lines(strFolder + "/pages-2026-12-08.jsonl");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(pages[0])["pager"], "3");
}

} // namespace

TEST(SessionLogKeepDaysTest, OnlyTheLogsOwnFilesPastTheirDaysAreRemoved) {
    CTempDir dir;
    const std::vector<std::string> names = {
        "pages-2026-10-01.jsonl",      "trace-2026-10-01.log",
        "deliveries-2026-11-09.jsonl", "pages-2026-11-10.jsonl",
        "trace-2026-12-10.log",        "notes-2026-10-01.txt",
        "pages-2026-10-01.jsonl.bak",  "pages-old.jsonl"};
    for (const std::string& strName : names)
        std::ofstream(dir.Path(strName)) << "x\n";
    // 30 days before noon on 2026-12-10 is 2026-11-10: older days go.
    CSessionLog::RemoveOldFiles(dir.Path(), LocalTime(2026, 12, 10, 12, 0) * 1000LL,
                                30);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{
                        "notes-2026-10-01.txt", "pages-2026-10-01.jsonl.bak",
                        "pages-2026-11-10.jsonl", "pages-old.jsonl",
                        "trace-2026-12-10.log"}));
    // 0: every file is kept.
    CSessionLog::RemoveOldFiles(dir.Path(), LocalTime(2030, 1, 1, 0, 0) * 1000LL, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              5);
}
