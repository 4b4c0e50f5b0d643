// ITerminalOutput: what the paging engine does, handed to its owner.
//
// The engine (CPageTerminal) owns no line, reads no clock and starts no
// thread: its owner feeds it the received bytes, the 100 ms ticks and the
// line levels, and gets back through this interface the bytes to put on
// the line (after a purge of what waits), the hang-up of a network call,
// and the news for the operator: the session state, each finished page as
// one value, the sent sequences for the protocol trace and the warning
// lines. The engine asks it what kind of line it is on. Every call comes on
// the thread that called into the engine, before that call returns.
#pragma once

#include <string>

// Purge flags: what waits to be written, what waits to be read.
constexpr unsigned kPurgeOutput = 0x04;
constexpr unsigned kPurgeInput = 0x08;

// The verdict on a page handed on; its result text says the same in words.
enum class PageVerdict {
    kAccepted,
    kBadChecksum,
    kBadFormat,
    kTimedOut,
    kNakedOnPurpose,
    kUnansweredOnPurpose,
    kIncomplete,
    kTooLong,
    kRefused,   // refused on purpose by a test mode (RS, or the session ended)
    kTruncated, // accepted cut short on purpose by a test mode
};

// A finished page, handed on once and whole.
struct CPageResult {
    bool bAccepted = false;
    PageVerdict verdict = PageVerdict::kAccepted;
    std::string strText;   // the page (the whole message) as it came
    std::string strResult; // why it is bad or cut ("\tBAD PAGE - ..."); else empty
    int nBlocks = 0;       // how many blocks it came in
    // Its last block as stored, from its STX on (for saying why it was
    // judged bad), and how many of its bytes came after the store was full.
    std::string strBlock;
    int nDropped = 0;
    // The bytes it is answered with (written or held to be written); empty
    // when it gets no answer.
    std::string strAnswer;
    // A page whose answer waited, refused without an answer because the
    // caller moved on or the session ended.
    bool bWithheld = false;
    bool bTimedOutBlock = false; // its last block timed out
};

// The news of the engine, for the operator.
class ITerminalEvents {
  public:
    virtual ~ITerminalEvents() = default;
    virtual void OnState(int nState) = 0;
    virtual void OnPage(const CPageResult& page) = 0;
    // A sequence sent (or put on hold to be sent) to the caller.
    virtual void OnTrace(const std::string& strSent) = 0;
    // A warning line for the protocol window ("   ...").
    virtual void OnNote(const std::string& strNote) = 0;
    // Something that cannot happen did: the operator must be told at once.
    virtual void OnFault(const std::string& strText) = 0;
};

// The line the engine answers on, and its news.
class ITerminalOutput : public ITerminalEvents {
  public:
    // The line. Write queues the bytes; a text queued before the previous
    // one was written replaces it.
    virtual void Purge(unsigned nFlags) = 0;
    virtual void Write(const std::string& strBytes) = 0;
    // Hangs up a network call once what was written is out.
    virtual void HangUp() = 0;
    // Each connection is a call (tcp-listen:, tcp:).
    virtual bool IsNetworkLine() const = 0;
    // A device without modem lines (a pseudo-terminal): a caller that hangs
    // up at the far end may leave no trace on it.
    virtual bool HasNoModemLines() const = 0;
    // COMn's n, for naming its settings.
    virtual int GetPortNumber() const = 0;
    // A network line as the status bar shows it ("tcp-listen:127.0.0.1:2775,
    // peer 127.0.0.1:53122"); empty for a serial device.
    virtual std::string DescribeLine() const = 0;
};
