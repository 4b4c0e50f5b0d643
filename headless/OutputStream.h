// COutputStream: standard output or standard error of the headless run,
// written so that a reader that does not read never stops the line.
//
// A pipe gets an open description of its own, non-blocking, so the shell's
// description is left as it was; a socket is written with MSG_DONTWAIT. A
// line is written whole or not at all: a record up to a pipe's atomic size
// (4096 bytes) always is; a longer one that the pipe takes only in part has
// its rest kept and written first when the reader takes more (a reader that
// shares the pipe with another writer is the only way to see that).
// Lines that could not go out in time wait, in order, up to kPendingLimit.
// A regular file or a terminal is written as it is (blocking).
//
// One thread uses it: the headless runner's main thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>

class COutputStream {
  public:
    static constexpr size_t kPendingLimit = 10000; // lines

    enum class Result {
        kWritten, // handed to the kernel
        kBehind,  // the reader did not take it in time: nothing of it written
        kFailed,  // the descriptor failed (GetError says why)
    };

    explicit COutputStream(int fd);
    ~COutputStream();
    COutputStream(const COutputStream&) = delete;
    COutputStream& operator=(const COutputStream&) = delete;

    // Writes a line whole within nWaitMs, after any that wait. With lines
    // waiting that the reader does not take at once, the line is behind at
    // once: a reader already behind is not waited for again. A set *pbStop
    // (a signal) ends the wait early.
    Result Write(const std::string& strLine, int nWaitMs,
                 const std::atomic<bool>* pbStop = nullptr);
    // Writes the line if the reader takes it now, else queues it behind the
    // others (dropped and counted past kPendingLimit). False on failure.
    bool WriteOrQueue(const std::string& strLine);
    // Writes the lines that wait as far as the reader takes them within
    // nWaitMs. False on failure.
    bool FlushPending(int nWaitMs, const std::atomic<bool>* pbStop = nullptr);

    size_t GetPending() const { return m_pending.size(); }
    size_t GetDropped() const { return m_nDropped; }
    int GetError() const { return m_nError; }

  private:
    // Writes m_pending's front until done, the deadline or a failure.
    Result WriteFront(long long nDeadlineMs, const std::atomic<bool>* pbStop);
    ssize_t WriteSome(const char* pData, size_t nSize);

    int m_fd;
    int m_nOwnFd = -1; // the pipe's own description, dup'ed onto m_fd
    bool m_bSocket = false;
    int m_nError = 0;
    size_t m_nFrontDone = 0; // bytes of the front line already written
    std::deque<std::string> m_pending;
    size_t m_nDropped = 0;
};
