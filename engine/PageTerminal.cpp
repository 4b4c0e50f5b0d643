#include "engine/PageTerminal.h"

#include "engine/Checksum.h"
#include "engine/MessageBoxes.h"
#include "engine/Protocol.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned kAnswerPurge = PURGE_TXCLEAR | PURGE_RXCLEAR; // 0x0C

constexpr const char* kOpenFailed =
    "Unable to Open CommPort. Please check Comm. Settings";
constexpr const char* kInvalidState =
    "Error : VOLNEX in Invalid State. Please Disconnect and reconnect";

} // namespace

CPageTerminal::CPageTerminal() = default;

CPageTerminal::CPageTerminal(std::unique_ptr<ISerialDevice> pDevice)
    : CCommPort(std::move(pDevice)) {}

CPageTerminal::~CPageTerminal() {
    // Deliveries still pending call back into this object: finish them
    // while it is whole.
    StopMonitor();
}

bool CPageTerminal::Connect(INotifyTarget* pOwner, int nPort, int nBaud,
                            char chParity, int nDataBits, int nStopBits, int nRts,
                            int nDtr, int nCts, int nDsr, unsigned nEventMask,
                            unsigned nOutBufferSize) {
    m_bSetUp = true;
    HoldSetupReports(); // until the line has been started
    if (!Setup(pOwner, nPort, nBaud, chParity, nDataBits, nStopBits, nRts, nDtr,
               nCts, nDsr, nEventMask, nOutBufferSize)) {
        // The second line says which device and why (a missing adapter, a
        // user not in the dialout group).
        ReleaseSetupReports();
        std::string strText = std::string(kOpenFailed) + "\n" + GetOpenError();
        if (IMessageBoxes* pBoxes = GetMessageBoxes())
            AppMessageBox(*pBoxes, strText, MB_OK);
        else
            std::fprintf(stderr, "%s\n", strText.c_str());
        return false;
    }
    StartMonitor();
    m_held.clear();
    m_bEndingCall = false;
    QueueWrite(kEndOfSession);
    NotifyTrace(kEndOfSession);
    ReleaseSetupReports();
    return true;
}

bool CPageTerminal::Logon(INotifyTarget* pOwner, int nPort, int nBaud,
                          char chParity, int nDataBits, int nStopBits, int nRts,
                          int nDtr, int nCts, int nDsr, unsigned nEventMask,
                          unsigned nOutBufferSize) {
    if (!Connect(pOwner, nPort, nBaud, chParity, nDataBits, nStopBits, nRts, nDtr,
                 nCts, nDsr, nEventMask, nOutBufferSize)) {
        if (m_nState == ST_LOGGED_OFF)
            m_nState = ST_DISCONNECTED;
        return false;
    }
    bool bDsr = QueryDsr(true) != 0;
    bool bDcd = bDsr && QueryDcd(true) != 0;
    if (bDsr && bDcd && m_nState == ST_LOGGED_OFF)
        m_nState = ST_WAITING_FOR_CR;
    else if (m_nState == ST_LOGGED_OFF && IsNetworkLine())
        m_nState = ST_DISCONNECTED; // no peer yet: the next one is a call
    return true;
}

void CPageTerminal::Logoff() {
    if (!m_bSetUp)
        return;
    m_bEndingCall = false; // the operator's logoff holds until Logon
    if (m_nState != ST_SENDING_LOGON_PROMPT && m_nState != ST_WAITING_FOR_PAGE &&
        m_nState != ST_RECEIVING_PAGE)
        return;
    Purge(kAnswerPurge);
    QueueWrite(kEndOfSession);
    m_nState = ST_LOGGED_OFF;
    NotifyTrace(kEndOfSession);
}

void CPageTerminal::HandleChar(unsigned char ch) {
    switch (m_nState) {
    case ST_DISCONNECTED:
        EmptyLine();
        break;
    case ST_WAITING_FOR_CR:
        if (ch == kCr) {
            SendLogonPrompt();
            m_nTicks = 0;
        }
        break;
    case ST_SENDING_LOGON_PROMPT:
        AppendLine(ch);
        if (ch == kCr && LineHolds(kLogonRequest)) {
            const CAnswerChange change = AskHook(AnswerKind::kLogon);
            NotifyNotes(change.notes);
            if (change.kind == CAnswerChange::Kind::kSilent)
                break; // as if it had not been recognised
            EmptyLine();
            Answer(kLogonAccepted);
            m_nState = ST_WAITING_FOR_PAGE;
            NotifyState();
            m_nLogonRetries = 0;
            m_nTicks = 0;
        }
        break;
    case ST_WAITING_FOR_PAGE:
        AppendLine(ch);
        if (ch == kStx) {
            StartBlock();
        } else if (LineHolds(kCallerEnd)) {
            EndSessionForCaller();
        } else if (ch == kCr && !LineHolds(kBye)) {
            SendLogonPrompt(); // the caller must log on again
        }
        break;
    case ST_RECEIVING_PAGE:
        ReceiveBlockChar(ch);
        break;
    default: // logged off, and the states never entered
        break;
    }
}

