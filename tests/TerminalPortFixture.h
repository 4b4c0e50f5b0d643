// The engine on a port over a fake device (CTerminalPort), with the harness
// as the port's owner and the engine's, and a stand-in for the UI thread's
// loop: for what the engine and the line do together (set-up, hang-ups,
// open failures, the line's levels).
#pragma once

#include "serial/CommPort.h"
#include "session/TerminalPort.h"
#include "tests/EngineHarness.h"
#include "tests/EngineSteps.h"
#include "tests/FakeSerialDevice.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

// The harness as the port's owner: the port's bytes and level changes go to
// the engine as the session hands them on; the port's purges and writes are
// recorded on the timeline as the engine's own are.
class CPortHarness : public CEngineHarness, public IPortEvents, public IPortTap {
  public:
    void SetLine(CTerminalPort* pLine) {
        m_pLine = pLine;
        SetEngine(&pLine->Engine());
    }

    void OnByte(unsigned char ch) override {
        Feed(std::string(1, static_cast<char>(ch)));
    }
    void OnLevel(LineLevel line, bool bOn) override {
        if (line == LineLevel::kCts)
            return;
        timeline.push_back(std::string(line == LineLevel::kDsr ? "dsr " : "dcd ") +
                           (bOn ? "on" : "off"));
        m_pLine->CheckLineSignals();
    }
    void OnLineNote(const std::string& strNote) override { OnNote(strNote); }
    void OnPurge(unsigned nFlags) override { Purge(nFlags); }
    void OnQueueWrite(const std::string& strText) override { Write(strText); }

  private:
    CTerminalPort* m_pLine = nullptr;
};

class CTerminalPortFixture : public CEngineSteps<CTerminalPortFixture> {
  public:
    void SetUp() override {
        shared.nModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
        harness = std::make_unique<CPortHarness>();
        line = std::make_unique<CTerminalPort>(
            *harness, std::make_unique<CFakeSerialDevice>(&shared));
        engine = &line->Engine();
        harness->SetLine(line.get());
        line->Port().SetUiPoster(loop.Poster());
        line->SetMessageBoxes(&boxes);
        line->Port().SetTap(harness.get());
    }
    void TearDown() override {
        line.reset();
        CFakeSerialDevice::Release(&shared);
    }

    bool Logon() { return line->Logon(harness.get(), TestLine(1)); }
    // Sets the lines and lets the engine see them, as the monitor thread
    // and the session do after a line change.
    void SetLines(bool bDsr, bool bDcd) {
        shared.nModemStatus =
            MS_CTS_ON | (bDsr ? MS_DSR_ON : 0) | (bDcd ? MS_RLSD_ON : 0);
        line->Port().QueryDsr(true);
        line->Port().QueryDcd(true);
    }

    CFakeSerialDevice::CShared shared;
    CTestUiLoop loop;
    CRecordingBoxes boxes;
    std::unique_ptr<CPortHarness> harness;
    std::unique_ptr<CTerminalPort> line;
    CPageTerminal* engine = nullptr;
};
