// The session as both faces see it: engine and line events in, the state
// text, indicators, counters, page records and trace out, over a fake
// device with the session's own profile.
#include "session/PageSession.h"

#include "delivery/Outbox.h"
#include "engine/Checksum.h"
#include "engine/ControlNames.h"
#include "session/ViewText.h"
#include "settings/Profile.h"
#include "tests/FakeSerialDevice.h"
#include "tests/TempDir.h"
#include "tests/TestClock.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

const std::string kGood = "\x02"
                          "1234\rHI\r\x03"
                          "17:\r";
const std::string kBad = "\x02"
                         "1234\rHI\r\x03"
                         "17;\r";

class CRecordingDisplay : public ISessionDisplay {
  public:
    void ShowSession() override { ++nShows; }
    void ShowPage(const CPageRecord& record) override {
        pages.push_back(record);
        timeline.push_back("page");
    }
    void ShowTrace(bool bSent, const std::string& strText) override {
        timeline.push_back((bSent ? "sent " : "received ") + Named(strText));
    }
    void ShowNote(const std::string& strNote) override {
        timeline.push_back("note" + strNote);
    }
    void ShowEvent(const std::string& strEvent) override { events.push_back(strEvent); }
    // As the headless face: records written before the ACK.
    bool KeepsRecordsFirst() const override { return bKeepFirst; }
    bool KeepRecord(const CPageRecord& record, std::string* pstrWhy) override {
        timeline.push_back("kept " + record.strMessage);
        *pstrWhy = "STANDARD OUTPUT: NO SPACE LEFT ON DEVICE";
        return !bKeepFails;
    }
    bool bKeepFirst = false;
    bool bKeepFails = false;

    static std::string Named(const std::string& s) { return WithControlNames(s); }

    int nShows = 0;
    std::vector<CPageRecord> pages;
    std::vector<std::string> timeline;
    std::vector<std::string> events;
};

class PageSessionTest : public ::testing::Test {
  protected:
    void SetUp() override { Start(""); }
    // A session on a profile with these extra lines; lines on.
    void Start(const std::string& strProfile) {
        session.reset();
        CTempDir::Write(dir.Path("volnex.INI"), "[Configuration]\n" + strProfile);
        SetAppProfile(&profile);
        clock.when = LocalTime(2026, 12, 8, 14, 5);
        SetClock(&clock);
        shared.nModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
        session = std::make_unique<CPageSession>(
            display, boxes, loop.Poster(),
            [this](const std::string&) { return bProbe; },
            std::make_unique<CFakeSerialDevice>(&shared));
    }
    void TearDown() override {
        session.reset();
        CFakeSerialDevice::Release(&shared);
        SetClock(nullptr);
        SetAppProfile(nullptr);
    }
    void Feed(const std::string& strBytes) {
        for (char ch : strBytes)
            session->Notify(UM_COMM_RXCHAR, static_cast<unsigned char>(ch), 1);
    }
    void ToWaitingForPage() {
        ASSERT_TRUE(session->Logon());
        Feed("\r\x1bPG1\r");
        ASSERT_EQ(session->GetTerminal().GetState(), ST_WAITING_FOR_PAGE);
        display.timeline.clear();
        display.events.clear();
    }

    CTempDir dir;
    CIniProfile profile{dir.Path("volnex.INI")};
    CFixedClock clock;
    CFakeSerialDevice::CShared shared;
    CTestUiLoop loop;
    CRecordingBoxes boxes;
    CRecordingDisplay display;
    bool bProbe = false;
    std::unique_ptr<CPageSession> session;
};

TEST_F(PageSessionTest, ShowsDisconnectedAndLinesOffBeforeAnyNotification) {
    EXPECT_EQ(session->GetStateText(), "DISCONNECTED");
    EXPECT_EQ(session->GetCts(), "OFF");
    EXPECT_EQ(session->GetDsr(), "OFF");
    EXPECT_EQ(session->GetDcd(), "OFF");
    EXPECT_EQ(session->GetGoodPages(), 0u);
    EXPECT_EQ(session->GetBadPages(), 0u);
}

