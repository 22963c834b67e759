// "Total_Inertia_Identification_Test": accelerates the motor with the torque
// of the test current "In1" up to the speed limit "LimitSpeedMax", then
// brakes it with the same current reversed. The position is taken every
// current-loop period; a parabola fitted over the same speed band of each
// phase (20 % to 90 % of the peak, the current settled at its reference), beside the ripple of the Hall
// sensors' angle error, gives the two accelerations. With the torque T and a constant disturbance D
// (friction, a load such as gravity), J a_up = T - D and J a_down = -T - D, so J = T / ((a_up - a_down) / 2):
// the disturbance drops out.
//
// The acceleration stops early when the voltage runs out (back-EMF); the
// speed band is then taken below the speed reached.
// Results (user variables):
// - "test_flag": 1, or 0 when the motor turned backwards under a positive
//   torque;
// - "delta_time" [speed-loop periods] and "delta_speed" [speed units]: a
//   time and the speed a torque of "In1" alone would gain in it, so the host
//   gets J = K x In1 x delta_time / delta_speed. Negative "delta_time" is a
//   failure: -1 turned backwards, -2 no movement, current not reached or the
//   protection level "Imax_Prot_Test" exceeded, -3 the speed limit not
//   reached or no usable measurement.
#include "Firmware.h"
#include "ProgramGuards.h"
#include "ProgramHelpers.h"
#include "Programs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using namespace program;

constexpr double kBandLow = 0.2; // of the peak speed
constexpr double kBandHigh = 0.9;
constexpr double kBrakeEnd = 0.12; // braking ends below this share of the peak
constexpr double kVoltageHeadroom = 0.85 * kCommandLimit;
constexpr double kVoltageFilter = 0.25; // per speed-loop period, on the voltage's mean
constexpr double kMinPeakShare = 0.3;   // of the limit, when the voltage runs out
constexpr double kStartTime = 0.5;      // [s] to start moving
constexpr double kRunTime = 3.0;        // [s] to reach the limit, and to brake
constexpr double kCurrentTime = 0.05;   // [s] the current may stay below half its reference
constexpr double kSettledBand = 0.05;   // the current within 5 % of its reference...
constexpr int kSettledPeriods = 5;      // ...for this many current-loop periods
constexpr std::size_t kMinPoints = 20;  // current-loop periods in a speed band

enum Failure { kBackwards = -1, kNoTorque = -2, kNoSpeed = -3 };

// Solves the normal equations a x = b of a small least-squares fit
// (Gaussian elimination with partial pivoting); false when singular.
template <std::size_t N>
bool SolveNormalEquations(std::array<std::array<double, N>, N> a, std::array<double, N> b,
                          std::array<double, N>& x)
{
    for (std::size_t col = 0; col < N; ++col) {
        std::size_t pivot = col;
        for (std::size_t row = col + 1; row < N; ++row)
            if (std::abs(a[row][col]) > std::abs(a[pivot][col]))
                pivot = row;
        if (std::abs(a[pivot][col]) < 1e-12 * std::abs(a[0][0]))
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (std::size_t row = col + 1; row < N; ++row) {
            const double f = a[row][col] / a[col][col];
            for (std::size_t k = col; k < N; ++k)
                a[row][k] -= f * a[col][k];
            b[row] -= f * b[col];
        }
    }
    for (std::size_t col = N; col-- > 0;) {
        double sum = b[col];
        for (std::size_t k = col + 1; k < N; ++k)
            sum -= a[col][k] * x[k];
        x[col] = sum / a[col][col];
    }
    return true;
}

// The harmonics of the electrical angle stand apart from a parabola over a
// few electrical turns only: this many at least.
constexpr double kMinTurnsForHarmonics = 2.0;

// Least-squares parabola through equally spaced positions: the second
// derivative [per sample squared]. Over a few electrical turns the first two
// harmonics of the electrical angle are fitted beside it: the position the
// Hall sensors give carries their angle error (sensors not a third of a
// turn apart, unequal gains), which repeats with the angle and would
// otherwise bend the parabola.
double FitAcceleration(const std::vector<double>& p, std::size_t first, std::size_t last,
                       double incrementsPerTurn)
{
    constexpr std::size_t kTerms = 7; // 1, t, t^2, cos and sin of the angle and of twice it
    const bool harmonics = std::abs(p[last] - p[first]) >= kMinTurnsForHarmonics * incrementsPerTurn;
    const std::size_t terms = harmonics ? kTerms : 3;
    const double mid = 0.5 * static_cast<double>(first + last);
    const double half = std::max(1.0, 0.5 * static_cast<double>(last - first));
    std::array<std::array<double, kTerms>, kTerms> a{};
    std::array<double, kTerms> b{}, x{};
    for (std::size_t i = terms; i < kTerms; ++i)
        a[i][i] = 1.0; // the terms left out stay at zero
    for (std::size_t k = first; k <= last; ++k) {
        const double t = (static_cast<double>(k) - mid) / half;
        const double angle = p[k] * (2.0 * std::numbers::pi / incrementsPerTurn);
        const std::array<double, kTerms> row = {
            1.0, t, t * t, std::cos(angle), std::sin(angle), std::cos(2.0 * angle), std::sin(2.0 * angle)};
        for (std::size_t i = 0; i < terms; ++i) {
            for (std::size_t j = 0; j < terms; ++j)
                a[i][j] += row[i] * row[j];
            b[i] += row[i] * (p[k] - p[first]);
        }
    }
    if (!SolveNormalEquations(a, b, x))
        return 0.0;
    return 2.0 * x[2] / (half * half);
}

