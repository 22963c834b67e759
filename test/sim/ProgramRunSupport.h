// What the tests of the identification and tuning programs share: a setup
// for a motor as a user would have it after entering the motor's data,
// designing the loops and commissioning the Hall sensors; a test current
// for a library motor; the host's log requests and the preliminary run; a
// setup typed from a datasheet and the user's tests that complete it.
// The engine's scale functions do the dialogs' unit arithmetic.
#pragma once

#include "ControllerDesign.h"
#include "DriveFile.h"
#include "EngineCore.h"
#include "HallRegisters.h"
#include "Helpers.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "ScaleFactors.h"
#include "SimTestSupport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace simtest {

// The motor files of the library, the reference motor first.
inline const std::vector<std::string>& LibraryMotorFiles()
{
    static const std::vector<std::string> files = {
        "reference-servo-200W.json",    "small-24V-60W.json",        "servo-48V-400W.json",
        "servo-320V-1kW.json",          "high-inductance-48V.json",  "hub-48V-350W.json",
        "vertical-axis-48V-brake.json", "salient-ipm-48V-500W.json", "delta-48V-250W.json",
        "gimbal-24V-14pp.json"};
    return files;
}

// A value of a motor file's "parameters" section (what a user types in).
inline double MotorFileParameter(const std::string& file, const char* name)
{
    std::ifstream in(DataPath("motors/" + file));
    const nlohmann::json root = nlohmann::json::parse(in, nullptr, false);
    EXPECT_TRUE(root.is_object()) << file;
    if (!root.is_object() || !root.contains("parameters") || !root["parameters"].contains(name))
        return 0.0;
    return root["parameters"][name].get<double>();
}

// A test current for a motor of the library: 60 % of its nominal current
// within the setup's range for it, in current units.
inline double TestCurrentFor(CMC_Setup& setup, const std::string& file)
{
    const double amperes = std::min(0.6 * MotorFileParameter(file, "In"),
                                    setup.FindParameter("TestCurrent")->GetMaxInBaseUnit());
    return std::trunc(amperes * CurrentScale(&setup));
}

// The reference drive with realistic sensors (noise on the currents, the
// Hall signals and the bus, an offset on one current sensor) or ideal ones.
inline VirtualDriveOptions Sensors(bool noisy)
{
    VirtualDriveOptions options;
    if (noisy) {
        DriveDescription drive;
        std::string error;
        EXPECT_TRUE(DriveDescription::Load(DataPath("drives/reference-drive-noisy.json"), drive, error))
            << error;
        drive.ApplyTo(options.plant);
        options.plant.seed = 11;
    }
    return options;
}

// The engine's scales for the model while a test runs.
class EngineScales {
public:
    EngineScales() { RegisterScaleProvider({&ScaleFactorOf, &ScaleOffsetOf}); }
    ~EngineScales() { RegisterScaleProvider({}); }
    EngineScales(const EngineScales&) = delete;
    EngineScales& operator=(const EngineScales&) = delete;
};

// The Hall registers a perfect commissioning gives the motor's sensors (what
// the Hall gain and offset test is judged against): each signal scaled to the
// same amplitude about its own offset, and "ALPHA" the angle of the signals'
// fundamental against phase A.
inline void WriteTrueHallRegisters(CMC_Setup& setup, const MotorModel& motor)
{
    constexpr double kPi = 3.141592653589793;
    const double adcMax = Compute_ADCMaxValue(&setup);
    const char* gains[3] = {"HALLAGAIN", "HALLBGAIN", "HALLCGAIN"};
    const char* offsets[3] = {"HALLAOFF", "HALLBOFF", "HALLCOFF"};
    // The firmware's angle is atan2 of (2A - B - C) / 3 and (B - C) / sqrt 3.
    const double weightRe[3] = {2.0 / 3.0, -1.0 / 3.0, -1.0 / 3.0};
    const double weightIm[3] = {0.0, 1.0 / std::sqrt(3.0), -1.0 / std::sqrt(3.0)};
    double re = 0.0, im = 0.0;
    const HallRegisters ideal = IdealHallRegisters(motor, adcMax);
    for (int k = 0; k < 3; ++k) {
        const HallSensorModel& hall = motor.halls[static_cast<std::size_t>(k)];
        setup.FindParameter(gains[k])->SetValueInInternalUnit(ideal.gain[static_cast<std::size_t>(k)]);
        setup.FindParameter(offsets[k])->SetValueInInternalUnit(ideal.offset[static_cast<std::size_t>(k)]);
        const double phase = -hall.angle * kPi / 180.0;
        re += weightRe[k] * std::cos(phase) - weightIm[k] * std::sin(phase);
        im += weightRe[k] * std::sin(phase) + weightIm[k] * std::cos(phase);
    }
    const double alpha = -std::atan2(im, re) / (2.0 * kPi) * 65536.0;
    setup.FindParameter("ALPHA")->SetValueInInternalUnit(std::round(std::fmod(alpha + 65536.0, 65536.0)));
}

