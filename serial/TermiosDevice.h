// CTermiosDevice: a real serial device through POSIX termios.
//
// This module is the only place in the program that includes <termios.h>
// and <sys/ioctl.h>. The device is opened non-blocking and not shared with
// other processes (flock and TIOCEXCL); the settings found at open are
// restored on close.
#pragma once

#include "serial/SerialDevice.h"

#include <memory>

class CTermiosDevice : public ISerialDevice {
public:
    CTermiosDevice();
    ~CTermiosDevice() override;

    int Open(const std::string& strPath) override;
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    int PollFd() const override { return m_fd; }
    int ReadSettings() override;
    int WriteSettings(const CLineFormat& format,
                      const CFlowControlModes& flow) override;
    int Flush(bool bInput, bool bOutput) override;
    int BytesWaiting(int* pnCount) override;
    ssize_t Read(unsigned char* pBuffer, size_t nSize) override;
    ssize_t Write(const char* pData, size_t nSize) override;
    int WaitWritable(int nTimeoutMs) override;
    int GetModemStatus(unsigned* pnStatus) override;

    // True when the line speed can be set on a terminal.
    static bool IsSupportedBaud(int nBaud);

private:
    struct CSaved;
    int m_fd = -1;
    std::unique_ptr<CSaved> m_pSaved; // settings read at open / ReadSettings
};
