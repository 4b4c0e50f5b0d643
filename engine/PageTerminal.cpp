#include "engine/PageTerminal.h"

#include "engine/Checksum.h"
#include "engine/Protocol.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kAnswerPurge = kPurgeOutput | kPurgeInput; // 0x0C

constexpr const char* kInvalidState =
    "Error : VOLNEX in Invalid State. Please Disconnect and reconnect";

// How the port describes a network line's peer: "..., peer 127.0.0.1:53122".
constexpr const char* kPeerMark = ", peer ";

bool IsBlockEnd(unsigned char ch) {
    return ch == kEtx || ch == kEtb || ch == kUs;
}

} // namespace

CPageTerminal::CPageTerminal(ITerminalOutput& output) : m_output(output) {}

void CPageTerminal::LineSetUp(bool bOpened) {
    m_bSetUp = true;
    if (!bOpened)
        return;
    AbandonMessage(); // the line is set up anew: the session it was in is over
    m_held.clear();
    m_bEndingCall = false;
    m_output.Write(kEndOfSession);
    NotifyTrace(kEndOfSession);
}

void CPageTerminal::LoggedOn(bool bOpened, bool bDsr, bool bDcd) {
    if (!bOpened) {
        if (m_nState == ST_LOGGED_OFF)
            m_nState = ST_DISCONNECTED;
        return;
    }
    if (bDsr && bDcd && m_nState == ST_LOGGED_OFF)
        m_nState = ST_WAITING_FOR_CR;
    else if (m_nState == ST_LOGGED_OFF && m_output.IsNetworkLine())
        m_nState = ST_DISCONNECTED; // no peer yet: the next one is a call
}

void CPageTerminal::Logoff() {
    LogoffWith("");
}

void CPageTerminal::LogoffWith(const std::string& strSequence) {
    if (!m_bSetUp)
        return;
    m_bEndingCall = false; // the operator's logoff holds until Logon
    if (m_nState != ST_SENDING_LOGON_PROMPT && m_nState != ST_WAITING_FOR_PAGE &&
        m_nState != ST_RECEIVING_PAGE)
        return;
    AbandonMessage();
    const std::string strAnswer = strSequence + kEndOfSession;
    m_output.Purge(kAnswerPurge);
    m_output.Write(strAnswer);
    m_nState = ST_LOGGED_OFF;
    NotifyTrace(strAnswer.c_str());
}

void CPageTerminal::HandleChar(unsigned char ch) {
    switch (m_nState) {
    case ST_DISCONNECTED: EmptyLine(); break;
    case ST_WAITING_FOR_CR:
        if (ch == kCr) {
            SendLogonPrompt();
            m_nTicks = 0;
        }
        break;
    case ST_SENDING_LOGON_PROMPT: {
        AppendLine(ch);
        const LogonMatch match = ch == kCr ? MatchLogon() : LogonMatch::kNone;
        if (match == LogonMatch::kRefused && m_bSequences && !m_strPassword.empty() &&
            m_strPassword != "*") {
            EndSessionWith(Coded(kSeqBadPassword) + kEndOfSession);
            m_nLogonRetries = 0; // the next caller gets every prompt
            m_nTicks = 0;
            break;
        }
        if (match == LogonMatch::kAccepted) {
            const CAnswerChange change = AskHook(AnswerKind::kLogon);
            NotifyNotes(change.notes);
            if (change.kind == CAnswerChange::Kind::kSilent)
                break; // as if it had not been recognised
            EmptyLine();
            Answer((Coded(kSeqRevision) + kLogonAccepted).c_str());
            m_nSessionPages = 0;
            m_nNakRun = 0;
            m_bSkippingTail = false; // nothing of an earlier session's block
            m_nState = ST_WAITING_FOR_PAGE;
            NotifyState();
            m_nLogonRetries = 0;
            m_nTicks = 0;
        }
        break;
    }
    case ST_WAITING_FOR_PAGE:
        if (m_bSkippingTail) {
            SkipTailChar(ch);
            m_nQuietTicks = 0;
            break;
        }
        AppendLine(ch);
        if (ch == kStx) {
            StartBlock();
        } else if (LineHolds(kCallerEnd)) {
            EndSessionForCaller();
        } else if (ch == kCr && !LineHolds(kBye)) {
            AbandonMessage();
            SendLogonPrompt(); // the caller must log on again
        }
        break;
    case ST_RECEIVING_PAGE:
        if (IsUnseenNewCall(ch))
            AnswerUnseenNewCall();
        else
            ReceiveBlockChar(ch);
        m_nQuietTicks = 0;
        break;
    default: // logged off, and the states never entered
        break;
    }
}

