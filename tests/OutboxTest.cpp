// The outbox on disk and the workers that drain it: order of delivery,
// retries that hold back the pages after them and failures that do not,
// expiry, cancelling, a damaged or unwritable file, and a process killed
// while it commits losing nothing it had acknowledged.
#include "delivery/Outbox.h"
#include "delivery/Delivery.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

CStoredPage Page(const std::string& strId, std::int64_t nMs = 1000,
                 const std::string& strPager = "1234") {
    CStoredPage page;
    page.strId = strId;
    page.nAcceptedMs = nMs;
    page.nPort = 1;
    page.strPager = strPager;
    page.strMessage = "message " + strId;
    page.strTime = "2026-12-10T12:00:00.000+00:00";
    page.strRecord = "{\"id\":\"" + strId + "\"}";
    return page;
}

constexpr std::int64_t kDay = 24LL * 3600 * 1000;

class OutboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string strError;
        pOutbox = COutbox::Open(Path(), true, &strError);
        ASSERT_TRUE(pOutbox) << strError;
    }
    std::string Path() const { return dir.Path("state/line.outbox.db"); }
    void Accept(const std::string& strId, std::vector<std::string> targets = {"a"},
                std::int64_t nMs = 1000) {
        std::string strError;
        ASSERT_TRUE(pOutbox->Accept(
            Page(strId, nMs), targets,
            std::vector<std::int64_t>(targets.size(), 1000 * kDay), &strError))
            << strError;
    }
    std::vector<std::string> Due(const std::string& strTarget, std::int64_t nNow) {
        std::vector<std::string> ids;
        for (const CDueDelivery& due : pOutbox->TakeDue(strTarget, nNow, 100, nullptr))
            ids.push_back(due.page.strId);
        return ids;
    }
    void Record(const std::string& strTarget, const std::string& strId,
                DeliveryState state, std::int64_t nNext = 0) {
        for (const CDueDelivery& due :
             pOutbox->TakeDue(strTarget, 20 * kDay, 100, nullptr)) {
            if (due.page.strId != strId)
                continue;
            CAttemptResult result;
            result.nSeq = due.nSeq;
            result.nTimeMs = 2000;
            result.state = state;
            result.strReason = "WHY";
            result.nNextMs = nNext;
            std::string strError;
            ASSERT_TRUE(pOutbox->Record(strTarget, {result}, &strError)) << strError;
            return;
        }
        FAIL() << strId << " is not pending for " << strTarget;
    }

    CTempDir dir;
    std::unique_ptr<COutbox> pOutbox;
};

TEST_F(OutboxTest, PagesComeOutInTheOrderTheyWereAcceptedForEachTarget) {
    Accept("p1", {"a", "b"});
    Accept("p2", {"a"});
    Accept("p3", {"b", "a"});
    EXPECT_EQ(Due("a", 1000), (std::vector<std::string>{"p1", "p2", "p3"}));
    EXPECT_EQ(Due("b", 1000), (std::vector<std::string>{"p1", "p3"}));
    EXPECT_TRUE(Due("c", 1000).empty());
    // The file is the user's alone: it holds the messages.
    for (const char* szSuffix : {"", "-wal"}) {
        struct stat st;
        ASSERT_EQ(stat((Path() + szSuffix).c_str(), &st), 0) << szSuffix;
        EXPECT_EQ(st.st_mode & 077, 0u) << szSuffix;
    }
}

TEST_F(OutboxTest, ARetryHoldsBackLaterPagesButAFailureForGoodDoesNot) {
    Accept("p1");
    Accept("p2");
    Accept("p3");
    Record("a", "p1", DeliveryState::kPending, 5000); // tried again at 5 s
    EXPECT_TRUE(Due("a", 4999).empty());
    EXPECT_EQ(pOutbox->NextDueMs("a"), 5000);
    EXPECT_EQ(Due("a", 5000).front(), "p1");
    Record("a", "p1", DeliveryState::kFailed);
    EXPECT_EQ(Due("a", 5000), (std::vector<std::string>{"p2", "p3"}));
    Record("a", "p2", DeliveryState::kDelivered);
    const CTargetCounts counts = pOutbox->Counts("a");
    EXPECT_EQ(counts.nPending, 1);
    EXPECT_EQ(counts.nDelivered, 1);
    EXPECT_EQ(counts.nFailed, 1);
    EXPECT_EQ(counts.strOldestPendingPager, "1234");
}

