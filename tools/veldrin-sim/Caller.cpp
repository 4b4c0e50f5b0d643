#include "tools/veldrin-sim/Caller.h"

#include "engine/Checksum.h"
#include "engine/ControlNames.h"
#include "engine/Protocol.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double dFraction) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    size_t nIndex =
        static_cast<size_t>(dFraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(nIndex, values.size() - 1)];
}

// A block's "no answer" is certain only after the terminal's own block
// time-out (81 ticks of 100 ms) for a block that never completes.
constexpr int kSilenceMs = 1000;
constexpr int kBlockTimeoutMs = 9000;
constexpr int kPromptWaitMs = 2500; // the terminal prompts on its own after 2.1 s
constexpr int kLogonAckWaitMs = 3000;
constexpr int kEndAnswerWaitMs = 2000; // for ESC EOT CR after our EOT CR
constexpr int kRedialWaitMs = 30000;   // for a line that was hung up

const std::string kNoise = "#%&*@!?~\x80\xA5\xFE";

} // namespace

CCaller::CCaller(ISerialDevice& device, const CSimOptions& options, std::ostream& out)
    : m_device(device), m_options(options), m_out(out) {}

void CCaller::LogCodes(const std::string& strBytes) {
    size_t nAt = 0;
    while (nAt < strBytes.size()) {
        const size_t nCr = strBytes.find(kCr, nAt);
        const std::string strLine = strBytes.substr(nAt, nCr - nAt);
        if (strLine.size() >= 4 &&
            std::isdigit(static_cast<unsigned char>(strLine[0])) &&
            std::isdigit(static_cast<unsigned char>(strLine[1])) &&
            std::isdigit(static_cast<unsigned char>(strLine[2])) && strLine[3] == ' ')
            Log("terminal says " + strLine.substr(0, 3) + ": " + strLine.substr(4));
        if (nCr == std::string::npos)
            break;
        nAt = nCr + 1;
    }
}

void CCaller::Log(const std::string& strText) {
    if (m_options.bQuiet)
        return;
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    int nMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch())
            .count() %
        1000);
    std::tm local{};
    localtime_r(&t, &local);
    char szStamp[32];
    std::snprintf(szStamp, sizeof szStamp, "%02d:%02d:%02d.%03d ", local.tm_hour,
                  local.tm_min, local.tm_sec, nMs);
    m_out << szStamp << strText << "\n" << std::flush;
}

void CCaller::Write(const std::string& strBytes) {
    size_t nDone = 0;
    while (nDone < strBytes.size() && !m_bLineClosed) {
        ssize_t r = m_device.Write(strBytes.data() + nDone, strBytes.size() - nDone);
        if (r > 0) {
            nDone += static_cast<size_t>(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (m_device.WaitWritable(5000) != 0) {
                Log("line does not take output");
                m_bLineClosed = true;
            }
        } else {
            Log("line closed while sending");
            m_bLineClosed = true;
        }
    }
    Log("sent " + WithControlNames(strBytes));
}

CCaller::Heard CCaller::Await(int nTimeoutMs, bool bLogon) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    struct CPattern {
        const char* szBytes;
        Heard heard;
    };
    // While logging on, ACK CR is only the start of the logon answer; while
    // pages go, there is no logon answer to look for.
    static const CPattern kLogonPatterns[] = {
        {kLogonAccepted, Heard::kLogonAck},
        {kLogonPrompt, Heard::kPrompt},
        {kEndOfSession, Heard::kEnd},
    };
    static const CPattern kPagePatterns[] = {
        {kPageAccepted, Heard::kAck}, {kPageRejected, Heard::kNak},
        {kPageRefused, Heard::kRs},   {kLogonPrompt, Heard::kPrompt},
        {kEndOfSession, Heard::kEnd},
    };
    for (;;) {
        size_t nBest = std::string::npos;
        const CPattern* pBest = nullptr;
        const CPattern* pBegin =
            bLogon ? std::begin(kLogonPatterns) : std::begin(kPagePatterns);
        const CPattern* pEnd =
            bLogon ? std::end(kLogonPatterns) : std::end(kPagePatterns);
        for (const CPattern* p = pBegin; p != pEnd; ++p) {
            size_t nAt = m_strInput.find(p->szBytes);
            if (nAt != std::string::npos && (pBest == nullptr || nAt < nBest)) {
                nBest = nAt;
                pBest = p;
            }
        }
        if (pBest != nullptr) {
            LogCodes(m_strInput.substr(0, nBest));
            m_strInput.erase(0, nBest + std::string(pBest->szBytes).size());
            if (pBest->heard == Heard::kPrompt)
                m_bPrompted = true;
            return pBest->heard;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          Clock::now());
        if (left.count() <= 0 || m_bLineClosed)
            return Heard::kNothing;
        pollfd pfd{m_device.PollFd(), POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        unsigned char buffer[256];
        ssize_t r = m_device.Read(buffer, sizeof buffer);
        if (r < 0 && errno == EIO && !m_options.strPtyLink.empty()) {
            if (m_bLoggedOn) {
                // The terminal closed its side in the middle of a session.
                Log("line hung up by the terminal");
                m_bHungUp = true;
                m_bLineClosed = true;
                continue;
            }
            // A virtual line with nobody on the terminal side (yet, or
            // between two set-ups of the terminal's port): wait for it.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        unsigned nLevels = 0;
        if (r > 0) {
            std::string strBytes(reinterpret_cast<char*>(buffer),
                                 static_cast<size_t>(r));
            Log("received " + WithControlNames(strBytes));
            m_strInput += strBytes;
        } else if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR) ||
                   (!m_options.strTcp.empty() && ReadLevels(&nLevels) &&
                    nLevels == 0)) {
            // A network line that ended reads as nothing: its levels say it.
            Log("line closed by the terminal");
            m_bLineClosed = true;
            m_bHungUp = m_bLoggedOn;
        }
    }
}

