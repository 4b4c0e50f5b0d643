// The steps that bring a session to a given state, for a fixture that has
// an engine, a harness and a Logon (the engine alone, or on a port).
#pragma once

#include "engine/SessionState.h"

#include <gtest/gtest.h>

template <typename Fixture> class CEngineSteps : public ::testing::Test {
  public:
    void ToWaitingForCr() {
        Fixture& self = static_cast<Fixture&>(*this);
        self.engine->Logoff(); // a session in progress ends first
        ASSERT_TRUE(self.Logon());
        ASSERT_EQ(self.engine->GetState(), ST_WAITING_FOR_CR);
        self.harness->Clear();
    }
    void ToWaitingForPage() {
        Fixture& self = static_cast<Fixture&>(*this);
        ToWaitingForCr();
        self.harness->Feed("\r\x1b"
                           "PG1\r");
        ASSERT_EQ(self.engine->GetState(), ST_WAITING_FOR_PAGE);
        self.harness->Clear();
    }
};
