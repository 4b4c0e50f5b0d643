#include "serial/JobLoop.h"

#include <algorithm>

CJobLoop::CJobLoop() : m_state(std::make_shared<CState>()) {}

CSyncCall::Poster CJobLoop::Poster() {
    std::weak_ptr<CState> weak = m_state;
    return [weak](CSyncCall::Job job) {
        if (std::shared_ptr<CState> state = weak.lock()) {
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->jobs.push_back(std::move(job));
                ++state->nPosted;
            }
            state->cv.notify_all();
        }
    };
}

size_t CJobLoop::Posted() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->nPosted;
}

void CJobLoop::RunUntil(std::chrono::steady_clock::time_point until,
                        const std::atomic<bool>& bStop,
                        const std::function<bool()>& isDone, int nLookMs) {
    using Clock = std::chrono::steady_clock;
    while (!bStop && !(isDone && isDone())) {
        CSyncCall::Job job;
        {
            std::unique_lock<std::mutex> lock(m_state->mutex);
            if (m_state->jobs.empty()) {
                const auto wake =
                    std::min(until, Clock::now() + std::chrono::milliseconds(nLookMs));
                m_state->cv.wait_until(lock, wake,
                                       [&] { return !m_state->jobs.empty(); });
                if (m_state->jobs.empty() && Clock::now() >= until)
                    return;
                continue; // bStop and isDone are looked at again first
            }
            job = std::move(m_state->jobs.front());
            m_state->jobs.pop_front();
        }
        job(); // with no lock held: the job may post again
    }
}
