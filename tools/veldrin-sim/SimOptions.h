// Command line of veldrin-sim, the caller's side of the paging dialogue.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

struct CSimPage {
    std::string strPager;
    std::string strMessage;
};

enum class SimFault {
    kNone,
    kBadChecksum,  // first page: wrong checksum, NAK expected
    kThirdField,   // first page: a third field, no answer expected
    kMissingField, // first page: one field only, no answer expected
    kPassword,     // logon with a password after PG1: no logon expected
    kNoLogon,      // pages sent without logging on: no answers expected
    kNoise,        // noise bytes before every block: pages still accepted
    kEotMidBlock,  // session ended in the middle of the first block
    kHangup,       // line closed in the middle of the first block
};

// What the terminal should answer to every page (a terminal in a test mode
// misbehaves on purpose).
enum class SimExpect {
    kAck,        // the usual: ACK (a fault changes it for the first page)
    kNak,        // NAK for every page
    kNone,       // no answer to any page
    kNoLogon,    // the logon is not answered
    kRs,         // RS: the page is refused, the caller goes on with the next
    kDisconnect, // the terminal ends the session (ESC EOT CR) in answer
};

struct CSimOptions {
    std::string strDevice;
    std::string strPtyLink; // make a virtual line, its terminal side linked here
    std::string strTcp;     // HOST:PORT of a terminal on a network line
    std::vector<CSimPage> pages;
    int nBaud = 9600;
    // --framing: data bits, parity (N, E, O, M, S) and stop bits, as "8N1".
    int nDataBits = 8;
    char chParity = 'N';
    int nStopBits = 1;
    int nRetries = 0;
    int nAnswerTimeoutMs = 10000;
    int nLogonTries = 5;
    int nPauseMs = 0; // between pages
    // Characters of fields (with their CRs) in one block; a longer page is
    // split over blocks with US (a field goes on) or ETB (the next field
    // starts in the next block).
    int nBlockSize = 250;
    int nLength = 0;         // --count pages padded to this many characters
    std::string strPassword; // sent after ESC PG1 in the logon
    SimFault fault = SimFault::kNone;
    SimExpect expect = SimExpect::kAck;
    // --expect with several answers, one a page, the last for the rest.
    std::vector<SimExpect> expects;
    bool bRedial = false; // after the terminal hangs up: wait, log on again, go on
    bool bQuiet = false;
    bool bHelp = false;
    bool bVersion = false;
};

// Parses the arguments (without the program name). False with a message
// that says what is wrong.
bool ParseSimOptions(const std::vector<std::string>& args, CSimOptions* pOptions,
                     std::string* pstrError);

// Pages from a file: one "pager<TAB>message" a line; blank lines and lines
// starting with # are skipped.
bool ReadPageFile(const std::string& strPath, std::vector<CSimPage>* pPages,
                  std::string* pstrError);

const char* SimUsage();

// The framing as "8N1".
std::string FramingText(const CSimOptions& options);

// Why the framing cannot be used on the caller's line: a virtual line (a
// pseudo-terminal) or a network line carries bytes, not characters framed
// with parity or other data and stop bits. Empty when it can (8N1 always).
std::string FramingRefusal(const CSimOptions& options, bool bVirtualLine);

// What --help, --version or bad arguments call for, printed as volnex does:
// usage or version on stdout with status 0, or the reason and the usage on
// stderr with status 2. False when the caller is to run.
bool PrintSimOutcome(bool bParsed, const CSimOptions& options,
                     const std::string& strError, std::ostream& out, std::ostream& err,
                     int* pnExitStatus);