TEST_F(PageSessionTest, GoodPageIsCountedTracedFirstAndRecordedWithItsFields) {
    ToWaitingForPage();
    Feed(kGood);
    EXPECT_EQ(session->GetGoodPages(), 1u);
    EXPECT_EQ(session->GetBadPages(), 0u);
    ASSERT_EQ(display.pages.size(), 1u);
    const CPageRecord& page = display.pages[0];
    EXPECT_EQ(page.lines,
              std::vector<std::string>{FormatPageLine(clock.when, " 1234 HI  ")});
    EXPECT_EQ(page.strPager, "1234");
    EXPECT_EQ(page.strMessage, "HI");
    EXPECT_EQ(page.verdict, PageVerdict::kAccepted);
    EXPECT_EQ(page.strAnswer, "ACK");
    EXPECT_EQ(page.nPort, 1);
    EXPECT_EQ(page.nTimeMs, static_cast<std::int64_t>(clock.when) * 1000);
    // The last received character is traced before the result and answer.
    const std::vector<std::string> tail(display.timeline.end() - 3,
                                        display.timeline.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"received <CR>", "page", "sent <ACK><CR>"}));
    EXPECT_EQ(session->GetStateText(), GetStateText(ST_WAITING_FOR_PAGE));
}

TEST_F(PageSessionTest, ASessionGivenItsOwnClockStampsItsRecordsWithIt) {
    CFixedClock own;
    own.when = clock.when + 3600;
    session.reset();
    session = std::make_unique<CPageSession>(
        display, boxes, loop.Poster(), [](const std::string&) { return false; },
        std::make_unique<CFakeSerialDevice>(&shared), &own);
    ToWaitingForPage();
    Feed(kGood);
    ASSERT_EQ(display.pages.size(), 1u);
    EXPECT_EQ(display.pages[0].nTimeMs, static_cast<std::int64_t>(own.when) * 1000);
    session.reset(); // before its clock goes
}

TEST_F(PageSessionTest, RejectedPagesAddTheirResultLineAndSayWhatWasAnswered) {
    ToWaitingForPage();
    Feed(kBad);
    Feed("\x02"
         "1234\rHI\r\x03"
         "17:X\r"); // no ETX where the checksum needs it
    Feed("\x02"
         "12");
    for (int i = 0; i <= CPageTerminal::kTimeoutTicks; ++i)
        session->Tick();
    ASSERT_EQ(display.pages.size(), 3u);
    EXPECT_EQ(session->GetBadPages(), 3u);
    EXPECT_EQ(display.pages[0].verdict, PageVerdict::kBadChecksum);
    EXPECT_EQ(display.pages[0].strAnswer, "NAK");
    EXPECT_EQ(display.pages[0].lines.at(1), CPageTerminal::kResultBadChecksum);
    EXPECT_EQ(display.pages[1].verdict, PageVerdict::kBadFormat);
    EXPECT_EQ(display.pages[1].strAnswer, "");
    EXPECT_EQ(display.pages[2].verdict, PageVerdict::kTimedOut);
    EXPECT_EQ(display.pages[2].strPager, "12"); // a block cut short
    EXPECT_EQ(display.pages[2].strMessage, "");
    EXPECT_EQ(display.pages[2].lines.at(1), CPageTerminal::kResultTimedOut);
}