bool CCaller::Logon() {
    for (int nTry = 0; nTry < m_options.nLogonTries && !m_bPrompted; ++nTry) {
        Write(std::string(1, kCr));
        Heard heard = Await(kPromptWaitMs, true);
        if (heard == Heard::kPrompt || m_bLineClosed)
            break;
    }
    if (!m_bPrompted) {
        Log("no logon prompt from the terminal");
        return false;
    }
    m_strInput.clear();
    m_bPrompted = false;
    std::string strRequest = kLogonRequest;
    if (m_options.fault == SimFault::kPassword)
        strRequest.insert(strRequest.size() - 1, "1234");
    else if (!m_options.strPassword.empty())
        strRequest.insert(strRequest.size() - 1, m_options.strPassword);
    Write(strRequest);
    for (;;) {
        Heard heard = Await(kLogonAckWaitMs, true);
        if (heard == Heard::kLogonAck) {
            Log("logged on");
            m_bLoggedOn = true;
            return true;
        }
        if (heard == Heard::kNothing || heard == Heard::kEnd) {
            Log("logon not accepted");
            return false;
        }
        // A prompt repeated meanwhile: keep waiting for the answer.
    }
}

CCaller::Answer CCaller::ExpectedAnswer(size_t nIndex) const {
    if (m_options.fault == SimFault::kNoLogon)
        return Answer::kNone;
    if (nIndex == 0) {
        switch (m_options.fault) {
        case SimFault::kBadChecksum: return Answer::kNak;
        case SimFault::kThirdField:
        case SimFault::kMissingField:
        case SimFault::kEotMidBlock:
        case SimFault::kHangup: return Answer::kNone;
        default: break;
        }
    }
    const SimExpect expect =
        m_options.expects.empty()
            ? m_options.expect
            : m_options.expects[std::min(nIndex, m_options.expects.size() - 1)];
    switch (expect) {
    case SimExpect::kNak: return Answer::kNak;
    case SimExpect::kRs: return Answer::kRs;
    case SimExpect::kDisconnect: return Answer::kEnd;
    case SimExpect::kNone:
    case SimExpect::kNoLogon: return Answer::kNone;
    default: return Answer::kAck;
    }
}

std::string CCaller::BlockFor(size_t nIndex, const CSimPage& page) const {
    std::string strBlock = MakePageBlock(page.strPager, page.strMessage);
    if (nIndex != 0)
        return strBlock;
    switch (m_options.fault) {
    case SimFault::kBadChecksum:
        strBlock[strBlock.size() - 2] ^= 0x01; // last checksum character
        break;
    case SimFault::kThirdField: {
        strBlock = MakeBlock(
            page.strPager + kCr + page.strMessage + kCr + "EXTRA" + kCr, kEtx);
        break;
    }
    case SimFault::kMissingField: {
        strBlock = MakeBlock(page.strPager + kCr, kEtx);
        break;
    }
    case SimFault::kEotMidBlock:
        strBlock = strBlock.substr(0, strBlock.size() / 2) + kEot + kCr;
        break;
    default: break;
    }
    return strBlock;
}

