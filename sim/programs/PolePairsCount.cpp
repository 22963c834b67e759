// "Motor_Pole_Pairs_Detection_Test": holds the rotor with the start voltage
// "RefTest" and waits for commands in the drive variable "var_i2":
// - 0: move the voltage vector by one electrical revolution (the shaft turns
//   by 1 / pole pairs of a revolution) and count the move in "poles_pairs".
//   While moving, "THTST" leaves -16383; it comes back there when the move
//   has ended.
// - 1: finish; "var_i2" then holds the number of moves, the pole pairs.
// The program marks a command as taken by setting "var_i2" to -1.
#include "AlignedStartProgram.h"
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace program;

class PolePairsCount final : public AlignedStartProgram {
public:
    void Start(Firmware& fw) override
    {
        fw.SetVariable("var_i2", -1.0);
        SetUser("poles_pairs", 0.0);
        if (StartAligned(fw, {{"var_i2", 0.0}}))
            m_phase.Enter(kWaiting);
    }

    void OnDriveVariableWritten(Firmware& fw, std::string_view name) override
    {
        if (!EqualsIgnoringCase(name, "var_i2"))
            return;
        const double command = fw.Variable("var_i2");
        if (command == 0.0 && m_phase.Current() != kMoving) {
            // Leave the rest angle at once, so the host never mistakes the
            // angle before the move for its end.
            fw.SetVariable("var_i2", -1.0);
            m_pendingMove = true;
            fw.ImposeAngle(kRestAngle + 2.0);
        } else if (command == 1.0) {
            m_finishRequested = true;
        }
    }

protected:
    void StepHolding(Firmware& fw) override
    {
        m_phase.Tick();
        switch (m_phase.Current()) {
        case kWaiting:
            if (m_finishRequested) {
                fw.SetVariable("var_i2", User("poles_pairs"));
                Finish(fw);
                return;
            }
            if (m_pendingMove) {
                m_pendingMove = false;
                m_phase.Enter(kMoving);
            }
            break;
        case kMoving: {
            const long n = Ticks(fw, 0.5);
            const double turned = kTurn * SmoothStep(m_phase.Ticks(), n);
            // the angle stays off the rest angle until the move has ended
            fw.ImposeAngle(kRestAngle + std::clamp(turned, 2.0, kTurn - 4.0));
            if (m_phase.Ticks() >= n) {
                fw.ImposeAngle(kRestAngle);
                SetUser("poles_pairs", User("poles_pairs") + 1.0);
                m_phase.Enter(kWaiting);
            }
            break;
        }
        }
    }

private:
    enum { kWaiting, kMoving };
    Phase m_phase;
    bool m_pendingMove = false;
    bool m_finishRequested = false;
};

} // namespace

std::unique_ptr<Program> MakePolePairsCount()
{
    return std::make_unique<PolePairsCount>();
}
