// Base of the dialog tests on the virtual drive: the virtual drive on a
// motor of the library made the active drive on a stepped clock, a scripted
// user who runs a test dialog as the setup editor opens it, and captured
// errors.
#pragma once

#include "ProgramRunSupport.h"

#include "Automation.h"
#include "Comm.h"
#include "DetectHallGainOffset.h"
#include "DetectPolePairs.h"
#include "DriveClock.h"
#include "Errors.h"
#include "MyTestDlg.h"
#include "TestAnalogueRef.h"
#include "TestHallSignals.h"
#include "TestPhaseConnections.h"
#include "TestRL.h"
#include "TestVdcDetection.h"
#include "TotalInertiaTest.h"

#include <QApplication>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace simtest {

// The supply of the virtual drive [V], away from the setup's 48 V.
constexpr double kSupply = 46.0;
// The host's clock moves this much per request.
constexpr double kStep = 0.02;

constexpr const char* kShortCircuit = "Drive / Motor shortcircuit protection triggered.";
constexpr const char* kDisabled = "Drive / Motor ENABLE input is in DISABLED state.";

class VirtualDriveDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_previousSink = SetErrorSink([this](const std::string& message) { errors.push_back(message); });
    }
    void TearDown() override
    {
        CMC_Comm::SetActiveLink(nullptr, nullptr);
        SetErrorSink(std::move(m_previousSink));
        EXPECT_TRUE(errors.empty()) << errors.front();
    }

    // The setup a user has for the motor after typing in its datasheet and
    // designing the loops: the Hall registers are still the reference
    // drive's, the test current 60 % of the motor's nominal one.
    std::unique_ptr<CMC_Setup> Prepare(const std::string& file)
    {
        auto setup = DatasheetSetup(file);
        CMC_Setup* s = setup.get();
        EXPECT_EQ(DesignCurrentController(s), 1);
        EXPECT_EQ(DesignSpeedController(s), 1);
        EXPECT_EQ(DesignPositionController(s), 1);
        ComputeRegistersFromParameters(s);
        ComputeParametersFromRegisters(s);
        CMC_Parameter* current = s->FindParameter("TestCurrent");
        CMC_Parameter* protection = s->FindParameter("TestProtectionCurrent");
        if (protection->GetValueInBaseUnit() < current->GetValueInBaseUnit())
            protection->SetValueInBaseUnit(
                std::min(1.2 * current->GetValueInBaseUnit(), protection->GetMaxInBaseUnit()));
        return setup;
    }

    // The Hall registers as the user's Hall gain and offset test sets them on the motor.
    static void CommissionHallsOn(const MotorModel& motor, CMC_Setup& setup)
    {
        VirtualDrive drive(motor);
        Host host(drive);
        CommissionHallsOnDrive(host, setup);
    }

    // Makes a virtual drive on the motor the active drive and connects the setup.
    VirtualDrive& Connect(const MotorModel& motor, CMC_Setup& setup,
                          const std::vector<std::string>& faults = {}, double referenceLevel = 0.5,
                          double step = kStep)
    {
        VirtualDriveOptions options;
        options.busVoltage = kSupply;
        options.plant.referenceLevel = referenceLevel;
        for (const std::string& fault : faults)
            EXPECT_TRUE(options.plant.faults.Add(fault)) << fault;
        auto drive = std::make_shared<VirtualDrive>(motor, options);
        m_drive = drive.get();
        CMC_Comm::SetActiveLink(drive, std::make_shared<SteppedClock>(step));
        EXPECT_TRUE(CMC_Comm::ConnectSetup(setup)) << CMC_Comm::GetLastErrorText();
        return *drive;
    }

    // Opens the dialog as the setup editor does, presses Start, lets `during`
    // work the running dialog, waits for the end of the run and closes the
    // dialog (every question answered Yes). Returns DoModal's result.
    int Run(CMC_TestDlg& dialog, const std::function<void(DialogDriver&)>& during = {},
            const std::function<void(DialogDriver&)>& after = {})
    {
        user.OnDialog(dialog.GetTemplateId(), [&](DialogDriver& d) {
            d.Click(10000);
            if (during)
                during(d);
            EXPECT_TRUE(d.WaitUntil([&] { return dialog.m_bRunning == 0; })) << "the run did not end";
            EXPECT_EQ(dialog.m_bRunning, 0);
            EXPECT_FALSE(dialog.HasActiveTimers());
            if (after)
                after(d);
            d.Cancel();
        });
        user.AnswerMessages([](const MessageBoxRequest& request) {
            return (request.type & 0x0F) == MB_YESNOCANCEL ? IDYES : IDOK;
        });
        return dialog.DoModal();
    }

    // The run passed and left the power stage off and no program running.
    void ExpectPassed(const CMC_TestDlg& dialog)
    {
        EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
        ExpectDriveIdle();
    }

    // No program runs on the drive and its power stage is off.
    void ExpectDriveIdle()
    {
        EXPECT_EQ(m_drive->RunningProgram(), "");
        bool on = true;
        EXPECT_EQ(m_drive->GetAxisOn(m_drive->Time(), on), LinkResult::Ok);
        EXPECT_FALSE(on);
    }

    // Presses Stop of the Hall signals test once the signals have been
    // watched for `seconds` of the drive's time; the dialog samples in its
    // own loop, so the press comes from a timer of the event loop.
    void StopAfter(DialogDriver& d, const CMC_TestDlg& dialog, double seconds)
    {
        const double until = m_drive->Time() + seconds;
        EveryTurn stop([&] {
            if (!dialog.m_bRunning || m_drive->Time() <= until)
                return false;
            d.Click(10000);
            return true;
        });
        EXPECT_TRUE(d.WaitUntil([&] { return dialog.m_bRunning == 0; }));
    }

    std::vector<std::string> errors;
    ScriptedUser user;
    EngineScales scales;
    VirtualDrive* m_drive = nullptr;

private:
    ErrorSink m_previousSink;
};

} // namespace simtest
