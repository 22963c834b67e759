// "Analogue_Reference_Test": keeps the drive reading its analogue reference
// input until the host stops the program. The power stage stays off, so
// nothing moves whatever the input says; the host reads the input as the
// drive variable "AD5" (65472 counts at full scale) while the program runs.
#include "Firmware.h"
#include "Programs.h"

namespace {

class AnalogueReferenceReading final : public Program {
public:
    void Start(Firmware& fw) override
    {
        fw.SwitchOff();
        SetUser("STARTED", 1.0);
    }
    void Step(Firmware& /*fw*/) override {}
};

} // namespace

std::unique_ptr<Program> MakeAnalogueReferenceReading()
{
    return std::make_unique<AnalogueReferenceReading>();
}
