// CPageTerminal: the paging terminal's side of a serial paging session.
//
// It answers the caller's CR with the prompt "ID=", accepts the logon
// request ESC "PG1" CR (with a password when the port is set to take one),
// receives page blocks, judges each by its format and 12-bit checksum and
// answers ACK CR or NAK CR, and ends the session on the caller's EOT CR
// (answered with ESC EOT CR), on Logoff, after four unanswered prompts, or
// when DSR or DCD drops.
//
// A message may come in several blocks: a block that ends in ETB (the
// message goes on with the next field) or US (its last field goes on) is
// judged and answered on its own, and the message is handed on once, when
// its last block (ending in ETX) is accepted. A message left unfinished is
// handed on as one bad page.
//
// The engine is the protocol alone: it owns no line, reads no clock, starts
// no thread and never sleeps. The owner feeds it received bytes
// (HandleChar), 100 ms ticks (Tick) and the line levels (OnLevels), tells
// it when the line was set up (LineSetUp, LoggedOn), and gets everything it
// does through ITerminalOutput: purges, writes and hang-ups for the line,
// the state, each finished page whole, the trace and the warning lines.
// All of it runs on the owner's thread.
//
// Stores: the line store holds up to 99 received characters outside a
// block; the block store holds a block from its STX on, at most kBlockLimit
// characters; a message holds at most kMessageBlockLimit blocks and
// kMessageTextLimit characters. A block that does not end within
// kBlockLimit characters can never be judged: it is refused (RS CR) at its
// first character past the store, and what the caller still sends of it is
// skipped until its own end, the next STX, EOT CR or a pause of kQuietTicks.
#pragma once

#include "engine/AnswerHook.h"
#include "engine/Protocol.h"
#include "engine/SessionState.h"
#include "engine/TerminalOutput.h"

#include <string>
#include <vector>

class CPageTerminal {
  public:
    static constexpr int kLineStoreLimit = 99;
    static constexpr int kMessageBlockLimit = 64;
    static constexpr size_t kMessageTextLimit = 16000;
    static constexpr int kPromptTicks = 20;  // first prompt without a CR
    static constexpr int kTimeoutTicks = 80; // logon prompt and block waits
    // Silence in a block after which a CR on a pty is a new call, and after
    // which the rest of an over-long block is no longer waited for.
    static constexpr int kQuietTicks = 10;
    static constexpr int kLogonRepeats = 3;

    // Result texts of rejected blocks (CPageResult::strResult).
    static constexpr const char* kResultBadChecksum = "\tBAD PAGE - INVALID CHECKSUM";
    static constexpr const char* kResultBadFormat = "\tBAD PAGE - INVALID FORMAT";
    static constexpr const char* kResultTimedOut = "\tTIMED OUT ";
    // A good block a test mode NAKed or left unanswered on purpose.
    static constexpr const char* kResultNakedOnPurpose =
        "\tNAKED ON PURPOSE (TEST MODE)";
    static constexpr const char* kResultUnansweredOnPurpose =
        "\tNOT ANSWERED ON PURPOSE (TEST MODE)";
    // A message in several blocks that ended before its last block.
    static constexpr const char* kResultIncomplete = "\tBAD PAGE - INCOMPLETE MESSAGE";
    // A message that would pass kMessageBlockLimit or kMessageTextLimit.
    static constexpr const char* kResultTooLong = "\tBAD PAGE - MESSAGE TOO LONG";

    using Verdict = PageVerdict;
    static const char* ResultText(Verdict verdict);
    static constexpr const char* kResultRefusedPager =
        "\tREFUSED: PAGER ID NOT ACCEPTED";
    static constexpr const char* kResultRefusedLength = "\tREFUSED: MESSAGE TOO LONG";
    static constexpr const char* kResultRefusedBusy = "\tREFUSED: CANNOT DELIVER NOW";
    static constexpr const char* kResultSessionLimit = "\tREFUSED: SESSION PAGE LIMIT";

    explicit CPageTerminal(ITerminalOutput& output);

    CPageTerminal(const CPageTerminal&) = delete;
    CPageTerminal& operator=(const CPageTerminal&) = delete;

    // The owner set the line up anew (bOpened) or could not open it. Set up,
    // the session it was in is over and ESC EOT CR goes out.
    void LineSetUp(bool bOpened);
    // After a Logon's set-up, with the levels read afresh: a logged-off
    // session waits for a CR again when both are on. A line that did not
    // open, or a network line without a peer, is disconnected instead.
    void LoggedOn(bool bOpened, bool bDsr, bool bDcd);
    void Logoff();
    int GetState() const { return m_nState; }
    void HandleChar(unsigned char ch);
    void Tick();
    // The line's DSR and DCD as the port has them now.
    void OnLevels(bool bDsr, bool bDcd);

