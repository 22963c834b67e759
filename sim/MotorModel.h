// The simulated motor, as a motor file's "plant" section describes it: the
// true electrical and mechanical parameters, the linear Hall sensors and the
// faults the file injects. The motor database reads the same file's
// "parameters" section (the values a user would type in); the virtual drive
// reads this one.
#pragma once

#include <array>
#include <string>
#include <vector>

// One linear Hall sensor: output = offset + amplitude x cos(electrical angle - angle).
struct HallSensorModel {
    double amplitude = 1.25; // [V]
    double offset = 2.5;     // [V]
    double angle = 0.0;      // [electrical degrees] from phase A's axis
};

// An optional compliant shaft between the rotor and the load (a two-mass
// system with one mechanical resonance).
struct CouplingModel {
    bool present = false;
    double stiffness = 0.0; // [Nm/rad]
    double damping = 0.0;   // [Nm s/rad]
};

struct MotorModel {
    std::string name;

    // Electrical. For a delta-connected motor R, Ld and Lq are the winding's
    // values, as the setup counts them (three times the star equivalent).
    bool delta = false;
    double R = 0.8;     // [ohm]
    double Ld = 0.0012; // [H]
    double Lq = 0.0012; // [H]
    double K = 0.13;    // [Nm/A] torque constant (peak phase current)
    int polePairs = 4;

    // Mechanical, at the motor shaft.
    double Jm = 4e-5;         // rotor [kg m^2]
    double Jload = 4e-5;      // load [kg m^2]
    double viscous = 2e-5;    // motor viscous friction [Nm s/rad]
    double coulomb = 0.004;   // motor Coulomb friction [Nm]
    double loadViscous = 0.0; // load viscous friction [Nm s/rad]
    double loadCoulomb = 0.0; // load Coulomb friction [Nm]
    double loadTorque = 0.0;  // constant load torque, such as gravity [Nm]
    // A spring-applied holding brake on the motor shaft: it holds while the
    // drive's brake output is off (power stage off). 0: no brake.
    double brakeTorque = 0.0; // [Nm]
    CouplingModel coupling;

    std::array<HallSensorModel, 3> halls{HallSensorModel{1.2, 2.48, 30.0}, HallSensorModel{1.25, 2.5, 151.0},
                                         HallSensorModel{1.3, 2.53, 269.0}};

    // Thermal: temperature rise per watt of copper loss and its time constant.
    double thermalResistance = 2.0;     // [K/W]
    double thermalTimeConstant = 600.0; // [s]

    // Fault names injected by the file (see Faults.h).
    std::vector<std::string> faults;

    // The flux linkage that matches K: torque = 1.5 x pp x flux x iq.
    double FluxLinkage() const { return K / (1.5 * polePairs); }
    double TotalInertia() const { return Jm + Jload; }
    // The compliant shaft's resonance with the rotor and the load [rad/s].
    double ShaftResonance() const;

    // The reference setup's motor (the default of the virtual drive).
    static MotorModel Reference();

    // Reads a motor file. Missing fields of the "plant" section keep the
    // reference values; a file without one takes R, L, K, pp and Jm from its
    // "parameters" (a load as heavy as the rotor). Every field must be a
    // number in its physical range, and a shaft no stiffer than the plant can
    // simulate (see kMaxShaftSubSteps). On failure returns false and error
    // reads "FILE:LINE: problem"; nothing throws.
    static bool Load(const std::string& path, MotorModel& motor, std::string& error);
    static bool Parse(const std::string& text, const std::string& fileName, MotorModel& motor,
                      std::string& error);
};
