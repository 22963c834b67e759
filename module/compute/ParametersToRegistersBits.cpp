// Register rows that compose bit fields. Each starts from the register's
// current value (its whole part) and changes only the bits it owns, so bits
// that the firmware or other tools set survive the pass.
#include "ParametersToRegisters.h"
#include "ParametersToRegistersRows.h"

#include "Helpers.h"

#include <algorithm>

using namespace p2r;

namespace {

constexpr std::int64_t kLow16 = 0xFFFF;

// Bits 2 to 4 of "OSR": 001 for a start-up with the motor at rest, 111 for the other.
constexpr std::int64_t kStartModeBits = 0x1C;
constexpr std::int64_t kStartAtRest = 0x04;

// Bits 8 to 10 of "ACR": the control mode.
constexpr std::int64_t kModeBits = 0x700;

} // namespace

int Compute_SCR(CMC_Setup* setup)
{
    CMC_Parameter *reg, *driveSensor, *motorSensor;
    if (!FindParameters(setup, {{"SCR", &reg},
                                {"isDriveTemperatureSensor", &driveSensor},
                                {"isMotorTemperatureSensor", &motorSensor}}))
        return 0;
    const bool estimatorOption = HasSpeedEstimatorOption(setup);
    CMC_Parameter* estimator = nullptr;
    if (estimatorOption && !FindParameters(setup, {{"isSpeedEstimator", &estimator}}))
        return 0;

    std::int64_t scr = TruncRegister(BaseOf(reg)) & 0xFF8F;
    scr = WithBit(scr, 8, IsOne(driveSensor));
    scr = WithBit(scr, 7, IsOne(motorSensor));
    if (estimatorOption) {
        // Bits 5 to 3 read 110 with the speed estimator, 000 without.
        scr = WithBit(scr, 3, false);
        if (IsOne(estimator))
            scr |= 0x30;
    }
    return Write(reg, AsRegister(scr));
}

int Compute_OSR(CMC_Setup* setup)
{
    CMC_Parameter *reg, *brakeResistor, *startMode;
    if (!FindParameters(setup,
                        {{"OSR", &reg}, {"isBrakeResistor", &brakeResistor}, {"StartMode", &startMode}}))
        return 0;
    std::int64_t osr = TruncRegister(BaseOf(reg));
    osr = WithBit(osr, 9, IsOne(brakeResistor));
    osr = (osr & ~kStartModeBits) | (WholeOf(startMode) <= 0 ? kStartAtRest : kStartModeBits);
    return Write(reg, AsRegister(osr));
}

int Compute_ASR(CMC_Setup* setup)
{
    CMC_Parameter* reg;
    if (!FindParameters(setup, {{"ASR", &reg}}))
        return 0;
    CMC_Parameter* limitSwitches = nullptr;
    if (HasSoftwareLimitSwitches(setup) && !FindParameters(setup, {{"isSWLS", &limitSwitches}}))
        return 0;
    CMC_Parameter* polarity = nullptr;
    if (HasInputsPolarityType(setup) && !FindParameters(setup, {{"InputsPolarityType", &polarity}}))
        return 0;

    std::int64_t asr = TruncRegister(BaseOf(reg));
    if (limitSwitches)
        asr = WithBit(asr, 12, IsOne(limitSwitches));
    if (polarity)
        asr = WithBit(asr, 2, !IsOne(polarity)); // clear: active high
    // Bit 7 tells the firmware that the load turns against the motor; only
    // drives that know negative transmissions get it.
    asr = WithBit(asr, 7, HasNegativeTransmission(setup) && TransmissionRatio(setup) < 0.0);
    return Write(reg, AsRegister(asr));
}

int Compute_PCR(CMC_Setup* setup)
{
    CMC_Parameter *reg, *driveI2t, *underVoltage, *overVoltage, *driveOverTemp, *motorOverTemp, *motorI2t,
        *overCurrent;
    if (!FindParameters(setup, {{"PCR", &reg},
                                {"isDriveI2t", &driveI2t},
                                {"isUnderVoltage", &underVoltage},
                                {"isOverVoltage", &overVoltage},
                                {"isDriveOverTemp", &driveOverTemp},
                                {"isMotorOverTemp", &motorOverTemp},
                                {"isMotorI2t", &motorI2t},
                                {"isOverCurrent", &overCurrent}}))
        return 0;
    // Bit 6 and the high byte belong to the firmware.
    std::int64_t pcr = TruncRegister(BaseOf(reg)) & 0xFF40;
    pcr = WithBit(pcr, 7, IsOne(driveI2t));
    pcr = WithBit(pcr, 5, IsOne(underVoltage));
    pcr = WithBit(pcr, 4, IsOne(overVoltage));
    pcr = WithBit(pcr, 3, IsOne(driveOverTemp));
    pcr = WithBit(pcr, 2, IsOne(motorOverTemp));
    pcr = WithBit(pcr, 1, IsOne(motorI2t));
    pcr = WithBit(pcr, 0, IsOne(overCurrent));
    return Write(reg, AsRegister(pcr));
}