void CPageTerminal::Tick() {
    if (!m_held.empty())
        ReleaseHeldAnswers();
    if (m_await.bActive && --m_await.nTicks <= 0)
        ResolveAwait(false);
    switch (m_nState) {
    case ST_WAITING_FOR_CR:
        if (++m_nTicks > kPromptTicks) {
            SendLogonPrompt();
            m_nTicks = 0;
        }
        break;
    case ST_SENDING_LOGON_PROMPT:
        if (++m_nTicks > kTimeoutTicks) {
            if (m_nLogonRetries < kLogonRepeats) {
                ++m_nLogonRetries;
                SendLogonPrompt();
            } else {
                m_nLogonRetries = 0;
                LogoffWith(Coded(kSeqTimeOut));
                NotifyState();
                // On a network line each connection is a call: it is hung
                // up, and the next peer is answered as a new call.
                if (m_output.IsNetworkLine()) {
                    m_bEndingCall = true;
                    m_output.HangUp();
                }
            }
            m_nTicks = 0;
        }
        break;
    case ST_RECEIVING_PAGE:
        ++m_nQuietTicks;
        if (++m_nTicks > kTimeoutTicks)
            TimeOutBlock();
        break;
    case ST_WAITING_FOR_PAGE:
        // A sender writes a block in one go: a pause means nothing more of
        // an over-long one is coming (a caller that hung up unseen calls
        // again with a CR, which must be heard).
        if (m_bSkippingTail && ++m_nQuietTicks >= kQuietTicks)
            m_bSkippingTail = false;
        break;
    case ST_DISCONNECTED:
    case ST_WAIT_FOR_LOGON_REQUEST:
    case ST_SENT_LOGON_ACK:
    case ST_SENDING_PAGE_ACK:
    case ST_LOGGED_OFF: break;
    default:
        m_output.OnFault(kInvalidState);
        m_nState = ST_DISCONNECTED;
        NotifyState();
        break;
    }
}

void CPageTerminal::OnLevels(bool bDsr, bool bDcd) {
    if (m_nState == ST_DISCONNECTED && bDsr && bDcd) {
        m_nState = ST_WAITING_FOR_CR;
        NotifyState();
    }
    if ((!bDsr || !bDcd) && (m_nState != ST_LOGGED_OFF || m_bEndingCall)) {
        m_bEndingCall = false;
        AbandonMessage(); // the caller hung up or the line went
        m_nState = ST_DISCONNECTED;
        NotifyState();
    }
}

CPageTerminal::LogonMatch CPageTerminal::MatchLogon() {
    // The CR just stored ends the line; a password stands between "PG1" and
    // it. A line store that is full stored no CR: nothing is recognised.
    const std::string strLine(m_szLine); // a stored NUL hides the rest
    if (strLine.empty() || strLine.back() != kCr)
        return LogonMatch::kNone;
    const size_t nStart = strLine.rfind(kLogonStart);
    // Without a password set, ESC PG1 CR counts wherever it stands; with
    // one, the last ESC PG1 on the line decides.
    const bool bPlain =
        m_strPassword.empty()
            ? strLine.find(kLogonRequest) != std::string::npos
            : nStart != std::string::npos &&
                  strLine.compare(nStart, std::string::npos, kLogonRequest) == 0;
    std::string strPassword;
    if (!bPlain) {
        if (nStart == std::string::npos)
            return LogonMatch::kNone;
        strPassword = strLine.substr(nStart + std::strlen(kLogonStart));
        strPassword.pop_back(); // the CR
        if (strPassword.find(kCr) != std::string::npos)
            return LogonMatch::kNone; // a line with ESC PG1 and no logon in it
    }
    const std::string strKey = "Password" + std::to_string(m_output.GetPortNumber());
    std::string strWhy;
    if (m_strPassword.empty()) {
        if (bPlain)
            return LogonMatch::kAccepted;
        strWhy = "THIS PORT TAKES NONE (" + strKey + " IS EMPTY)";
    } else if (m_strPassword == "*") {
        return LogonMatch::kAccepted;
    } else if (bPlain) {
        strWhy = "NO PASSWORD; THIS PORT TAKES ONE (" + strKey + ")";
    } else if (strPassword == m_strPassword) {
        return LogonMatch::kAccepted;
    } else {
        // The password tried is never shown; on a network line the
        // operator learns who tried it.
        strWhy = "NOT THE PASSWORD " + strKey + " NAMES";
        if (m_bExplain) {
            const std::string strPeer = PeerText();
            if (!strPeer.empty())
                strWhy += " (FROM " + strPeer + ")";
        }
    }
    if (m_bExplain)
        Note(std::string(bPlain ? "   LOGON NOT ACCEPTED: "
                                : "   LOGON WITH A PASSWORD "
                                  "NOT ACCEPTED: ") +
             strWhy);
    return LogonMatch::kRefused;
}