// A log request as the host's logger makes it.
inline LogRequest Log(std::vector<std::string> variables, int points, bool fastLoop)
{
    LogRequest log;
    log.variables = std::move(variables);
    log.points = points;
    log.divider = 1;
    log.fastLoop = fastLoop;
    return log;
}

inline std::vector<std::vector<double>> Upload(Host& host)
{
    std::vector<std::vector<double>> rows;
    EXPECT_EQ(host.Drive().UploadLog(host.Tick(), rows), LinkResult::Ok);
    return rows;
}

inline double ColumnMean(const std::vector<std::vector<double>>& rows, std::size_t column)
{
    double sum = 0.0;
    for (const auto& row : rows)
        sum += row.at(column);
    return rows.empty() ? 0.0 : sum / static_cast<double>(rows.size());
}

// Both preliminary results, as the dialogs pass them on.
struct Preliminary {
    double refTest = 0.0;
    double rincTest = 0.0;
};

inline Preliminary RunPreliminary(Host& host, double testCurrent)
{
    Preliminary p;
    const double in1 = host.Position(testCurrent);
    EXPECT_GT(in1, 0.0);
    EXPECT_NE(in1, kNoResult);
    p.refTest = host.Variable("REFTST_V");
    p.rincTest = host.Variable("RINCTST_V");
    return p;
}

// ---- A user's commissioning, from the datasheet on ------------------------------------------

// Types a motor file's datasheet values (its "parameters") into a setup.
inline void TypeDatasheet(CMC_Setup& setup, const std::string& file, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        EXPECT_EQ(setup.SetParameterValueInBaseUnit(name, MotorFileParameter(file, name)), 1) << name;
}

inline void Recompute(CMC_Setup& setup)
{
    ComputeRegistersFromParameters(&setup);
    ComputeParametersFromRegisters(&setup);
}

inline void DesignLoops(CMC_Setup& setup)
{
    EXPECT_EQ(DesignCurrentController(&setup), 1);
    EXPECT_EQ(DesignSpeedController(&setup), 1);
    EXPECT_EQ(DesignPositionController(&setup), 1);
    Recompute(setup);
}

// A test current of 60 % of the motor's nominal one, as far as the drive allows.
inline void TypeTestCurrent(CMC_Setup& setup, const std::string& file)
{
    CMC_Parameter* current = setup.FindParameter("TestCurrent");
    current->SetValueInBaseUnit(std::min(0.6 * MotorFileParameter(file, "In"), current->GetMaxInBaseUnit()));
}

// The setup a user has typed from a motor file's datasheet (its
// "parameters"), the rest the reference drive's: the Hall registers are
// still the reference drive's, the loops not designed, the test current 60 %
// of the motor's nominal one.
inline std::unique_ptr<CMC_Setup> DatasheetSetup(const std::string& file)
{
    auto setup = ReferenceSetup();
    TypeDatasheet(*setup, file,
                  {"pp", "Resolution", "MotorPhaseConnectionType", "R", "L", "K", "Jm", "In", "ImaxM"});
    Recompute(*setup);
    TypeTestCurrent(*setup, file);
    return setup;
}

