// The virtual drive's accuracy report: every library motor identified by the
// drive programs, run through the link as the test dialogs run them (the
// same preliminary runs, log requests and polling as the simulator's tests),
// with ideal sensors and with realistic noise; the results against the
// motor's truth, the error in percent and a mark against the targets.
// The programs see only the drive's own sensors; the truth is read here to
// compare with.
#include "ProgramRunSupport.h"
#include "RotatingVoltageResponse.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace simtest;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kCountsPerVolt = 65472.0 / 5.0; // Hall channels: 0 to 5 V on the converter

struct Row {
    std::string quantity;
    double truth = 0.0;
    double found[2] = {0.0, 0.0};  // ideal, noisy sensors
    double target[2] = {0.0, 0.0}; // [%] (0: exact)
};

// A drive for one run: the setup's 48 V, the 320 V motor on its own bus.
VirtualDriveOptions OptionsFor(const MotorModel& motor, bool noisy)
{
    VirtualDriveOptions options = Sensors(noisy);
    options.busVoltage = motor.K > 0.5 ? 320.0 : 48.0;
    return options;
}

// Resistance and inductance as their dialog finds them: two resistance runs
// (test current and half of it), then the inductance run.
struct ResistanceInductance {
    double R = 0.0, L = 0.0;
};

ResistanceInductance IdentifyRL(const MotorModel& motor, const std::string& file, bool noisy)
{
    VirtualDriveOptions options = Sensors(noisy);
    VirtualDrive drive(motor, options);
    auto setup = ReferenceSetup();
    CMC_Setup* s = setup.get();
    s->SetParameterValueInBaseUnit("MotorPhaseConnectionType", motor.delta ? 1.0 : 0.0);
    Host host(drive);
    host.Download(*s);
    const double current = TestCurrentFor(*s, file);
    double u[2] = {0.0, 0.0}, i[2] = {0.0, 0.0};
    for (int run = 0; run < 2; ++run) {
        const double in1 = run == 0 ? current : std::trunc(current / 2.0);
        const Preliminary p = RunPreliminary(host, in1);
        const LogRequest log = Log({"IQ"}, 400, run == 0);
        host.Run("Ident_R_or_Rs", {{"In1", in1}, {"RefTest", p.refTest}, {"RIncTest", p.rincTest}}, &log);
        u[run] = host.Variable("var_i1");
        i[run] = ColumnMean(Upload(host), 0);
    }
    const double bus = host.Variable("var_u2");
    s->SetParameterValueInBaseUnit("Vdc", s->GetParameterValueInBaseUnit("VdcMaxMeasurable") * bus /
                                              Compute_ADCMaxValue(s));
    ResistanceInductance out;
    out.R = (u[0] - u[1]) / (i[0] - i[1]) / VoltageCommandScale(s) * CurrentScale(s);

    const LogRequest log = Log({"IQ", "ID", "THTST"}, 400, false);
    host.Run("Ident_L_or_Tau_el", {{"In1", current}}, &log);
    const double increment = host.Variable("TINCTST");
    const double voltage = host.Variable("var_i1");
    RotatingVoltageResponse response;
    for (const auto& row : Upload(host))
        response.Add(row[0], row[1], row[2]);
    const double omega = kTwoPi * increment / (CurrentLoopPeriod(s) * 65535.0);
    const auto axes = response.Inductances(voltage, omega);
    out.L = axes ? axes->Mean() * CurrentScale(s) / VoltageCommandScale(s) : 0.0;
    if (motor.delta) {
        out.R *= 3.0;
        out.L *= 3.0;
    }
    return out;
}

// "VDC_Detection_Test" on the setup's 48 V supply [V] (the drive's
// converter reads up to "VdcMaxMeasurable", 80 V).
double IdentifyVdc(const MotorModel& motor, bool noisy)
{
    VirtualDrive drive(motor, Sensors(noisy));
    auto setup = ReferenceSetup();
    Host host(drive);
    host.Download(*setup);
    host.Run("VDC_Detection_Test", {});
    return host.Variable("var_u2") / DcBusVoltageScale(setup.get());
}

