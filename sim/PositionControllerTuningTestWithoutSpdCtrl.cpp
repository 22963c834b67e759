// "Position_Controller_Tuning_Test_without_SpdCtrl": the position loop
// follows the profile (see ProfileTuningTest.h) and drives the current
// controller directly. Its output, the current reference, is limited to
// "IlimPS_Test" [current units] for the run.
#include "ProfileTuningTest.h"
#include "Programs.h"

namespace {

class PositionControllerTuningTestWithoutSpdCtrl final : public ProfileTuningTest {
protected:
    ProfileTarget Target() const override { return ProfileTarget::Position; }
    void SetLimits(Firmware& fw, program::RegisterOverrides& registers) override
    {
        SetCascade(fw, registers, false);
        if (const double limit = LimitInput("IlimPS_Test"); limit > 0.0)
            registers.Set(fw, "SATP", 32767.0 - limit);
    }
};

} // namespace

std::unique_ptr<Program> MakePositionControllerTuningTestWithoutSpdCtrl()
{
    return std::make_unique<PositionControllerTuningTestWithoutSpdCtrl>();
}