class InertiaRun final : public Program {
public:
    void Start(Firmware& fw) override
    {
        m_current = User("In1");
        m_limit = User("LimitSpeedMax");
        SetUser("test_flag", 1.0);
        SetUser("delta_time", 0.0);
        SetUser("delta_speed", 0.0);
        if (!(std::isfinite(m_current) && m_current > 0.0 && m_current <= kCommandLimit)) {
            Fail(fw, kNoTorque);
            return;
        }
        if (!(std::isfinite(m_limit) && m_limit > 0.0)) {
            Fail(fw, kNoSpeed);
            return;
        }
        m_guard.Arm(User("Imax_Prot_Test"));
        if (!SwitchOn(fw))
            return;
        m_ratio = fw.SlowPeriod() / fw.FastPeriod();
        // A load may already be pulling the rotor backwards (nothing holds
        // it while the power stage is off); only a faster backward turn counts.
        m_startSpeed = std::min(0.0, fw.Speed());
        fw.UseSensorAngle();
        Command(fw, m_current);
        m_phase.Enter(kAccelerate);
    }

    // Every current-loop period: the protection, and the position with a
    // mark whether the current (the torque) stands at its reference.
    void FastStep(Firmware& fw) override
    {
        if (m_guard.Check(fw)) {
            fw.SetCurrent(0.0);
            return;
        }
        m_voltageSum += std::hypot(fw.VoltageQ(), fw.VoltageD());
        ++m_voltageCount;
        const bool near = std::abs(fw.CurrentQ() - m_reference) <= kSettledBand * std::abs(m_reference);
        m_near = near ? m_near + 1 : 0;
        m_positions.push_back(fw.Position());
        m_settled.push_back(m_near >= kSettledPeriods);
    }

    void Step(Firmware& fw) override
    {
        m_phase.Tick();
        if (m_guard.Tripped()) {
            Fail(fw, kNoTorque);
            return;
        }
        // Mean speed over the last four speed-loop periods [increments per period].
        const double position = fw.Position();
        m_recent.push_back(position);
        if (m_recent.size() > 5)
            m_recent.erase(m_recent.begin());
        const double speed = m_recent.size() == 5 ? (m_recent.back() - m_recent.front()) / 4.0 : 0.0;
        if (m_phase.Current() == kAccelerate)
            Accelerate(fw, speed);
        else
            Brake(fw, speed);
    }

    std::vector<std::string> ResultNames() const override
    {
        return {"test_flag", "delta_time", "delta_speed"};
    }

private:
    enum { kAccelerate, kBrake };

    void Command(Firmware& fw, double current)
    {
        m_reference = current;
        m_near = 0;
        fw.SetCurrent(current);
    }

    void Accelerate(Firmware& fw, double speed)
    {
        const double elapsed = static_cast<double>(m_phase.Ticks()) * fw.SlowPeriod();
        if (speed < m_startSpeed - std::max(0.5, 0.05 * m_limit)) {
            SetUser("test_flag", 0.0);
            Fail(fw, kBackwards);
            return;
        }
        m_lowCurrent = fw.CurrentQ() < 0.5 * m_current ? m_lowCurrent + 1 : 0;
        if (elapsed > 0.02 && m_lowCurrent >= Ticks(fw, kCurrentTime)) {
            Fail(fw, kNoTorque);
            return;
        }
        // The voltage runs out when its mean nears the limit with the current
        // held at its reference. While the current rises the controller may
        // use all of it: the mean starts afresh once the current holds.
        const bool holding = !m_settled.empty() && m_settled.back();
        if (m_voltageCount > 0) {
            const double mean = m_voltageSum / static_cast<double>(m_voltageCount);
            m_voltage = holding && !m_currentHeld ? mean : m_voltage + kVoltageFilter * (mean - m_voltage);
            m_voltageSum = 0.0;
            m_voltageCount = 0;
        }
        m_currentHeld = m_currentHeld || holding;
        const bool voltageOut = m_currentHeld && m_voltage > kVoltageHeadroom;
        if (speed >= m_limit || (voltageOut && speed >= kMinPeakShare * m_limit)) {
            m_peak = speed;
            m_brakeStart = m_positions.size();
            Command(fw, -m_current);
            m_phase.Enter(kBrake);
            return;
        }
        if (voltageOut || (elapsed > kStartTime && speed < 0.02 * m_limit)) {
            Fail(fw, kNoTorque);
            return;
        }
        if (elapsed > kRunTime)
            Fail(fw, kNoSpeed);
    }

