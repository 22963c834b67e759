// "Detect_Hall_Gain_Offset_Test": aligns the rotor with the start voltage
// "RefTest", then keeps the current that voltage drives with the current
// controller and turns it by one mechanical revolution forwards and back
// again (the pole pairs from "MECRESL" x "ENC2THL"), reads the three linear
// Hall signals on the way and works out each signal's offset and amplitude
// and the angle of the Hall signals against phase A.
//
// Each signal is taken as offset + amplitude x cos(angle - phase), with the
// rotor's angle taken from the vector it follows; the Fourier sums over
// whole revolutions of each direction give all three values. The rotor lags
// the vector by the angle whose torque carries its friction and load: the
// amplitude is taken in each direction on its own (summing the two would
// cancel the lag's phase but scale the amplitude by the lag's cosine).
//
// A load that does not reverse with the direction (gravity) makes a lag
// that does not cancel between the two directions either. Two more turns,
// one each way with the current raised by half, tell it: the lag at the
// current I is asin(T / I) (T the load in current units), and how far the
// Hall angle moves between the two currents gives T. The angle is taken
// back to the rotor's own in each direction.
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
#include "AlignedStartProgram.h"
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
constexpr double kMissingAmplitude = 0.1;    // [V]
constexpr double kProbeRatio = 1.5;          // the probe current against the test current...
constexpr double kProbeRatioLow = 2.0 / 3.0; // ...or below it, when the drive has no room above
constexpr double kProbeCeiling = 0.8 * kCommandLimit;

// The rotor's angle from the angle the Hall signals show against the
// vector at two currents (I and ratio x I, angles [rad]): the lag e at each
// holds the same load, sin e1 = ratio sin e2, with e1 - e2 the shift seen.
double AngleWithoutLag(double atTest, double atProbe, double ratio)
{
    const double shift = std::remainder(atTest - atProbe, 2.0 * std::numbers::pi);
    const double lagAtProbe = std::atan(std::sin(shift) / (ratio - std::cos(shift)));
    return atProbe - lagAtProbe;
}

// The mean direction of two angles [rad].
double MeanAngle(double a, double b)
{
    return std::atan2(std::sin(a) + std::sin(b), std::cos(a) + std::cos(b));
}

class HallGainOffsetSweep final : public AlignedStartProgram {
public:
    void Start(Firmware& fw) override
    {
        fw.SetVariable("WEAKINC", 0.0);
        for (const char* name : kResults)
            fw.SetVariable(name, 0.0);
        const double pp = std::round(fw.Register("MECRESL") * fw.Register("ENC2THL") / 4294967296.0);
        m_revolutions = static_cast<int>(std::clamp(pp, 1.0, 8.0));
        if (StartAligned(fw, {{"WEAKINC", -1.0}}))
            m_phase.Enter(kSettle);
    }

    void OnProtection(Firmware& fw) override
    {
        fw.SetVariable("WEAKINC", -1.0);
        Finish(fw);
    }

protected:
    void StepHolding(Firmware& fw) override
    {
        m_phase.Tick();
        switch (m_phase.Current()) {
        case kSettle:
            Settle(fw);
            break;
        case kSweep:
            Sweep(fw);
            break;
        case kPause: {
            const long n = Ticks(fw, 0.2);
            if (m_sweep == 1 && Probes())
                fw.SetCurrent(m_current + (m_probeCurrent - m_current) * SmoothStep(m_phase.Ticks(), n / 2));
            if (m_phase.Ticks() >= n) {
                m_previous.reset();
                ++m_sweep;
                m_phase.Enter(kSweep);
            }
            break;
        }
        }
    }

private:
    enum { kSettle, kSweep, kPause };
    static constexpr int kSweeps = 4; // forwards and back at the test current, then at the probe's
    static constexpr const char* kResults[] = {"ALPHA",  "KSLIP",     "SFTCWEAK", "AD3OFF",
                                               "AD6OFF", "SRECTCOMP", "SIN2REC",  "ZAOFF"};