std::string CPageTerminal::PeerText() const {
    const std::string strLine = m_output.DescribeLine();
    const size_t nAt = strLine.rfind(kPeerMark);
    if (nAt == std::string::npos)
        return {};
    // In capitals, as the port's own notes of the connection show it.
    std::string strPeer = strLine.substr(nAt + std::strlen(kPeerMark));
    for (char& c : strPeer)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return strPeer;
}

void CPageTerminal::SendLogonPrompt() {
    EmptyLine();
    Answer(kLogonPrompt);
    m_nState = ST_SENDING_LOGON_PROMPT;
    NotifyState();
}

void CPageTerminal::StartBlock() {
    // A caller that starts a page before the last one was answered has
    // given up on it: refused, and no answer goes out that it would take
    // for the new block's.
    WithdrawAwait();
    m_nState = ST_RECEIVING_PAGE;
    NotifyState();
    ResetBlock();
    m_szBlock[0] = kStx;
    m_nBlockLen = 1;
    m_nQuietTicks = 0;
    EmptyLine();
}

bool CPageTerminal::IsUnseenNewCall(unsigned char ch) const {
    // A sender writes a block in one go; one that goes quiet for a second
    // and then sends a CR before any end character (which alone lets a CR
    // end the block) has gone and is calling again. Where the line has
    // modem lines or is a network connection, a hang-up shows itself.
    if (ch != kCr || m_nQuietTicks < kQuietTicks || !m_output.HasNoModemLines() ||
        m_output.IsNetworkLine())
        return false;
    const char kEnds[] = {kEtx, kEtb, kUs};
    for (char chEnd : kEnds) {
        if (std::memchr(m_szBlock, chEnd, static_cast<size_t>(m_nBlockLen)) != nullptr)
            return false;
    }
    return true;
}

void CPageTerminal::AnswerUnseenNewCall() {
    if (m_bExplain)
        Note("   A CR AFTER " + std::to_string(m_nQuietTicks / 10) + "." +
             std::to_string(m_nQuietTicks % 10) +
             " S OF SILENCE IN A BLOCK: THE CALLER HUNG UP UNSEEN "
             "(A VIRTUAL LINE HAS NO DCD) AND CALLS AGAIN");
    // As a hang-up seen on the lines would: the half block goes, an
    // unfinished message is listed, and the CR starts the new call.
    AbandonMessage();
    ResetBuffers();
    m_held.clear(); // answers held for the caller who went
    m_nState = ST_DISCONNECTED;
    NotifyState();
    m_nState = ST_WAITING_FOR_CR;
    NotifyState();
    SendLogonPrompt();
    m_nTicks = 0;
}

void CPageTerminal::ReceiveBlockChar(unsigned char ch) {
    bool bStored = false;
    if (ch != kNul) {
        // A block that has not ended within kBlockLimit characters never
        // can be judged: it is refused now rather than left to the
        // caller's time-out.
        if (m_nBlockLen >= kBlockLimit) {
            RefuseOverlongBlock(ch);
            return;
        }
        m_szBlock[m_nBlockLen++] = static_cast<char>(ch);
        bStored = true;
        if (ch == kCr)
            ++m_nCrCount;
    }
    // A page in one block is judged at its ETX once it has three CRs; the
    // last block of a message, which may hold any number of fields, at the
    // CR after its checksum.
    if ((BlockHoldsEtx() && m_nCrCount >= 3 && !m_bMessageOpen) ||
        (bStored && ch == kCr && EndsBlockOfMessage())) {
        EvaluateBlock();
        m_nTicks = 0;
        return;
    }
    // The block store has no NUL in it: a text search sees all of it.
    if (std::strstr(m_szBlock, kCallerEnd) != nullptr)
        EndSessionForCaller(); // the block is dropped without a page result
}