// The block sent again after its NAK is tied to that NAK, by the NAKed
// block's pager and checksum; another page, or the same one in a new call,
// is not.
TEST_F(PageSessionTest, AResendAfterANakIsMarkedWithTheNakedBlock) {
    ToWaitingForPage();
    Feed(kBad);
    Feed(kGood);
    const std::string strNote = "RESEND OF THE BLOCK ANSWERED NAK BEFORE (PAGER 1234, "
                                "CHECKSUM 17;)";
    ASSERT_EQ(display.pages.size(), 2u);
    EXPECT_EQ(display.pages[1].verdict, PageVerdict::kAccepted);
    EXPECT_EQ(display.pages[1].lines,
              (std::vector<std::string>{display.pages[1].lines.at(0), "\t" + strNote}));
    EXPECT_EQ(display.pages[1].strResult, ""); // the record's result stays the engine's
    EXPECT_EQ(std::count(display.timeline.begin(), display.timeline.end(),
                         "note   " + strNote),
              1);
    // A NAK, then another page: no mark; a good page after a good one: none.
    Feed(kBad);
    Feed(MakeBlock("77\rHI\r", kEtx));
    Feed(kGood);
    ASSERT_EQ(display.pages.size(), 5u);
    for (size_t i = 2; i < 5; ++i)
        EXPECT_EQ(display.pages[i].lines.size(), i == 2 ? 2u : 1u) << i;
    // A NAK at the end of a call, the page again in the next call: no mark.
    Feed(kBad);
    session->Notify(UM_SESSION_STATE, 0, ST_WAITING_FOR_CR);
    Feed(kGood);
    ASSERT_EQ(display.pages.size(), 7u);
    EXPECT_EQ(display.pages[6].lines.size(), 1u);
}

TEST_F(PageSessionTest, AMessageInSeveralBlocksIsOneRecordWithItsBlockCount) {
    ToWaitingForPage();
    Feed(MakeBlock("1234\rROOM 412 ", kUs));
    Feed(MakeBlock("BED 2\r", kEtx));
    ASSERT_EQ(display.pages.size(), 1u);
    EXPECT_EQ(display.pages[0].nBlocks, 2);
    EXPECT_EQ(display.pages[0].strPager, "1234");
    EXPECT_EQ(display.pages[0].strMessage, "ROOM 412 BED 2");
    // Unfinished when the session ends: one bad page with what came.
    Feed(MakeBlock("5678\rHALF ", kUs));
    session->Logoff();
    ASSERT_EQ(display.pages.size(), 2u);
    EXPECT_EQ(display.pages[1].verdict, PageVerdict::kIncomplete);
    EXPECT_EQ(display.pages[1].lines.at(1), CPageTerminal::kResultIncomplete);
    EXPECT_EQ(display.pages[1].strPager, "5678");
    EXPECT_EQ(display.pages[1].strAnswer, "");
}

// Every page's record stays for saving the list whole; the records know
// which newest pages the list's 500 lines still show (the oldest go whole).
TEST_F(PageSessionTest, PageRecordsOutliveThePageListsLines) {
    ToWaitingForPage();
    auto page = [](int i) {
        return MakeBlock(std::to_string(1000 + i) + "\rP\r", kEtx);
    };
    for (int i = 0; i <= 500; ++i)
        Feed(page(i)); // one line each
    const CPageRecordList& records = session->GetPageRecords();
    ASSERT_EQ(records.GetCount(), 501u);
    EXPECT_EQ(records.GetListedCount(), 500u);
    EXPECT_EQ(records.GetRecords().front().strPager, "1000");
    EXPECT_EQ(records.GetRecords().back().strPager, "1500");
    Feed(kBad); // two lines: two more of the oldest leave the list
    ASSERT_EQ(records.GetCount(), 502u);
    EXPECT_EQ(records.GetListedCount(), 499u);
    EXPECT_EQ(records.GetLineCount(), 500u);
    EXPECT_EQ(records.GetRecords().back().verdict, PageVerdict::kBadChecksum);
    EXPECT_EQ(records.CsvLines().size(), 503u); // the header and every page
    session->ClearPageRecords();
    EXPECT_EQ(records.GetCount(), 0u);
    EXPECT_EQ(records.GetListedCount(), 0u);
    EXPECT_EQ(records.GetLineCount(), 0u);
}

TEST_F(PageSessionTest, LogoffZeroesTheCountersAndShowsTheEngineState) {
    ToWaitingForPage();
    Feed(kGood);
    Feed(kBad);
    session->Logoff();
    EXPECT_EQ(session->GetGoodPages(), 0u);
    EXPECT_EQ(session->GetBadPages(), 0u);
    EXPECT_EQ(session->GetStateText(), GetStateText(session->GetTerminal().GetState()));
    EXPECT_EQ(display.pages.size(), 2u);
}

