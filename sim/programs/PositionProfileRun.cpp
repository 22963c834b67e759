// "Position_Controller_Tuning_Test_with_SpdCtrl" and
// "Position_Controller_Tuning_Test_without_SpdCtrl": the position loop follows
// the profile (see ProfileRun.h). With the speed loop its output, the
// speed reference, is limited to "LimitSpeed_Test" [speed units] for the run;
// without it the position loop drives the current controller directly and
// its output, the current reference, is limited to "IlimPS_Test" [current
// units].
#include "ProfileRun.h"
#include "Programs.h"

namespace {

class PositionProfileRun final : public ProfileRun {
public:
    explicit PositionProfileRun(bool withSpeedLoop) : m_withSpeedLoop(withSpeedLoop) {}

protected:
    ProfileTarget Target() const override { return ProfileTarget::Position; }
    void SetLimits(Firmware& fw, program::RegisterOverrides& registers) override
    {
        SetCascade(fw, registers, m_withSpeedLoop);
        if (const double limit = LimitInput(m_withSpeedLoop ? "LimitSpeed_Test" : "IlimPS_Test"); limit > 0.0)
            registers.Set(fw, "SATP", 32767.0 - limit);
    }

private:
    bool m_withSpeedLoop;
};

} // namespace

std::unique_ptr<Program> MakePositionProfileRunWithSpeedLoop()
{
    return std::make_unique<PositionProfileRun>(true);
}

std::unique_ptr<Program> MakePositionProfileRunWithoutSpeedLoop()
{
    return std::make_unique<PositionProfileRun>(false);
}
