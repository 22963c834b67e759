// Foundations of the computation engine: lookups, ranges, fixed-point gains,
// bit fields, the scale functions and the option predicates. Every function
// reads the setup afresh; nothing is cached.
#pragma once

#include "Setup.h"

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>

// Looks up each name in order and stores the parameter. Stops at the first
// missing one (the host reports it when g_bShowErrors is set) and returns false.
// Names are views, so a literal's length is known when compiled.
bool FindParameters(CMC_Setup* setup,
                    std::initializer_list<std::pair<std::string_view, CMC_Parameter**>> lookups);

// Lookup with g_bShowErrors cleared, so that an optional name reports nothing.
CMC_Parameter* FindQuietly(const CMC_Setup* setup, const char* name);
bool ExistsQuietly(const CMC_Setup* setup, const char* name);

// Sets the editable range; refuses min > max (returns 0, changes nothing).
int SetParameterRange(CMC_Parameter* parameter, double min, double max);

// Fixed-point gain pair: gain = mantissa x 2^shift / 32767.
inline constexpr double kQ15 = 32767.0;
double GainFromPair(double mantissa, double shift);
double ShiftOfGain(double gain); // 0 for gain <= 1, else ceil(log2 gain)
// gain x 32767 / 2^shift, with the shift the register can hold (at most
// kMaxGainShift): a larger gain gives a mantissa beyond its width.
inline constexpr double kMaxGainShift = 15.0;
double MantissaOfGain(double gain);

// Registers are truncated toward zero before their bits are tested.
std::int64_t TruncRegister(double value);
int RegisterBit(double value, int bit);
// Returns the register with one bit set or cleared.
std::int64_t WithBit(std::int64_t value, int bit, bool set);

// Scale functions.
double CurrentLoopPeriod(CMC_Setup* setup);     // [s]
double SpeedLoopPeriod(CMC_Setup* setup);       // [s]
double DeadTime(CMC_Setup* setup);              // [s]
double VoltageCommandScale(CMC_Setup* setup);   // [internal units per V]
double DcBusVoltageScale(CMC_Setup* setup);     // [counts per V]
double CurrentScale(CMC_Setup* setup);          // [internal units per A]
double MotorPositionScale(CMC_Setup* setup);    // [increments per motor rad]
double LoadPositionScale(CMC_Setup* setup);     // [increments per load rad or m], signed
double MotorSpeedScale(CMC_Setup* setup);       // [increments per speed-loop period per rad/s]
double LoadSpeedScale(CMC_Setup* setup);        // signed
double LoadAccelerationScale(CMC_Setup* setup); // signed
double LoadJerkScale(CMC_Setup* setup);         // signed
double TransmissionRatio(CMC_Setup* setup);     // "Motor_transmission" / "Load_transmission"

// Option predicates and option values.
bool HasAnalogueInput(CMC_Setup* setup);
bool HasThetaController(CMC_Setup* setup);
bool HasSoftwareLimitSwitches(CMC_Setup* setup);
bool HasSpeedEstimatorOption(CMC_Setup* setup);
bool HasCommunicationSaveOptions(CMC_Setup* setup);
bool HasGravityCompensation(CMC_Setup* setup);
bool HasMotorBrake(CMC_Setup* setup);
bool HasFreezeControl(CMC_Setup* setup);
bool HasInputsPolarityType(CMC_Setup* setup);
bool HasTransmissionSign(CMC_Setup* setup);
bool HasBiquadFilters(CMC_Setup* setup);
bool HasSpeedTestReferenceType(CMC_Setup* setup);
bool HasStartMinimumMove(CMC_Setup* setup);
bool HasI2tWarningLimits(CMC_Setup* setup);
bool HasSpeedForward(CMC_Setup* setup);
double StartMinimumMovePercent(CMC_Setup* setup);
double MinimumCurrentLoopPeriod(CMC_Setup* setup);
double MinimumSpeedLoopPeriod(CMC_Setup* setup);
bool HasNegativeTransmission(CMC_Setup* setup);
bool HideEnablePolarity(CMC_Setup* setup);
bool IsNewDeadBand(CMC_Setup* setup);
int InputsTypeProgrammable(CMC_Setup* setup);