TEST_F(PageSessionTest, LineLevelsAreSetEveryTimeButEventsOnlyWhenTheyChange) {
    ToWaitingForPage(); // Logon read DSR and DCD: both ON
    const int nShows = display.nShows;
    session->Notify(UM_COMM_DSR, 1, 1);
    session->Notify(UM_COMM_CTS, 1, 1);
    session->Notify(UM_COMM_CTS, 1, 1);
    EXPECT_EQ(session->GetCts(), "ON");
    EXPECT_EQ(display.nShows, nShows + 3);
    EXPECT_EQ(display.events, (std::vector<std::string>{"CTS ON"}));
    // DSR dropping ends the session: the engine was asked.
    shared.nModemStatus = MS_CTS_ON | MS_RLSD_ON;
    session->GetPort().QueryDsr(true);
    session->Notify(UM_COMM_DSR, 0, 1);
    EXPECT_EQ(session->GetDsr(), "OFF");
    EXPECT_EQ(session->GetStateText(), GetStateText(ST_DISCONNECTED));
    EXPECT_EQ(display.events.back(), GetStateText(ST_DISCONNECTED));
}

TEST_F(PageSessionTest, AFailedLogonKeepsTheStateText) {
    ToWaitingForPage();
    const std::string strBefore = session->GetStateText();
    shared.nOpenError = EACCES;
    EXPECT_FALSE(session->Logon());
    EXPECT_EQ(session->GetStateText(), strBefore);
}

TEST_F(PageSessionTest, ADeviceThatDoesNotOpenIsToldWithTheSettingThatChoseIt) {
    Start("CommPort=COM0\n");
    shared.nOpenError = ENOENT;
    EXPECT_FALSE(session->Logon());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    const std::string strStart =
        "Unable to Open CommPort. Please check Comm. Settings\n"
        "CommPort=COM0 names no port";
    EXPECT_EQ(boxes.boxes[0].strText.rfind(strStart, 0), 0u) << boxes.boxes[0].strText;
}

TEST_F(PageSessionTest, AWrongTestSettingIsToldAndTheTerminalBehaves) {
    Start("Misbehave1=nak-every:0\n");
    ASSERT_TRUE(session->Logon());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("Misbehave1=nak-every:0 is not used"),
              std::string::npos);
    EXPECT_EQ(session->GetTestModeText(), "");
    Start("Misbehave1=nak-every:1\n");
    ToWaitingForPage();
    EXPECT_EQ(session->GetTestModeText(), "nak-every:1");
    Feed(kGood);
    ASSERT_EQ(display.pages.size(), 1u);
    EXPECT_EQ(display.pages[0].verdict, PageVerdict::kNakedOnPurpose);
    EXPECT_EQ(display.pages[0].strAnswer, "NAK");
}

TEST_F(PageSessionTest, DiagnoseExplainsABadChecksumBeforeThePageIsShown) {
    Start("Diagnose1=1\n");
    ToWaitingForPage();
    Feed(kBad);
    auto page = std::find(display.timeline.begin(), display.timeline.end(), "page");
    ASSERT_NE(page, display.timeline.end());
    ASSERT_NE(page, display.timeline.begin());
    EXPECT_EQ((page - 1)->compare(0, 4, "note"), 0) << *(page - 1);
}