void CPageTerminal::RefuseOverlongBlock(unsigned char ch) {
    // The caller's EOT CR ends the session, in a block of any length.
    if (ch == kCr && m_szBlock[m_nBlockLen - 1] == kEot) {
        EndSessionForCaller();
        return;
    }
    ++m_nBlockDropped;
    // A message in progress can no longer get its last block: listed as
    // unfinished on its own, and the block by itself as too long.
    AbandonMessage();
    m_strText.assign(m_szBlock, static_cast<size_t>(m_nBlockLen));
    m_nPageBlocks = 1;
    m_verdict = Verdict::kTooLong;
    AnswerBlock((Coded(kSeqTooLong) + kPageRefused).c_str(), CAnswerChange(), false);
    if (m_bExplain)
        Note("   BLOCK REFUSED: LONGER THAN " + std::to_string(kBlockLimit) +
             " CHARACTERS; SPLIT LONG MESSAGES WITH ETB OR US");
    // The rest of the block is skipped up to its checksum's CR: an end
    // character already stored counts towards it.
    int nAfterEnd = -1;
    for (int i = 0; i < m_nBlockLen; ++i) {
        if (IsBlockEnd(static_cast<unsigned char>(m_szBlock[i])))
            nAfterEnd = 0;
        else if (nAfterEnd >= 0)
            ++nAfterEnd;
    }
    const unsigned char chLast = static_cast<unsigned char>(m_szBlock[m_nBlockLen - 1]);
    ResetBuffers();
    m_nState = ST_WAITING_FOR_PAGE;
    NotifyState();
    m_nTicks = 0;
    m_nQuietTicks = 0;
    m_bSkippingTail = true;
    m_nTailAfterEnd = nAfterEnd;
    m_chTailLast = chLast;
    SkipTailChar(ch);
}

void CPageTerminal::SkipTailChar(unsigned char ch) {
    if (ch == kNul)
        return; // never part of a block
    const unsigned char chBefore = m_chTailLast;
    m_chTailLast = ch;
    if (ch == kStx) {
        m_bSkippingTail = false;
        StartBlock();
        return;
    }
    if (ch == kCr && chBefore == kEot) {
        m_bSkippingTail = false;
        EndSessionForCaller();
        return;
    }
    if (IsBlockEnd(ch))
        m_nTailAfterEnd = 0;
    else if (m_nTailAfterEnd >= 0)
        ++m_nTailAfterEnd;
    // The end character, three checksum characters and the CR: it is over.
    if (ch == kCr && m_nTailAfterEnd == 4)
        m_bSkippingTail = false;
}

bool CPageTerminal::EndsBlockOfMessage() const {
    if (m_nBlockLen < 5)
        return false;
    const char chEnd = m_szBlock[m_nBlockLen - 5];
    // The last block of a message may hold a single field (the rest of one
    // continued after US); a page in one block needs two.
    return chEnd == kEtb || chEnd == kUs || (chEnd == kEtx && m_bMessageOpen);
}

void CPageTerminal::EndSessionForCaller() {
    // Callers wait for the terminal's ESC EOT CR after their EOT CR; one
    // that never gets it counts its delivered pages as failed and sends
    // them all again.
    AbandonMessage();
    EndSessionWith(Coded(kSeqGoodbye) + kEndOfSession);
}

void CPageTerminal::EndSessionWith(const std::string& strAnswer) {
    Answer(strAnswer.c_str());
    m_nState = ST_DISCONNECTED;
    NotifyState();
    ResetBuffers();
}

std::string CPageTerminal::Coded(const char* szSequence) const {
    return m_bSequences ? std::string(szSequence) + kCr : std::string();
}