const char* CCaller::Describe(Answer answer) {
    switch (answer) {
    case Answer::kAck: return "ACK";
    case Answer::kNak: return "NAK";
    case Answer::kRs: return "RS (refused)";
    case Answer::kEnd: return "end of session";
    default: return "no answer";
    }
}

void CCaller::SendPage(size_t nIndex, const CSimPage& page) {
    const Answer expected = ExpectedAnswer(nIndex);
    const std::string strLabel =
        "page " + std::to_string(nIndex + 1) + " (" + page.strPager + ")";
    // A fault is made in the page's only block; a good page goes in as many
    // blocks as its length takes.
    const std::vector<std::string> blocks =
        nIndex == 0 && m_options.fault != SimFault::kNone &&
                m_options.fault != SimFault::kNoise
            ? std::vector<std::string>{BlockFor(nIndex, page)}
            : MakePageBlocks(page.strPager, page.strMessage, m_options.nBlockSize);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const std::string strBlockLabel =
            blocks.size() == 1 ? strLabel
                               : strLabel + " block " + std::to_string(i + 1) + " of " +
                                     std::to_string(blocks.size());
        // A page whose block was not taken goes no further.
        // A block before the last may be taken (ACK) even where the page is
        // to be refused: the refusal may come at a later block.
        const bool bMore = i + 1 < blocks.size();
        if (SendBlock(nIndex, blocks[i], strBlockLabel, expected, bMore) !=
                Answer::kAck ||
            m_bLineClosed)
            return;
    }
}

CCaller::Answer CCaller::SendBlock(size_t nIndex, const std::string& strBlock,
                                   const std::string& strLabel, Answer expected,
                                   bool bMore) {
    int nAttempts = 0;
    for (;;) {
        if (m_options.fault == SimFault::kNoise)
            Write(kNoise);
        m_strInput.clear();
        if (m_options.fault == SimFault::kHangup && nIndex == 0) {
            Write(strBlock.substr(0, strBlock.size() / 2));
            Log("closing the line in the middle of the block");
            m_device.Close();
            m_bLineClosed = true;
        } else {
            Write(strBlock);
        }
        ++m_stats.nSent;
        if (m_options.fault == SimFault::kEotMidBlock && nIndex == 0)
            m_bLoggedOn = false; // that ended the session
        const auto start = Clock::now();
        int nWait = m_options.nAnswerTimeoutMs;
        if (expected == Answer::kNone)
            nWait = (m_options.fault == SimFault::kMissingField && nIndex == 0)
                        ? kBlockTimeoutMs
                        : std::min(kSilenceMs, nWait);
        Heard heard = Heard::kNothing;
        // A prompt or end of session is no answer to a block; keep listening.
        do {
            heard = m_bLineClosed ? Heard::kNothing : Await(nWait, false);
        } while (heard == Heard::kPrompt ||
                 (heard == Heard::kEnd && expected != Answer::kEnd));
        const double dMs =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        Answer got = heard == Heard::kAck   ? Answer::kAck
                     : heard == Heard::kNak ? Answer::kNak
                     : heard == Heard::kRs  ? Answer::kRs
                     : heard == Heard::kEnd ? Answer::kEnd
                                            : Answer::kNone;
        if (got == Answer::kEnd)
            m_bLoggedOn = false; // the terminal ended the session
        if (got == Answer::kAck) {
            ++m_stats.nAccepted;
            m_stats.latenciesMs.push_back(dMs);
        } else if (got == Answer::kNak || got == Answer::kRs || got == Answer::kEnd) {
            ++m_stats.nRejected;
            m_stats.latenciesMs.push_back(dMs);
        } else {
            ++m_stats.nUnanswered;
        }
        char szLatency[48] = "";
        if (got != Answer::kNone)
            std::snprintf(szLatency, sizeof szLatency, " after %.2f ms", dMs);
        const bool bRefusalLater =
            bMore && got == Answer::kAck &&
            (expected == Answer::kRs || expected == Answer::kEnd);
        Log(strLabel + ": " + Describe(got) + szLatency + ", expected " +
            (bRefusalLater ? "ACK or " : "") + Describe(expected));
        // A terminal that hung up is called again, and the block sent again.
        if (m_bLineClosed && m_options.bRedial && m_bHungUp && Redial()) {
            Log(strLabel + ": sending again after the hang-up");
            continue;
        }
        // A refused page (RS) is not sent again: the caller goes on.
        if (got != Answer::kAck && got != Answer::kRs && got != Answer::kEnd &&
            expected == Answer::kAck && !m_bLineClosed) {
            // A sender resends after a NAK or a silence, up to its limit.
            if (nAttempts < m_options.nRetries) {
                ++nAttempts;
                Log(strLabel + ": sending again (" + std::to_string(nAttempts) +
                    " of " + std::to_string(m_options.nRetries) + ")");
                continue;
            }
            if (m_options.nRetries > 0)
                Log(strLabel + ": giving up after " +
                    std::to_string(m_options.nRetries) +
                    (m_options.nRetries == 1 ? " retry" : " retries"));
        }
        if (got != expected && !bRefusalLater)
            ++m_stats.nUnexpected;
        return got;
    }
}

