// The drive's firmware: the registers of the downloaded setup, the control
// loops as the registers define them, the protections that set "MER", the
// power stage, the drive variables, the logger and the scope stream. Drive
// programs (Program.h) use the public API below; it is all they see of the
// drive.
//
// Units are the drive's internal units throughout:
// - currents: converter counts, CurrentScale = ADCmax / (2 x "ImaxPS") per
//   ampere (positive current flows into the motor);
// - voltage commands: 65534 / (1.1 x "Vdc") per volt of phase voltage
//   amplitude, at the bus voltage the setup names (the command is a duty
//   cycle: a lower bus gives proportionally less voltage);
// - electrical angles: 65536 per electrical revolution, kept in
//   [-32768, 32768);
// - positions: increments, "MECRESL" per motor revolution; speeds:
//   increments per speed-loop period; accelerations: increments per
//   speed-loop period squared;
// - converter readings: counts of a 16-bit word, 65472 at full scale (a
//   10-bit converter read left aligned).
//
// The control frame: a d-q frame at the frame angle. A q-axis command points
// a quarter of a revolution ahead of the frame angle. With the frame angle at
// the rotor's electrical angle (sensor commutation) q makes torque. With an
// imposed angle of -16384 the q axis lies on phase A: a positive q voltage
// drives phase A positive and phases B and C negative by half, and the rotor
// turns until its flux lies on phase A (the aligned position of the start-up
// procedure).
//
// Threading: the firmware runs on the caller's thread, inside the virtual
// drive's requests; nothing here is shared between threads.
//
// The definitions, a file for each part beside this header: Firmware.cpp
// (registers, drive variables, a program's start, reset), Configuration.cpp
// (the registers read into the loops' settings), CurrentLoop.cpp (the PWM
// tick, the measurements, the current controller and the modulator: the hot
// path), SpeedPositionLoops.cpp (the slow-loop tick and the outer loops),
// ReferenceProfile.cpp, Protections.cpp (the power stage and "MER"),
// Logger.cpp (the log and the scope frames).
#pragma once

#include "BiquadSlots.h"
#include "CaseInsensitive.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Plant;
class Program;

// Bits of the motion error register "MER". The supply, i2t and temperature
// protections each trip only when their "PCR" bit is set, at the level their
// registers give, and latch until the next program starts.
namespace Mer {
inline constexpr std::uint16_t kShortCircuit = 0x0002;         // short circuit or over-current ("PCR" bit 0)
inline constexpr std::uint16_t kUnderVoltage = 0x0004;         // bus below "UMINPROT" ("PCR" bit 5)
inline constexpr std::uint16_t kControlError = 0x0008;         // position or speed control error
inline constexpr std::uint16_t kOverVoltage = 0x0010;          // bus above "UMAXPROT" ("PCR" bit 4)
inline constexpr std::uint16_t kHallMissing = 0x0020;          // a Hall signal is missing
inline constexpr std::uint16_t kLimitPositive = 0x0040;        // positive limit switch input active
inline constexpr std::uint16_t kLimitNegative = 0x0080;        // negative limit switch input active
inline constexpr std::uint16_t kMotorI2t = 0x0100;             // motor i2t ("PCR" bit 1)
inline constexpr std::uint16_t kDriveI2t = 0x0200;             // drive i2t ("PCR" bit 7)
inline constexpr std::uint16_t kMotorOverTemperature = 0x0400; // above "T1MAXPROT" ("PCR" bit 2)
inline constexpr std::uint16_t kDriveOverTemperature = 0x0800; // above "T2MAXPROT" ("PCR" bit 3)
inline constexpr std::uint16_t kEnableInactive = 0x8000;       // ENABLE input in DISABLED state
// Latched trips: the power stage stays off until the next program starts.
inline constexpr std::uint16_t kTrips = kShortCircuit | kUnderVoltage | kControlError | kOverVoltage |
                                        kMotorI2t | kDriveI2t | kMotorOverTemperature | kDriveOverTemperature;
} // namespace Mer

// Converter channels the firmware reads.
enum class AdcChannel {
    HallA,            // "AD6"
    HallB,            // "AD3"
    HallC,            // "AD9" (and "AD8" on older controllers)
    Reference,        // "AD5", the analogue reference input
    Bus,              // DC bus voltage: "VdcMaxMeasurable" at full scale
    DriveTemperature, // drive temperature sensor
    MotorTemperature, // motor temperature sensor
};

