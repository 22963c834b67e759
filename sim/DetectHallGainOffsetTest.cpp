// "Detect_Hall_Gain_Offset_Test": aligns the rotor with the start voltage
// "RefTest", then keeps the current that voltage drives with the current
// controller and turns it by one mechanical revolution forwards and back
// again (the pole pairs from "MECRESL" x "ENC2THL"), reads the three linear
// Hall signals on the way and works out each signal's offset and amplitude
// and the angle of the Hall signals against phase A.
//
// Each signal is taken as offset + amplitude x cos(angle - phase), with the
// rotor's angle taken from the voltage vector it follows; the Fourier sums
// over whole revolutions give all three values, and the two directions
// cancel the rotor's lag behind the vector.
//
// With two motor phases crossed against the current sensors the current
// controller cannot hold a current: the vector then turns under voltage
// control, the field and the rotor turn backwards against the Hall order, and
// the order check reports it.
//
// Status in "WEAKINC": 0 while working, -1 a Hall signal is missing (or the
// program could not run), -2 the Hall order does not match the phase order,
// 1 the results are ready. Results (drive variables, converter counts):
// "AD6OFF", "AD3OFF", "SFTCWEAK" the offsets of A, B, C; "SRECTCOMP",
// "SIN2REC", "KSLIP" the gains of A, B, C (2^28 / amplitude); "ALPHA" the
// angle to add to the Hall angle to get the electrical angle (angle units,
// 0 to 65535); "ZAOFF" the same angle in position increments, signed.
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>
#include <optional>
#include <vector>

namespace {

using namespace program;

constexpr double kVoltsPerCount = 5.0 / 65472.0;
constexpr double kMissingAmplitude = 0.1; // [V]

class DetectHallGainOffsetTest final : public Program {
public:
    void Start(Firmware& fw) override
    {
        fw.SetVariable("WEAKINC", 0.0);
        for (const char* name : kResults)
            fw.SetVariable(name, 0.0);
        m_voltage = User("RefTest");
        if (!IsVoltageInput(m_voltage)) {
            fw.SetVariable("WEAKINC", -1.0);
            Finish(fw);
            return;
        }
        const double pp = std::round(fw.Register("MECRESL") * fw.Register("ENC2THL") / 4294967296.0);
        m_revolutions = static_cast<int>(std::clamp(pp, 1.0, 8.0));
        if (!SwitchOn(fw))
            return;
        fw.ImposeAngle(kRestAngle);
        fw.SetVoltage(0.0);
        m_phase.Enter(kRamp);
    }

    void OnProtection(Firmware& fw) override
    {
        fw.SetVariable("WEAKINC", -1.0);
        Finish(fw);
    }

    void Step(Firmware& fw) override
    {
        m_phase.Tick();
        switch (m_phase.Current()) {
        case kRamp:
            if (RampVoltage(fw, m_phase, m_voltage, Ticks(fw, 0.05)))
                m_phase.Enter(kSettle);
            break;
        case kSettle: {
            // The current the start voltage drives becomes the current the
            // current controller keeps while the vector turns: it rides over
            // the inverter's dead time, which would make the rotor jerk.
            const long n = Ticks(fw, 0.15), measure = Ticks(fw, 0.02);
            if (m_phase.Ticks() > n - measure) {
                m_current += CurrentMagnitude(fw) / static_cast<double>(measure);
                m_currentAlong += fw.CurrentQ() / static_cast<double>(measure);
            }
            if (m_phase.Ticks() >= n) {
                if (CurrentFollowsVoltage())
                    fw.SetCurrent(m_current);
                m_phase.Enter(kForward);
            }
            break;
        }
        case kForward:
        case kBackward: {
            const long n = Ticks(fw, 1.0 * m_revolutions);
            const double sweep = kTurn * m_revolutions * SmoothStep(m_phase.Ticks(), n);
            const double turned = m_phase.Current() == kForward ? sweep : kTurn * m_revolutions - sweep;
            fw.ImposeAngle(kRestAngle + turned);
            Record(fw, turned);
            if (m_phase.Ticks() >= n)
                m_phase.Enter(m_phase.Current() == kForward ? kPause : kDone);
            break;
        }
        case kPause:
            if (m_phase.Ticks() >= Ticks(fw, 0.1)) {
                m_previous.reset();
                m_phase.Enter(kBackward);
            }
            break;
        case kDone:
            Evaluate(fw);
            Finish(fw);
            break;
        }
    }

private:
    enum { kRamp, kSettle, kForward, kPause, kBackward, kDone };
    static constexpr const char* kResults[] = {"ALPHA",  "KSLIP",     "SFTCWEAK", "AD3OFF",
                                               "AD6OFF", "SRECTCOMP", "SIN2REC",  "ZAOFF"};

    struct Sample {
        double angle = 0.0;               // the rotor's electrical angle the vector asks for [rad]
        double hall[3] = {0.0, 0.0, 0.0}; // [counts]
        double weight = 0.0;              // angle travelled around this sample [rad]
    };

