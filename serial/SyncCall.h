// CSyncCall: a synchronous call from a worker thread into the user-interface
// thread.
//
// The worker calls Call(job): the job is posted to the UI thread (through the
// injected poster, wxTheApp->CallAfter in the program) and the worker blocks
// until the job has returned there. Jobs therefore run one at a time, in the
// order the worker issued them.
//
// Stopping the worker must never deadlock: the UI thread, while it waits for
// the worker to end, calls ServeUntil, which runs a job that is still waiting
// for delivery right there (so no message is lost and the worker is released)
// and wakes up whenever the worker posts another. A job posted this way and
// also queued through the poster runs only once; the poster's copy finds
// nothing left to do, even after this object is gone.
//
// With an inline lock (SetInlineLock) a job does not travel: the worker runs
// it itself, holding that lock, which the UI thread holds in turn whenever
// it works on what the jobs touch. No hop to the UI thread then stands
// between a received byte and its answer. A UI thread that holds the lock
// while it waits for the worker to end (ServeUntil) runs the waiting job
// itself, as before; the worker then stops trying to take the lock.
//
// Threads: Call on the worker only; ServeUntil and the posted jobs on the UI
// thread; Kick from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class CSyncCall {
  public:
    using Job = std::function<void()>;
    using Poster = std::function<void(Job)>;

    // Without a poster a job runs at once on the calling thread.
    explicit CSyncCall(Poster poster = nullptr);
    ~CSyncCall();

    CSyncCall(const CSyncCall&) = delete;
    CSyncCall& operator=(const CSyncCall&) = delete;

    void SetPoster(Poster poster);
    bool HasPoster() const { return static_cast<bool>(m_poster); }
    // Jobs run on the worker under *pLock (null: posted, as by default).
    // Set while no worker runs.
    void SetInlineLock(std::recursive_mutex* pLock) { m_pInlineLock = pLock; }
    // True on a worker while it runs a job inline: the job is then in the
    // UI thread's place, and a call it makes goes straight through.
    static bool IsRunningInline();

    // Worker thread: runs job on the UI thread and waits until it returned,
    // or until the UI thread gave up waiting for it (see ServeUntil).
    void Call(Job job);

    // UI thread: serves the worker's calls until finished() is true (it must
    // be safe to call with the internal lock held: an atomic load). Used
    // while the UI thread waits for the worker to end. If this is called
    // from inside a job that the worker is waiting for, that worker is
    // released at once, since the job cannot return before this does.
    void ServeUntil(const std::function<bool()>& finished);

    // Wakes ServeUntil so that it tests its condition again.
    void Kick();

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        Job pending;            // posted, not yet started
        bool bBusy = false;     // a call is waiting for its job to return
        bool bRunning = false;  // the job is running on the UI thread
        bool bReleased = false; // the UI thread stopped waiting for it
        unsigned nKicks = 0;
    };

    static void RunPending(const std::shared_ptr<State>& state);
    // Runs the job just made pending on this thread under the inline lock,
    // unless the UI thread takes it first.
    void RunInline(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    Poster m_poster;
    std::recursive_mutex* m_pInlineLock = nullptr;
    static constexpr int kInlineSpins = 200;
};