int Compute_ACR(CMC_Setup* setup)
{
    CMC_Parameter *reg, *autoActivated, *external, *analogue, *digitalType, *mode, *positionType;
    if (!FindParameters(setup, {{"ACR", &reg},
                                {"isAutoActivatedAfterPowerOn", &autoActivated},
                                {"ExternalReference", &external},
                                {"isAnalogueReference", &analogue},
                                {"DigitalReferenceType", &digitalType},
                                {"ControlMode", &mode},
                                {"PositionControlType", &positionType}}))
        return 0;
    CMC_Parameter* speedForward = nullptr;
    if (HasSpeedForward(setup) && !FindParameters(setup, {{"SpeedForward", &speedForward}}))
        return 0;
    CMC_Parameter* freeze = nullptr;
    if (HasFreezeControl(setup) && !FindParameters(setup, {{"isFreezeControl", &freeze}}))
        return 0;

    std::int64_t acr = TruncRegister(BaseOf(reg));
    acr = WithBit(acr, 1, IsOne(autoActivated));

    // External reference: bit 6 analogue, bit 7 digital; bit 2 clear for the
    // second digital reference type.
    if (IsOne(external) && IsOne(analogue)) {
        acr = WithBit(WithBit(acr, 6, true), 7, false);
    } else if (IsOne(external)) {
        acr &= kLow16 & ~((std::int64_t{1} << 6) | (std::int64_t{1} << 7) | (std::int64_t{1} << 2));
        acr = WithBit(acr, 7, true);
        acr = WithBit(acr, 2, WholeOf(digitalType) == 0);
    } else {
        acr = WithBit(WithBit(acr, 6, false), 7, false);
    }

    // Control mode, bits 10, 9, 8: position 1x1 (bit 9 set when a speed loop
    // runs inside), speed 011, torque 001.
    switch (WholeOf(mode)) {
    case 0:
        acr |= 0x500;
        acr = WithBit(acr, 9, IsOne(positionType));
        break;
    case 1:
        acr = (acr & ~kModeBits) | 0x300;
        break;
    case 2:
        acr = (acr & ~kModeBits) | 0x100;
        break;
    default:
        return 0;
    }

    acr = WithBit(acr, 14, speedForward && InternalOf(speedForward) == 1.0);
    if (freeze)
        acr = WithBit(acr, 4, InternalOf(freeze) == 1.0);
    return Write(reg, AsRegister(acr));
}

int Compute_DIGIN_ACTIVE_LEVEL(CMC_Setup* setup)
{
    CMC_Parameter *reg, *enable, *negative, *positive;
    if (!FindParameters(setup, {{"DIGIN_ACTIVE_LEVEL", &reg},
                                {"EnablePolarity", &enable},
                                {"LSNPolarity", &negative},
                                {"LSPPolarity", &positive}}))
        return 0;
    std::int64_t level = TruncRegister(BaseOf(reg)) & kLow16;
    level = WithBit(level, 15, IsOne(enable));
    level = WithBit(level, 14, IsOne(negative));
    level = WithBit(level, 13, IsOne(positive));
    return Write(reg, AsRegister(level));
}

int Compute_UPGRADE(CMC_Setup* setup)
{
    CMC_Parameter *reg, *limitMaximum;
    if (!FindParameters(setup, {{"UPGRADE", &reg}, {"isLimitMaximum", &limitMaximum}}))
        return 0;
    std::int64_t upgrade = TruncRegister(BaseOf(reg)) & 0x7FFF;
    upgrade = WithBit(upgrade, 2, BaseOf(limitMaximum) == 1.0);
    return Write(reg, AsRegister(upgrade));
}

int Compute_LSS_Active(CMC_Setup* setup)
{
    CMC_Parameter *reg, *axisId, *baudrate;
    if (!FindParameters(setup,
                        {{"LSS_Active", &reg}, {"save_axis_id", &axisId}, {"save_CAN_baudrate", &baudrate}}))
        return 0;
    // A set bit keeps the setting out of the drive's memory.
    std::int64_t lss = 0;
    lss = WithBit(lss, 0, !IsOne(axisId));
    lss = WithBit(lss, 1, !IsOne(baudrate));
    return Write(reg, AsRegister(lss));
}

int Compute_BRAKECFG(CMC_Setup* setup)
{
    CMC_Parameter *reg, *output, *brake;
    if (!FindParameters(setup,
                        {{"BRAKECFG", &reg}, {"MotorBrake_output", &output}, {"isMotorBrake", &brake}}))
        return 0;
    // Bits 8 to 15 hold the output pin (the host clamps ports to those it has).
    const std::int64_t port = std::clamp<std::int64_t>(TruncRegister(InternalOf(output)), 0, 1024);
    const std::int64_t pin = GetIOPinFromPort(static_cast<int>(port));
    const std::int64_t config = (pin << 8) + (InternalOf(brake) != 0.0 ? 1 : 0);
    return WriteInternal(reg, AsRegister(config));
}