TEST_F(OutboxTest, APageUndeliveredAfterItsExpiryIsMarkedExpired) {
    std::string strError;
    ASSERT_TRUE(pOutbox->Accept(Page("old", 1000), {"a"}, {60000}, &strError));
    Accept("new", {"a"}, 50000);
    std::vector<CDueDelivery> expired;
    const std::vector<CDueDelivery> due = pOutbox->TakeDue("a", 61000, 100, &expired);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].page.strId, "old");
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].page.strId, "new");
    EXPECT_EQ(pOutbox->Counts("a").nExpired, 1);
    // Retry brings it back, with a new expiry.
    ASSERT_TRUE(pOutbox->RetryPage("old", "a", 70000, 60000));
    EXPECT_EQ(Due("a", 70000), (std::vector<std::string>{"old", "new"}));
}

TEST_F(OutboxTest, CancelStopsWhatIsPendingAndSaysWhoAlreadyHadIt) {
    Accept("p1", {"a", "b", "c"});
    Record("b", "p1", DeliveryState::kDelivered);
    EXPECT_EQ(pOutbox->Cancel("p1"), std::vector<std::string>{"b"});
    EXPECT_TRUE(Due("a", 1000).empty());
    EXPECT_TRUE(Due("c", 1000).empty());
    // A confirmation that comes after the cancel still counts: it arrived.
    CAttemptResult late;
    late.nSeq = 1;
    late.nTimeMs = 3000;
    late.state = DeliveryState::kDelivered;
    std::string strError;
    ASSERT_TRUE(pOutbox->Record("a", {late}, &strError));
    EXPECT_EQ(pOutbox->Counts("a").nDelivered, 1);
    // A retry result does not revive a cancelled delivery.
    late.state = DeliveryState::kPending;
    ASSERT_TRUE(pOutbox->Record("c", {late}, &strError));
    EXPECT_EQ(pOutbox->Counts("c").nPending, 0);
}

TEST_F(OutboxTest, HousekeepingRemovesOnlyOldPagesNothingWaitsFor) {
    Accept("old-done", {"a"}, 1000);
    Accept("old-waiting", {"a"}, 1000);
    Accept("new-done", {"a"}, 10 * kDay);
    Record("a", "old-done", DeliveryState::kDelivered);
    Record("a", "new-done", DeliveryState::kDelivered);
    EXPECT_EQ(pOutbox->RemoveFinishedBefore(5 * kDay), 1);
    std::set<std::string> left;
    for (const CPageStatus& page : pOutbox->Recent(10))
        left.insert(page.strId);
    EXPECT_EQ(left, (std::set<std::string>{"old-waiting", "new-done"}));
}

TEST_F(OutboxTest, ADamagedFileIsMovedAsideAndANewOneBegun) {
    Accept("p1");
    pOutbox.reset();
    for (const char* szSuffix : {"-wal", "-shm"})
        unlink((Path() + szSuffix).c_str());
    {
        std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
        out << "SQLite format 3" << std::string(4000, '\x5a');
    }
    std::string strError, strDamage;
    pOutbox = COutbox::Open(Path(), true, &strError, &strDamage);
    ASSERT_TRUE(pOutbox) << strError;
    EXPECT_NE(strDamage.find("was damaged"), std::string::npos);
    const size_t nAside = strDamage.find(Path() + ".damaged-");
    ASSERT_NE(nAside, std::string::npos) << strDamage;
    EXPECT_TRUE(Due("a", 1000).empty());
    Accept("p2");
    EXPECT_EQ(Due("a", 1000), std::vector<std::string>{"p2"});
}

TEST_F(OutboxTest, AFolderThatCannotBeWrittenIsAnErrorNotACrash) {
    std::string strError;
    CTempDir::Write(dir.Path("plain-file"), "x");
    EXPECT_FALSE(COutbox::Open(dir.Path("plain-file/sub/o.db"), true, &strError));
    EXPECT_NE(strError.find("Not a directory"), std::string::npos) << strError;
    if (geteuid() != 0) { // root writes anywhere
        mkdir(dir.Path("ro").c_str(), 0500);
        EXPECT_FALSE(COutbox::Open(dir.Path("ro/o.db"), true, &strError));
    }
}

