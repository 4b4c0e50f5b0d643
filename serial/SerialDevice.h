// ISerialDevice: the serial device as the port sees it.
//
// One small interface over the platform's terminal calls, so that the port's
// logic (configuration steps, line levels, hang-ups) can be tested with a
// fake, and the real implementation (CTermiosDevice) over pseudo-terminals.
// Every call returns 0 or an errno value; no call throws.
#pragma once

#include <cerrno>
#include <string>
#include <sys/types.h>
#include <vector>

// Line format of a definition string ("baud=9600 parity=N data=8 stop=1").
struct CLineFormat {
    int nBaud = 9600;
    char chParity = 'N'; // N, E, O, M or S
    int nDataBits = 8;   // 5..8
    int nStopBits = 1;   // 1 or 2
};

// Flow control as the configuration stores it.
struct CFlowControlModes {
    int nRts = 1; // 0 disable, 1 enable, 2 handshake, 3 toggle
    int nDtr = 1; // 0 disable, 1 enable, 2 handshake
    int nCts = 0; // output waits for CTS
    int nDsr = 0; // output waits for DSR
};

// The line format of a device that has one (a serial adapter, a
// pseudo-terminal); a network line has none.
class ILineFormatDevice {
  public:
    virtual ~ILineFormatDevice() = default;
    // Reads the current settings (fails on a file that is not a terminal).
    virtual int ReadSettings() = 0;
    // Raw binary line with the given format and flow control, written to the
    // device. Returns the first thing the device could not do (the rest is
    // still applied); 0 when everything was applied.
    virtual int WriteSettings(const CLineFormat& format,
                              const CFlowControlModes& flow) = 0;
    // Raw binary line (no translation, no echo, no signals, modem lines
    // ignored for receiving) at the speed and character format the device
    // has now: for a line format that was rejected.
    virtual int WriteBinaryMode() = 0;
};

class ISerialDevice {
  public:
    virtual ~ISerialDevice() = default;

    // Opens an existing device, exclusively. 0 or errno; ENOTTY for a path
    // that opens but is not a terminal (a file, /dev/null, a FIFO).
    virtual int Open(const std::string& strPath) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // A descriptor that poll() reports readable when bytes or a hang-up
    // arrive; -1 when closed.
    virtual int PollFd() const = 0;

    // Its line format; null for a device that has none.
    virtual ILineFormatDevice* GetLineFormat() { return nullptr; }

    // Discards the input and/or output queue of the device.
    virtual int Flush(bool bInput, bool bOutput) = 0;
    virtual int BytesWaiting(int* pnCount) = 0;
    // >0 bytes read; 0 on a hang-up; -1 with errno set (EAGAIN: none).
    virtual ssize_t Read(unsigned char* pBuffer, size_t nSize) = 0;
    virtual ssize_t Write(const char* pData, size_t nSize) = 0;
    // Waits until the device can take more output. 0, ETIMEDOUT or errno.
    virtual int WaitWritable(int nTimeoutMs) = 0;
    // The descriptor that poll() reports writable when Write can take more
    // after it found the device full (EAGAIN); -1 for a device that is never
    // full. The port waits on it without holding its lock.
    virtual int OutputFd() const { return -1; }

    // What the line takes care of between reads, before its levels are
    // read: a network line accepts, refuses, completes and retries
    // connections and drops an idle peer here. Nothing for other devices.
    virtual void Service() {}
    // Modem status bits (MS_CTS_ON, MS_DSR_ON, MS_RLSD_ON...), as they are
    // now. ENOTTY means the device has no modem lines (a pseudo-terminal).
    virtual int GetModemStatus(unsigned* pnStatus) = 0;

    // Hangs the line up on purpose (a test mode): a UART drops DTR, a
    // pseudo-terminal closes, a network line closes its connection. After
    // kHangUpMs EndHangUp takes calls again: DTR back on, the
    // pseudo-terminal opened again. 0 or errno.
    static constexpr int kHangUpMs = 1000;
    virtual int HangUp() { return EOPNOTSUPP; }
    virtual int EndHangUp() { return 0; }

    // What happened on the line beyond its bytes and levels (a network peer
    // that came or was refused), as warning lines for the protocol window.
    virtual std::vector<std::string> TakeNotes() { return {}; }
    // The line as the status bar shows it instead of the line format; empty
    // for a serial line.
    virtual std::string Describe() const { return {}; }
    // Why the last Open failed, where the errno alone does not say it.
    virtual std::string GetOpenReason() const { return {}; }
};
