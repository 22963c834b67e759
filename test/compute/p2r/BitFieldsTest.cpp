// Bit-field registers: each row changes only its own bits.
#include "EngineTestSetup.h"

#include "ParametersToRegisters.h"

#include <cstdint>

namespace {

class BitFields : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        setup = Reference();
    }
    void Set(const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); }
    std::int64_t Reg(const char* name) const { return static_cast<std::int64_t>(Value(*setup, name)); }

    std::unique_ptr<CMC_Setup> setup;
};

TEST_F(BitFields, ControlModeSetsBits8To10)
{
    struct Case {
        int mode, positionType;
        std::int64_t bits;
    } cases[] = {{0, 1, 0x700}, {0, 0, 0x500}, {1, 0, 0x300}, {2, 1, 0x100}};
    for (const Case& c : cases) {
        Set("ACR", 0x500 | 0x8001); // mode bits 101 before; bit 15 and bit 0 are not ours
        Set("ControlMode", c.mode);
        Set("PositionControlType", c.positionType);
        ASSERT_EQ(Compute_ACR(setup.get()), 1);
        EXPECT_EQ(Reg("ACR") & 0x700, c.bits) << c.mode;
        EXPECT_EQ(Reg("ACR") & 0x8001, 0x8001) << c.mode;
    }
    Set("ACR", 0x123);
    Set("ControlMode", 3);
    EXPECT_EQ(Compute_ACR(setup.get()), 0);
    EXPECT_EQ(Reg("ACR"), 0x123);
}

TEST_F(BitFields, ExternalReferenceChoosesBits6And7AndTheDigitalType)
{
    Set("ControlMode", 1);
    Set("ExternalReference", 1);
    Set("isAnalogueReference", 1);
    Set("ACR", 0x80 | 0x4);
    Compute_ACR(setup.get());
    EXPECT_EQ(Reg("ACR") & 0xC4, 0x44); // analogue; bit 2 untouched

    Set("isAnalogueReference", 0);
    Set("DigitalReferenceType", 0);
    Set("ACR", 0x10040);
    Compute_ACR(setup.get());
    EXPECT_EQ(Reg("ACR") & ~0xFFFF, 0); // the digital reference clears bits 16 and up
    EXPECT_EQ(Reg("ACR") & 0xC4, 0x84);
    Set("DigitalReferenceType", 1);
    Compute_ACR(setup.get());
    EXPECT_EQ(Reg("ACR") & 0xC4, 0x80);

    Set("ExternalReference", 0);
    Set("ACR", 0xC4);
    Compute_ACR(setup.get());
    EXPECT_EQ(Reg("ACR") & 0xC4, 0x04);
}

TEST_F(BitFields, SpeedForwardAndFreezeControlOwnBits14And4)
{
    Set("ControlMode", 1);
    setup->FindParameter("SpeedForward")->SetValueInInternalUnit(1);
    setup->FindParameter("isFreezeControl")->SetValueInInternalUnit(1);
    Set("ACR", 0);
    Compute_ACR(setup.get());
    EXPECT_EQ(Reg("ACR") & 0x4010, 0x4010);
    setup->FindParameter("SpeedForward")->SetValueInInternalUnit(0);
    setup->FindParameter("isFreezeControl")->SetValueInInternalUnit(0);
    Compute_ACR(setup.get());
    EXPECT_EQ(Reg("ACR") & 0x4010, 0);
}

TEST_F(BitFields, ProtectionsKeepBit6AndTheHighByte)
{
    for (const char* flag : {"isDriveI2t", "isUnderVoltage", "isOverVoltage", "isDriveOverTemp",
                             "isMotorOverTemp", "isMotorI2t", "isOverCurrent"})
        Set(flag, 0);
    Set("PCR", 0xFFFF);
    Compute_PCR(setup.get());
    EXPECT_EQ(Reg("PCR"), 0xFF40);
    Set("isMotorI2t", 1);
    Set("isDriveI2t", 1);
    Compute_PCR(setup.get());
    EXPECT_EQ(Reg("PCR"), 0xFF40 | 0x82);
}

TEST_F(BitFields, NegativeTransmissionBitOnlyForDrivesThatKnowIt)
{
    Set("Motor_transmission", -6.283185307179586);
    Set("ASR", 0x80);
    setup->ClearOption("hasNegTransmission");
    Compute_ASR(setup.get());
    EXPECT_EQ(Reg("ASR") & 0x80, 0);
    setup->SetOption("hasNegTransmission", "1");
    Compute_ASR(setup.get());
    EXPECT_EQ(Reg("ASR") & 0x80, 0x80);
    Set("Motor_transmission", 6.283185307179586);
    Compute_ASR(setup.get());
    EXPECT_EQ(Reg("ASR") & 0x80, 0);
}

TEST_F(BitFields, InputPolarityAndLimitSwitchesInAsr)
{
    Set("ASR", 0);
    Set("isSWLS", 1);
    Set("InputsPolarityType", 0);
    Compute_ASR(setup.get());
    EXPECT_EQ(Reg("ASR"), 0x1004);
    Set("InputsPolarityType", 1);
    Set("isSWLS", 0);
    Compute_ASR(setup.get());
    EXPECT_EQ(Reg("ASR"), 0);
}

TEST_F(BitFields, StartModeWritesBits2To4Together)
{
    Set("isBrakeResistor", 1);
    Set("OSR", 0x1 | 0x18);
    Set("StartMode", 0);
    Compute_OSR(setup.get());
    EXPECT_EQ(Reg("OSR"), 0x1 | 0x4 | 0x200);
    Set("StartMode", 1);
    Compute_OSR(setup.get());
    EXPECT_EQ(Reg("OSR"), 0x1 | 0x1C | 0x200);
}

TEST_F(BitFields, SpeedEstimatorReads110InBits3To5)
{
    Set("isDriveTemperatureSensor", 1);
    Set("isMotorTemperatureSensor", 0);
    Set("isSpeedEstimator", 1);
    Set("SCR", 0x1FFFF);
    Compute_SCR(setup.get());
    EXPECT_EQ(Reg("SCR"), 0xFF07 | 0x30); // bits 3, 6 and 7 cleared, 4 and 5 set, bit 16 gone
    Set("isSpeedEstimator", 0);
    Compute_SCR(setup.get());
    EXPECT_EQ(Reg("SCR") & 0x38, 0);
}

TEST_F(BitFields, PolaritiesUpgradeCommunicationAndBrake)
{
    Set("EnablePolarity", 0);
    Set("LSNPolarity", 1);
    Set("LSPPolarity", 1);
    Set("DIGIN_ACTIVE_LEVEL", 0x8001);
    Compute_DIGIN_ACTIVE_LEVEL(setup.get());
    EXPECT_EQ(Reg("DIGIN_ACTIVE_LEVEL"), 0x6001);

    Set("isLimitMaximum", 1);
    Set("UPGRADE", 0x8200);
    Compute_UPGRADE(setup.get());
    EXPECT_EQ(Reg("UPGRADE"), 0x0204);

    Set("save_axis_id", 0);
    Set("save_CAN_baudrate", 1);
    Set("LSS_Active", 0xF0);
    Compute_LSS_Active(setup.get());
    EXPECT_EQ(Reg("LSS_Active"), 0x1);

    setup->FindParameter("MotorBrake_output")->SetValueInInternalUnit(3);
    setup->FindParameter("isMotorBrake")->SetValueInInternalUnit(1);
    Compute_BRAKECFG(setup.get());
    EXPECT_EQ(Reg("BRAKECFG"), 0x201); // port 3 is pin 2
}

} // namespace
