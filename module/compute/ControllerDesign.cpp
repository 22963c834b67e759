#include "ControllerDesign.h"

#include "EngineCore.h"

#include <cmath>

// Current loop: the plant is 1 / (L s + R). The PI places the closed loop's
// poles at bandwidth w with damping z: Kp = 2 z w L - R, Ki = w^2 L (per
// second; per sample times TC). In drive units a gain in V/A becomes KV / KI.
// An electrical time constant of at most four loop periods is too short for
// that; the gains then follow from the sampling period instead.
int DesignCurrentController(CMC_Setup* setup)
{
    CMC_Parameter* connection = nullptr;
    CMC_Parameter* inductance = nullptr;
    CMC_Parameter* resistance = nullptr;
    CMC_Parameter* kp = nullptr;
    CMC_Parameter* ki = nullptr;
    CMC_Parameter* bandwidth = nullptr;
    CMC_Parameter* damping = nullptr;
    if (!FindParameters(setup, {{"MotorPhaseConnectionType", &connection},
                                {"L", &inductance},
                                {"R", &resistance},
                                {"Kp_C_scl", &kp},
                                {"Ki_C_scl", &ki},
                                {"PB_C", &bandwidth},
                                {"Dump_C", &damping}}))
        return 0;

    const double w = bandwidth->GetValueInBaseUnit(); // [rad/s]
    const double z = damping->GetValueInBaseUnit();
    const double r = resistance->GetValueInBaseUnit(); // [ohm]
    const bool delta = TruncRegister(connection->GetValueInBaseUnit()) == 1;
    const double phaseR = delta ? r / 3.0 : r;               // [ohm]
    const double tau = inductance->GetValueInBaseUnit() / r; // [s], from the stored resistance
    const double tc = CurrentLoopPeriod(setup);              // [s]
    const double toDrive = VoltageCommandScale(setup) / CurrentScale(setup);

    if (tau > 4.0 * tc) {
        kp->SetValueInBaseUnit((2.0 * z * w * tau - 1.0) * phaseR * toDrive);
        ki->SetValueInBaseUnit(w * w * tau * phaseR * tc * toDrive);
    } else {
        kp->SetValueInBaseUnit((tau * 0.5 / std::sqrt(2.0) / tc - 1.0) * phaseR * toDrive);
        ki->SetValueInBaseUnit(w * phaseR * tc * toDrive);
    }
    return 1;
}

// Speed loop: the plant is K / (J s) from current to speed. The PI gives
// s^2 + 2 z w s + w^2: Kp = 2 z w J / K, Ki = w^2 J / K (per second; per sample
// times TS). In drive units a gain in A per rad/s becomes KI / KSm.
int DesignSpeedController(CMC_Setup* setup)
{
    CMC_Parameter* ki = nullptr;
    CMC_Parameter* kp = nullptr;
    CMC_Parameter* inertia = nullptr;
    CMC_Parameter* torqueConstant = nullptr;
    CMC_Parameter* bandwidth = nullptr;
    CMC_Parameter* damping = nullptr;
    if (!FindParameters(setup, {{"Ki_S_scl", &ki},
                                {"Kp_S_scl", &kp},
                                {"Jt", &inertia},
                                {"K", &torqueConstant},
                                {"PB_S", &bandwidth},
                                {"Dump_S", &damping}}))
        return 0;

    const double w = bandwidth->GetValueInBaseUnit(); // [rad/s]
    const double z = damping->GetValueInBaseUnit();
    const double ts = SpeedLoopPeriod(setup); // [s]
    // [A s/rad] of the plant in drive units
    const double plant = inertia->GetValueInBaseUnit() * CurrentScale(setup) / MotorSpeedScale(setup) /
                         torqueConstant->GetValueInBaseUnit();

    ki->SetValueInBaseUnit(w * w * ts * plant);
    kp->SetValueInBaseUnit(2.0 * w * z * plant);
    return 1;
}

// Position loop on the current reference: the plant is K / (J s^2), and the
// PID gives (s + w)(s^2 + 2 z w s + w^2): Kd = (2 z + 1) w J / K,
// Kp = (2 z + 1) w^2 J / K, Ki = w^3 J / K. On a speed loop taken as ideal the
// plant is 1 / s and the PI gives s^2 + 2 z w s + w^2.
int DesignPositionController(CMC_Setup* setup)
{
    CMC_Parameter* ki = nullptr;
    CMC_Parameter* kp = nullptr;
    CMC_Parameter* kd = nullptr;
    CMC_Parameter* controlType = nullptr;
    CMC_Parameter* inertia = nullptr;
    CMC_Parameter* bandwidth = nullptr;
    CMC_Parameter* torqueConstant = nullptr;
    CMC_Parameter* damping = nullptr;
    if (!FindParameters(setup, {{"Ki_P_scl", &ki},
                                {"Kp_P_scl", &kp},
                                {"Kd_P_scl", &kd},
                                {"PositionControlType", &controlType},
                                {"Jt", &inertia},
                                {"PB_P", &bandwidth},
                                {"K", &torqueConstant},
                                {"Dump_P", &damping}}))
        return 0;

    const double w = bandwidth->GetValueInBaseUnit(); // [rad/s]
    const double z = damping->GetValueInBaseUnit();
    const double ts = SpeedLoopPeriod(setup); // [s]
    const double kpm = MotorPositionScale(setup);

    if (TruncRegister(controlType->GetValueInBaseUnit()) != 1) {
        const double a = (2.0 * z + 1.0) * w;
        const double plant =
            inertia->GetValueInBaseUnit() * CurrentScale(setup) / kpm / torqueConstant->GetValueInBaseUnit();
        ki->SetValueInBaseUnit(w * w * w * ts * plant);
        kp->SetValueInBaseUnit(a * w * plant);
        kd->SetValueInBaseUnit(a * plant / ts);
    } else {
        const double speedPerPosition = MotorSpeedScale(setup) / kpm;
        ki->SetValueInBaseUnit(w * w * ts * speedPerPosition);
        kp->SetValueInBaseUnit(2.0 * w * z * speedPerPosition);
        kd->SetValueInBaseUnit(0.0);
    }
    return 1;
}