    void Brake(Firmware& fw, double speed)
    {
        const double elapsed = static_cast<double>(m_phase.Ticks()) * fw.SlowPeriod();
        if (speed > kBrakeEnd * m_peak && elapsed <= kRunTime)
            return;
        fw.SetCurrent(0.0);
        if (elapsed > kRunTime) {
            Fail(fw, kNoSpeed);
            return;
        }
        Evaluate(fw);
    }

    // Speed at sample k from the samples a speed-loop period on either side
    // [increments per current-loop period]; 0 near the ends.
    double SpeedAt(std::size_t k) const
    {
        const auto h = static_cast<std::size_t>(std::max(1.0, std::round(m_ratio)));
        if (k < h || k + h >= m_positions.size())
            return 0.0;
        return (m_positions[k + h] - m_positions[k - h]) / (2.0 * static_cast<double>(h));
    }

    void Evaluate(Firmware& fw)
    {
        const double peak = m_peak / m_ratio; // [increments per current-loop period]
        const double low = kBandLow * peak, high = kBandHigh * peak;
        // Accelerating: from the first settled sample above the band's low end
        // to the last below its high end; braking the other way round.
        std::size_t upFirst = 0, upLast = 0, downFirst = 0, downLast = 0;
        bool upFound = false, downFound = false;
        for (std::size_t k = 0; k < m_brakeStart; ++k) {
            if (!m_settled[k])
                continue;
            const double v = SpeedAt(k);
            if (!upFound && v >= low) {
                upFirst = k;
                upFound = true;
            }
            if (upFound && v <= high)
                upLast = k;
        }
        for (std::size_t k = m_brakeStart; k < m_positions.size(); ++k) {
            if (!m_settled[k])
                continue;
            const double v = SpeedAt(k);
            if (!downFound && v > 0.0 && v <= high) {
                downFirst = k;
                downFound = true;
            }
            if (downFound && v >= low)
                downLast = k;
        }
        if (!upFound || !downFound || upLast < upFirst + kMinPoints || downLast < downFirst + kMinPoints) {
            Fail(fw, kNoSpeed);
            return;
        }
        // [increments per current-loop period squared]
        const double up = FitAcceleration(m_positions, upFirst, upLast, fw.IncrementsPerTurn());
        const double down = FitAcceleration(m_positions, downFirst, downLast, fw.IncrementsPerTurn());
        if (!(up > 0.0 && down < 0.0)) {
            Fail(fw, kNoSpeed);
            return;
        }
        // The speed the torque alone gains in the acceleration's time, in
        // speed-loop periods and speed units.
        const double time = std::max(1.0, std::round(static_cast<double>(upLast - upFirst) / m_ratio));
        SetUser("delta_time", time);
        SetUser("delta_speed", 0.5 * (up - down) * m_ratio * m_ratio * time);
        Finish(fw);
    }

    void Fail(Firmware& fw, Failure failure)
    {
        SetUser("delta_time", static_cast<double>(failure));
        SetUser("delta_speed", 0.0);
        Finish(fw);
    }

    Phase m_phase;
    CurrentGuard m_guard;
    double m_current = 0.0;    // [current units]
    double m_reference = 0.0;  // [current units]
    double m_limit = 0.0;      // [speed units]
    double m_peak = 0.0;       // [speed units]
    double m_startSpeed = 0.0; // [speed units]
    double m_voltage = 0.0;    // filtered voltage magnitude [voltage command units]
    double m_voltageSum = 0.0;
    int m_voltageCount = 0;
    double m_ratio = 10.0; // current-loop periods per speed-loop period
    long m_lowCurrent = 0;
    int m_near = 0;
    bool m_currentHeld = false; // the current has held at its reference
    std::size_t m_brakeStart = 0;
    std::vector<double> m_recent;    // the last speed-loop positions [increments]
    std::vector<double> m_positions; // one per current-loop period [increments]
    std::vector<bool> m_settled;
};

} // namespace

std::unique_ptr<Program> MakeInertiaRun()
{
    return std::make_unique<InertiaRun>();
}
