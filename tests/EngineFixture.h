// The engine over a fake device with its lines on, the harness in the
// view's place and a stand-in for the UI thread's loop, with the steps that
// bring a session to a given state. Shared by the engine's test suites.
#pragma once

#include "engine/Checksum.h"
#include "engine/PageTerminal.h"
#include "tests/EngineHarness.h"
#include "tests/FakeSerialDevice.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

// A block with its checksum: STX, the fields as given (CRs included), the
// end character (ETX, ETB or US), the checksum and CR.
inline std::string BlockOf(const std::string& strFields, char chEnd) {
    const std::string strBody = "\x02" + strFields + chEnd;
    return strBody + ChecksumCharacters(BlockChecksum(strBody.data(), strBody.size())) +
           "\r";
}
// A page in one block.
inline std::string Page(const std::string& strPager, const std::string& strMessage) {
    return BlockOf(strPager + "\r" + strMessage + "\r", kEtx);
}

class CEngineFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        shared.nModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
        engine = std::make_unique<CPageTerminal>(
            std::make_unique<CFakeSerialDevice>(&shared));
        harness = std::make_unique<CEngineHarness>(engine.get());
        engine->SetUiPoster(loop.Poster());
        engine->SetMessageBoxes(&boxes);
        engine->SetTap(harness.get());
    }
    void TearDown() override {
        engine.reset();
        CFakeSerialDevice::Release(&shared);
    }

    bool Logon() {
        return engine->Logon(harness.get(), 1, 9600, 'N', 8, 1, 1, 1, 0, 0, 0x39, 512);
    }
    void ToWaitingForCr() {
        engine->Logoff(); // a session in progress ends first
        ASSERT_TRUE(Logon());
        ASSERT_EQ(engine->GetState(), ST_WAITING_FOR_CR);
        harness->Clear();
    }
    void ToWaitingForPage() {
        ToWaitingForCr();
        harness->Feed("\r\x1bPG1\r");
        ASSERT_EQ(engine->GetState(), ST_WAITING_FOR_PAGE);
        harness->Clear();
    }
    // Sets the lines and lets the engine see them, as the monitor thread
    // and the view do after a line change.
    void SetLines(bool bDsr, bool bDcd) {
        shared.nModemStatus =
            MS_CTS_ON | (bDsr ? MS_DSR_ON : 0) | (bDcd ? MS_RLSD_ON : 0);
        engine->QueryDsr(true);
        engine->QueryDcd(true);
    }

    CFakeSerialDevice::CShared shared;
    CTestUiLoop loop;
    CRecordingBoxes boxes;
    std::unique_ptr<CPageTerminal> engine;
    std::unique_ptr<CEngineHarness> harness;
};
