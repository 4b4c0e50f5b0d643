// The engine with the harness in its owner's place, and the steps that bring
// a session to a given state. Shared by the engine's test suites; no port.
#pragma once

#include "engine/Checksum.h"
#include "engine/PageTerminal.h"
#include "tests/EngineHarness.h"
#include "tests/EngineSteps.h"

#include <gtest/gtest.h>

#include <memory>

class CEngineFixture : public CEngineSteps<CEngineFixture> {
  public:
    void SetUp() override {
        harness = std::make_unique<CEngineHarness>();
        engine = std::make_unique<CPageTerminal>(*harness);
        harness->SetEngine(engine.get());
    }

    bool Logon() {
        harness->Logon();
        return true;
    }
    void SetLines(bool bDsr, bool bDcd) { harness->SetLines(bDsr, bDcd); }

    std::unique_ptr<CEngineHarness> harness;
    std::unique_ptr<CPageTerminal> engine;
};
