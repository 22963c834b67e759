// Base of the setup editor's GUI tests: the reference setup with the module's
// scale, a scripted user, and captured errors.
#pragma once

#include "Automation.h"
#include "EngineTestSetup.h"

class SetupDialogTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        setup = Reference();
    }

    std::unique_ptr<CMC_Setup> setup;
    ScriptedUser user;
};
