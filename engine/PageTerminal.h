// CPageTerminal: the paging terminal's side of a serial paging session.
//
// It answers the caller's CR with the prompt "ID=", accepts the logon
// request ESC "PG1" CR, receives page blocks, judges each by its format and
// 12-bit checksum and answers ACK CR or NAK CR, and ends the session on the
// caller's EOT CR (answered with ESC EOT CR), on Logoff, after four
// unanswered prompts, or when DSR or DCD drops.
//
// Everything here runs on the user-interface thread: the owner feeds the
// engine received bytes (HandleChar), 100 ms ticks (Tick) and line-level
// changes (CheckLineSignals). The engine reads no clock and never sleeps. Its
// only outputs are the port's Purge and QueueWrite and three notifications
// to the owner: UM_SESSION_STATE, UM_PAGE_RESULT and UM_PROTOCOL_TRACE.
//
// Stores: the line store holds up to 99 received characters; the block store
// holds a block from its STX on, at most 100 characters (the STX and the 99
// the line store lets through). The page text handed on is at most 79.
#pragma once

#include "engine/AnswerHook.h"
#include "engine/SessionState.h"
#include "serial/CommPort.h"

#include <string>
#include <vector>

class CPageTerminal : public CCommPort {
public:
    static constexpr int kLineStoreLimit = 99;
    static constexpr int kBlockStoreSize = kLineStoreLimit + 1;
    static constexpr int kPageTextLimit = 79;
    static constexpr int kPromptTicks = 20;  // first prompt without a CR
    static constexpr int kTimeoutTicks = 80; // logon prompt and block waits
    static constexpr int kLogonRepeats = 3;

    // Result texts of rejected blocks (GetResultText).
    static constexpr const char* kResultBadChecksum = "\tBAD PAGE - INVALID CHECKSUM";
    static constexpr const char* kResultBadFormat = "\tBAD PAGE - INVALID FORMAT";
    static constexpr const char* kResultTimedOut = "\tTIMED OUT ";
    // A good block a test mode NAKed or left unanswered on purpose.
    static constexpr const char* kResultNakedOnPurpose = "\tNAKED ON PURPOSE (TEST MODE)";
    static constexpr const char* kResultUnansweredOnPurpose =
        "\tNOT ANSWERED ON PURPOSE (TEST MODE)";

    CPageTerminal();
    explicit CPageTerminal(std::unique_ptr<ISerialDevice> pDevice);
    ~CPageTerminal() override;

    // Sets the port up, starts its monitor thread and writes ESC EOT CR.
    bool Connect(INotifyTarget* pOwner, int nPort, int nBaud, char chParity,
                 int nDataBits, int nStopBits, int nRts, int nDtr, int nCts,
                 int nDsr, unsigned nEventMask, unsigned nOutBufferSize);
    // Connect, then reads DSR and DCD afresh; a logged-off session waits for
    // a CR again when both are on.
    bool Logon(INotifyTarget* pOwner, int nPort, int nBaud, char chParity,
               int nDataBits, int nStopBits, int nRts, int nDtr, int nCts,
               int nDsr, unsigned nEventMask, unsigned nOutBufferSize);
    void Logoff();
    int GetState() const { return m_nState; }
    void HandleChar(unsigned char ch);
    void Tick();
    void CheckLineSignals();
    std::string GetPageText() const { return m_szText; }
    std::string GetResultText() const { return m_szResult; }
    // The block as stored, from its STX on, while UM_PAGE_RESULT is handled
    // (for saying why it was judged bad).
    std::string GetStoredBlock() const { return std::string(m_szBlock, m_nBlockLen); }

    // A test mode that changes answers on purpose; null (the default) for
    // none. Not owned.
    void SetAnswerHook(IAnswerHook* pHook) { m_pHook = pHook; }

private:
    void SendLogonPrompt();
    // The caller's EOT CR: answered with ESC EOT CR, then disconnected.
    void EndSessionForCaller();
    void StartBlock();
    void ReceiveBlockChar(unsigned char ch);
    void EvaluateBlock();
    void TimeOutBlock();
    void ResetBlock();
    void ResetBuffers();
    void AppendLine(unsigned char ch);
    void EmptyLine();
    bool LineHolds(const char* szSequence) const;
    bool BlockHoldsEtx() const;
    // Copies the first characters of the block store into the page text.
    void SetPageText(int nLength);
    // Purge, queue and trace: the steps of every answer.
    void Answer(const char* szSequence);
    CAnswerChange AskHook(AnswerKind kind);
    // The answer to a block, as the hook changed it; the page result is
    // notified between the queueing and the trace, as always.
    void AnswerBlock(const char* szSequence, const CAnswerChange& change, bool bAccepted);
    void NotifyNotes(const std::vector<std::string>& notes);
    // Writes the answers held back by a test mode whose time has come.
    void ReleaseHeldAnswers();
    void NotifyState();
    void NotifyPageResult(bool bAccepted);
    void NotifyTrace(const char* szSequence);

    int m_nState = ST_DISCONNECTED;
    int m_nLogonRetries = 0;
    int m_nTicks = 0;
    int m_nCrCount = 0;
    char m_szBlock[kBlockStoreSize + 1] = {};
    char m_szText[kPageTextLimit + 1] = {}; // the page text handed on
    char m_szResult[40] = {};
    int m_nBlockLen = 0;
    char m_szLine[kLineStoreLimit + 1] = {};
    int m_nLineLen = 0;
    bool m_bSetUp = false; // Setup has run at least once
    bool m_bEndingCall = false; // a network call hung up by the terminal
    IAnswerHook* m_pHook = nullptr;
    struct CHeldAnswer {
        std::string strBytes;
        int nTicks;
        bool bHangUpAfter;
    };
    std::vector<CHeldAnswer> m_held; // answers a test mode holds back
};
