// Plays the owner's part for engine tests: feeds received bytes, ticks and
// line levels to the engine, and records everything the engine does,
// purges and writes included, on one timeline with control characters by
// name ("write <ACK><CR>", "state 5", "page 1 | <text> | <result>").
//
// The line it plays holds DSR and DCD as the test sets them and tells the
// engine of a change as a port does: DSR read afresh first, then DCD, the
// engine seeing the levels after each ("dsr on", "dcd on" on the timeline).
#pragma once

#include "engine/ControlNames.h"
#include "engine/PageTerminal.h"

#include <cstdio>
#include <string>
#include <vector>

// Short for the tests' messages and timelines.
inline std::string Named(const std::string& strBytes) {
    return WithControlNames(strBytes);
}

// The example block (pager 1234, message HI), and the same with a wrong
// checksum.
inline const std::string kExampleBlock = "\x02"
                                         "1234\rHI\r\x03"
                                         "17:\r";
inline const std::string kExampleBadBlock = "\x02"
                                            "1234\rHI\r\x03"
                                            "17;\r";

class CEngineHarness : public ITerminalOutput {
  public:
    void SetEngine(CPageTerminal* pEngine) { m_pEngine = pEngine; }

    // The line.
    void Purge(unsigned nFlags) override {
        char szText[16];
        std::snprintf(szText, sizeof szText, "purge %02X", nFlags);
        timeline.push_back(szText);
    }
    void Write(const std::string& strText) override {
        timeline.push_back("write " + WithControlNames(strText));
        written += strText;
    }
    void HangUp() override { ++nHangUps; }
    bool IsNetworkLine() const override { return bNetworkLine; }
    bool HasNoModemLines() const override { return bNoModemLines; }
    int GetPortNumber() const override { return 1; }
    std::string DescribeLine() const override { return strLine; }

    // The engine's news.
    void OnState(int nState) override {
        timeline.push_back("state " + std::to_string(nState));
    }
    void OnPage(const CPageResult& page) override {
        pages.push_back(page);
        pageTexts.push_back(page.strText);
        resultTexts.push_back(page.strResult);
        timeline.push_back("page " + std::to_string(page.bAccepted ? 1 : 0) + " | " +
                           WithControlNames(page.strText) + " | " +
                           WithControlNames(page.strResult));
    }
    void OnTrace(const std::string& strSent) override {
        timeline.push_back("trace " + WithControlNames(strSent));
    }
    void OnNote(const std::string& strNote) override {
        timeline.push_back("note" + strNote);
    }
    void OnFault(const std::string& strText) override {
        timeline.push_back("fault " + strText);
    }

    // As a port delivers them, one byte at a time.
    void Feed(const std::string& strBytes) {
        for (char ch : strBytes) {
            received += ch;
            m_pEngine->HandleChar(static_cast<unsigned char>(ch));
        }
    }
    void Ticks(int nCount) {
        for (int i = 0; i < nCount; ++i)
            m_pEngine->Tick();
    }
    // The line's levels change; the engine hears of them as from a port.
    void SetLines(bool bDsr, bool bDcd) {
        m_bDsr = bDsr;
        m_bDcd = bDcd;
        ReadDsr();
        ReadDcd();
    }
    // The line set up anew and DSR and DCD read afresh, as a Logon does.
    void Logon() {
        m_pEngine->LineSetUp(true);
        const bool bDsr = ReadDsr();
        const bool bDcd = bDsr && ReadDcd();
        m_pEngine->LoggedOn(true, bDsr, bDcd);
    }
    // The levels the line has, before the engine hears of them.
    void HoldLines(bool bDsr, bool bDcd) {
        m_bDsr = bDsr;
        m_bDcd = bDcd;
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
        pages.clear();
    }

    std::vector<std::string> timeline;
    std::string written;
    std::string received;
    std::vector<std::string> pageTexts;
    std::vector<std::string> resultTexts;
    std::vector<CPageResult> pages;
    int nHangUps = 0;
    bool bNetworkLine = false;
    bool bNoModemLines = false;
    std::string strLine; // as DescribeLine gives it

  private:
    bool ReadDsr() {
        m_bSeenDsr = m_bDsr;
        timeline.push_back(std::string("dsr ") + (m_bDsr ? "on" : "off"));
        m_pEngine->OnLevels(m_bSeenDsr, m_bSeenDcd);
        return m_bDsr;
    }
    bool ReadDcd() {
        m_bSeenDcd = m_bDcd;
        timeline.push_back(std::string("dcd ") + (m_bDcd ? "on" : "off"));
        m_pEngine->OnLevels(m_bSeenDsr, m_bSeenDcd);
        return m_bDcd;
    }

    CPageTerminal* m_pEngine = nullptr;
    bool m_bDsr = true; // the line's levels
    bool m_bDcd = true;
    bool m_bSeenDsr = false; // the levels the engine was told
    bool m_bSeenDcd = false;
};
