// "Speed_Controller_Tuning_Test": the speed loop follows the profile (see
// ProfileRun.h). The speed controller's output, the current
// reference, is limited to "IlimPS_Test" [current units] for the run.
#include "ProfileRun.h"
#include "Programs.h"

namespace {

class SpeedProfileRun final : public ProfileRun {
protected:
    ProfileTarget Target() const override { return ProfileTarget::Speed; }
    void SetLimits(Firmware& fw, program::RegisterOverrides& registers) override
    {
        if (const double limit = LimitInput("IlimPS_Test"); limit > 0.0)
            registers.Set(fw, "SATS", 32767.0 - limit);
    }
};

} // namespace

std::unique_ptr<Program> MakeSpeedProfileRun()
{
    return std::make_unique<SpeedProfileRun>();
}