// What the fast loop does with the power stage on.
enum class ControlMode {
    Off,      // zero voltage
    Voltage,  // open-loop voltage command in the control frame
    Current,  // current controller on a current reference in the control frame
    Speed,    // speed controller -> current controller, sensor commutation
    Position, // position controller -> (speed controller ->) current controller
};

// The six-segment reference table of the profile tuning tests: segment i
// lasts count[i] speed-loop periods and adds increment[i] to the reference
// every period.
struct SegmentTable {
    std::array<std::int32_t, 6> count{};
    std::array<double, 6> increment{};
};

enum class ProfileTarget { Speed, Position };

class Firmware {
public:
    explicit Firmware(Plant& plant);
    ~Firmware();
    Firmware(const Firmware&) = delete;
    Firmware& operator=(const Firmware&) = delete;

    // ---- Time -----------------------------------------------------------
    double Time() const { return m_time; }             // [s] since power-up
    double PwmPeriod() const { return m_pwmPeriod; }   // [s]
    double FastPeriod() const { return m_fastPeriod; } // current-loop period [s]
    double SlowPeriod() const { return m_slowPeriod; } // speed-loop period [s]
    std::int64_t SlowTicks() const { return m_slowTicks; }

    // ---- Registers (the downloaded setup) and drive variables --------------
    bool HasRegister(std::string_view name) const;
    double Register(std::string_view name) const; // 0 when absent
    // Sets a register live (as WriteToChip does); creates it when new.
    void SetRegister(std::string_view name, double value);
    // Drive variables. The firmware keeps these itself, from its state:
    // "MER"; "IQ", "ID", "Motor_Current" (measured, control frame);
    // "Current_Reference"/"IQREF"; "Voltage_Reference"/"UQREF"; "ASPD",
    // "ASPD_MT", "Motor_Speed", "ASPD_LD", "Load_Speed"; "APOS", "APOS_MT",
    // "APOS_LD", "Motor_Position", "Load_Position"; "Speed_Reference"/"SPDREF";
    // "Target_Position"/"TPOS"/"CPOS"; "Target_Speed"/"TSPD";
    // "Position_Error"/"POSERR"; "Speed_Error"/"SPDERR"; the converter channels
    // "AD6", "AD3", "AD8", "AD9" (Halls) and "AD5" (reference); "var_u2" and
    // "DC_Bus_Voltage" (the bus, filtered over 10 ms, counts);
    // "Drive_Temperature", "Motor_Temperature" (counts); "THTST" (the frame
    // angle), "TINCTST" (its increment). A program's SetVariable of one of
    // them stands until the next program starts. Any other name is a plain
    // variable; a name that is only a register reads the register.
    bool HasVariable(std::string_view name) const;
    double Variable(std::string_view name) const; // 0 when absent
    // Sets a drive variable; creates it when new.
    void SetVariable(std::string_view name, double value);

    // ---- Power stage and protections --------------------------------------
    // False when refused: ENABLE inactive or a protection latched.
    bool SwitchOn();
    void SwitchOff(); // also sets the control mode to Off
    bool IsOn() const { return m_on; }
    // The brake output releases the motor's brake while the power stage is
    // on. A program that keeps the rotor where it stands may hold the brake
    // engaged instead, as a load such as gravity would move it.
    void HoldBrake();
    std::uint16_t Errors() const { return m_mer; } // "MER"
    // Sets error bits and switches the power stage off.
    void Trip(std::uint16_t bits);

    // ---- Control -----------------------------------------------------------
    // Imposes the frame angle (and publishes it as "THTST"); the frame then
    // advances by the angle increment every current-loop period.
    void ImposeAngle(double angle);
    void SetAngleIncrement(double perFastPeriod); // published as "TINCTST"
    // Commutation from the Hall sensors ("HALLxGAIN", "HALLxOFF", "ALPHA").
    void UseSensorAngle();
    double FrameAngle() const { return m_frameAngle; }