    struct Sample {
        double angle = 0.0;               // the rotor's electrical angle the vector asks for [rad]
        double hall[3] = {0.0, 0.0, 0.0}; // [counts]
        double weight = 0.0;              // angle travelled around this sample [rad]
        int sweep = 0;
    };

    // At rest the current lies along the voltage that drives it; with two
    // phases crossed against the current sensors it shows a third of a turn
    // away. More than half of it along the voltage (within 60 degrees, half
    // way) tells the two apart.
    bool CurrentFollowsVoltage() const { return m_currentAlong > 0.5 * m_current; }

    // Whether the last two sweeps run at the probe current (only under
    // current control).
    bool Probes() const { return m_probeCurrent > 0.0; }
    static bool Forwards(int sweep) { return sweep % 2 == 0; }
    int Turns(int sweep) const { return sweep < 2 ? m_revolutions : 1; }

    void Settle(Firmware& fw)
    {
        // The current the start voltage drives becomes the current the
        // current controller keeps while the vector turns: it rides over
        // the inverter's dead time, which would make the rotor jerk.
        const long n = Ticks(fw, 0.15), measure = Ticks(fw, 0.02);
        if (m_phase.Ticks() > n - measure) {
            m_current += CurrentMagnitude(fw) / static_cast<double>(measure);
            m_currentAlong += fw.CurrentQ() / static_cast<double>(measure);
        }
        if (m_phase.Ticks() < n)
            return;
        if (CurrentFollowsVoltage()) {
            fw.SetCurrent(m_current);
            const double above = kProbeRatio * m_current;
            m_probeCurrent = above <= kProbeCeiling ? above : kProbeRatioLow * m_current;
        }
        m_phase.Enter(kSweep);
    }

    void Sweep(Firmware& fw)
    {
        const double turns = Turns(m_sweep);
        const long n = Ticks(fw, turns);
        const double sweep = kTurn * turns * SmoothStep(m_phase.Ticks(), n);
        const double turned = Forwards(m_sweep) ? sweep : kTurn * turns - sweep;
        fw.ImposeAngle(kRestAngle + turned);
        Record(fw, turned);
        if (m_phase.Ticks() < n)
            return;
        const bool calibrated = m_sweep != 1 || Calibrate(fw);
        if (!calibrated || m_sweep + 1 == kSweeps || (m_sweep == 1 && !Probes())) {
            if (calibrated)
                Publish(fw);
            Finish(fw);
            return;
        }
        m_phase.Enter(kPause);
    }

    // Keeps a sample with the angle it stands for (trapezoidal weights).
    void Record(const Firmware& fw, double turned)
    {
        Sample sample;
        // the q axis (and the rotor's flux) a quarter turn ahead of the frame
        sample.angle = (turned + kRestAngle + kQuarterTurn) * (2.0 * std::numbers::pi / kTurn);
        sample.hall[0] = fw.Adc(AdcChannel::HallA);
        sample.hall[1] = fw.Adc(AdcChannel::HallB);
        sample.hall[2] = fw.Adc(AdcChannel::HallC);
        sample.sweep = m_sweep;
        if (m_previous) {
            const double step = std::abs(sample.angle - m_previous->angle);
            m_samples.back().weight += 0.5 * step;
            sample.weight = 0.5 * step;
        }
        m_samples.push_back(sample);
        m_previous = sample;
    }