TEST_F(PageSessionTest, ALostDeviceComesBackWhenItOpensAgainAndIsToldBothWays) {
    ToWaitingForPage();
    shared.nModemError = EIO; // the monitor thread sees the adapter go
    ASSERT_TRUE(loop.PumpUntil([&] { return session->GetPort().IsDeviceLost(); }));
    shared.nModemError = 0;
    session->Tick();
    ASSERT_FALSE(session->GetLostDevice().empty());
    bProbe = true;
    for (int i = 0; i < CLineRecovery::kCheckTicks; ++i)
        session->Tick();
    EXPECT_TRUE(session->GetLostDevice().empty());
    EXPECT_FALSE(session->GetPort().IsDeviceLost());
    auto told = [&](const std::string& strStart) {
        return std::count_if(
            display.events.begin(), display.events.end(),
            [&](const std::string& s) { return s.rfind(strStart, 0) == 0; });
    };
    EXPECT_EQ(told("DEVICE LOST: "), 1);
    EXPECT_EQ(told("DEVICE BACK: "), 1);
}

TEST_F(PageSessionTest, ClosingEndsASessionOnTheLineOnce) {
    ToWaitingForPage();
    auto written = [&] {
        std::lock_guard<std::mutex> lock(shared.mutex);
        return shared.strWritten;
    };
    auto endsWith = [](const std::string& s, const std::string& strEnd) {
        return s.size() >= strEnd.size() &&
               s.compare(s.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
    };
    ASSERT_TRUE(loop.PumpUntil([&] { return endsWith(written(), "\x1b[p\r"); }))
        << written();
    const size_t nBefore = written().size();
    session->Close();
    session->Close();
    ASSERT_TRUE(loop.PumpUntil([&] { return written().size() > nBefore; }));
    loop.PumpFor(50);
    EXPECT_EQ(written().substr(nBefore), "\x1b\x04\r");
}

TEST_F(PageSessionTest, ARecordKeptBeforeTheAckIsNotShownTwiceAndOneThatFailsRefuses) {
    display.bKeepFirst = true;
    Start(""); // the hook is chosen with the display's wish
    ToWaitingForPage();
    Feed(kGood);
    const std::vector<std::string> tail(display.timeline.end() - 3,
                                        display.timeline.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"kept HI", "page", "sent <ACK><CR>"}));
    ASSERT_EQ(display.pages.size(), 1u);
    EXPECT_TRUE(display.pages[0].bKept);

    display.bKeepFails = true;
    display.timeline.clear();
    Feed(kGood);
    EXPECT_EQ(display.timeline.back(), "sent <RS><CR>");
    ASSERT_EQ(display.pages.size(), 2u);
    EXPECT_FALSE(display.pages[1].bKept);
    EXPECT_EQ(display.pages[1].verdict, PageVerdict::kRefused);
    EXPECT_NE(
        std::find(display.timeline.begin(), display.timeline.end(),
                  "note   PAGE REFUSED: ITS RECORD CANNOT BE WRITTEN: STANDARD OUTPUT: "
                  "NO SPACE LEFT ON DEVICE"),
        display.timeline.end());
    EXPECT_EQ(session->GetGoodPages(), 1u);
}

TEST_F(PageSessionTest, ALogonPasswordIsTracedAsStarsWhateverItsLength) {
    Start("Password1=s3cret-pw\n");
    ASSERT_TRUE(session->Logon());
    display.timeline.clear();
    Feed("\r\x1bPG1s3cret-pw\r");
    ASSERT_EQ(session->GetTerminal().GetState(),
              ST_WAITING_FOR_PAGE); // the engine got it all
    std::string strReceived;
    for (const std::string& entry : display.timeline) {
        if (entry.rfind("received ", 0) == 0)
            strReceived += entry.substr(9);
    }
    EXPECT_EQ(strReceived, "<CR><ESC>PG1***<CR>");
    // A logon without one, and a page after, are traced as they come.
    display.timeline.clear();
    Feed("\x1bPG1\r" + kGood);
    strReceived.clear();
    for (const std::string& entry : display.timeline) {
        if (entry.rfind("received ", 0) == 0)
            strReceived += entry.substr(9);
    }
    EXPECT_EQ(strReceived.rfind("<ESC>PG1<CR><STX>1234<CR>HI<CR><ETX>17:<CR>", 0), 0u)
        << strReceived;
}