TEST_F(OutboxTest, AProcessKilledWhileCommittingLosesNoAcknowledgedPage) {
    pOutbox.reset();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        std::string strError;
        std::unique_ptr<COutbox> pOut = COutbox::Open(Path(), false, &strError);
        for (int i = 0; pOut; ++i) {
            const std::string strId = "k" + std::to_string(i);
            if (!pOut->Accept(Page(strId), {"a", "b"}, {kDay, kDay}, &strError))
                _exit(3);
            // Acknowledged: only now may the caller have been told.
            const std::string strLine = strId + "\n";
            if (write(fds[1], strLine.data(), strLine.size()) < 0)
                _exit(4);
        }
        _exit(2);
    }
    close(fds[1]);
    std::string strAcked;
    char buffer[256];
    while (std::count(strAcked.begin(), strAcked.end(), '\n') < 40) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0) << "the child stopped accepting";
        strAcked.append(buffer, static_cast<size_t>(n));
    }
    kill(child, SIGKILL); // most likely in the middle of its next commit
    int nStatus = 0;
    waitpid(child, &nStatus, 0);
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        strAcked.append(buffer, static_cast<size_t>(n));
    close(fds[0]);

    std::string strError;
    pOutbox = COutbox::Open(Path(), true, &strError);
    ASSERT_TRUE(pOutbox) << strError;
    std::set<std::string> kept;
    for (const CDueDelivery& due : pOutbox->TakeDue("b", 1 << 24, 1000000, nullptr))
        kept.insert(due.page.strId);
    size_t nAcked = 0;
    for (size_t nStart = 0; nStart < strAcked.size();) {
        const size_t nEnd = strAcked.find('\n', nStart);
        const std::string strId = strAcked.substr(nStart, nEnd - nStart);
        EXPECT_EQ(kept.count(strId), 1u) << strId << " was acknowledged and lost";
        ++nAcked;
        nStart = nEnd + 1;
    }
    EXPECT_GE(nAcked, 40u);
    EXPECT_LE(kept.size(), nAcked + 1); // at most the one in flight besides
}

// A sender that answers as a test script says, recording what it got.
class CScriptedSender : public ISender {
  public:
    struct CShared {
        std::mutex mutex;
        std::vector<std::string> sent;                          // ids, in order
        std::map<std::string, std::vector<SendOutcome>> script; // per id, in turn
        std::atomic<int> nCalls{0};
    };
    explicit CScriptedSender(std::shared_ptr<CShared> shared)
        : m_shared(std::move(shared)) {}
    std::vector<CSendResult> Send(const std::vector<COutgoing>& pages) override {
        ++m_shared->nCalls;
        std::vector<CSendResult> results;
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        for (const COutgoing& page : pages) {
            // As the real senders do: nothing after a page that waits.
            if (!results.empty() && results.back().outcome == SendOutcome::kRetry) {
                results.push_back({SendOutcome::kRetry, "NOT SENT", "", 0, false});
                continue;
            }
            m_shared->sent.push_back(page.strId);
            SendOutcome outcome = SendOutcome::kDelivered;
            auto& turns = m_shared->script[page.strId];
            if (!turns.empty()) {
                outcome = turns.front();
                turns.erase(turns.begin());
            }
            results.push_back({outcome, outcome == SendOutcome::kDelivered ? "" : "NO",
                               "", outcome == SendOutcome::kRetry ? 0 : -1});
        }
        return results;
    }
    const char* Kind() const override { return "TEST"; }

  private:
    std::shared_ptr<CShared> m_shared;
};

class DeliveryTest : public ::testing::Test {
  protected:
    void Start() {
        CTargetConfig target;
        target.strName = "t";
        target.scheme = TargetScheme::kExec;
        std::vector<CTargetConfig> targets{target};
        pDelivery = std::make_unique<CDelivery>(
            dir.Path("o.db"), targets, [this](const CTargetConfig&) {
                return std::make_unique<CScriptedSender>(shared);
            });
        std::string strError, strDamage;
        ASSERT_TRUE(pDelivery->Start(&strError, &strDamage)) << strError;
    }
    void Accept(const std::string& strId) {
        std::string strError;
        const std::int64_t nNow =
            std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
        ASSERT_TRUE(pDelivery->Accept(Page(strId, nNow), pDelivery->Route(1, "1234"),
                                      &strError))
            << strError;
    }
    // Collects events until done holds or 10 s pass.
    bool WaitFor(const std::function<bool()>& done) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            for (CDeliveryEvent& event : pDelivery->TakeEvents())
                events.push_back(std::move(event));
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    size_t Count(CDeliveryEvent::Kind kind) const {
        return static_cast<size_t>(
            std::count_if(events.begin(), events.end(),
                          [&](const auto& e) { return e.kind == kind; }));
    }

