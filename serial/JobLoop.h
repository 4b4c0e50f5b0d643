// CJobLoop: a thread's loop that runs the jobs other threads post to it, in
// order: the headless program's main thread, and the tests' stand-in for
// the window's event loop. The port's monitor thread posts its deliveries
// here (CSyncCall::Poster).
#pragma once

#include "serial/SyncCall.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class CJobLoop {
  public:
    CJobLoop();
    // Posting is safe from any thread and after the loop is gone.
    CSyncCall::Poster Poster();
    // Runs jobs until the time comes, bStop is set or isDone says so; both
    // are looked at before each job and at least every nLookMs while no job
    // comes (a signal handler sets bStop). isDone runs with no lock held.
    void RunUntil(std::chrono::steady_clock::time_point until,
                  const std::atomic<bool>& bStop,
                  const std::function<bool()>& isDone = {}, int nLookMs = 100);
    // How many jobs were posted so far.
    size_t Posted() const;

  private:
    struct CState {
        mutable std::mutex mutex;
        std::condition_variable cv;
        std::deque<CSyncCall::Job> jobs;
        size_t nPosted = 0;
    };
    std::shared_ptr<CState> m_state;
};
