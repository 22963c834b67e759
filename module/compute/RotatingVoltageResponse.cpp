#include "RotatingVoltageResponse.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

using Complex = std::complex<double>;

// A and B with midpoint m and |A|^2 + |B|^2 = 2 s both lie on the circle of
// admittances 1 / (R + jX) for one R (centre and radius 1 / 2R on the real
// axis): their half difference is perpendicular to m less the centre.
Complex HalfDifference(Complex m, double s)
{
    const double size = std::sqrt(std::max(0.0, s - std::norm(m)));
    if (m.real() <= 0.0) // no loss: the circle is the imaginary axis
        return Complex(0.0, size);
    const Complex fromCentre = m - s / (2.0 * m.real());
    const double length = std::abs(fromCentre);
    if (length == 0.0)
        return Complex(0.0, size);
    return Complex(0.0, 1.0) * fromCentre * (size / length);
}

} // namespace

std::optional<AxisInductances> AxisInductancesFrom(const RotatingVoltageMeans& means, double voltage,
                                                   double omega)
{
    if (!(voltage > 0.0) || !(omega > 0.0) || !(means.lagging > 0.0) || !std::isfinite(means.inPhase) ||
        !std::isfinite(means.power))
        return std::nullopt;
    // The current lags: admittance = (in phase - j lagging) / U.
    const Complex mean = Complex(means.inPhase, -means.lagging) / voltage;
    const Complex half = HalfDifference(mean, means.power / (voltage * voltage));
    const double a = (1.0 / (mean + half)).imag() / omega;
    const double b = (1.0 / (mean - half)).imag() / omega;
    if (!std::isfinite(a) || !std::isfinite(b) || a <= 0.0 || b <= 0.0)
        return std::nullopt;
    return AxisInductances{std::min(a, b), std::max(a, b)};
}

double PwmRippleCurrent(double vdc, double pwmPeriod, double starInductance)
{
    // Half of the bus across the winding for half the period, at most.
    return vdc * pwmPeriod / (8.0 * starInductance);
}
