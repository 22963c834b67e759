// The weak-bus fault (half the supply behind a high resistance) through the
// programs it affects: the supply detection reads the sagging bus, the
// identification at standstill still works on it, and a test that draws
// power pulls the bus down onto the under-voltage level when it is set close.
#include "ProgramRunSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace simtest;

VirtualDriveOptions WeakBus()
{
    VirtualDriveOptions options;
    EXPECT_TRUE(options.plant.faults.Add("weak-bus"));
    return options;
}

// What the supply detection, the positioning and the resistance run report
// on the weak bus, against a healthy one: the supply reads half, and the
// resistance run needs a larger share of the lower bus for its current.
TEST(WeakBus, StandstillProgramsReadTheSaggingBusAndStillIdentify)
{
    double command[2] = {};
    for (const bool weak : {false, true}) {
        SCOPED_TRACE(weak ? "weak bus" : "healthy bus");
        VirtualDrive drive(MotorModel::Reference(), weak ? WeakBus() : VirtualDriveOptions());
        Host host(drive);
        auto setup = ReferenceSetup();
        host.Download(*setup);
        ASSERT_TRUE(host.Run("VDC_Detection_Test", {}));
        const double supply = weak ? 24.0 : 48.0;
        EXPECT_NEAR(host.Variable("var_u2") / DcBusVoltageScale(setup.get()), supply, 0.02 * supply);
        const Preliminary p = RunPreliminary(host, kTestCurrent);
        ASSERT_TRUE(host.Run("Ident_R_or_Rs",
                             {{"In1", kTestCurrent}, {"RefTest", p.refTest}, {"RIncTest", p.rincTest}}));
        command[weak ? 1 : 0] = host.Variable("var_i1");
        EXPECT_EQ(host.Mer(), 0);
    }
    EXPECT_GT(command[1], 1.3 * command[0]);
    EXPECT_LT(command[1], 2.0 * command[0]);
}

// The inertia run accelerates the motor: the power it draws pulls the weak
// supply down through its resistance. With the under-voltage level a little
// below the supply's own voltage, the protection trips on the weak bus only.
TEST(WeakBus, ATestThatDrawsPowerTripsTheUnderVoltageSetCloseBelowTheSupply)
{
    for (const bool weak : {false, true}) {
        SCOPED_TRACE(weak ? "weak bus" : "healthy bus");
        const double supply = weak ? 24.0 : 48.0;
        VirtualDrive drive(MotorModel::Reference(), weak ? WeakBus() : VirtualDriveOptions());
        auto setup = ReferenceSetup();
        setup->FindParameter("UMINPROT")
            ->SetValueInInternalUnit((supply - 1.5) * DcBusVoltageScale(setup.get()));
        const InertiaRun run = RunInertiaTest(drive, *setup);
        Host host(drive);
        if (weak) {
            EXPECT_EQ(host.Mer(), Mer::kUnderVoltage);
            EXPECT_EQ(run.testFlag, kNoResult);
        } else {
            EXPECT_EQ(host.Mer(), 0);
            EXPECT_EQ(run.testFlag, 1.0);
        }
    }
}

} // namespace
