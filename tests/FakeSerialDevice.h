// A serial device in memory with settable modem lines. Received bytes go
// through a pipe so that the monitor thread's poll() sees them.
#pragma once

#include "serial/SerialDevice.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

class CFakeSerialDevice : public ISerialDevice, public ILineFormatDevice {
  public:
    struct CShared {
        std::atomic<unsigned> nModemStatus{0};
        std::atomic<int> nModemError{0}; // GetModemStatus fails with it
        std::atomic<int> nReadError{0};  // Read fails with it
        std::atomic<int> nSettingsError{0};
        std::atomic<int> nOpenError{0};
        std::atomic<int> nFlushError{0};
        std::atomic<int> nWriteError{0};  // Write fails with it
        std::atomic<int> nBinaryModes{0}; // WriteBinaryMode calls
        std::atomic<int> nHangUps{0};     // HangUp calls
        std::string strWrittenAtHangUp;   // what had been written by then
        std::mutex mutex;
        std::string strWritten;
        int nFlushes = 0;
        int pipeIn[2] = {-1, -1};
        // With BlockWrites: written bytes go into this pipe, which the test
        // has filled, so the line takes nothing until the test reads it.
        int pipeOut[2] = {-1, -1};
        std::atomic<int> nWritesRefused{0}; // writes that found the line full
    };

    explicit CFakeSerialDevice(CShared* pShared) : m_p(pShared) {
        if (m_p->pipeIn[0] < 0) {
            if (pipe2(m_p->pipeIn, O_NONBLOCK | O_CLOEXEC) != 0)
                m_p->pipeIn[0] = m_p->pipeIn[1] = -1;
        }
    }

    static void Feed(CShared* p, const std::string& strBytes) {
        ssize_t r = write(p->pipeIn[1], strBytes.data(), strBytes.size());
        (void)r;
    }
    static void Release(CShared* p) {
        for (int fd : {p->pipeIn[0], p->pipeIn[1], p->pipeOut[0], p->pipeOut[1]})
            if (fd >= 0)
                close(fd);
    }
    // From now on the line takes no output until DrainOutput.
    static void BlockWrites(CShared* p) {
        if (pipe2(p->pipeOut, O_NONBLOCK | O_CLOEXEC) != 0)
            return;
        const std::string strFill(4096, 'f');
        while (write(p->pipeOut[1], strFill.data(), strFill.size()) > 0) {
        }
        while (write(p->pipeOut[1], "f", 1) > 0) {
        }
    }
    // Everything the line took since BlockWrites, filling included.
    static std::string DrainOutput(CShared* p) {
        std::string strTaken;
        char buffer[4096];
        ssize_t r;
        while ((r = read(p->pipeOut[0], buffer, sizeof buffer)) > 0)
            strTaken.append(buffer, static_cast<size_t>(r));
        return strTaken;
    }

    int Open(const std::string&) override {
        if (m_p->nOpenError)
            return m_p->nOpenError;
        m_bOpen = true;
        return 0;
    }
    void Close() override { m_bOpen = false; }
    bool IsOpen() const override { return m_bOpen; }
    int PollFd() const override { return m_bOpen ? m_p->pipeIn[0] : -1; }
    ILineFormatDevice* GetLineFormat() override { return this; }
    int ReadSettings() override { return m_p->nSettingsError; }
    int WriteSettings(const CLineFormat&, const CFlowControlModes&) override {
        return 0;
    }
    int HangUp() override {
        std::lock_guard<std::mutex> lock(m_p->mutex);
        m_p->strWrittenAtHangUp = m_p->strWritten;
        ++m_p->nHangUps;
        return 0;
    }
    int WriteBinaryMode() override {
        ++m_p->nBinaryModes;
        return 0;
    }
    int Flush(bool bInput, bool) override {
        std::lock_guard<std::mutex> lock(m_p->mutex);
        ++m_p->nFlushes;
        if (m_p->nFlushError)
            return m_p->nFlushError;
        if (bInput) {
            char buffer[256];
            while (read(m_p->pipeIn[0], buffer, sizeof buffer) > 0) {
            }
        }
        return 0;
    }
    int BytesWaiting(int* pnCount) override {
        return ioctl(m_p->pipeIn[0], FIONREAD, pnCount) == 0 ? 0 : errno;
    }
    ssize_t Read(unsigned char* pBuffer, size_t nSize) override {
        if (m_p->nReadError) {
            errno = m_p->nReadError;
            return -1;
        }
        return read(m_p->pipeIn[0], pBuffer, nSize);
    }
    ssize_t Write(const char* pData, size_t nSize) override {
        if (m_p->nWriteError) {
            errno = m_p->nWriteError;
            return -1;
        }
        std::lock_guard<std::mutex> lock(m_p->mutex);
        if (m_p->pipeOut[1] >= 0) {
            ssize_t r = write(m_p->pipeOut[1], pData, nSize);
            if (r < 0 && errno == EAGAIN)
                ++m_p->nWritesRefused;
            if (r > 0)
                m_p->strWritten.append(pData, static_cast<size_t>(r));
            return r;
        }
        m_p->strWritten.append(pData, nSize);
        return static_cast<ssize_t>(nSize);
    }
    int WaitWritable(int) override { return 0; }
    int OutputFd() const override { return m_bOpen ? m_p->pipeOut[1] : -1; }
    int GetModemStatus(unsigned* pnStatus) override {
        *pnStatus = m_p->nModemStatus;
        return m_p->nModemError;
    }

  private:
    CShared* m_p;
    bool m_bOpen = false;
};
