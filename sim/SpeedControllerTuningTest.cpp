// "Speed_Controller_Tuning_Test": the speed loop follows the profile (see
// ProfileTuningTest.h). The speed controller's output, the current
// reference, is limited to "IlimPS_Test" [current units] for the run.
#include "ProfileTuningTest.h"
#include "Programs.h"

namespace {

class SpeedControllerTuningTest final : public ProfileTuningTest {
protected:
    ProfileTarget Target() const override { return ProfileTarget::Speed; }
    void SetLimits(Firmware& fw, program::RegisterOverrides& registers) override
    {
        if (const double limit = LimitInput("IlimPS_Test"); limit > 0.0)
            registers.Set(fw, "SATS", 32767.0 - limit);
    }
};

} // namespace

std::unique_ptr<Program> MakeSpeedControllerTuningTest()
{
    return std::make_unique<SpeedControllerTuningTest>();
}
