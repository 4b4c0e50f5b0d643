#include "tools/veldrin-sim/SimOptions.h"

#include "BuildInfo.h"
#include "serial/TcpEndpoint.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <ostream>

namespace {

bool ParseInt(const std::string& strText, int nMin, int nMax, int* pnValue) {
    if (strText.empty())
        return false;
    char* pEnd = nullptr;
    errno = 0;
    long nValue = std::strtol(strText.c_str(), &pEnd, 10);
    if (errno != 0 || *pEnd != '\0' || nValue < nMin || nValue > nMax)
        return false;
    *pnValue = static_cast<int>(nValue);
    return true;
}

bool ParseFault(const std::string& strName, SimFault* pFault) {
    static const struct {
        const char* szName;
        SimFault fault;
    } kFaults[] = {
        {"bad-checksum", SimFault::kBadChecksum},
        {"third-field", SimFault::kThirdField},
        {"missing-field", SimFault::kMissingField},
        {"password", SimFault::kPassword},
        {"no-logon", SimFault::kNoLogon},
        {"noise", SimFault::kNoise},
        {"eot-mid-block", SimFault::kEotMidBlock},
        {"hangup", SimFault::kHangup},
    };
    for (const auto& f : kFaults) {
        if (strName == f.szName) {
            *pFault = f.fault;
            return true;
        }
    }
    return false;
}

bool ParseExpect(const std::string& strName, SimExpect* pExpect) {
    static const struct {
        const char* szName;
        SimExpect expect;
    } kExpects[] = {
        {"ack", SimExpect::kAck},   {"nak", SimExpect::kNak},
        {"none", SimExpect::kNone}, {"no-logon", SimExpect::kNoLogon},
        {"rs", SimExpect::kRs},     {"disconnect", SimExpect::kDisconnect},
    };
    for (const auto& e : kExpects) {
        if (strName == e.szName) {
            *pExpect = e.expect;
            return true;
        }
    }
    return false;
}

// "ack", or answers one a page: "ack,ack,disconnect".
bool ParseExpects(const std::string& strValue, CSimOptions* pOptions) {
    pOptions->expects.clear();
    size_t nAt = 0;
    for (;;) {
        const size_t nComma = strValue.find(',', nAt);
        SimExpect expect;
        if (!ParseExpect(strValue.substr(nAt, nComma - nAt), &expect))
            return false;
        pOptions->expects.push_back(expect);
        if (nComma == std::string::npos)
            break;
        nAt = nComma + 1;
    }
    pOptions->expect = pOptions->expects.front();
    return true;
}

// Pager IDs and messages travel inside a block: control characters other
// than SUB escapes would break it.
bool IsFieldText(const std::string& strText) {
    for (char ch : strText) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 && c != 0x1A)
            return false;
    }
    return true;
}

// HOST:PORT as a network line value the terminal's device can take.
bool ParseTcpTarget(const std::string& strValue, std::string* pstrTarget) {
    CTcpEndpoint endpoint;
    std::string strError;
    if (!ParseTcpEndpoint("tcp:" + strValue, &endpoint, &strError))
        return false;
    *pstrTarget = "tcp:" + strValue;
    return true;
}

bool ParseFraming(const std::string& strText, CSimOptions* pOptions) {
    if (strText.size() != 3 || strText[0] < '5' || strText[0] > '8' ||
        (strText[2] != '1' && strText[2] != '2'))
        return false;
    const char chParity =
        static_cast<char>(std::toupper(static_cast<unsigned char>(strText[1])));
    if (std::string("NEOMS").find(chParity) == std::string::npos)
        return false;
    pOptions->nDataBits = strText[0] - '0';
    pOptions->chParity = chParity;
    pOptions->nStopBits = strText[2] - '0';
    return true;
}

} // namespace

std::string FramingText(const CSimOptions& options) {
    return std::to_string(options.nDataBits) + options.chParity +
           std::to_string(options.nStopBits);
}

std::string FramingRefusal(const CSimOptions& options, bool bVirtualLine) {
    const bool bPlain =
        options.nDataBits == 8 && options.chParity == 'N' && options.nStopBits == 1;
    if (bPlain || (!bVirtualLine && options.strTcp.empty()))
        return std::string();
    const std::string strLine =
        options.strTcp.empty() ? "a virtual line (pseudo-terminal) cannot carry parity"
                               : "a network line cannot carry parity";
    return strLine + " or other data and stop bits: --framing " + FramingText(options) +
           " needs a real serial adapter (--device /dev/ttyUSB0, say)";
}

