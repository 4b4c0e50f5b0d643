// Feeds random bytes, ticks, line changes, logons and logoffs into the
// paging engine and checks the invariants it must keep whatever the caller
// sends: the state is always one the engine can enter, texts stay within
// their bounds, and a block gets at most one page result.
//
// An input whose first byte has its top bit set runs with test modes taken
// from its next bytes, so the answers they change are fuzzed too; bits of
// the first byte choose the logon password (none, any, or "00"), whether
// the engine explains what it does, answers with message sequences and cuts
// long messages, and the fifth byte the refusals.
//
// Everything runs on the fuzzing thread, with no port: the owner below
// plays the line, and its levels reach the engine as a port's fresh reads
// do. One input gives one result, every time.
#include "engine/PageTerminal.h"
#include "engine/TestMode.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Check(bool bCondition, const char* szWhat) {
    if (!bCondition) {
        std::fprintf(stderr, "invariant broken: %s\n", szWhat);
        std::abort();
    }
}

bool IsEnterable(long nState) {
    return nState == ST_DISCONNECTED || nState == ST_WAITING_FOR_CR ||
           nState == ST_SENDING_LOGON_PROMPT || nState == ST_WAITING_FOR_PAGE ||
           nState == ST_RECEIVING_PAGE || nState == ST_LOGGED_OFF;
}

class CFuzzOwner : public ITerminalOutput {
  public:
    CPageTerminal* pEngine = nullptr;
    int nResultsThisBlock = 0;
    int nUnfinishedThisBlock = 0;
    bool bTestMode = false;
    bool bExplain = false;
    bool bDsr = true; // the line's levels
    bool bDcd = true;

    void Purge(unsigned) override {}
    void Write(const std::string&) override {}
    void HangUp() override {}
    bool IsNetworkLine() const override { return false; }
    bool HasNoModemLines() const override { return false; }
    int GetPortNumber() const override { return 1; }
    std::string DescribeLine() const override { return {}; }

    void OnState(int nState) override {
        Check(IsEnterable(nState), "state notified is enterable");
        Check(nState == pEngine->GetState(), "notified state is the state");
        // Every block ends with a state notification, and so does
        // every way a message can be left unfinished but Logoff.
        nResultsThisBlock = 0;
        nUnfinishedThisBlock = 0;
    }
    void OnPage(const CPageResult& page) override {
        // A block ends at most one page, and may end an unfinished
        // message once: by its time-out, or by a Logon in the middle of
        // it, after which it goes on as a block of its own.
        if (page.verdict == CPageTerminal::Verdict::kIncomplete)
            Check(++nUnfinishedThisBlock == 1, "one unfinished message per block");
        else
            Check(++nResultsThisBlock == 1, "one page result per block");
        Check(page.strText.size() <= CPageTerminal::kMessageTextLimit + kBlockLimit,
              "page text within a message's bound");
        Check(page.nBlocks >= 0 && page.nBlocks <= CPageTerminal::kMessageBlockLimit,
              "blocks within a message's bound");
        Check(page.strResult.size() <= (bTestMode ? 36u : 30u),
              "result text within its longest");
        Check(page.bAccepted == (page.verdict == CPageTerminal::Verdict::kAccepted ||
                                 page.verdict == CPageTerminal::Verdict::kTruncated),
              "accepted exactly when the verdict says so");
        Check(!page.bAccepted || page.strResult.empty() ||
                  page.verdict == CPageTerminal::Verdict::kTruncated,
              "an accepted page has no result text unless it was cut");
    }
    void OnTrace(const std::string& strSent) override {
        Check(!strSent.empty(), "trace text");
    }
    void OnNote(const std::string& strNote) override {
        Check(strNote.rfind("   ", 0) == 0, "a note is a warning line");
        Check(bTestMode || bExplain, "notes only from a test mode or when explaining");
        Check(bExplain || strNote.rfind("   TEST MODE: ", 0) == 0,
              "a test mode's note names it");
    }
    void OnFault(const std::string&) override { Check(false, "no invalid state"); }

    // The levels read afresh, DSR then DCD, as a port tells them.
    bool ReadDsr() {
        m_bSeenDsr = bDsr;
        pEngine->OnLevels(m_bSeenDsr, m_bSeenDcd);
        return bDsr;
    }
    bool ReadDcd() {
        m_bSeenDcd = bDcd;
        pEngine->OnLevels(m_bSeenDsr, m_bSeenDcd);
        return bDcd;
    }

  private:
    bool m_bSeenDsr = false;
    bool m_bSeenDcd = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    {
        CFuzzOwner owner;
        CPageTerminal engine(owner);
        owner.pEngine = &engine;
        std::unique_ptr<CTestMode> mode;
        size_t nStart = 0;
        if (nSize >= 5 && (pData[0] & 0x80)) {
            CTestModeSettings settings;
            settings.nNakEvery = pData[1] & 0x07;
            settings.nSilentEvery = (pData[1] >> 3) & 0x07;
            settings.nDelayMs = (pData[2] & 0x0F) * 100;
            settings.bNoLogon = (pData[2] & 0x10) != 0;
            settings.nHangUpAfter = pData[3] & 0x07;
            settings.nGarbleEvery = (pData[3] >> 3) & 0x07;
            settings.nTruncate = (pData[0] & 0x10) ? 10 : 0;
            settings.nMaxPages = pData[4] & 0x03;
            settings.nDeferEvery = (pData[4] >> 2) & 0x03;
            settings.nBusyEvery = (pData[4] >> 4) & 0x03;
            settings.strAcceptPagers = (pData[4] & 0x40) ? "1234|9" : "";
            settings.nMaxLength = (pData[4] & 0x80) ? 20 : 0;
            engine.SetMessageSequences((pData[0] & 0x08) != 0);
            mode = std::make_unique<CTestMode>(settings);
            engine.SetAnswerHook(mode.get());
            owner.bTestMode = true;
            static const char* const kPasswords[] = {"", "*", "00", ""};
            engine.SetLogonPassword(kPasswords[pData[0] & 0x03]);
            owner.bExplain = (pData[0] & 0x04) != 0;
            engine.SetExplain(owner.bExplain);
            nStart = 5;
        }
        auto logon = [&] {
            engine.LineSetUp(true);
            const bool bDsr = owner.ReadDsr();
            engine.LoggedOn(true, bDsr, bDsr && owner.ReadDcd());
        };
        logon();
        for (size_t i = nStart; i < nSize; ++i) {
            uint8_t ch = pData[i];
            if (ch == 0xFF && i + 1 < nSize) {
                uint8_t nCommand = pData[++i];
                switch (nCommand & 7) {
                case 0:
                    for (int n = 0; n < (nCommand >> 3) * 4; ++n)
                        engine.Tick();
                    break;
                case 1:
                    owner.bDsr = (nCommand & 0x08) != 0;
                    owner.bDcd = (nCommand & 0x10) != 0;
                    owner.ReadDsr();
                    owner.ReadDcd();
                    break;
                case 2: engine.Logoff(); break;
                case 3: logon(); break;
                default: engine.HandleChar(0xFF); break;
                }
            } else {
                engine.HandleChar(ch);
            }
            Check(IsEnterable(engine.GetState()), "state is enterable");
            Check(!engine.KeepsPageText(), "stores emptied after a result");
        }
    }
    return 0;
}
