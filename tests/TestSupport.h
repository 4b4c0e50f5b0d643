// Test doubles shared by the core tests: a stand-in for the UI thread's event
// loop, a notification recorder, a message-box recorder and a pseudo-terminal
// pair with the test holding the master side.
#pragma once

#include "serial/CommPort.h"
#include "serial/JobLoop.h"
#include "serial/MessageBoxes.h"
#include "serial/SyncCall.h"
#include "session/Notify.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Runs jobs posted from other threads on the thread that pumps it, like the
// program's event loop runs wxTheApp->CallAfter jobs.
class CTestUiLoop {
  public:
    CSyncCall::Poster Poster() { return m_loop.Poster(); }
    // Runs posted jobs until done() holds or the time is up; returns done().
    bool PumpUntil(const std::function<bool()>& done, int nTimeoutMs = 5000);
    // Runs posted jobs for the given time (a quiet period: nothing expected).
    void PumpFor(int nMs);
    size_t Posted() const { return m_loop.Posted(); }

  private:
    CJobLoop m_loop;
};

struct CNote {
    unsigned nMsg;
    WPARAM wParam;
    LPARAM lParam;
    std::string strTrace; // the text of UM_PROTOCOL_TRACE or UM_LINE_NOTE
    std::thread::id thread;
};

// Records what a port tells it, each as the notification number a face
// would hand it on with (a level as 1 or 0).
class CRecordingTarget : public INotifyTarget, public IPortEvents {
  public:
    long Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) override;
    void OnByte(unsigned char ch) override { Notify(UM_COMM_RXCHAR, ch, 0); }
    void OnLevel(LineLevel line, bool bOn) override;
    void OnLineNote(const std::string& strNote) override {
        Notify(UM_LINE_NOTE, 0, reinterpret_cast<LPARAM>(&strNote));
    }
    void OnLineEvent(LineEvent event) override;
    std::vector<CNote> notes;
    // Called after each note has been recorded (on the delivering thread).
    std::function<void(const CNote&)> onNotify;

    size_t Count(unsigned nMsg) const;
    std::vector<unsigned> Messages() const;
    std::string ReceivedBytes() const; // the bytes of every UM_COMM_RXCHAR
};

struct CBoxRecord {
    std::string strText;
    std::string strCaption;
    unsigned nStyle;
    bool bOwned;
};

// The set-up a test gives a port: COMn at 9600 baud 8N1, RTS and DTR on, no
// handshake, watching bytes, CTS, DSR and DCD, with a 512-byte output
// buffer; a test changes what it is about.
CLineSettings TestLine(int nPort = 1);
// The same with another line format.
CLineSettings TestLine(int nPort, int nBaud, char chParity, int nDataBits,
                       int nStopBits);

class CRecordingBoxes : public IMessageBoxes {
  public:
    int Show(const std::string& strText, const std::string& strCaption, unsigned nStyle,
             bool bOwned) override;
    std::vector<CBoxRecord> boxes;
    int nAnswer = IDOK;
};

// A pseudo-terminal pair: the program opens SlavePath(), the test talks on
// the master side.
class CPtyPair {
  public:
    // kRaw: the terminal side is a raw line until the program sets it up.
    // kCooked: it is left in the kernel's default mode (echo, line editing,
    // CR to LF, signal characters), as a line nobody set up before.
    enum class Mode { kRaw, kCooked };
    explicit CPtyPair(bool bPacketMode = false, Mode mode = Mode::kRaw);
    ~CPtyPair();
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    const std::string& SlavePath() const { return m_strSlavePath; }
    int Master() const { return m_master; }
    void Write(const std::string& strBytes);
    // Reads until nCount bytes arrived or the time is up.
    std::string Read(size_t nCount, int nTimeoutMs = 3000);
    // Reads whatever arrives until the line has been quiet for nQuietMs.
    std::string ReadQuiet(int nQuietMs = 150);
    // In packet mode: every byte read so far, with "[flush]" where the
    // program flushed its device queues.
    const std::string& PacketLog() const { return m_strPacketLog; }
    void CloseMaster();

  private:
    int m_master = -1;
    bool m_bPacket = false;
    std::string m_strSlavePath;
    std::string m_strPacketLog;
};
