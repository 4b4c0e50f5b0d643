// Plays the view's part for engine tests: feeds received bytes and line
// levels to the engine as the view does, and records everything the engine
// does, purges and writes included, on one timeline with control characters
// by name ("write <ACK><CR>", "state 5", "page 1 | <text> | <result>").
#pragma once

#include "engine/ControlNames.h"
#include "engine/PageTerminal.h"

#include <string>
#include <vector>

// Short for the tests' messages and timelines.
inline std::string Named(const std::string& strBytes) {
    return WithControlNames(strBytes);
}

class CEngineHarness : public INotifyTarget, public IPortTap {
  public:
    explicit CEngineHarness(CPageTerminal* pEngine) : m_pEngine(pEngine) {}

    long Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) override {
        switch (nMsg) {
        case UM_COMM_DSR:
        case UM_COMM_DCD:
            timeline.push_back(std::string(nMsg == UM_COMM_DSR ? "dsr " : "dcd ") +
                               (wParam ? "on" : "off"));
            m_pEngine->CheckLineSignals();
            break;
        case UM_COMM_RXCHAR:
            received += static_cast<char>(wParam);
            m_pEngine->HandleChar(static_cast<unsigned char>(wParam));
            break;
        case UM_SESSION_STATE:
            timeline.push_back("state " + std::to_string(lParam));
            break;
        case UM_PAGE_RESULT:
            pageTexts.push_back(m_pEngine->GetPageText());
            resultTexts.push_back(m_pEngine->GetResultText());
            timeline.push_back("page " + std::to_string(lParam) + " | " +
                               WithControlNames(pageTexts.back()) + " | " +
                               WithControlNames(resultTexts.back()));
            break;
        case UM_PROTOCOL_TRACE: {
            std::unique_ptr<std::string> text = AdoptTraceText(lParam);
            timeline.push_back("trace " + WithControlNames(*text));
            break;
        }
        case UM_LINE_NOTE:
            timeline.push_back("note" + *reinterpret_cast<const std::string*>(lParam));
            break;
        default: break;
        }
        return 0;
    }
    void OnPurge(unsigned nFlags) override {
        char szText[16];
        std::snprintf(szText, sizeof szText, "purge %02X", nFlags);
        timeline.push_back(szText);
    }
    void OnQueueWrite(const std::string& strText) override {
        timeline.push_back("write " + WithControlNames(strText));
        written += strText;
    }

    // As the monitor thread delivers them, one message a byte.
    void Feed(const std::string& strBytes) {
        for (char ch : strBytes)
            Notify(UM_COMM_RXCHAR, static_cast<unsigned char>(ch), 1);
    }
    void Ticks(int nCount) {
        for (int i = 0; i < nCount; ++i)
            m_pEngine->Tick();
    }
    // Only the entries of one kind ("write", "state", "page").
    std::vector<std::string> Only(const std::string& strKind) const {
        std::vector<std::string> result;
        for (const std::string& entry : timeline) {
            if (entry.compare(0, strKind.size() + 1, strKind + " ") == 0)
                result.push_back(entry);
        }
        return result;
    }
    void Clear() {
        timeline.clear();
        written.clear();
        pageTexts.clear();
        resultTexts.clear();
    }

    std::vector<std::string> timeline;
    std::string written;
    std::string received;
    std::vector<std::string> pageTexts;
    std::vector<std::string> resultTexts;

  private:
    CPageTerminal* m_pEngine;
};