void CPageTerminal::Tick() {
    if (!m_held.empty())
        ReleaseHeldAnswers();
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
                Logoff();
                NotifyState();
                // On a network line each connection is a call: it is hung
                // up, and the next peer is answered as a new call.
                if (IsNetworkLine()) {
                    m_bEndingCall = true;
                    RequestHangUp();
                }
            }
            m_nTicks = 0;
        }
        break;
    case ST_RECEIVING_PAGE:
        if (++m_nTicks > kTimeoutTicks)
            TimeOutBlock();
        break;
    case ST_DISCONNECTED:
    case ST_WAIT_FOR_LOGON_REQUEST:
    case ST_SENT_LOGON_ACK:
    case ST_WAITING_FOR_PAGE:
    case ST_SENDING_PAGE_ACK:
    case ST_LOGGED_OFF:
        break;
    default:
        if (IMessageBoxes* pBoxes = GetMessageBoxes())
            AppMessageBox(*pBoxes, kInvalidState, MB_OK);
        m_nState = ST_DISCONNECTED;
        NotifyState();
        break;
    }
}

void CPageTerminal::CheckLineSignals() {
    bool bDsr = QueryDsr(false) != 0;
    bool bDcd = QueryDcd(false) != 0;
    if (m_nState == ST_DISCONNECTED && bDsr && bDcd) {
        m_nState = ST_WAITING_FOR_CR;
        NotifyState();
    }
    if ((!bDsr || !bDcd) && (m_nState != ST_LOGGED_OFF || m_bEndingCall)) {
        m_bEndingCall = false;
        m_nState = ST_DISCONNECTED;
        NotifyState();
    }
}

void CPageTerminal::SendLogonPrompt() {
    EmptyLine();
    Answer(kLogonPrompt);
    m_nState = ST_SENDING_LOGON_PROMPT;
    NotifyState();
}

void CPageTerminal::StartBlock() {
    m_nState = ST_RECEIVING_PAGE;
    NotifyState();
    ResetBlock();
    m_szBlock[0] = kStx;
    m_nBlockLen = 1;
    EmptyLine();
}

void CPageTerminal::ReceiveBlockChar(unsigned char ch) {
    if (ch == kCr)
        ++m_nCrCount; // counted also when it cannot be stored
    // The line store bounds the block: at most the STX and 99 characters,
    // which the block store always has room for.
    if (m_nLineLen < kLineStoreLimit && ch != kNul) {
        AppendLine(ch);
        m_szBlock[m_nBlockLen++] = static_cast<char>(ch);
    }
    if (BlockHoldsEtx() && m_nCrCount >= 3) {
        EvaluateBlock();
        m_nTicks = 0;
        return;
    }
    if (LineHolds(kCallerEnd))
        EndSessionForCaller(); // the block is dropped without a page result
}

void CPageTerminal::EndSessionForCaller() {
    // Callers wait for the terminal's ESC EOT CR after their EOT CR; one
    // that never gets it counts its delivered pages as failed and sends
    // them all again.
    Answer(kEndOfSession);
    m_nState = ST_DISCONNECTED;
    NotifyState();
    ResetBuffers();
}

