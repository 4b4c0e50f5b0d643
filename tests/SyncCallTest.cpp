#include "serial/SyncCall.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(SyncCallTest, RunsJobsOnThePumpingThreadInOrderAndBlocksTheCaller) {
    CTestUiLoop loop;
    CSyncCall call(loop.Poster());
    std::mutex logLock;
    std::vector<std::string> log;
    std::vector<std::thread::id> threads;
    std::atomic<bool> bDone{false};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            call.Call([&, i] {
                std::lock_guard<std::mutex> lock(logLock);
                log.push_back("run " + std::to_string(i));
                threads.push_back(std::this_thread::get_id());
            });
            std::lock_guard<std::mutex> lock(logLock);
            log.push_back("returned " + std::to_string(i));
        }
        bDone = true;
    });
    ASSERT_TRUE(loop.PumpUntil([&] { return bDone.load(); }));
    worker.join();
    ASSERT_EQ(log.size(), 100u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(log[2 * i], "run " + std::to_string(i));
        EXPECT_EQ(log[2 * i + 1], "returned " + std::to_string(i));
        EXPECT_EQ(threads[i], std::this_thread::get_id());
    }
}

TEST(SyncCallTest, ServeUntilDeliversAPendingCallExactlyOnce) {
    CTestUiLoop loop; // posted copies are never pumped until the end
    CSyncCall call(loop.Poster());
    int nRuns = 0;
    std::atomic<bool> bFinished{false};
    std::thread worker([&] {
        call.Call([&] { ++nRuns; });
        bFinished = true;
    });
    // Stopping the worker: serve it instead of waiting blindly for it.
    call.ServeUntil([&] { return bFinished.load(); });
    worker.join();
    EXPECT_EQ(nRuns, 1);
    loop.PumpFor(20); // the posted copy finds nothing left to do
    EXPECT_EQ(nRuns, 1);
}

TEST(SyncCallTest, ServeUntilInsideTheAwaitedJobReleasesTheWorker) {
    CTestUiLoop loop;
    CSyncCall call(loop.Poster());
    std::atomic<bool> bFinished{false};
    bool bServed = false;
    std::thread worker([&] {
        call.Call([&] {
            // The UI thread, inside the job the worker waits for, now waits
            // for the worker to end: this must not deadlock.
            call.ServeUntil([&] { return bFinished.load(); });
            bServed = true;
        });
        bFinished = true;
        call.Kick();
    });
    ASSERT_TRUE(loop.PumpUntil([&] { return bServed; }, 5000));
    worker.join();
    EXPECT_TRUE(bFinished);
}

TEST(SyncCallTest, PostedCopyOutlivingTheCallerIsHarmless) {
    CTestUiLoop loop;
    std::atomic<bool> bFinished{false};
    {
        CSyncCall call(loop.Poster());
        std::thread worker([&] {
            call.Call([] {});
            bFinished = true;
        });
        call.ServeUntil([&] { return bFinished.load(); });
        worker.join();
    }
    loop.PumpFor(10); // runs the stale copy after the object is gone
    EXPECT_EQ(loop.Posted(), 1u);
}

TEST(SyncCallTest, WithoutPosterTheJobRunsOnTheCallingThread) {
    CSyncCall call;
    std::thread::id runner;
    std::thread worker(
        [&] { call.Call([&] { runner = std::this_thread::get_id(); }); });
    std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(runner, workerId);
}

} // namespace

// With an inline lock the worker runs each job itself, holding the lock,
// and a job sees that it runs inline (so the calls it makes go straight on).
TEST(SyncCallInlineTest, TheWorkerRunsTheJobUnderTheLock) {
    CTestUiLoop loop; // never pumped: nothing may be posted
    std::recursive_mutex lock;
    CSyncCall call(loop.Poster());
    call.SetInlineLock(&lock);
    std::thread::id ranOn;
    bool bInline = false;
    std::atomic<bool> bOtherGotLock{true};
    std::thread worker([&] {
        call.Call([&] {
            ranOn = std::this_thread::get_id();
            bInline = CSyncCall::IsRunningInline();
            // Another thread cannot take the lock while the job runs.
            std::thread([&] {
                bOtherGotLock = lock.try_lock();
                if (bOtherGotLock)
                    lock.unlock();
            }).join();
        });
        EXPECT_FALSE(CSyncCall::IsRunningInline());
    });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(ranOn, workerId);
    EXPECT_TRUE(bInline);
    EXPECT_FALSE(bOtherGotLock.load());
}

// The UI thread holds the lock while it waits for the worker to end (a new
// set-up of the line): it runs the waiting job itself and the worker, which
// cannot take the lock, stops trying and ends. Without that both would
// wait for ever.
TEST(SyncCallInlineTest, AWaitUnderTheLockServesTheJobInsteadOfDeadlocking) {
    CTestUiLoop loop;
    std::recursive_mutex lock;
    CSyncCall call(loop.Poster());
    call.SetInlineLock(&lock);
    std::unique_lock<std::recursive_mutex> held(lock);
    std::atomic<bool> bFinished{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        call.Call([&] { ranOn = std::this_thread::get_id(); });
        bFinished = true;
    });
    call.ServeUntil([&] { return bFinished.load(); });
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// While the UI thread holds the lock for a moment, the worker's job waits
// for it and then runs once, after the UI thread let go.
TEST(SyncCallInlineTest, AJobWaitsWhileTheUiThreadHoldsTheLock) {
    CTestUiLoop loop;
    std::recursive_mutex lock;
    CSyncCall call(loop.Poster());
    call.SetInlineLock(&lock);
    std::atomic<bool> bUiDone{false};
    std::atomic<int> nRuns{0};
    std::atomic<bool> bSawUiDone{false};
    std::thread worker;
    {
        std::lock_guard<std::recursive_mutex> held(lock);
        worker = std::thread([&] {
            call.Call([&] {
                ++nRuns;
                bSawUiDone = bUiDone.load();
            });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bUiDone = true;
    }
    worker.join();
    EXPECT_EQ(nRuns.load(), 1);
    EXPECT_TRUE(bSawUiDone.load());
}