// The inertia dialog's run on the setup for the motor [kg m^2].
double IdentifyInertia(const MotorModel& motor, const std::string& file, bool noisy)
{
    auto setup = SetupFor(file, motor);
    CMC_Setup* s = setup.get();
    VirtualDrive drive(motor, Sensors(noisy));
    Host host(drive);
    host.Download(*s);
    const double current = TestCurrentFor(*s, file);
    const Preliminary p = RunPreliminary(host, current);
    const std::string program = "Total_Inertia_Identification_Test";
    host.Run(program,
             {{"RefTest", p.refTest},
              {"RIncTest", p.rincTest},
              {"In1", current},
              {"LimitSpeedMax", std::trunc(s->GetParameterValueInInternalUnit("TestMaxSpeed"))},
              {"Imax_Prot_Test", std::trunc(s->GetParameterValueInInternalUnit("TestProtectionCurrent"))}});
    const double deltaTime = host.User(program, "delta_time");
    const double deltaSpeed = host.User(program, "delta_speed");
    if (host.User(program, "test_flag") != 1.0 || deltaTime <= 0.0 || deltaSpeed == 0.0)
        return 0.0;
    return MotorSpeedScale(s) / CurrentScale(s) * deltaTime * SpeedLoopPeriod(s) *
           s->GetParameterValueInBaseUnit("K") / deltaSpeed * current;
}

// A drive on the reference setup made fit for the motor's sensor.
struct Bench {
    Bench(const MotorModel& motor, bool noisy) : drive(motor, OptionsFor(motor, noisy)), host(drive)
    {
        setup = ReferenceSetup();
        if (motor.polePairs != 4)
            setup->FindParameter("ENC2THL")->SetValueInInternalUnit(motor.polePairs * 4294967296.0 / 4096.0);
        host.Download(*setup);
    }
    VirtualDrive drive;
    Host host;
    std::unique_ptr<CMC_Setup> setup;
};

// Presses Move until the shaft is back at its mark, then Stop, as a person
// does; the drive's count.
double IdentifyPolePairs(const MotorModel& motor, bool noisy)
{
    Bench bench(motor, noisy);
    Host& host = bench.host;
    const std::string program = "Motor_Pole_Pairs_Detection_Test";
    const double refTest = host.Position(kTestCurrent);
    host.SetUser(program, "RefTest", refTest);
    host.SetUser(program, "RIncTest", refTest);
    bench.drive.StartProgram(host.Tick(), {program, {}}, nullptr);
    while (!(host.User(program, "STARTED") != 0.0 && host.AxisOn()))
        if (host.Now() > 100.0)
            return -1.0;
    const double mark = bench.drive.GetPlant().MotorAngle();
    for (int moves = 1; moves <= 20; ++moves) {
        bench.drive.WriteVariable(host.Tick(), "var_i2", 0.0);
        for (double thtst = host.Variable("THTST"); thtst < -16383.0 || thtst > -16382.0;)
            thtst = host.Variable("THTST");
        const double turned = bench.drive.GetPlant().MotorAngle() - mark;
        if (std::abs(std::remainder(turned, kTwoPi)) < 5.0 * kTwoPi / 360.0 && turned > 0.5 * kTwoPi)
            break;
    }
    bench.drive.WriteVariable(host.Tick(), "var_i2", 1.0);
    host.WaitForEnd(program);
    return host.Variable("var_i2");
}

struct Halls {
    double status = 0.0;
    double gain[3]{}, offset[3]{};
};

Halls IdentifyHalls(const MotorModel& motor, bool noisy)
{
    Bench bench(motor, noisy);
    Host& host = bench.host;
    const double refTest = host.Position(kTestCurrent);
    host.Run("Detect_Hall_Gain_Offset_Test", {{"RefTest", refTest}, {"RIncTest", refTest}});
    Halls h;
    h.status = host.Variable("WEAKINC");
    const char* gains[3] = {"SRECTCOMP", "SIN2REC", "KSLIP"};
    const char* offsets[3] = {"AD6OFF", "AD3OFF", "SFTCWEAK"};
    for (int k = 0; k < 3; ++k) {
        h.gain[k] = host.Variable(gains[k]);
        h.offset[k] = host.Variable(offsets[k]);
    }
    return h;
}