    // Offsets and gains from the two sweeps at the test current, and the
    // check of the Hall order; false (the status set) when they fail.
    bool Calibrate(Firmware& fw)
    {
        double total[2] = {0, 0}, mean[3] = {0, 0, 0}, c[2][3] = {}, s[2][3] = {};
        for (const Sample& sample : m_samples) {
            const auto d = static_cast<std::size_t>(sample.sweep);
            total[d] += sample.weight;
            for (int k = 0; k < 3; ++k) {
                mean[k] += sample.hall[k] * sample.weight;
                c[d][k] += sample.hall[k] * std::cos(sample.angle) * sample.weight;
                s[d][k] += sample.hall[k] * std::sin(sample.angle) * sample.weight;
            }
        }
        if (total[0] <= 0.0 || total[1] <= 0.0) {
            fw.SetVariable("WEAKINC", -1.0);
            return false;
        }
        double phase[3];
        for (int k = 0; k < 3; ++k) {
            m_offset[k] = std::round(mean[k] / (total[0] + total[1]));
            const double forwards = 2.0 * std::hypot(c[0][k], s[0][k]) / total[0];
            const double backwards = 2.0 * std::hypot(c[1][k], s[1][k]) / total[1];
            const double amplitude = 0.5 * (forwards + backwards);
            phase[k] = MeanAngle(std::atan2(s[0][k], c[0][k]), std::atan2(s[1][k], c[1][k]));
            if (amplitude * kVoltsPerCount < kMissingAmplitude) {
                fw.SetVariable("WEAKINC", -1.0);
                return false;
            }
            m_gain[k] = std::round(std::min(65535.0, 268435456.0 / amplitude));
        }
        // B must follow A by a third of a revolution and C by two thirds.
        const double third = 2.0 * std::numbers::pi / 3.0;
        const double b = std::remainder(phase[1] - phase[0], 2.0 * std::numbers::pi);
        const double cc = std::remainder(phase[2] - phase[0], 2.0 * std::numbers::pi);
        if (std::abs(b - third) > std::numbers::pi / 4.0 || std::abs(cc + third) > std::numbers::pi / 4.0) {
            fw.SetVariable("WEAKINC", -2.0);
            return false;
        }
        return true;
    }

    // The mean angle between the vector and the Hall angle the firmware
    // computes with the new calibration, over one sweep [rad].
    double VectorAgainstHalls(int sweep) const
    {
        double x = 0.0, y = 0.0;
        for (const Sample& sample : m_samples) {
            if (sample.sweep != sweep)
                continue;
            const double hall =
                Firmware::HallAngleOf(sample.hall, m_gain, m_offset) * (2.0 * std::numbers::pi / kTurn);
            x += std::cos(sample.angle - hall) * sample.weight;
            y += std::sin(sample.angle - hall) * sample.weight;
        }
        return std::atan2(y, x);
    }

    // The angle between the rotor and the Hall angle [rad]: the lags of the
    // two directions cancel as far as they reverse; the probe takes out the
    // rest.
    double RotorAgainstHalls() const
    {
        if (!Probes())
            return MeanAngle(VectorAgainstHalls(0), VectorAgainstHalls(1));
        const double ratio = m_probeCurrent / m_current;
        return MeanAngle(AngleWithoutLag(VectorAgainstHalls(0), VectorAgainstHalls(2), ratio),
                         AngleWithoutLag(VectorAgainstHalls(1), VectorAgainstHalls(3), ratio));
    }

    void Publish(Firmware& fw)
    {
        double alpha = std::round(RotorAgainstHalls() * kTurn / (2.0 * std::numbers::pi));
        if (alpha < 0.0)
            alpha += kTurn;
        if (alpha >= kTurn)
            alpha -= kTurn;
        const double signedAlpha = alpha >= kTurn / 2.0 ? alpha - kTurn : alpha;
        const int dbtth = static_cast<int>(std::clamp(fw.Register("DBTTH"), 0.0, 16.0));
        const double zeroOffset = std::round(signedAlpha / static_cast<double>(1 << dbtth));

        const double values[] = {alpha,       m_gain[2], m_offset[2], m_offset[1],
                                 m_offset[0], m_gain[0], m_gain[1],   zeroOffset};
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
    double m_current = 0.0;      // magnitude [current units]
    double m_currentAlong = 0.0; // its part along the voltage (q) [current units]
    double m_probeCurrent = 0.0; // [current units], 0: no probe
    int m_revolutions = 1;
    int m_sweep = 0;
    double m_gain[3] = {0, 0, 0};
    double m_offset[3] = {0, 0, 0};
    std::vector<Sample> m_samples;
    std::optional<Sample> m_previous;
};

} // namespace

std::unique_ptr<Program> MakeHallGainOffsetSweep()
{
    return std::make_unique<HallGainOffsetSweep>();
}