void CPageTerminal::EvaluateBlock() {
    const int nLen = m_nBlockLen;
    SetPageText(nLen);
    m_szResult[0] = '\0';

    // The format and checksum tests look at every character stored, also
    // beyond the 79 that the page text keeps.
    if (nLen < 5 || m_szBlock[nLen - 5] != kEtx) {
        std::strcpy(m_szResult, kResultBadFormat);
        NotifyPageResult(false); // no answer: the caller's time-out recovers
    } else {
        unsigned nSum = BlockChecksum(m_szBlock, static_cast<size_t>(nLen - 4));
        unsigned nExpected = DecodeChecksum(m_szBlock + nLen - 4);
        for (char* p = m_szText; *p; ++p) {
            if (*p == kStx || *p == kEtx || *p == kCr)
                *p = ' ';
        }
        if (nSum == nExpected) {
            // The accepted text runs through the ETX's blank, without the
            // checksum characters.
            if (nLen - 4 <= kPageTextLimit)
                m_szText[nLen - 4] = '\0';
            const CAnswerChange change = AskHook(AnswerKind::kPageAccepted);
            switch (change.kind) {
            case CAnswerChange::Kind::kAsIs:
                AnswerBlock(kPageAccepted, change, true);
                break;
            case CAnswerChange::Kind::kNak:
                std::strcpy(m_szResult, kResultNakedOnPurpose);
                AnswerBlock(kPageRejected, change, false);
                break;
            case CAnswerChange::Kind::kSilent:
                std::strcpy(m_szResult, kResultUnansweredOnPurpose);
                NotifyPageResult(false);
                NotifyNotes(change.notes);
                break;
            }
        } else {
            std::strcpy(m_szResult, kResultBadChecksum);
            AnswerBlock(kPageRejected, AskHook(AnswerKind::kPageRejected), false);
        }
    }
    ResetBuffers();
    m_nState = ST_WAITING_FOR_PAGE;
    NotifyState();
}

void CPageTerminal::TimeOutBlock() {
    SetPageText(m_nBlockLen);
    for (char* p = m_szText; *p; ++p) {
        if (*p == kCr)
            *p = ' ';
    }
    std::strcpy(m_szResult, kResultTimedOut);
    NotifyPageResult(false);
    ResetBuffers();
    m_nState = ST_WAITING_FOR_PAGE;
    NotifyState();
    m_nTicks = 0;
}

void CPageTerminal::SetPageText(int nLength) {
    if (nLength > kPageTextLimit)
        nLength = kPageTextLimit;
    std::memcpy(m_szText, m_szBlock, static_cast<size_t>(nLength));
    m_szText[nLength] = '\0';
}

void CPageTerminal::ResetBlock() {
    std::memset(m_szBlock, 0, sizeof m_szBlock);
    std::memset(m_szText, 0, sizeof m_szText);
    m_nBlockLen = 0;
    m_nCrCount = 0;
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
    Purge(kAnswerPurge);
    QueueWrite(szSequence);
    NotifyTrace(szSequence);
}

CAnswerChange CPageTerminal::AskHook(AnswerKind kind) {
    return m_pHook != nullptr ? m_pHook->OnAnswer(kind) : CAnswerChange();
}

void CPageTerminal::AnswerBlock(const char* szSequence, const CAnswerChange& change,
                                bool bAccepted) {
    std::string strAnswer = szSequence;
    if (change.bStrayByte)
        strAnswer.insert(strAnswer.begin(), static_cast<char>(kStrayAnswerByte));
    Purge(kAnswerPurge);
    if (change.nDelayTicks > 0) {
        m_held.push_back({strAnswer, change.nDelayTicks, change.bHangUpAfter});
        NotifyPageResult(bAccepted);
        NotifyNotes(change.notes);
        return; // traced when it goes out
    }
    QueueWrite(strAnswer);
    NotifyPageResult(bAccepted);
    NotifyNotes(change.notes);
    NotifyTrace(strAnswer.c_str());
    if (change.bHangUpAfter)
        RequestHangUp();
}

void CPageTerminal::ReleaseHeldAnswers() {
    for (size_t i = 0; i < m_held.size();) {
        if (--m_held[i].nTicks > 0) {
            ++i;
            continue;
        }
        const CHeldAnswer answer = m_held[i];
        m_held.erase(m_held.begin() + static_cast<long>(i));
        QueueWrite(answer.strBytes);
        NotifyTrace(answer.strBytes.c_str());
        if (answer.bHangUpAfter)
            RequestHangUp();
    }
}

void CPageTerminal::NotifyNotes(const std::vector<std::string>& notes) {
    for (const std::string& strNote : notes)
        SendToOwner(UM_LINE_NOTE, 0, reinterpret_cast<LPARAM>(&strNote));
}

void CPageTerminal::NotifyState() {
    SendToOwner(UM_SESSION_STATE, 0, m_nState);
}

void CPageTerminal::NotifyPageResult(bool bAccepted) {
    SendToOwner(UM_PAGE_RESULT, 0, bAccepted ? 1 : 0);
}

void CPageTerminal::NotifyTrace(const char* szSequence) {
    if (!HasOwner())
        return;
    SendToOwner(UM_PROTOCOL_TRACE, kTraceSent,
                ReleaseTraceText(std::make_unique<std::string>(szSequence)));
}
