// The winding's inductance from its current response to a voltage vector
// of constant amplitude turning at a fixed frequency with the rotor at
// rest, as the inductance run logs it in the turning frame.
//
// With the rotor at rest each axis answers on its own: in the turning frame
// the current is U x (Yd + Yq) / 2, plus a part of amplitude
// U x |Yd - Yq| / 2 turning backwards at twice the frequency (Y: the axis's
// admittance 1 / (R + j w L)). The means of the two current components give
// the mean admittance, the mean of their squares the size of the backward
// part; with one resistance on both axes that fixes Yd and Yq, so a salient
// rotor's two inductances come out apart, whatever the resistive drop
// (winding, dead time).
#pragma once

#include <optional>

// Means over the log, in the drive's units, of the current component along
// the voltage, of the one a quarter turn behind it, and of the sum of their
// squares.
struct RotatingVoltageMeans {
    double inPhase = 0.0;
    double lagging = 0.0;
    double power = 0.0;
};

// The two axes' inductances [voltage units x s / current units], the lower
// first (the log does not tell which axis is which).
struct AxisInductances {
    double low = 0.0;
    double high = 0.0;
    double Mean() const { return 0.5 * (low + high); }
};

// From the means of a run at amplitude `voltage` [voltage units] and
// angular frequency `omega` [rad/s]; none when the means hold no inductive
// response (no current, no lag) or are not finite.
std::optional<AxisInductances> AxisInductancesFrom(const RotatingVoltageMeans& means, double voltage,
                                                   double omega);

// Half the peak-to-peak ripple of a phase current at half duty [A] for a
// supply `vdc` [V], a PWM period [s] and the equivalent star inductance [H].
// While a current is smaller than that it changes sign within the period
// and the inverter's dead time drops a voltage that grows with it, as a
// resistance would.
double PwmRippleCurrent(double vdc, double pwmPeriod, double starInductance);