    // The password a logon may carry after ESC "PG1": empty (the default)
    // takes ESC "PG1" CR only; "*" takes any password or none; any other
    // value takes that password only.
    void SetLogonPassword(const std::string& strPassword) {
        m_strPassword = strPassword;
    }
    // Whether the engine explains in warning lines what it did with blocks
    // of a message and with logons it did not accept.
    void SetExplain(bool bExplain) { m_bExplain = bExplain; }
    // Whether answers carry revision 1.8's message sequences (a response
    // code and text on a line of its own before the control answer); off,
    // the answers are bare.
    void SetMessageSequences(bool bOn) { m_bSequences = bOn; }

    // A test mode that changes answers on purpose; null (the default) for
    // none. Not owned.
    void SetAnswerHook(IAnswerHook* pHook) { m_pHook = pHook; }

    // A page whose answer the hook made wait (CAnswerChange::kAwait) has
    // not been answered yet. Only one can wait: the caller sends nothing
    // before its answer.
    bool IsAwaiting() const { return m_await.bActive; }
    // Answers the waiting page: ACK CR (211 first with message sequences)
    // or RS CR (512 first), and hands it on as accepted or refused. Nothing
    // happens when no page waits. The engine refuses it itself with RS when
    // its time passes, and without an answer when the session ends or a new
    // block begins first (the caller has moved on).
    void ResolveAwait(bool bAccepted);
    // For checks of the engine: a page's text is kept after its result was
    // handed on (it must not be).
    bool KeepsPageText() const { return !m_strText.empty(); }

  private:
    // The page being handed on, as its result gives it.
    std::string GetResultText() const;
    std::string GetStoredBlock() const {
        return m_pResolvedBlock != nullptr ? *m_pResolvedBlock
                                           : std::string(m_szBlock, m_nBlockLen);
    }
    bool HasTimedOutBlock() const {
        return m_nState == ST_RECEIVING_PAGE && m_nTicks > kTimeoutTicks;
    }
    enum class LogonMatch { kNone, kAccepted, kRefused };
    // At a CR while the prompt waits: whether the line holds a logon this
    // port takes; explains one it does not take.
    LogonMatch MatchLogon();
    // The network peer as the port describes it ("127.0.0.1:53122");
    // empty for a serial line or without a peer.
    std::string PeerText() const;
    void SendLogonPrompt();
    // The message sequence line for a code, when they are on; else empty.
    std::string Coded(const char* szSequence) const;
    // Logoff with a message sequence before the ESC EOT CR.
    void LogoffWith(const std::string& strSequence);
    // Ends the session from the terminal's side: the answer, then
    // disconnected until the lines are seen again.
    void EndSessionWith(const std::string& strAnswer);
    CPageFacts FactsOf(bool bContinued) const;
    // The caller's EOT CR: answered with ESC EOT CR, then disconnected.
    void EndSessionForCaller();
    void StartBlock();
    // A CR after a quiet spell in a block, on a line that cannot show a
    // hang-up: the caller hung up unseen and calls again.
    bool IsUnseenNewCall(unsigned char ch) const;
    void AnswerUnseenNewCall();
    void ReceiveBlockChar(unsigned char ch);
    // A character the full block store cannot hold: the block is refused
    // as too long, and the rest of it is skipped.
    void RefuseOverlongBlock(unsigned char ch);
    // After an over-long block: swallows what the caller still sends of it,
    // until its checksum's CR, a new block's STX or the caller's EOT CR
    // (or a pause, seen by Tick).
    void SkipTailChar(unsigned char ch);
    // A CR that ends the checksum of a block ending in ETB or US, or of the
    // last block of a message.
    bool EndsBlockOfMessage() const;
    void EvaluateBlock();
    // An accepted block: hands on the page, or keeps a continued block's
    // text for the rest of its message.
    void AcceptBlock(bool bContinued, char chEnd);
    // The steps of AcceptBlock: a message past its limits; a block a test
    // mode NAKs or leaves unanswered; a page refused whole; a continued
    // block kept for its message; the page handed on.
    void RefuseLongMessage();
    void RefuseBlockOnPurpose(const CAnswerChange& change,
                              const std::string& strBlockText);
    void RefusePage(const CAnswerChange& change, const std::string& strBlockText,
                    int nBlocks);
    void ContinueMessage(const CAnswerChange& change, const CPageFacts& facts,
                         const std::string& strBlockText, int nBlocks);
    void AcceptPage(const CAnswerChange& change, const CPageFacts& facts,
                    const std::string& strBlockText, int nBlocks);
    // A message left unfinished is handed on as one bad page.
    void AbandonMessage();
    void CloseMessage();
    // The page text a block adds to its message, without checksum.
    std::string BlockText(bool bContinued) const;
    void TimeOutBlock();
    void ResetBlock();
    void ResetBuffers();
    void AppendLine(unsigned char ch);
    void EmptyLine();
    bool LineHolds(const char* szSequence) const;
    bool BlockHoldsEtx() const;
    void Note(const std::string& strNote);
    // Purge, queue and trace: the steps of every answer.
    void Answer(const char* szSequence);
    CAnswerChange AskHook(AnswerKind kind);
    // The answer to a block, as the hook changed it; the page result is
    // handed on between the queueing and the trace.
    // bList: the block ends a page (a continued block is answered, not listed).
    void AnswerBlock(const char* szSequence, const CAnswerChange& change,
                     bool bAccepted, bool bList = true);
    void NotifyNotes(const std::vector<std::string>& notes);
    // Writes the answers held back by a test mode whose time has come.
    void ReleaseHeldAnswers();
    void NotifyState();
    void NotifyPageResult(bool bAccepted);
    // The same, with the answer it got.
    void NotifyPageResultWith(bool bAccepted, const std::string& strAnswer);
    void NotifyTrace(const char* szSequence);