bool CCaller::ReadLevels(unsigned* pnLevels) {
    m_device.Service();
    return m_device.GetModemStatus(pnLevels) == 0;
}

bool CCaller::Redial() {
    Log("waiting for the line to come back");
    const auto deadline = Clock::now() + std::chrono::milliseconds(kRedialWaitMs);
    bool bBack = false;
    while (!bBack && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!m_options.strTcp.empty()) {
            unsigned nLevels = 0;
            bBack = ReadLevels(&nLevels) && nLevels != 0;
        } else {
            // The terminal's side is open again when the line no longer
            // reads as hung up.
            pollfd pfd{m_device.PollFd(), POLLIN, 0};
            bBack = poll(&pfd, 1, 0) >= 0 && !(pfd.revents & POLLHUP);
        }
    }
    if (!bBack) {
        Log("the line did not come back");
        return false;
    }
    m_bLineClosed = false;
    m_bHungUp = false;
    m_bLoggedOn = false;
    m_strInput.clear();
    return Logon();
}

int CCaller::Run() {
    if (m_options.fault != SimFault::kNoLogon) {
        bool bLoggedOn = Logon();
        m_bLogonAsExpected = bLoggedOn == (m_options.fault != SimFault::kPassword &&
                                           m_options.expect != SimExpect::kNoLogon);
        if (!bLoggedOn) {
            Summary();
            return m_bLogonAsExpected ? 0 : 1;
        }
    }
    const auto start = Clock::now();
    for (size_t i = 0; i < m_options.pages.size() && !m_bLineClosed; ++i) {
        // The terminal asked for a new logon (a CR between blocks, or the
        // session ended): log on again before the next block.
        if (i > 0 && m_options.fault != SimFault::kNoLogon &&
            (m_bPrompted || !m_bLoggedOn)) {
            m_bLoggedOn = false;
            if (!Logon()) {
                m_bLogonAsExpected = false;
                break;
            }
        }
        SendPage(i, m_options.pages[i]);
        if (m_options.nPauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_options.nPauseMs));
    }
    m_dPagesSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!m_bLineClosed)
        EndSession();
    Summary();
    bool bAllSent = m_stats.nSent >= static_cast<int>(m_options.pages.size()) ||
                    m_options.fault == SimFault::kHangup;
    return (AllAsExpected() && bAllSent) ? 0 : 1;
}

void CCaller::EndSession() {
    Write(std::string(1, kEot) + kCr);
    if (!m_bLoggedOn) {
        Await(200, false); // no session to end; show what comes anyway
        return;
    }
    Heard heard;
    do {
        heard = Await(kEndAnswerWaitMs, false);
    } while (heard != Heard::kEnd && heard != Heard::kNothing);
    m_bEndAnswered = heard == Heard::kEnd;
    Log(m_bEndAnswered ? "session ended by the terminal's ESC EOT CR"
                       : "no ESC EOT CR after EOT CR: callers that wait for it count "
                         "the pages as failed and send them again");
}

bool CCaller::AllAsExpected() const {
    return m_stats.nUnexpected == 0 && m_bLogonAsExpected && m_bEndAnswered;
}

void CCaller::Summary() {
    char szText[320];
    const double dRate = m_dPagesSeconds > 0 ? m_stats.nSent / m_dPagesSeconds : 0.0;
    std::snprintf(
        szText, sizeof szText,
        "summary: %d blocks sent, %d accepted, %d rejected, %d unanswered in "
        "%.2f s (%.0f blocks/s); answer latency median %.3f ms, 99th percentile "
        "%.3f ms; %s",
        m_stats.nSent, m_stats.nAccepted, m_stats.nRejected, m_stats.nUnanswered,
        m_dPagesSeconds, dRate, Percentile(m_stats.latenciesMs, 0.5),
        Percentile(m_stats.latenciesMs, 0.99),
        AllAsExpected() ? "every answer as expected" : "UNEXPECTED ANSWERS");
    m_out << szText << "\n" << std::flush;
}
