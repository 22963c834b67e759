#include "RotatingVoltageResponse.h"

#include <cmath>
#include <numbers>

namespace {

using Complex = std::complex<double>;

// The frame angle at which the preliminary positioning leaves the rotor's
// flux on the frame's q axis, and a whole turn [angle units].
constexpr double kRestAngle = -16383.0;
constexpr double kTurn = 65536.0;

// The inductance of an axis of impedance `impedance` at `omega`; none when
// it holds no inductive part.
std::optional<double> InductanceOf(Complex impedance, double omega)
{
    const double inductance = impedance.imag() / omega;
    if (!std::isfinite(inductance) || inductance <= 0.0)
        return std::nullopt;
    return inductance;
}

} // namespace

void RotatingVoltageResponse::Add(double inPhase, double lagging, double frameAngle)
{
    // The frame's q axis lies on the rotor's d axis at the rest angle: the
    // current in the rotor's axes (d real, q imaginary).
    const Complex turn = std::polar(1.0, 2.0 * std::numbers::pi * (frameAngle - kRestAngle) / kTurn);
    const Complex current = Complex(inPhase, -lagging) * turn;
    // The voltage is U cos(angle) on d and U sin(angle) on q.
    m_d += current.real() * std::conj(turn);
    m_q += current.imag() * std::conj(turn) * Complex(0.0, 1.0);
    ++m_samples;
}

std::optional<AxisInductances> RotatingVoltageResponse::Inductances(double voltage, double omega) const
{
    if (m_samples == 0 || !(voltage > 0.0) || !(omega > 0.0))
        return std::nullopt;
    const double scale = 2.0 / (static_cast<double>(m_samples) * voltage);
    const Complex zd = 1.0 / (m_d * scale);
    const Complex zq = 1.0 / (m_q * scale);
    const auto d = InductanceOf(zd, omega);
    const auto q = InductanceOf(zq, omega);
    if (!d || !q)
        return std::nullopt;
    return AxisInductances{*d, *q, (zq.real() - zd.real()) / zq.imag()};
}

double PwmRippleCurrent(double vdc, double pwmPeriod, double starInductance)
{
    // Half of the bus across the winding for half the period, at most.
    return vdc * pwmPeriod / (8.0 * starInductance);
}
