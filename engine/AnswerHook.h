// The one place where a test mode may change how the terminal answers.
//
// The engine asks the hook before it answers a recognised logon request and
// before it answers a block that passed or failed the checksum; without a
// hook (the normal case) it gives the protocol's own answers. The hook only
// says what to do and what to tell the operator; the engine does it, on its
// owner's thread, in its usual order of purge, write, news.
#pragma once

#include <string>
#include <vector>

// The stray byte a test mode puts before an answer: DEL, no protocol byte.
constexpr unsigned char kStrayAnswerByte = 0x7F;

enum class AnswerKind {
    kLogon,        // the logon request was recognised
    kPageAccepted, // a block with a correct checksum
    kPageRejected, // a block with a wrong checksum
};

// What the engine knows of the page a good block belongs to.
struct CPageFacts {
    std::string strPager; // its first field
    // The last block of a page only: the page's text and the block as
    // stored, as its CPageResult will give them, and how many blocks the
    // page came in.
    std::string strPageText;
    std::string strBlock;
    int nBlocks = 1;
    size_t nMessageChars = 0; // characters of its message so far
    bool bLastBlock = true;   // the block ends the page (ETX)
    int nSessionPages = 0;    // pages accepted since the logon
};

struct CAnswerChange {
    enum class Kind {
        kAsIs,       // the usual answer
        kNak,        // a good block answered NAK CR (and listed as bad)
        kSilent,     // no answer at all (a logon as if not recognised)
        kRefuse,     // the page is refused: RS CR, go on with the next one
        kDefer,      // accepted, held for deferred delivery (213)
        kTruncate,   // accepted, cut to nCutTo characters (214)
        kEndSession, // the session's page limit: 112 and ESC EOT CR
        // Accepted, but the answer waits: the owner gives it later
        // (CPageTerminal::ResolveAwait); when nDelayTicks pass first, the
        // page is refused (RS CR, with message sequences 512).
        kAwait,
    };
    // Why a page is refused (the response code with Responses=tap18).
    enum class Refusal { kNone, kPagerId, kTooLong, kBusy };
    Kind kind = Kind::kAsIs;
    Refusal refusal = Refusal::kNone;
    size_t nCutTo = 0;
    int nDelayTicks = 0;            // > 0: the answer is held this many timer ticks
    bool bStrayByte = false;        // a stray byte goes on the line before it
    bool bHangUpAfter = false;      // the line is hung up once the answer is out
    std::vector<std::string> notes; // warning lines for the protocol window
};

class IAnswerHook {
  public:
    virtual ~IAnswerHook() = default;
    // facts: for a good block (kPageAccepted) only.
    virtual CAnswerChange OnAnswer(AnswerKind kind,
                                   const CPageFacts& facts = CPageFacts()) = 0;
};