// Pages delivered onward: kept in the outbox before the ACK, refused when
// they cannot be kept, and with AnswerWhen=delivered answered only once the
// targets confirmed.
class SessionDeliveryTest : public PageSessionTest {
  protected:
    void SetUp() override {}
    // A session whose targets run these programs (exec: needs no server).
    void StartWith(const std::string& strLines) {
        Start("StateFolder=" + dir.Path("state") + "\n" + strLines);
        clock.when = std::time(nullptr); // the workers expire pages by the real time
    }
    std::string Script(const std::string& strName, const std::string& strBody) {
        const std::string strPath = dir.Path(strName);
        CTempDir::Write(strPath, "#!/bin/sh\n" + strBody + "\n");
        chmod(strPath.c_str(), 0755);
        return strPath;
    }
    std::string Sent() const {
        std::string strSent;
        for (const std::string& entry : display.timeline) {
            if (entry.rfind("sent ", 0) == 0)
                strSent += entry.substr(5);
        }
        return strSent;
    }
    // Ticks the session (the workers run meanwhile) until done holds.
    bool TickUntil(const std::function<bool()>& done, int nMaxTicks = 100) {
        for (int i = 0; i < nMaxTicks && !done(); ++i) {
            loop.PumpFor(100);
            session->Tick();
        }
        return done();
    }
    std::vector<CPageStatus> Outbox() {
        std::string strError;
        auto pOutbox =
            COutbox::OpenReadOnly(dir.Path("state/volnex.outbox.db"), &strError);
        return pOutbox ? pOutbox->Recent(100) : std::vector<CPageStatus>();
    }
};

TEST_F(SessionDeliveryTest, APageIsInTheOutboxWithItsIdBeforeItIsAcknowledged) {
    StartWith("Responses1=tap18\n[Target all]\nUrl=exec:/bin/true\n"
              "[Target none]\nUrl=exec:/bin/true\nPagers=99\n");
    ToWaitingForPage();
    Feed(kGood);
    // Kept, not yet delivered: revision 1.8 says so before the ACK.
    EXPECT_EQ(Sent(), "213 MESSAGE ACCEPTED, HELD FOR DEFERRED DELIVERY<CR><ACK><CR>");
    ASSERT_EQ(display.pages.size(), 1u);
    const std::string strId = display.pages[0].strId;
    EXPECT_EQ(strId.size(), 36u);
    EXPECT_NE(PageRecordJson(display.pages[0]).find("\"id\":\"" + strId + "\""),
              std::string::npos);
    const std::vector<CPageStatus> kept = Outbox();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].strId, strId);
    EXPECT_EQ(kept[0].strPager, "1234");
    EXPECT_EQ(kept[0].strMessage, "HI");
    ASSERT_EQ(kept[0].deliveries.size(), 1u); // pager 99 only for "none"
    EXPECT_EQ(kept[0].deliveries[0].strTarget, "all");
    EXPECT_TRUE(TickUntil([&] {
        return std::any_of(
            display.timeline.begin(), display.timeline.end(), [](const std::string& s) {
                return s.rfind("note   DELIVERED 1234 TO all (EXEC) IN ", 0) == 0;
            });
    }));
}

TEST_F(SessionDeliveryTest, APageThatCannotBeKeptIsRefusedAndSaidOnce) {
    CTempDir::Write(dir.Path("not-a-folder"), "x");
    Start("StateFolder=" + dir.Path("not-a-folder") +
          "\n[Target t]\nUrl=exec:/bin/true\n");
    ASSERT_EQ(boxes.boxes.size(),
              0u); // nothing said yet: the box comes with the set-up
    ToWaitingForPage();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("The outbox cannot be opened"),
              std::string::npos);
    Feed(kGood);
    Feed(kGood);
    EXPECT_EQ(Sent(), "<RS><CR><RS><CR>");
    ASSERT_EQ(display.pages.size(), 2u);
    EXPECT_EQ(display.pages[0].verdict, PageVerdict::kRefused);
    EXPECT_EQ(display.pages[0].strResult.rfind("\tREFUSED: NOT STORED: ", 0), 0u);
    EXPECT_EQ(session->GetGoodPages(), 0u);
    const auto notes = std::count_if(
        display.timeline.begin(), display.timeline.end(), [](const std::string& s) {
            return s.rfind("note   PAGE REFUSED: THE OUTBOX", 0) == 0;
        });
    EXPECT_EQ(notes, 1);
}