// Runs the Hall gain and offset test and takes its results into the setup,
// as its dialog does.
inline void CommissionHallsOnDrive(Host& host, CMC_Setup& setup)
{
    host.Download(setup);
    const Preliminary p =
        RunPreliminary(host, std::trunc(setup.GetParameterValueInInternalUnit("TestCurrent")));
    EXPECT_TRUE(host.Run("Detect_Hall_Gain_Offset_Test", {{"RefTest", p.refTest}, {"RIncTest", p.rincTest}}));
    EXPECT_EQ(host.Variable("WEAKINC"), 1.0);
    const std::pair<const char*, const char*> results[] = {
        {"ALPHA", "ALPHA"},     {"KSLIP", "HALLCGAIN"},     {"SFTCWEAK", "HALLCOFF"}, {"AD3OFF", "HALLBOFF"},
        {"AD6OFF", "HALLAOFF"}, {"SRECTCOMP", "HALLAGAIN"}, {"SIN2REC", "HALLBGAIN"}, {"ZAOFF", "ZAOFF"}};
    for (const auto& [variable, parameter] : results)
        setup.FindParameter(parameter)->SetValueInInternalUnit(host.Variable(variable));
}

struct InertiaRun {
    double testFlag = 0.0;
    double deltaTime = 0.0;
    double deltaSpeed = 0.0;
    double J = 0.0; // [kg m^2] as the dialog computes it
};

// The inertia test's run: preliminary positioning, then the inertia program
// with the setup's test current, speed limit and protection level.
inline InertiaRun RunInertiaTest(VirtualDrive& drive, CMC_Setup& setup, double testCurrent = 0.0,
                                 double protection = 0.0)
{
    Host host(drive);
    host.Download(setup);
    const double current =
        testCurrent > 0.0 ? testCurrent : std::trunc(setup.GetParameterValueInInternalUnit("TestCurrent"));
    const Preliminary p = RunPreliminary(host, current);
    const double level = protection > 0.0
                             ? protection
                             : std::trunc(setup.GetParameterValueInInternalUnit("TestProtectionCurrent"));
    EXPECT_TRUE(
        host.Run("Total_Inertia_Identification_Test",
                 {{"RefTest", p.refTest},
                  {"RIncTest", p.rincTest},
                  {"In1", current},
                  {"LimitSpeedMax", std::trunc(setup.GetParameterValueInInternalUnit("TestMaxSpeed"))},
                  {"Imax_Prot_Test", level}}));
    EXPECT_FALSE(host.AxisOn());
    InertiaRun run;
    const std::string program = "Total_Inertia_Identification_Test";
    run.testFlag = host.User(program, "test_flag");
    run.deltaTime = host.User(program, "delta_time");
    run.deltaSpeed = host.User(program, "delta_speed");
    CMC_Setup* s = &setup;
    if (run.deltaSpeed != 0.0)
        run.J = MotorSpeedScale(s) / CurrentScale(s) * run.deltaTime * SpeedLoopPeriod(s) *
                s->GetParameterValueInBaseUnit("K") / run.deltaSpeed * current;
    return run;
}

// The motor file of the reference motor.
inline const std::string kReferenceMotor = "reference-servo-200W.json";

// The setup a user has for a motor: the motor's datasheet (a motor file's
// "parameters") typed into the reference setup with more parameters (base
// units) and the loops designed, then the Hall registers and the total
// inertia found by their tests on the motor, and the loops designed again
// for that inertia. "Vdc" stays the drive's 48 V. The motor may be a sample
// that differs from its datasheet.
inline std::unique_ptr<CMC_Setup> SetupFor(const std::string& datasheet, const MotorModel& motor,
                                           std::initializer_list<std::pair<const char*, double>> more = {})
{
    auto setup = ReferenceSetup();
    CMC_Setup& s = *setup;
    TypeDatasheet(s, datasheet, {"pp", "Resolution", "MotorPhaseConnectionType", "R", "L", "K", "Jm"});
    for (const auto& [name, value] : more)
        EXPECT_EQ(s.SetParameterValueInBaseUnit(name, value), 1) << name;
    Recompute(s);
    DesignLoops(s);
    {
        VirtualDrive drive(motor);
        Host host(drive);
        CommissionHallsOnDrive(host, s);
    }
    VirtualDrive drive(motor);
    const InertiaRun inertia = RunInertiaTest(drive, s);
    EXPECT_EQ(inertia.testFlag, 1.0);
    EXPECT_GT(inertia.deltaTime, 0.0);
    EXPECT_EQ(s.SetParameterValueInBaseUnit("Jt", inertia.J), 1);
    DesignLoops(s);
    return setup;
}

// A library motor's setup, from its datasheet, for the motor itself.
inline std::unique_ptr<CMC_Setup> SetupFor(const std::string& file,
                                           std::initializer_list<std::pair<const char*, double>> more = {})
{
    return SetupFor(file, LoadMotor(file), more);
}

} // namespace simtest
