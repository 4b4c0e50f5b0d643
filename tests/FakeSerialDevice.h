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

class CFakeSerialDevice : public ISerialDevice {
public:
    struct CShared {
        std::atomic<unsigned> nModemStatus{0};
        std::atomic<int> nModemError{0};  // GetModemStatus fails with it
        std::atomic<int> nReadError{0};   // Read fails with it
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
        close(p->pipeIn[0]);
        close(p->pipeIn[1]);
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
        m_p->strWritten.append(pData, nSize);
        return static_cast<ssize_t>(nSize);
    }
    int WaitWritable(int) override { return 0; }
    int GetModemStatus(unsigned* pnStatus) override {
        *pnStatus = m_p->nModemStatus;
        return m_p->nModemError;
    }

private:
    CShared* m_p;
    bool m_bOpen = false;
};
