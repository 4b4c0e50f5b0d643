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
// Everything runs on the fuzzing thread: the port gets no UI poster, so it
// starts no monitor thread, and line levels reach the engine only through
// the fresh reads below. One input gives one result, every time.
#include "engine/PageTerminal.h"
#include "engine/TestMode.h"
#include "tests/FakeSerialDevice.h"

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

class CFuzzOwner : public INotifyTarget {
  public:
    CPageTerminal* pEngine = nullptr;
    int nResultsThisBlock = 0;
    int nUnfinishedThisBlock = 0;
    bool bTestMode = false;
    bool bExplain = false;

    long Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) override {
        switch (nMsg) {
        case UM_COMM_DSR:
        case UM_COMM_DCD: pEngine->CheckLineSignals(); break;
        case UM_SESSION_STATE:
            Check(IsEnterable(lParam), "state notified is enterable");
            Check(lParam == pEngine->GetState(), "notified state is the state");
            // Every block ends with a state notification, and so does
            // every way a message can be left unfinished but Logoff.
            nResultsThisBlock = 0;
            nUnfinishedThisBlock = 0;
            break;
        case UM_PAGE_RESULT:
            Check(lParam == 0 || lParam == 1, "page result is 0 or 1");
            // A block ends at most one page, and may end an unfinished
            // message once: by its time-out, or by a Logon in the middle of
            // it, after which it goes on as a block of its own.
            if (pEngine->GetVerdict() == CPageTerminal::Verdict::kIncomplete)
                Check(++nUnfinishedThisBlock == 1, "one unfinished message per block");
            else
                Check(++nResultsThisBlock == 1, "one page result per block");
            Check(pEngine->GetPageText().size() <=
                      CPageTerminal::kMessageTextLimit + kBlockLimit,
                  "page text within a message's bound");
            Check(pEngine->GetBlockCount() >= 0 &&
                      pEngine->GetBlockCount() <= CPageTerminal::kMessageBlockLimit,
                  "blocks within a message's bound");
            Check(pEngine->GetResultText().size() <= (bTestMode ? 36u : 30u),
                  "result text within its longest");
            Check((lParam == 1) ==
                      (pEngine->GetVerdict() == CPageTerminal::Verdict::kAccepted ||
                       pEngine->GetVerdict() == CPageTerminal::Verdict::kTruncated),
                  "accepted exactly when the verdict says so");
            Check(lParam == 0 || pEngine->GetResultText().empty() ||
                      pEngine->GetVerdict() == CPageTerminal::Verdict::kTruncated,
                  "an accepted page has no result text unless it was cut");
            break;
        case UM_PROTOCOL_TRACE: {
            std::unique_ptr<std::string> text = AdoptTraceText(lParam);
            Check(text && !text->empty() && wParam == kTraceSent, "trace text");
            break;
        }
        case UM_LINE_NOTE: {
            const std::string& strNote = *reinterpret_cast<const std::string*>(lParam);
            Check(strNote.rfind("   ", 0) == 0, "a note is a warning line");
            Check(bTestMode || bExplain,
                  "notes only from a test mode or when explaining");
            Check(bExplain || strNote.rfind("   TEST MODE: ", 0) == 0,
                  "a test mode's note names it");
            break;
        }
        default: break;
        }
        return 0;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CFakeSerialDevice::CShared shared;
    shared.nModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
    {
        CFuzzOwner owner;
        CPageTerminal engine(std::make_unique<CFakeSerialDevice>(&shared));
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
            engine.Logon(&owner, 1, 9600, 'N', 8, 1, 1, 1, 0, 0, 0x39, 512);
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
                    shared.nModemStatus = MS_CTS_ON |
                                          ((nCommand & 0x08) ? MS_DSR_ON : 0) |
                                          ((nCommand & 0x10) ? MS_RLSD_ON : 0);
                    engine.QueryDsr(true);
                    engine.QueryDcd(true);
                    break;
                case 2: engine.Logoff(); break;
                case 3: logon(); break;
                default: engine.HandleChar(0xFF); break;
                }
            } else {
                engine.HandleChar(ch);
            }
            Check(IsEnterable(engine.GetState()), "state is enterable");
            Check(engine.GetPageText().empty(), "stores emptied after a result");
        }
    }
    CFakeSerialDevice::Release(&shared);
    return 0;
}