    // Open-loop voltage in the control frame.
    void SetVoltage(double uq, double ud = 0.0);
    // Current controller reference in the control frame.
    void SetCurrent(double iq, double id = 0.0);
    // Speed loop reference (and reference acceleration for the feed-forward).
    void SetSpeedReference(double speed, double acceleration = 0.0);
    // Position loop reference (and its speed and acceleration for the feed-forwards).
    void SetPositionReference(double position, double speed = 0.0, double acceleration = 0.0);
    ControlMode Mode() const { return m_mode; }
    // Follows a six-segment profile from the present reference of the target
    // loop (Speed: from 0; Position: from the present position), one segment
    // after the other; repeat starts it again after the last segment.
    void StartProfile(const SegmentTable& table, ProfileTarget target, bool repeat);
    bool ProfileRunning() const { return m_profile.running; }

    // Voltage command computed in the last current-loop period, after the
    // saturation [voltage command units]. The modulator applies it from the
    // next PWM period on, until the next current-loop period's command.
    double VoltageQ() const { return m_uq; }
    double VoltageD() const { return m_ud; }
    double CurrentReferenceQ() const { return m_iqRef; }
    double SpeedReference() const { return m_speedRef; }
    double PositionReference() const { return m_posRef; }

    // ---- Sensors, as the drive measures them --------------------------------
    double Adc(AdcChannel channel) const;    // [counts]
    double CurrentA() const { return m_ia; } // measured phase currents
    double CurrentB() const { return m_ib; }
    double CurrentQ() const { return m_iq; } // in the control frame
    double CurrentD() const { return m_id; }
    double BusVoltage() const; // [counts], a fresh reading ("var_u2" is it filtered)
    // The Hall angle: atan2 of the three normalised Hall signals, without "ALPHA".
    double HallAngle() const { return m_hallAngle; }
    // The Hall angle of three readings [counts] with the given gains and
    // offsets ("HALLxGAIN": 2^28 / the signal's amplitude in counts;
    // "HALLxOFF": its offset in counts): the signals are normalised,
    // n = (reading - offset) x gain / 2^14, and the angle is
    // atan2((nB - nC) / sqrt(3), (2 nA - nB - nC) / 3) [angle units].
    static double HallAngleOf(const double readings[3], const double gains[3], const double offsets[3]);
    // The rotor's electrical angle from the Halls: HallAngle() + "ALPHA".
    double ElectricalAngle() const;
    double Position() const { return m_position; } // motor [increments]
    // Position increments per electrical turn (the Hall angle over "DBTTH").
    double IncrementsPerTurn() const { return 65536.0 / static_cast<double>(1 << m_p.dbtth); }
    double Speed() const { return m_speed; } // motor [increments per speed-loop period]
    double LoadPosition() const;
    double LoadSpeed() const;

    // ---- Logger --------------------------------------------------------------
    // A program that wants its log to begin later calls HoldLog in Start and
    // ReleaseLog when the recording should begin.
    void HoldLog() { m_log.held = true; }
    void ReleaseLog() { m_log.held = false; }
    bool LogFull() const;