    ITerminalOutput& m_output;
    int m_nState = ST_DISCONNECTED;
    int m_nLogonRetries = 0;
    int m_nTicks = 0;
    int m_nCrCount = 0;
    int m_nQuietTicks = 0;                // ticks since the block's last byte
    char m_szBlock[kBlockLimit + 1] = {}; // never written past kBlockLimit
    int m_nBlockLen = 0;
    int m_nBlockDropped = 0; // bytes of the block past kBlockLimit
    // The tail of an over-long block is being skipped (in ST_WAITING_FOR_PAGE).
    bool m_bSkippingTail = false;
    int m_nTailAfterEnd = -1;       // characters since its end character, or -1
    unsigned char m_chTailLast = 0; // the last character of it seen
    std::string m_strText;          // the page text handed on
    Verdict m_verdict = Verdict::kAccepted;
    int m_nPageBlocks = 0; // blocks of the page handed on
    // The message in progress: a continued block was accepted.
    bool m_bMessageOpen = false;
    std::string m_strMessage; // its text so far
    int m_nMessageBlocks = 0;
    std::string m_strMessagePager; // its pager ID
    size_t m_nMessageChars = 0;    // characters of its message so far
    bool m_bSequences = false;
    int m_nNakRun = 0;           // checksum NAKs in a row
    int m_nSessionPages = 0;     // pages accepted since the logon
    bool m_bSessionEnds = false; // the answer to this block ends the session
    CAnswerChange::Refusal m_refusal = CAnswerChange::Refusal::kNone;
    size_t m_nCutTo = 0;
    char m_szLine[kLineStoreLimit + 1] = {};
    int m_nLineLen = 0;
    bool m_bSetUp = false;      // the line was set up at least once
    bool m_bEndingCall = false; // a network call hung up by the terminal
    std::string m_strPassword;
    bool m_bExplain = false;
    IAnswerHook* m_pHook = nullptr;
    struct CHeldAnswer {
        std::string strBytes;
        int nTicks;
        bool bHangUpAfter;
    };
    std::vector<CHeldAnswer> m_held; // answers a test mode holds back
    struct CAwait {
        bool bActive = false;
        std::string strText;  // the page text to hand on
        std::string strBlock; // its last block as stored
        int nBlocks = 0;
        Verdict verdict = Verdict::kAccepted; // when it is accepted
        int nTicks = 0;                       // left before it is refused
    };
    CAwait m_await;
    // While a waiting page is handed on: its last block, for GetStoredBlock.
    const std::string* m_pResolvedBlock = nullptr;
    const std::string* m_pResultAnswer = nullptr; // the answer of the page handed on
    bool m_bWithholdAnswer = false;               // refused without an answer
    // The waiting page is refused, and nothing goes on the line for it.
    void WithdrawAwait();
};