void CPageTerminal::EvaluateBlock() {
    const int nLen = m_nBlockLen;
    m_verdict = Verdict::kAccepted;
    const char chEnd = nLen >= 5 ? m_szBlock[nLen - 5] : kNul;
    // A block that ends in ETB or US carries on its message; one with an
    // ETX in it is the end of one, and must have it before the checksum.
    const bool bContinued = (chEnd == kEtb || chEnd == kUs) && !BlockHoldsEtx();

    if (chEnd != kEtx && !bContinued) {
        // The block as it came, control characters and all.
        m_strText.assign(m_szBlock, static_cast<size_t>(nLen));
        m_nPageBlocks = 1;
        m_verdict = Verdict::kBadFormat;
        NotifyPageResult(false); // no answer: the caller's time-out recovers
    } else {
        unsigned nSum = BlockChecksum(m_szBlock, static_cast<size_t>(nLen - 4));
        unsigned nExpected = DecodeChecksum(m_szBlock + nLen - 4);
        if (nSum == nExpected) {
            AcceptBlock(bContinued, chEnd);
        } else {
            // Revision 1.8 allows three tries at a block, then ends it all:
            // a message in progress first.
            const bool bLastTry = ++m_nNakRun >= 3 && m_bSequences;
            if (bLastTry)
                AbandonMessage();
            // The rejected block keeps its checksum characters and the blank
            // of its closing CR.
            m_strText.assign(m_szBlock, static_cast<size_t>(nLen));
            for (char& c : m_strText) {
                if (c == kStx || c == kEtx || c == kCr)
                    c = ' ';
            }
            m_nPageBlocks = 1;
            m_verdict = Verdict::kBadChecksum;
            if (bLastTry) {
                AnswerBlock((Coded(kSeqChecksumErrors) + kEndOfSession).c_str(),
                            CAnswerChange(), false);
                m_bSessionEnds = true;
            } else {
                AnswerBlock(kPageRejected, AskHook(AnswerKind::kPageRejected), false);
            }
        }
    }
    ResetBuffers();
    m_nState = m_bSessionEnds ? ST_DISCONNECTED : ST_WAITING_FOR_PAGE;
    m_bSessionEnds = false;
    NotifyState();
}

CPageFacts CPageTerminal::FactsOf(bool bContinued) const {
    CPageFacts facts;
    facts.bLastBlock = !bContinued;
    facts.nSessionPages = m_nSessionPages;
    facts.strPager = m_strMessagePager;
    facts.nMessageChars = m_nMessageChars;
    // The fields of this block, without its STX and end character: in the
    // first block of a page the first field is the pager ID.
    bool bInPager = !m_bMessageOpen;
    for (int i = 1; i < m_nBlockLen - 5; ++i) {
        const char c = m_szBlock[i];
        if (bInPager) {
            if (c == kCr)
                bInPager = false;
            else
                facts.strPager += c;
        } else if (c != kCr && c != kStx && c != kEtx) {
            ++facts.nMessageChars;
        }
    }
    return facts;
}

std::string CPageTerminal::BlockText(bool bContinued) const {
    // Through the end character, without the checksum: STX, CR and ETX show
    // as blanks. A block that carries on a message adds no blank for its
    // STX, and its ETB or US none either, so a field continued after US
    // joins without a break.
    size_t nFrom = m_bMessageOpen ? 1 : 0;
    size_t nTo = static_cast<size_t>(m_nBlockLen - 4) - (bContinued ? 1 : 0);
    std::string strText(m_szBlock + nFrom, m_szBlock + nTo);
    for (char& c : strText) {
        if (c == kStx || c == kEtx || c == kCr)
            c = ' ';
    }
    return strText;
}

void CPageTerminal::AcceptBlock(bool bContinued, char chEnd) {
    const std::string strBlockText = BlockText(bContinued);
    const int nBlocks = m_nMessageBlocks + 1;
    if (nBlocks > kMessageBlockLimit ||
        m_strMessage.size() + strBlockText.size() > kMessageTextLimit) {
        RefuseLongMessage();
        return;
    }
    if (m_bExplain && (bContinued || m_bMessageOpen))
        Note("   BLOCK " + std::to_string(nBlocks) + " OF A MESSAGE: " +
             (chEnd == kUs    ? "THE FIELD GOES ON (US)"
              : chEnd == kEtb ? "THE MESSAGE GOES ON WITH THE NEXT FIELD (ETB)"
                              : "ITS LAST (ETX)"));
    m_nNakRun = 0;
    CPageFacts facts = FactsOf(bContinued);
    if (!bContinued) {
        facts.strPageText = m_strMessage + strBlockText;
        facts.strBlock.assign(m_szBlock, static_cast<size_t>(m_nBlockLen));
        facts.nBlocks = nBlocks;
    }
    const CAnswerChange change =
        m_pHook != nullptr ? m_pHook->OnAnswer(AnswerKind::kPageAccepted, facts)
                           : CAnswerChange();
    using Kind = CAnswerChange::Kind;
    if (change.kind == Kind::kNak || change.kind == Kind::kSilent)
        RefuseBlockOnPurpose(change, strBlockText);
    else if (change.kind == Kind::kRefuse || change.kind == Kind::kEndSession)
        RefusePage(change, strBlockText, nBlocks);
    else if (bContinued)
        ContinueMessage(change, facts, strBlockText, nBlocks);
    else
        AcceptPage(change, facts, strBlockText, nBlocks);
}