double ErrorPercent(double found, double truth)
{
    return 100.0 * (found - truth) / truth;
}

const char* Mark(double found, double truth, double target)
{
    if (target == 0.0)
        return found == truth ? "PASS" : "MISS";
    return std::abs(ErrorPercent(found, truth)) <= target ? "PASS" : "MISS";
}

} // namespace

int main()
{
    EngineScales scales;
    int misses = 0;
    std::printf("%-26s %-9s %12s | %12s %8s %-4s | %12s %8s %-4s\n", "motor", "quantity", "true",
                "noise-free", "err %", "", "noisy", "err %", "");
    for (const std::string& file : LibraryMotorFiles()) {
        const MotorModel motor = LoadMotor(file);
        std::vector<Row> rows;
        Row r{"R [ohm]", motor.R, {}, {1.0, 3.0}};
        Row l{"L [H]", 0.5 * (motor.Ld + motor.Lq), {}, {2.0, 5.0}};
        Row j{"J [kgm2]", motor.TotalInertia(), {}, {2.0, 5.0}};
        Row pp{"pp", static_cast<double>(motor.polePairs), {}, {0.0, 0.0}};
        Row vdc{"Vdc [V]", 48.0, {}, {0.5, 0.5}};
        std::vector<Row> hallRows;
        for (int k = 0; k < 3; ++k) {
            const HallSensorModel& hall = motor.halls[static_cast<std::size_t>(k)];
            const std::string name(1, static_cast<char>('A' + k));
            hallRows.push_back(
                {"gain " + name, 268435456.0 / (hall.amplitude * kCountsPerVolt), {}, {1.0, 1.0}});
            hallRows.push_back({"offset " + name, hall.offset * kCountsPerVolt, {}, {1.0, 1.0}});
        }
        for (int noisy = 0; noisy < 2; ++noisy) {
            const ResistanceInductance rl = IdentifyRL(motor, file, noisy != 0);
            r.found[noisy] = rl.R;
            l.found[noisy] = rl.L;
            j.found[noisy] = IdentifyInertia(motor, file, noisy != 0);
            pp.found[noisy] = IdentifyPolePairs(motor, noisy != 0);
            vdc.found[noisy] = IdentifyVdc(motor, noisy != 0);
            const Halls h = IdentifyHalls(motor, noisy != 0);
            for (int k = 0; k < 3; ++k) {
                hallRows[static_cast<std::size_t>(2 * k)].found[noisy] = h.status == 1.0 ? h.gain[k] : 0.0;
                hallRows[static_cast<std::size_t>(2 * k + 1)].found[noisy] =
                    h.status == 1.0 ? h.offset[k] : 0.0;
            }
        }
        rows = {r, l, j, pp, vdc};
        rows.insert(rows.end(), hallRows.begin(), hallRows.end());
        for (const Row& row : rows) {
            const char* marks[2] = {Mark(row.found[0], row.truth, row.target[0]),
                                    Mark(row.found[1], row.truth, row.target[1])};
            misses += (marks[0][0] == 'M') + (marks[1][0] == 'M');
            std::printf("%-26s %-9s %12.6g | %12.6g %+8.3f %-4s | %12.6g %+8.3f %-4s\n", file.c_str(),
                        row.quantity.c_str(), row.truth, row.found[0], ErrorPercent(row.found[0], row.truth),
                        marks[0], row.found[1], ErrorPercent(row.found[1], row.truth), marks[1]);
        }
    }
    std::printf(
        "targets: noise-free R 1 %%, L 2 %%, J 2 %%, pp exact, Hall gains and offsets 1 %%, Vdc 0.5 %%; "
        "noisy R 3 %%, L 5 %%, J 5 %%\n%d missed\n",
        misses);
    return misses == 0 ? 0 : 1;
}