const char* SimUsage() {
    return "Usage: veldrin-sim --device PATH | --pty LINK | --tcp HOST:PORT [PAGES] "
           "[OPTIONS]\n"
           "\n"
           "Calls a paging terminal on a serial line as a page-originating system\n"
           "does: sends CR until it gets \"ID=\", logs on with ESC PG1 CR, sends each\n"
           "page as a block with its 12-bit checksum, waits for ACK or NAK, and ends\n"
           "with EOT CR, which the terminal must answer with ESC EOT CR. Prints a "
           "line\n"
           "per event and a summary; exits 0 only when every page got the answer\n"
           "expected and the session's end was answered, 1 otherwise, 2 for bad\n"
           "arguments.\n"
           "\n"
           "Pages (at least one way):\n"
           "  --pager ID --message TEXT  one page; may be given several times\n"
           "  --file PATH                one page a line: pager, a TAB, the message\n"
           "  --count N                  N generated pages (load)\n"
           "\n"
           "Options:\n"
           "  --device PATH        the serial device (also a pseudo-terminal)\n"
           "  --tcp HOST:PORT      connect to a terminal on a network line (an IPv6\n"
           "                       address in brackets: [::1]:2775)\n"
           "  --pty LINK           make a virtual serial line instead and put a link\n"
           "                       to its terminal side at LINK: point the terminal\n"
           "                       there; the caller waits for it to open the line\n"
           "  --baud N             line speed (default 9600)\n"
           "  --framing FORMAT     data bits, parity (N, E, O, M, S) and stop bits,\n"
           "                       as 7E1 or 8N2 (default 8N1); on a real serial\n"
           "                       adapter only: a virtual line carries no parity\n"
           "  --retries N          resend a block that got NAK or no answer up to N\n"
           "                       times (default 0)\n"
           "  --answer-timeout MS  wait this long for ACK or NAK (default 10000)\n"
           "  --logon-tries N      CRs sent before giving up on ID= (default 5)\n"
           "  --pause MS           wait between pages (default 0)\n"
           "  --block-size N       characters of fields (with their CRs) in one "
           "block,\n"
           "                       10 to 250 (default 250); a longer page goes in\n"
           "                       several blocks, each ending in US where its field\n"
           "                       goes on and in ETB where the next field starts\n"
           "  --length N           pad the --count pages' messages to N characters\n"
           "  --password TEXT      log on with ESC PG1 TEXT CR\n"
           "  --fault KIND         inject a fault, see below\n"
           "  --expect ANSWER[,ANSWER...]  what the terminal should answer, one a "
           "page\n"
           "                       and the last for the rest: ack (default), nak,\n"
           "                       none, no-logon, rs (refused, go on with the next\n"
           "                       page) or disconnect (the terminal ends the\n"
           "                       session); for a terminal that misbehaves on "
           "purpose\n"
           "  --redial             when the terminal hangs up, wait for the line (up "
           "to\n"
           "                       30 s), log on again and go on (--pty and --tcp)\n"
           "  --quiet              print the summary only\n"
           "  --help               print this text and exit\n"
           "  --version            print the version and exit\n"
           "\n"
           "Faults (each changes what is expected, so a correct terminal still\n"
           "passes):\n"
           "  bad-checksum   the first block's checksum is wrong: NAK expected\n"
           "  third-field    the first block has a third field: no answer expected\n"
           "  missing-field  the first block has one field: no answer (it times out)\n"
           "  password       ESC PG1 is followed by a password: no logon expected\n"
           "  no-logon       the pages are sent without a logon: no answers expected\n"
           "  noise          noise bytes before every block: pages still accepted\n"
           "  eot-mid-block  EOT CR in the middle of the first block: no ACK or NAK\n"
           "  hangup         the line is closed in the middle of the first block\n";
}

bool ReadPageFile(const std::string& strPath, std::vector<CSimPage>* pPages,
                  std::string* pstrError) {
    std::ifstream in(strPath);
    if (!in) {
        *pstrError = "cannot read the page file " + strPath;
        return false;
    }
    std::string strLine;
    int nLine = 0;
    while (std::getline(in, strLine)) {
        ++nLine;
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        if (strLine.empty() || strLine[0] == '#')
            continue;
        size_t nTab = strLine.find('\t');
        if (nTab == std::string::npos || nTab == 0) {
            *pstrError = strPath + ":" + std::to_string(nLine) +
                         ": expected a pager, a TAB and a message";
            return false;
        }
        CSimPage page{strLine.substr(0, nTab), strLine.substr(nTab + 1)};
        if (!IsFieldText(page.strPager) || !IsFieldText(page.strMessage)) {
            *pstrError = strPath + ":" + std::to_string(nLine) +
                         ": control characters cannot travel in a page";
            return false;
        }
        pPages->push_back(page);
    }
    return true;
}

