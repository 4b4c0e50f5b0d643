// CTermiosDevice: a real serial device through POSIX termios.
//
// This module is the only place in the program that includes <termios.h>
// and <sys/ioctl.h>. The device is opened non-blocking and not shared with
// other processes (flock and TIOCEXCL); the settings found at open are
// restored on close, after what was written has left (within a bound, so a
// line held by flow control cannot hold up the close).
#pragma once

#include "serial/SerialDevice.h"

#include <memory>

class CTermiosDevice : public ISerialDevice, public ILineFormatDevice {
  public:
    CTermiosDevice();
    ~CTermiosDevice() override;

    int Open(const std::string& strPath) override;
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    int PollFd() const override { return m_fd; }
    int OutputFd() const override { return m_fd; }
    ILineFormatDevice* GetLineFormat() override { return this; }
    int ReadSettings() override;
    int WriteSettings(const CLineFormat& format,
                      const CFlowControlModes& flow) override;
    int WriteBinaryMode() override;
    int Flush(bool bInput, bool bOutput) override;
    int BytesWaiting(int* pnCount) override;
    ssize_t Read(unsigned char* pBuffer, size_t nSize) override;
    ssize_t Write(const char* pData, size_t nSize) override;
    int WaitWritable(int nTimeoutMs) override;
    int GetModemStatus(unsigned* pnStatus) override;
    int HangUp() override;
    int EndHangUp() override;

    // True when the line speed can be set on a terminal.
    static bool IsSupportedBaud(int nBaud);
    // Whether the path opens now as a terminal; opened and closed at once,
    // without taking the device (used to notice a device that came back).
    static bool CanOpen(const std::string& strPath);

    static constexpr int kCloseDrainMs = 2000;

  private:
    struct CSaved;
    // The settings as they are now, made a binary line.
    int BinarySettings(struct termios* pTio);
    int m_fd = -1;
    std::string m_strPath;
    bool m_bClosedForHangUp = false;        // a pseudo-terminal between the two
    bool m_bRaiseDtr = false;               // a UART whose DTR was on
    std::unique_ptr<CSaved> m_pSaved;       // settings read at open / ReadSettings
    std::unique_ptr<CSaved> m_pHangUpSaved; // while closed for a hang-up
};
