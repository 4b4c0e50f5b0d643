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
    std::thread worker([&] { call.Call([&] { runner = std::this_thread::get_id(); }); });
    std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(runner, workerId);
}

} // namespace