TEST_F(SessionDeliveryTest, DeliveredWaitsForEveryTargetThenAcknowledges) {
    StartWith(
        "AnswerWhen1=delivered\nResponses1=tap18\n[Target a]\nUrl=exec:/bin/true\n"
        "[Target b]\nUrl=exec:" +
        Script("slow.sh", "sleep 0.3") + "\n");
    ToWaitingForPage();
    Feed(kGood);
    EXPECT_EQ(Sent(), "");
    EXPECT_TRUE(display.pages.empty());
    ASSERT_TRUE(TickUntil([&] { return !Sent().empty(); }, 60));
    EXPECT_EQ(Sent(), "211 PAGE(S) SENT SUCCESSFULLY<CR><ACK><CR>");
    ASSERT_EQ(display.pages.size(), 1u);
    EXPECT_EQ(display.pages[0].verdict, PageVerdict::kAccepted);
    EXPECT_FALSE(display.pages[0].strId.empty());
}

TEST_F(SessionDeliveryTest, DeliveredRefusesInTimeAndCancelsWhatIsLeft) {
    StartWith(
        "AnswerWhen1=delivered\nDeliveryWait1=1\n[Target quick]\nUrl=exec:/bin/true\n"
        "[Target stuck]\nUrl=exec:" +
        Script("stuck.sh", "exec sleep 30") + "\nTimeout=20\n");
    ToWaitingForPage();
    Feed(kGood);
    ASSERT_TRUE(TickUntil([&] { return !Sent().empty(); }, 30));
    EXPECT_EQ(Sent(), "<RS><CR>");
    ASSERT_EQ(display.pages.size(), 1u);
    EXPECT_EQ(display.pages[0].strResult,
              "\tREFUSED: NOT DELIVERED WITHIN 1 S; ALREADY DELIVERED TO quick");
    const std::vector<CPageStatus> kept = Outbox();
    ASSERT_EQ(kept.size(), 1u);
    for (const CDeliveryStatus& delivery : kept[0].deliveries)
        EXPECT_NE(delivery.state, DeliveryState::kPending) << delivery.strTarget;
    session->StopDelivery(0); // the stuck program is not waited for
}

TEST_F(SessionDeliveryTest, ABadTargetIsOffWithAMessageAndTheLineAnswers) {
    StartWith("AnswerWhen1=sometimes\n[Target good]\nUrl=exec:/bin/true\n"
              "[Target bad]\nUrl=exec:/bin/true\nTimeout=forever\n");
    ToWaitingForPage();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    const std::string& strBox = boxes.boxes[0].strText;
    EXPECT_NE(strBox.find("[Target bad] Timeout=forever: seconds from 1 to 600"),
              std::string::npos)
        << strBox;
    EXPECT_NE(strBox.find("AnswerWhen1=sometimes: stored or delivered"),
              std::string::npos);
    Feed(kGood);
    EXPECT_EQ(Sent(), "<ACK><CR>");
    const std::vector<std::string> lines = session->GetDeliveryLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("good (EXEC): ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("bad: off ([Target bad] Timeout=forever", 0), 0u)
        << lines[1];
}

TEST_F(SessionDeliveryTest, WithoutTargetsNothingIsKeptAndNoOutboxIsMade) {
    StartWith("");
    ToWaitingForPage();
    Feed(kGood);
    EXPECT_EQ(Sent(), "<ACK><CR>");
    EXPECT_TRUE(display.pages[0].strId.empty());
    EXPECT_EQ(PageRecordJson(display.pages[0]).find("\"id\""), std::string::npos);
    EXPECT_TRUE(session->GetDeliveryLines().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.Path("state")));
}

} // namespace
