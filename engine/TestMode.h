// CTestMode: a terminal that misbehaves on purpose, so that an integrator can
// prove a page sender's retry and give-up logic.
//
// The per-port setting Misbehave+n holds the modes, combinable with commas;
// empty means the terminal gives the protocol's own answers:
//   nak-every:N     NAK every Nth good block (N=1: all)
//   silent-every:N  no answer to every Nth good block
//   delay:MS        answer each block MS milliseconds late (in 100 ms ticks)
//   no-logon        never answer the logon
//   hangup-after:N  hang the line up after N accepted pages
//   garble-every:N  a stray byte before every Nth answer to a block
//   accept-pagers:ID|ID  refuse (RS) a page to any other pager ID
//   max-length:N    refuse (RS) a message longer than N characters
//   truncate:N      accept a longer message cut to N characters
//   max-pages:N     end the session at the block after N accepted pages
//   defer-every:N   answer every Nth good page as held for later delivery
//   busy-every:N    refuse (RS) every Nth good page as undeliverable now
// Each misbehaving answer comes with a protocol-window note that names the
// mode. Counts run from the port's set-up and start again after a hang-up.
#pragma once

#include "engine/AnswerHook.h"

#include <string>

struct CTestModeSettings {
    int nNakEvery = 0;
    int nSilentEvery = 0;
    int nDelayMs = 0;
    bool bNoLogon = false;
    int nHangUpAfter = 0;
    int nGarbleEvery = 0;
    std::string strAcceptPagers; // "1234|5678"; empty: every pager ID
    int nMaxLength = 0;
    int nTruncate = 0;
    int nMaxPages = 0;
    int nDeferEvery = 0;
    int nBusyEvery = 0;

    bool IsOn() const;
    // The modes as the profile holds them, in a fixed order.
    std::string Text() const;
};

// Reads a Misbehave value. False with what is wrong ("unknown mode 'x'",
// "nak-every needs a count from 1 to 100000").
bool ParseTestMode(const std::string& strValue, CTestModeSettings* pSettings,
                   std::string* pstrError);

class CTestMode : public IAnswerHook {
  public:
    static constexpr int kTickMs = 100;

    explicit CTestMode(const CTestModeSettings& settings) : m_settings(settings) {}

    CAnswerChange OnAnswer(AnswerKind kind,
                           const CPageFacts& facts = CPageFacts()) override;
    // The port was set up again or hung up: the counts start again.
    void Restart();
    const CTestModeSettings& GetSettings() const { return m_settings; }

  private:
    CTestModeSettings m_settings;
    int m_nGoodBlocks = 0;
    int m_nAnswers = 0;
    int m_nAccepted = 0;
    int m_nGoodPages = 0; // good last blocks, for defer-every and busy-every
    // A refusal of the page decided at an earlier block of it.
    bool Refuses(const CPageFacts& facts, CAnswerChange* pChange) const;
};