    // At rest the current lies along the voltage that drives it; with two
    // phases crossed against the current sensors it shows a third of a turn
    // away. More than half of it along the voltage (within 60 degrees, half
    // way) tells the two apart.
    bool CurrentFollowsVoltage() const { return m_currentAlong > 0.5 * m_current; }

    // Keeps a sample with the angle it stands for (trapezoidal weights).
    void Record(const Firmware& fw, double turned)
    {
        Sample sample;
        // the q axis (and the rotor's flux) a quarter turn ahead of the frame
        sample.angle = (turned + kRestAngle + kQuarterTurn) * (2.0 * std::numbers::pi / kTurn);
        sample.hall[0] = fw.Adc(AdcChannel::HallA);
        sample.hall[1] = fw.Adc(AdcChannel::HallB);
        sample.hall[2] = fw.Adc(AdcChannel::HallC);
        if (m_previous) {
            const double step = std::abs(sample.angle - m_previous->angle);
            m_samples.back().weight += 0.5 * step;
            sample.weight = 0.5 * step;
        }
        m_samples.push_back(sample);
        m_previous = sample;
    }

    void Evaluate(Firmware& fw)
    {
        double total = 0.0;
        double mean[3] = {0, 0, 0}, c[3] = {0, 0, 0}, s[3] = {0, 0, 0};
        for (const Sample& sample : m_samples) {
            total += sample.weight;
            for (int k = 0; k < 3; ++k) {
                mean[k] += sample.hall[k] * sample.weight;
                c[k] += sample.hall[k] * std::cos(sample.angle) * sample.weight;
                s[k] += sample.hall[k] * std::sin(sample.angle) * sample.weight;
            }
        }
        if (total <= 0.0) {
            fw.SetVariable("WEAKINC", -1.0);
            return;
        }
        double amplitude[3], phase[3], offset[3], gain[3];
        for (int k = 0; k < 3; ++k) {
            offset[k] = std::round(mean[k] / total);
            amplitude[k] = 2.0 * std::hypot(c[k], s[k]) / total;
            phase[k] = std::atan2(s[k], c[k]);
            if (amplitude[k] * kVoltsPerCount < kMissingAmplitude) {
                fw.SetVariable("WEAKINC", -1.0);
                return;
            }
            gain[k] = std::round(std::min(65535.0, 268435456.0 / amplitude[k]));
        }
        // B must follow A by a third of a revolution and C by two thirds.
        const double third = 2.0 * std::numbers::pi / 3.0;
        const double b = std::remainder(phase[1] - phase[0], 2.0 * std::numbers::pi);
        const double cc = std::remainder(phase[2] - phase[0], 2.0 * std::numbers::pi);
        if (std::abs(b - third) > std::numbers::pi / 4.0 || std::abs(cc + third) > std::numbers::pi / 4.0) {
            fw.SetVariable("WEAKINC", -2.0);
            return;
        }
        // The angle between the rotor and the Hall angle the firmware will compute.
        double x = 0.0, y = 0.0;
        for (const Sample& sample : m_samples) {
            const double hall =
                Firmware::HallAngleOf(sample.hall, gain, offset) * (2.0 * std::numbers::pi / kTurn);
            x += std::cos(sample.angle - hall) * sample.weight;
            y += std::sin(sample.angle - hall) * sample.weight;
        }
        double alpha = std::round(std::atan2(y, x) * kTurn / (2.0 * std::numbers::pi));
        if (alpha < 0.0)
            alpha += kTurn;
        if (alpha >= kTurn)
            alpha -= kTurn;
        const double signedAlpha = alpha >= kTurn / 2.0 ? alpha - kTurn : alpha;
        const int dbtth = static_cast<int>(std::clamp(fw.Register("DBTTH"), 0.0, 16.0));
        const double zeroOffset = std::round(signedAlpha / static_cast<double>(1 << dbtth));

        const double values[] = {alpha,     gain[2], offset[2], offset[1],
                                 offset[0], gain[0], gain[1],   zeroOffset};
        for (std::size_t k = 0; k < std::size(kResults); ++k)
            fw.SetVariable(kResults[k], values[k]);
        // The drive works with the new calibration at once.
        const char* registers[] = {"ALPHA",    "HALLCGAIN", "HALLCOFF",  "HALLBOFF",
                                   "HALLAOFF", "HALLAGAIN", "HALLBGAIN", "ZAOFF"};
        for (std::size_t k = 0; k < std::size(registers); ++k)
            fw.SetRegister(registers[k], values[k]);
        fw.SetVariable("WEAKINC", 1.0);
    }

    Phase m_phase;
    double m_voltage = 0.0;      // [voltage command units]
    double m_current = 0.0;      // magnitude [current units]
    double m_currentAlong = 0.0; // its part along the voltage (q) [current units]
    int m_revolutions = 1;
    std::vector<Sample> m_samples;
    std::optional<Sample> m_previous;
};

} // namespace

std::unique_ptr<Program> MakeDetectHallGainOffsetTest()
{
    return std::make_unique<DetectHallGainOffsetTest>();
}