namespace {

// What the command line says of the pages, before they are made.
struct CPageArgs {
    std::vector<std::string> pagers, messages;
    int nCount = 0;
    std::string strFile;
};

bool IsValueOption(const std::string& strArg) {
    static const char* const kValueOptions[] = {
        "--device",      "--pty",      "--tcp",    "--pager",   "--message",
        "--file",        "--count",    "--baud",   "--retries", "--answer-timeout",
        "--logon-tries", "--pause",    "--fault",  "--expect",  "--block-size",
        "--length",      "--password", "--framing"};
    bool bKnown = false;
    for (const char* szOption : kValueOptions)
        bKnown = bKnown || strArg == szOption;
    return bKnown;
}

// One option that takes a value; false for a value it does not take.
bool ApplyValueOption(const std::string& strArg, const std::string& strValue,
                      CSimOptions* pOptions, CPageArgs* pPages) {
    CSimOptions& options = *pOptions;
    if (strArg == "--device")
        options.strDevice = strValue;
    else if (strArg == "--pty")
        options.strPtyLink = strValue;
    else if (strArg == "--tcp")
        return ParseTcpTarget(strValue, &options.strTcp);
    else if (strArg == "--pager")
        pPages->pagers.push_back(strValue);
    else if (strArg == "--message")
        pPages->messages.push_back(strValue);
    else if (strArg == "--file")
        pPages->strFile = strValue;
    else if (strArg == "--count")
        return ParseInt(strValue, 1, 10000000, &pPages->nCount);
    else if (strArg == "--baud")
        return ParseInt(strValue, 50, 4000000, &options.nBaud);
    else if (strArg == "--framing")
        return ParseFraming(strValue, &options);
    else if (strArg == "--retries")
        return ParseInt(strValue, 0, 100, &options.nRetries);
    else if (strArg == "--answer-timeout")
        return ParseInt(strValue, 1, 600000, &options.nAnswerTimeoutMs);
    else if (strArg == "--logon-tries")
        return ParseInt(strValue, 1, 1000, &options.nLogonTries);
    else if (strArg == "--pause")
        return ParseInt(strValue, 0, 600000, &options.nPauseMs);
    else if (strArg == "--block-size")
        return ParseInt(strValue, 10, 250, &options.nBlockSize);
    else if (strArg == "--length")
        return ParseInt(strValue, 1, 100000, &options.nLength);
    else if (strArg == "--password")
        return IsFieldText(strValue) && !strValue.empty() &&
               (options.strPassword = strValue, true);
    else
        return strArg == "--fault" ? ParseFault(strValue, &options.fault)
                                   : ParseExpects(strValue, &options);
    return true;
}

// The pages the command line gives, in order: --pager and --message pairs,
// the file's, then --count load-test pages.
bool MakePages(const CPageArgs& args, CSimOptions* pOptions, std::string* pstrError) {
    if (args.pagers.size() != args.messages.size()) {
        *pstrError = "every --pager needs its --message";
        return false;
    }
    for (size_t i = 0; i < args.pagers.size(); ++i) {
        if (args.pagers[i].empty() || !IsFieldText(args.pagers[i]) ||
            !IsFieldText(args.messages[i])) {
            *pstrError = "a pager ID must not be empty, and neither field may hold "
                         "control characters";
            return false;
        }
        pOptions->pages.push_back({args.pagers[i], args.messages[i]});
    }
    if (!args.strFile.empty() &&
        !ReadPageFile(args.strFile, &pOptions->pages, pstrError))
        return false;
    for (int i = 0; i < args.nCount; ++i) {
        std::string strMessage = "LOAD TEST PAGE " + std::to_string(i + 1);
        for (size_t n = strMessage.size(); n < static_cast<size_t>(pOptions->nLength);
             ++n)
            strMessage += static_cast<char>('A' + n % 26);
        pOptions->pages.push_back({std::to_string(1000 + i % 9000), strMessage});
    }
    if (pOptions->pages.empty()) {
        *pstrError = "no pages: give --pager and --message, --file or --count";
        return false;
    }
    return true;
}

} // namespace

bool ParseSimOptions(const std::vector<std::string>& args, CSimOptions* pOptions,
                     std::string* pstrError) {
    CSimOptions options;
    CPageArgs pages;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        if (strArg == "--help" || strArg == "-h") {
            options.bHelp = true;
            *pOptions = options;
            return true;
        }
        if (strArg == "--version") {
            options.bVersion = true;
            *pOptions = options;
            return true;
        }
        if (strArg == "--quiet") {
            options.bQuiet = true;
            continue;
        }
        if (strArg == "--redial") {
            options.bRedial = true;
            continue;
        }
        if (!IsValueOption(strArg)) {
            *pstrError = strArg.compare(0, 2, "--") == 0
                             ? "unknown option " + strArg
                             : "unexpected argument '" + strArg + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            *pstrError = strArg + " needs a value";
            return false;
        }
        const std::string& strValue = args[++i];
        if (!ApplyValueOption(strArg, strValue, &options, &pages)) {
            *pstrError = "bad value '" + strValue + "' for " + strArg;
            return false;
        }
    }
    if (options.strDevice.empty() + options.strPtyLink.empty() +
            options.strTcp.empty() !=
        2) {
        *pstrError = "give one of --device, --pty and --tcp";
        return false;
    }
    if (!MakePages(pages, &options, pstrError))
        return false;
    *pOptions = options;
    return true;
}

bool PrintSimOutcome(bool bParsed, const CSimOptions& options,
                     const std::string& strError, std::ostream& out, std::ostream& err,
                     int* pnExitStatus) {
    if (!bParsed) {
        err << "veldrin-sim: " << strError << "\n\n" << SimUsage();
        *pnExitStatus = 2;
        return true;
    }
    if (options.bHelp) {
        out << SimUsage();
        *pnExitStatus = 0;
        return true;
    }
    if (options.bVersion) {
        out << "veldrin-sim " << VOLNEX_VERSION << "\n";
        *pnExitStatus = 0;
        return true;
    }
    return false;
}