void CPageTerminal::RefuseLongMessage() {
    // Refused, and with it the message so far. The session ends: a block
    // resent after a NAK would start a bogus message of its own.
    m_strText = m_strMessage;
    m_nPageBlocks = m_nMessageBlocks;
    m_verdict = Verdict::kTooLong;
    CloseMessage();
    AnswerBlock((Coded(kSeqTooLong) + kEndOfSession).c_str(), CAnswerChange(), false);
    m_bSessionEnds = true;
    if (m_bExplain)
        Note("   MESSAGE REFUSED: LONGER THAN " + std::to_string(kMessageBlockLimit) +
             " BLOCKS OR " + std::to_string(kMessageTextLimit) + " CHARACTERS");
}

void CPageTerminal::RefuseBlockOnPurpose(const CAnswerChange& change,
                                         const std::string& strBlockText) {
    // Listed on its own; the message goes on when the caller sends the block
    // again.
    m_strText = strBlockText;
    m_nPageBlocks = 1;
    if (change.kind == CAnswerChange::Kind::kNak) {
        m_verdict = Verdict::kNakedOnPurpose;
        AnswerBlock(kPageRejected, change, false);
    } else {
        m_verdict = Verdict::kUnansweredOnPurpose;
        NotifyPageResult(false);
        NotifyNotes(change.notes);
    }
}

void CPageTerminal::RefusePage(const CAnswerChange& change,
                               const std::string& strBlockText, int nBlocks) {
    // The whole page is refused (what came of it is listed); the caller goes
    // on with its next one, or the session ends.
    m_strText = m_strMessage + strBlockText;
    m_nPageBlocks = nBlocks;
    m_verdict = Verdict::kRefused;
    m_refusal = change.refusal;
    CloseMessage();
    std::string strAnswer;
    if (change.kind == CAnswerChange::Kind::kEndSession) {
        strAnswer = Coded(kSeqSessionLimit) + kEndOfSession;
        m_bSessionEnds = true;
    } else {
        strAnswer =
            Coded(change.refusal == CAnswerChange::Refusal::kPagerId ? kSeqNoSubscriber
                  : change.refusal == CAnswerChange::Refusal::kTooLong ? kSeqTooLong
                                                                       : kSeqTryLater) +
            kPageRefused;
    }
    AnswerBlock(strAnswer.c_str(), change, false);
}

void CPageTerminal::ContinueMessage(const CAnswerChange& change,
                                    const CPageFacts& facts,
                                    const std::string& strBlockText, int nBlocks) {
    if (!m_bMessageOpen)
        m_strMessagePager = facts.strPager;
    m_bMessageOpen = true;
    m_strMessage += strBlockText;
    m_nMessageBlocks = nBlocks;
    m_nMessageChars = facts.nMessageChars;
    AnswerBlock(kPageAccepted, change, true, false);
}

void CPageTerminal::AcceptPage(const CAnswerChange& change, const CPageFacts& facts,
                               const std::string& strBlockText, int nBlocks) {
    using Kind = CAnswerChange::Kind;
    m_strText = m_strMessage + strBlockText;
    m_nPageBlocks = nBlocks;
    CloseMessage();
    ++m_nSessionPages;
    if (change.kind == Kind::kAwait) {
        // Answered when the owner says, or refused when the time passes.
        m_await.bActive = true;
        m_await.strText = m_strText;
        m_await.strBlock.assign(m_szBlock, static_cast<size_t>(m_nBlockLen));
        m_await.nBlocks = nBlocks;
        m_await.verdict = Verdict::kAccepted;
        m_await.nTicks = change.nDelayTicks > 0 ? change.nDelayTicks : 1;
        m_nPageBlocks = 0;
        NotifyNotes(change.notes);
        return;
    }
    std::string strAnswer = Coded(kSeqPageSent) + kPageAccepted;
    if (change.kind == Kind::kDefer) {
        strAnswer = Coded(kSeqDeferred) + kPageAccepted;
    } else if (change.kind == Kind::kTruncate) {
        // The page text is the pager's part and the message cut short.
        const size_t nMessageStart = 2 + facts.strPager.size();
        m_strText = m_strText.substr(0, nMessageStart + change.nCutTo) + "  ";
        m_verdict = Verdict::kTruncated;
        m_nCutTo = change.nCutTo;
        char szLine[96];
        std::snprintf(szLine, sizeof szLine, kSeqTruncated, change.nCutTo);
        strAnswer = Coded(szLine) + kPageAccepted;
    }
    AnswerBlock(strAnswer.c_str(), change, true);
}

