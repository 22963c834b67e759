// The winding's inductance from its current response to a voltage vector
// of constant amplitude turning at a fixed frequency with the rotor at
// rest, as the inductance run logs it: the current in the turning frame and
// the frame's angle, counted from the rest angle where the preliminary
// positioning left the rotor's flux on the frame's q axis.
//
// Knowing where the rotor's axes are, the log is turned back onto them and
// each axis's current is compared with its own share of the voltage: the
// axes come out apart with their own resistances. That matters on the q
// axis: its current makes torque, and the shaft's motion adds its back-EMF
// there. Near a load's resonance that EMF is mostly in phase with the
// current (the load's losses); taken for one resistance on both axes it
// would pass for inductance.
#pragma once

#include <complex>
#include <optional>

// The rotor's two inductances [voltage units x s / current units], and the
// q axis's resistance above the d axis's per unit of its reactance: the
// losses of a shaft that moves with the q current, large where a load
// resonates near the run's frequency and its motion weighs on Lq.
struct AxisInductances {
    double d = 0.0;
    double q = 0.0;
    double shaftLoss = 0.0;
    double Mean() const { return 0.5 * (d + q); }
};

// The shaft losses beyond which the shaft's motion is taken to disturb the
// inductance: a winding alone stays under a tenth.
inline constexpr double kMaxShaftLoss = 0.3;

// Sums the log's samples, taken over whole turns of the frame.
class RotatingVoltageResponse {
public:
    // One sample: the current along the voltage ("IQ"), the one a quarter
    // turn behind it ("ID") [current units] and the frame's angle ("THTST",
    // 65536 a turn).
    void Add(double inPhase, double lagging, double frameAngle);

    // The axes' inductances for a run at amplitude `voltage` [voltage units]
    // and angular frequency `omega` [rad/s]; none when the log holds no
    // inductive response on either axis or no samples.
    std::optional<AxisInductances> Inductances(double voltage, double omega) const;

private:
    std::complex<double> m_d; // sums of each axis's current against the frame's turn
    std::complex<double> m_q;
    int m_samples = 0;
};

// Half the peak-to-peak ripple of a phase current at half duty [A] for a
// supply `vdc` [V], a PWM period [s] and the equivalent star inductance [H].
// While a current is smaller than that it changes sign within the period
// and the inverter's dead time drops a voltage that grows with it, as a
// resistance would.
double PwmRippleCurrent(double vdc, double pwmPeriod, double starInductance);
