// CPtyMasterDevice: the caller's end of a virtual serial line.
//
// Open(link) makes a new pseudo-terminal pair, sets its terminal side to a
// raw line, and puts a symbolic link to that side at the given path, so
// that a program that opens serial devices by path (the paging terminal)
// can be pointed at it. Reading and writing work on the other side. Until
// a program holds the terminal side open, reads fail with EIO.
#pragma once

#include "serial/SerialDevice.h"

class CPtyMasterDevice : public ISerialDevice {
  public:
    ~CPtyMasterDevice() override;

    int Open(const std::string& strLink) override;
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    int PollFd() const override { return m_fd; }
    int OutputFd() const override { return m_fd; }
    // No line format here: it belongs to the terminal side, which sets it
    // itself.
    int Flush(bool bInput, bool bOutput) override;
    int BytesWaiting(int* pnCount) override;
    ssize_t Read(unsigned char* pBuffer, size_t nSize) override;
    ssize_t Write(const char* pData, size_t nSize) override;
    int WaitWritable(int nTimeoutMs) override;
    int GetModemStatus(unsigned* pnStatus) override;

    const std::string& GetTerminalPath() const { return m_strTerminal; }

  private:
    int m_fd = -1;
    std::string m_strLink;
    std::string m_strTerminal;
};