void CPageTerminal::AbandonMessage() {
    // The session ends (or the line is set up anew) with a page still
    // waiting for its answer: it is refused, not left to be answered later.
    WithdrawAwait();
    if (!m_bMessageOpen)
        return;
    m_strText = m_strMessage;
    m_nPageBlocks = m_nMessageBlocks;
    m_verdict = Verdict::kIncomplete;
    CloseMessage();
    NotifyPageResult(false);
    m_strText.clear();
}

void CPageTerminal::CloseMessage() {
    m_bMessageOpen = false;
    m_strMessage.clear();
    m_nMessageBlocks = 0;
    m_strMessagePager.clear();
    m_nMessageChars = 0;
}

std::string CPageTerminal::GetResultText() const {
    using Refusal = CAnswerChange::Refusal;
    if (m_verdict == Verdict::kTruncated)
        return "\tACCEPTED, CUT TO " + std::to_string(m_nCutTo) + " CHARACTERS";
    if (m_verdict == Verdict::kRefused)
        return m_refusal == Refusal::kPagerId   ? kResultRefusedPager
               : m_refusal == Refusal::kTooLong ? kResultRefusedLength
               : m_refusal == Refusal::kBusy    ? kResultRefusedBusy
                                                : kResultSessionLimit;
    return ResultText(m_verdict);
}

void CPageTerminal::TimeOutBlock() {
    if (m_bMessageOpen) {
        // The message never got its last block: one bad page for all of it.
        // The block stays stored while the result is handled, for saying
        // why it timed out.
        AbandonMessage();
    } else {
        m_strText.assign(m_szBlock, static_cast<size_t>(m_nBlockLen));
        for (char& c : m_strText) {
            if (c == kCr)
                c = ' ';
        }
        m_nPageBlocks = 1;
        m_verdict = Verdict::kTimedOut;
        NotifyPageResult(false);
    }
    ResetBuffers();
    m_nState = ST_WAITING_FOR_PAGE;
    NotifyState();
    m_nTicks = 0;
}

const char* CPageTerminal::ResultText(Verdict verdict) {
    switch (verdict) {
    case Verdict::kAccepted: return "";
    case Verdict::kBadChecksum: return kResultBadChecksum;
    case Verdict::kBadFormat: return kResultBadFormat;
    case Verdict::kTimedOut: return kResultTimedOut;
    case Verdict::kNakedOnPurpose: return kResultNakedOnPurpose;
    case Verdict::kUnansweredOnPurpose: return kResultUnansweredOnPurpose;
    case Verdict::kIncomplete: return kResultIncomplete;
    case Verdict::kTooLong: return kResultTooLong;
    case Verdict::kRefused: return kResultRefusedBusy; // GetResultText says which
    case Verdict::kTruncated: return "";
    }
    return "";
}

void CPageTerminal::ResetBlock() {
    // Only the used characters: the rest of the store is NUL already.
    std::memset(m_szBlock, 0, static_cast<size_t>(m_nBlockLen));
    m_strText.clear();
    m_nBlockLen = 0;
    m_nBlockDropped = 0;
    m_nCrCount = 0;
    m_bSkippingTail = false;
}

void CPageTerminal::ResetBuffers() {
    EmptyLine();
    ResetBlock();
}

void CPageTerminal::AppendLine(unsigned char ch) {
    if (m_nLineLen < kLineStoreLimit)
        m_szLine[m_nLineLen++] = static_cast<char>(ch);
}

void CPageTerminal::EmptyLine() {
    std::memset(m_szLine, 0, sizeof m_szLine);
    m_nLineLen = 0;
}

bool CPageTerminal::LineHolds(const char* szSequence) const {
    // A text search: a stored NUL hides what follows it.
    return std::strstr(m_szLine, szSequence) != nullptr;
}

bool CPageTerminal::BlockHoldsEtx() const {
    return std::memchr(m_szBlock, kEtx, static_cast<size_t>(m_nBlockLen)) != nullptr;
}

