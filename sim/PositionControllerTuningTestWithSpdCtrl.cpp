// "Position_Controller_Tuning_Test_with_SpdCtrl": the position loop follows
// the profile (see ProfileTuningTest.h) and drives the speed loop. The
// position controller's output, the speed reference, is limited to
// "LimitSpeed_Test" [speed units] for the run.
#include "ProfileTuningTest.h"
#include "Programs.h"

namespace {

class PositionControllerTuningTestWithSpdCtrl final : public ProfileTuningTest {
protected:
    ProfileTarget Target() const override { return ProfileTarget::Position; }
    void SetLimits(Firmware& fw, program::RegisterOverrides& registers) override
    {
        SetCascade(fw, registers, true);
        if (const double limit = LimitInput("LimitSpeed_Test"); limit > 0.0)
            registers.Set(fw, "SATP", 32767.0 - limit);
    }
};

} // namespace

std::unique_ptr<Program> MakePositionControllerTuningTestWithSpdCtrl()
{
    return std::make_unique<PositionControllerTuningTestWithSpdCtrl>();
}