    CTempDir dir;
    std::shared_ptr<CScriptedSender::CShared> shared =
        std::make_shared<CScriptedSender::CShared>();
    std::unique_ptr<CDelivery> pDelivery;
    std::vector<CDeliveryEvent> events;
};

TEST_F(DeliveryTest, AWorkerDeliversInOrderRetriesAndSkipsWhatFailedForGood) {
    shared->script["p2"] = {SendOutcome::kRetry, SendOutcome::kDelivered};
    shared->script["p3"] = {SendOutcome::kFailed};
    Start();
    for (const char* szId : {"p1", "p2", "p3", "p4"})
        Accept(szId);
    ASSERT_TRUE(WaitFor([&] { return Count(CDeliveryEvent::Kind::kDelivered) == 3; }));
    EXPECT_EQ(Count(CDeliveryEvent::Kind::kFailed), 1u);
    EXPECT_EQ(Count(CDeliveryEvent::Kind::kRetry), 1u);
    // p2 came again before p3 and p4 were delivered: nothing overtook it.
    std::vector<std::string> delivered;
    for (const CDeliveryEvent& event : events) {
        if (event.kind == CDeliveryEvent::Kind::kDelivered)
            delivered.push_back(event.strId);
    }
    EXPECT_EQ(delivered, (std::vector<std::string>{"p1", "p2", "p4"}));
    ASSERT_TRUE(WaitFor([&] { return pDelivery->Status()[0].counts.nDelivered == 3; }));
    EXPECT_EQ(pDelivery->Status()[0].counts.nFailed, 1);
    EXPECT_EQ(pDelivery->Status()[0].counts.nPending, 0);
    // The pages held back behind p2 were not tried meanwhile: one attempt
    // each, and no retry wait of their own.
    for (const CPageStatus& page : pDelivery->Recent(10)) {
        const int nWanted = page.strId == "p2" ? 2 : 1;
        EXPECT_EQ(page.deliveries[0].nAttempts, nWanted) << page.strId;
    }
}

TEST_F(DeliveryTest, AnOutboxThatOpensOnlyLaterStillGetsItsPagesDelivered) {
    CTempDir::Write(dir.Path("o.db"), ""); // in the way: a folder is wanted there
    CTargetConfig target;
    target.strName = "t";
    pDelivery = std::make_unique<CDelivery>(
        dir.Path("o.db/sub/o.db"), std::vector<CTargetConfig>{target},
        [this](const CTargetConfig&) {
            return std::make_unique<CScriptedSender>(shared);
        });
    std::string strError, strDamage;
    EXPECT_FALSE(pDelivery->Start(&strError, &strDamage));
    EXPECT_FALSE(
        pDelivery->Accept(Page("early"), pDelivery->Route(1, "1234"), &strError));
    unlink(dir.Path("o.db").c_str());
    Accept("later");
    ASSERT_TRUE(WaitFor([&] { return Count(CDeliveryEvent::Kind::kDelivered) == 1; }));
    EXPECT_EQ(events.back().strId, "later");
}

TEST_F(DeliveryTest, PendingPagesSurviveARestartAndAreDeliveredOnce) {
    shared->script["p1"] = std::vector<SendOutcome>(1000, SendOutcome::kRetry);
    Start();
    Accept("p1");
    Accept("p2");
    ASSERT_TRUE(WaitFor([&] { return Count(CDeliveryEvent::Kind::kRetry) >= 1; }));
    pDelivery->Stop(1000);
    pDelivery.reset();
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->script.clear();
        shared->sent.clear();
    }
    Start();
    ASSERT_TRUE(WaitFor([&] { return Count(CDeliveryEvent::Kind::kDelivered) == 2; }));
    std::lock_guard<std::mutex> lock(shared->mutex);
    EXPECT_EQ(shared->sent, (std::vector<std::string>{"p1", "p2"}));
}

} // namespace