void CPageTerminal::Answer(const char* szSequence) {
    m_output.Purge(kAnswerPurge);
    m_output.Write(szSequence);
    NotifyTrace(szSequence);
}

CAnswerChange CPageTerminal::AskHook(AnswerKind kind) {
    return m_pHook != nullptr ? m_pHook->OnAnswer(kind) : CAnswerChange();
}

void CPageTerminal::AnswerBlock(const char* szSequence, const CAnswerChange& change,
                                bool bAccepted, bool bList) {
    std::string strAnswer = szSequence;
    if (change.bStrayByte)
        strAnswer.insert(strAnswer.begin(), static_cast<char>(kStrayAnswerByte));
    m_output.Purge(kAnswerPurge);
    if (change.nDelayTicks > 0) {
        m_held.push_back({strAnswer, change.nDelayTicks, change.bHangUpAfter});
        if (bList)
            NotifyPageResultWith(bAccepted, strAnswer);
        NotifyNotes(change.notes);
        return; // traced when it goes out
    }
    m_output.Write(strAnswer);
    if (bList)
        NotifyPageResultWith(bAccepted, strAnswer);
    NotifyNotes(change.notes);
    NotifyTrace(strAnswer.c_str());
    if (change.bHangUpAfter)
        m_output.HangUp();
}

void CPageTerminal::ReleaseHeldAnswers() {
    for (size_t i = 0; i < m_held.size();) {
        if (--m_held[i].nTicks > 0) {
            ++i;
            continue;
        }
        const CHeldAnswer answer = m_held[i];
        m_held.erase(m_held.begin() + static_cast<long>(i));
        m_output.Write(answer.strBytes);
        NotifyTrace(answer.strBytes.c_str());
        if (answer.bHangUpAfter)
            m_output.HangUp();
    }
}

void CPageTerminal::WithdrawAwait() {
    m_bWithholdAnswer = true;
    ResolveAwait(false);
    m_bWithholdAnswer = false;
}

void CPageTerminal::ResolveAwait(bool bAccepted) {
    if (!m_await.bActive)
        return;
    const CAwait await = std::move(m_await);
    m_await = CAwait();
    // The page is handed on as if its block had just been judged; what is
    // being received meanwhile is left as it is.
    const std::string strReceiving = std::move(m_strText);
    m_strText = await.strText;
    m_nPageBlocks = await.nBlocks;
    m_verdict = bAccepted ? await.verdict : Verdict::kRefused;
    m_refusal = CAnswerChange::Refusal::kBusy;
    const std::string strAnswer = bAccepted ? Coded(kSeqPageSent) + kPageAccepted
                                            : Coded(kSeqTryLater) + kPageRefused;
    if (!m_bWithholdAnswer)
        m_output.Write(strAnswer);
    m_pResolvedBlock = &await.strBlock;
    NotifyPageResultWith(bAccepted, m_bWithholdAnswer ? std::string() : strAnswer);
    m_pResolvedBlock = nullptr;
    if (!m_bWithholdAnswer)
        NotifyTrace(strAnswer.c_str());
    m_strText = strReceiving;
}

void CPageTerminal::NotifyNotes(const std::vector<std::string>& notes) {
    for (const std::string& strNote : notes)
        Note(strNote);
}

void CPageTerminal::Note(const std::string& strNote) {
    m_output.OnNote(strNote);
}

void CPageTerminal::NotifyState() {
    m_output.OnState(m_nState);
}

void CPageTerminal::NotifyPageResultWith(bool bAccepted, const std::string& strAnswer) {
    m_pResultAnswer = &strAnswer;
    NotifyPageResult(bAccepted);
    m_pResultAnswer = nullptr;
}

void CPageTerminal::NotifyPageResult(bool bAccepted) {
    CPageResult page;
    page.bAccepted = bAccepted;
    page.verdict = m_verdict;
    page.strText = m_strText;
    page.strResult = GetResultText();
    page.nBlocks = m_nPageBlocks;
    page.strBlock = GetStoredBlock();
    page.nDropped = m_nBlockDropped;
    if (m_pResultAnswer != nullptr)
        page.strAnswer = *m_pResultAnswer;
    page.bWithheld = m_bWithholdAnswer;
    page.bTimedOutBlock = HasTimedOutBlock();
    m_output.OnPage(page);
    m_nPageBlocks = 0;
}

void CPageTerminal::NotifyTrace(const char* szSequence) {
    m_output.OnTrace(szSequence);
}
