// "VDC_Detection_Test": measures the DC bus with the drive's own converter.
// The power stage stays off; the program waits until the firmware's filtered
// bus reading has settled and ends. The host then reads the drive variable
// "var_u2" (converter counts, "VdcMaxMeasurable" at full scale).
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

namespace {

using namespace program;

// Five time constants of the firmware's bus filter and more.
constexpr double kMeasureTime = 0.1; // [s]

class BusVoltageReading final : public Program {
public:
    void Start(Firmware& fw) override { fw.SwitchOff(); }

    void Step(Firmware& fw) override
    {
        m_phase.Tick();
        if (m_phase.Ticks() >= Ticks(fw, kMeasureTime))
            Finish(fw);
    }

private:
    Phase m_phase;
};

} // namespace

std::unique_ptr<Program> MakeBusVoltageReading()
{
    return std::make_unique<BusVoltageReading>();
}