    // ======== The virtual drive's side (not for programs) ====================
    // Takes the registers of a downloaded setup (name -> internal value).
    void LoadRegisters(const std::vector<std::pair<std::string, double>>& registers);
    // Runs the drive for one PWM period.
    void StepPwm();
    // Runs the drive for the given PWM periods, or until the running program
    // finishes; returns the periods run.
    std::int64_t RunPwmPeriods(std::int64_t periods);
    // Moves the clock on without simulating (an idle drive with the rotor at rest).
    void SkipTime(double seconds);
    // A new program starts: latched protections cleared, the control frame
    // and the drive variables a program published back to the firmware's own.
    void BeginProgram(Program* program);
    // The program ended or was stopped.
    void EndProgram() { m_program = nullptr; }
    Program* RunningProgram() const { return m_program; }
    // Starts or stops the logger: variables sampled every `divider` speed-loop
    // periods (current-loop periods with `fastLoop`), at most `points` samples.
    void StartLog(const std::vector<std::string>& variables, int points, int divider, bool fastLoop = false);
    void StopLog();
    const std::vector<std::vector<double>>& LogRows() const { return m_log.rows; }
    // Scope frames (code 0xE900) produced since the last call; a new log
    // drops the frames of the one before and numbers its frames from 0.
    std::vector<std::vector<std::uint8_t>> TakeScopeFrames();
    // Clears latched protections, stops the loops, power stage off.
    void Reset();
    // Clears latched protection bits (a new program starts).
    void ClearLatchedErrors();
    // Faults of the drive's inputs.
    void SetEnableInput(bool active);
    void SetLimitInputs(bool positive, bool negative);
    // Recomputes the loop periods and the scales from the registers.
    void Configure();

private:
    struct Profile {
        SegmentTable table;
        ProfileTarget target = ProfileTarget::Speed;
        bool repeat = false;
        bool running = false;
        int segment = 0;
        std::int32_t left = 0;
        double value = 0.0;
        double lastIncrement = 0.0;
    };
    struct Log {
        std::vector<std::string> variables;
        int points = 0;
        int divider = 1;
        int phase = 0;
        bool active = false;
        bool held = false;
        bool fastLoop = false;
        std::vector<std::vector<double>> rows;
        std::vector<double> scopeSamples; // samples not yet sent in a scope frame
        int scopeCount = 0;
        std::uint16_t scopeSequence = 0; // of the next scope frame, from 0 at each start
    };
    // An i2t protection: the integral of (I^2 - nominal^2) over time, scaled
    // by its register, against its limit. Currents in current units.
    struct I2tSetting {
        bool on = false;
        double nominalSquared = 0.0;
        double gain = 0.0; // per speed-loop period
        double limit = 0.0;
        // Adds speed-loop periods at the squared current (the integral
        // never goes below 0); true once it reaches the limit.
        bool Integrate(double& integral, double currentSquared, double periods = 1.0) const;
    };
    // A gain as the drive holds it: mantissa (Q15) and left shift.
    struct FixedGain {
        std::int64_t mantissa = 0;
        int shift = 0;
        double Value() const
        {
            return static_cast<double>(mantissa) * static_cast<double>(1 << shift) / 32768.0;
        }
    };
    // The registers the loops use, read once when the setup changes.
    struct Params {
        FixedGain kpI, kiI, kpS, kiS, kpP, kiP, kdP, kffS, kffA;
        double filterQ = 1.0;            // output filter coefficient (1: off)
        double speedOutLimit = 32767.0;  // 32767 - "SATS"
        double speedIntLimit = 32767.0;  // 32767 - "IMAXS"
        double posOutLimit = 32767.0;    // 32767 - "SATP"
        double posIntLimit = 32767.0;    // 32767 - "IMAXP"
        double derivativeFilter = 0.5;   // "KDFP" / 32768
        bool cascade = true;             // position loop drives the speed loop ("ACR" bit 9)
        bool kffSOnCurrent = false;      // kffS acts on the current reference ("ACR" bit 14)
        double loadCurrent = 0.0;        // "FFL": the load's current, fed forward
        bool overCurrentOn = true;       // "PCR" bit 0
        double overCurrentLevel = 32767; // "IMAXPROT"
        int overCurrentTime = 100;       // "TIMAXPROT" [speed-loop periods]
        double positionErrorBand = 0.0;  // "ERRMAX"
        int positionErrorTime = 65535;   // "TERRMAX", 65535 off
        double speedErrorBand = 0.0;     // "SERRMAX"
        int speedErrorTime = 65535;      // "TSERRMAX", 65535 off
        bool overVoltageOn = false;      // "PCR" bit 4
        double overVoltageLevel = 65535; // "UMAXPROT" [bus counts]
        bool underVoltageOn = false;     // "PCR" bit 5
        double underVoltageLevel = 0;    // "UMINPROT" [bus counts]
        bool driveOverTempOn = false;    // "PCR" bit 3
        double driveTempLevel = 65535;   // "T2MAXPROT" [sensor counts]
        bool motorOverTempOn = false;    // "PCR" bit 2
        double motorTempLevel = 65535;   // "T1MAXPROT" [sensor counts]
        I2tSetting driveI2t;             // "PCR" bit 7, "II2TPROT_D", "SFI2T_D", "I2TINTLIM_D"
        I2tSetting motorI2t;             // "PCR" bit 1, "II2TPROT_M", "SFI2T_M", "I2TINTLIM_M"
        double hallGain[3] = {16384, 16384, 16384};
        double hallOffset[3] = {32736, 32736, 32736};
        double alpha = 0.0;      // [angle units]
        double zeroOffset = 0.0; // "ZAOFF" [increments]
        int dbtth = 6;
    };

