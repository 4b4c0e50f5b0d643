#include "serial/SyncCall.h"

#include <thread>
#include <utility>

CSyncCall::CSyncCall(Poster poster)
    : m_state(std::make_shared<State>()), m_poster(std::move(poster)) {}

CSyncCall::~CSyncCall() = default;

void CSyncCall::SetPoster(Poster poster) {
    m_poster = std::move(poster);
}

namespace {
thread_local bool t_bRunningInline = false;
} // namespace

bool CSyncCall::IsRunningInline() {
    return t_bRunningInline;
}

void CSyncCall::RunInline(const std::shared_ptr<State>& state) {
    // The UI thread holds the lock only for short calls, so this thread
    // first tries again at once; for a longer hold it looks every
    // millisecond. Between tries it sees whether a ServeUntil holding the
    // lock took the job.
    for (int nTries = 0;; ++nTries) {
        if (m_pInlineLock->try_lock()) {
            const bool bWasInline = t_bRunningInline;
            t_bRunningInline = true;
            RunPending(state);
            t_bRunningInline = bWasInline;
            m_pInlineLock->unlock();
            return;
        }
        std::unique_lock<std::mutex> lock(state->mutex);
        if (!state->pending)
            return; // the UI thread runs it (or ran it)
        if (nTries < kInlineSpins) {
            lock.unlock();
            std::this_thread::yield();
        } else {
            state->cv.wait_for(lock, std::chrono::milliseconds(1),
                               [&] { return !state->pending; });
        }
    }
}

void CSyncCall::RunPending(const std::shared_ptr<State>& state) {
    Job job;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!state->pending)
            return;
        job = std::move(state->pending);
        state->pending = nullptr;
        state->bRunning = true;
    }
    job();
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->bRunning = false;
        state->bBusy = false;
    }
    state->cv.notify_all();
}

void CSyncCall::Call(Job job) {
    if (!m_poster && m_pInlineLock == nullptr) {
        job();
        return;
    }
    std::shared_ptr<State> state = m_state;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->pending = std::move(job);
        state->bBusy = true;
        state->bReleased = false;
    }
    state->cv.notify_all(); // a ServeUntil in progress picks it up
    if (m_pInlineLock != nullptr)
        RunInline(state);
    else
        m_poster([state] { RunPending(state); });
    std::unique_lock<std::mutex> lock(state->mutex);
    state->cv.wait(lock, [&] { return !state->bBusy || state->bReleased; });
    state->bBusy = false;
}

void CSyncCall::ServeUntil(const std::function<bool()>& finished) {
    std::shared_ptr<State> state = m_state;
    while (!finished()) {
        RunPending(state);
        std::unique_lock<std::mutex> lock(state->mutex);
        if (state->bRunning) {
            // We are nested inside the job the worker waits for: it cannot
            // return before we do, so let the worker go on without it.
            state->bReleased = true;
            state->cv.notify_all();
        }
        unsigned nKicks = state->nKicks;
        // The deadline only guards against a condition that changed without a
        // Kick; every normal change wakes us at once.
        state->cv.wait_for(lock, std::chrono::milliseconds(50), [&] {
            return state->pending != nullptr || state->nKicks != nKicks || finished();
        });
    }
}

void CSyncCall::Kick() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        ++m_state->nKicks;
    }
    m_state->cv.notify_all();
}