    void FastLoop();
    void SlowLoop();
    void MeasureCurrents();
    void MeasureHalls();
    // The voltage of the control mode, limited and modulated into the duties.
    void ControlAndModulate();
    void RunCurrentController();
    double CurrentPi(double reference, double measured, std::int64_t& integral) const;
    // The speed loop on m_speedRef; referenceSpeed is the profile's speed
    // that the speed feed-forward scales.
    void RunSpeedController(double referenceSpeed);
    void RunPositionController();
    // The speed feed-forward [current units] when it acts on the current reference.
    double CurrentSpeedFeedForward(double referenceSpeed) const;
    // The current reference of a controller's output: filtered, with the
    // load's current added, within the limit [current units].
    void SetControllerCurrent(double output, double limit);
    void ApplyVoltage();
    void Protections();
    // The supply, i2t and temperature protections; the bits that tripped.
    std::uint16_t SupplyAndThermalTrips();
    // The squared magnitude of the measured current vector [current units^2].
    double CurrentSquared() const;
    void SampleLog();
    void EmitScopeFrame();
    void AdvanceProfile();
    void ZeroPosition();
    void ResetControllers();
    void SetMode(ControlMode mode);
    bool LiveVariable(std::string_view name, double& value) const;
    double ApplyGain(const FixedGain& gain, double x) const;

    Plant& m_plant;
    Program* m_program = nullptr;
    CaseInsensitiveMap<double> m_registers;
    CaseInsensitiveMap<double> m_variables;
    Params m_p;

    // clock
    double m_time = 0.0;
    double m_pwmPeriod = 5e-5;
    double m_fastPeriod = 5e-5;
    double m_slowPeriod = 5e-4;
    int m_clper = 1;
    int m_slper = 10;
    int m_fastCount = 0;
    int m_slowCount = 0;
    std::int64_t m_slowTicks = 0;

    // scales
    double m_adcMax = 65472.0;

    // power and protections
    bool m_on = false;
    bool m_enableActive = true;
    bool m_limitPositive = false;
    bool m_limitNegative = false;
    bool m_tripped = false;
    std::uint16_t m_mer = 0;
    int m_overCurrentCount = 0;
    int m_positionErrorCount = 0;
    int m_speedErrorCount = 0;
    int m_hallMissingCount = 0;
    // i2t integrals: the heat they stand for stays across programs
    double m_driveI2t = 0.0;
    double m_motorI2t = 0.0;

    // control
    ControlMode m_mode = ControlMode::Off;
    bool m_sensorAngle = false;
    double m_frameAngle = 0.0;
    double m_angleIncrement = 0.0;
    double m_cos = 1.0, m_sin = 0.0; // of the frame angle in use
    double m_uqCmd = 0.0, m_udCmd = 0.0;
    double m_iqRef = 0.0, m_idRef = 0.0;
    double m_speedRef = 0.0, m_accRef = 0.0;
    double m_posRef = 0.0, m_posSpeedRef = 0.0, m_posAccRef = 0.0;
    double m_uq = 0.0, m_ud = 0.0;
    std::int64_t m_intQ = 0, m_intD = 0; // current integrators [Q16]
    double m_speedIntegral = 0.0;
    double m_positionIntegral = 0.0;
    double m_lastPositionError = 0.0;
    double m_derivative = 0.0;
    std::array<double, 3> m_duty{0.5, 0.5, 0.5}; // of the three legs
    BiquadSlots m_biquads;
    Profile m_profile;

    // measurements
    double m_ia = 0.0, m_ib = 0.0, m_iq = 0.0, m_id = 0.0;
    double m_hall[3] = {0.0, 0.0, 0.0};
    double m_hallAngle = 0.0;
    double m_hallUnwrapped = 0.0;
    bool m_hallStarted = false;
    double m_position = 0.0;
    double m_lastPosition = 0.0;
    double m_speed = 0.0;
    double m_busFiltered = 0.0;
    double m_busReading = 0.0; // of this speed-loop period

    Log m_log;
    std::vector<std::vector<std::uint8_t>> m_scopeFrames;
};
