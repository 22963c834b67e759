// The virtual drive's speed: simulated seconds per wall-clock second (the
// "simulated" rate) with the reference motor at 20 kHz, and the wall time of
// a whole drive program run through the link.
#include "MinimalLoop.h"
#include "Plant.h"
#include "ReferenceSetup.h"
#include "Setup.h"
#include "SetupDescription.h"
#include "SetupFile.h"
#include "VirtualDrive.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>

namespace {

// The drive with the reference setup, the power stage on.
std::unique_ptr<VirtualDrive> RunningDrive(const VirtualDriveOptions& options = {})
{
    auto drive = std::make_unique<VirtualDrive>(MotorModel::Reference(), options);
    drive->DownloadSetup(0.0, *LoadReferenceSetup());
    if (!drive->GetFirmware().SwitchOn())
        throw std::runtime_error("the power stage does not switch on");
    return drive;
}

constexpr double kChunk = 0.1;                            // [s] simulated per iteration
constexpr long kChunkPeriods = 2000;                      // of 50 us
constexpr double kQCurrent = 1.5 * 3273.6;                // [counts] 1.5 A
constexpr double kFieldIncrement = 65536.0 * 50.0 * 5e-5; // a field turning at 50 Hz [angle units a period]

void Simulate(benchmark::State& state, VirtualDrive& drive)
{
    for (auto _ : state)
        drive.AdvanceTo(drive.Time() + kChunk);
    if (!drive.GetFirmware().IsOn())
        state.SkipWithError("a protection switched the power stage off");
    state.counters["simulated"] =
        benchmark::Counter(kChunk * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The current loop closed on a field that turns at 50 Hz.
std::unique_ptr<VirtualDrive> CurrentLoopDrive(const VirtualDriveOptions& options = {})
{
    auto drive = RunningDrive(options);
    Firmware& fw = drive->GetFirmware();
    fw.ImposeAngle(0.0);
    fw.SetAngleIncrement(kFieldIncrement);
    fw.SetCurrent(kQCurrent);
    return drive;
}

// ... noise-free.
void BM_CurrentLoop(benchmark::State& state)
{
    Simulate(state, *CurrentLoopDrive());
}
BENCHMARK(BM_CurrentLoop);

// The minimal loop of the same equations on the same motor, drive and gains.
MinimalLoop MinimalLoopLike(VirtualDrive& drive)
{
    const Firmware& fw = drive.GetFirmware();
    const Plant& plant = drive.GetPlant();
    const auto whole = [&](const char* name) { return static_cast<std::int64_t>(fw.Register(name)); };
    const MinimalLoop::Gains gains{whole("KPI"), whole("KII"), static_cast<int>(whole("SFTKPI")),
                                   static_cast<int>(whole("SFTKII")), fw.Register("FILTERQ") / 32767.0};
    return MinimalLoop(plant.Motor(), plant.Hardware(), gains, plant.Options().busVoltage,
                       plant.Options().supplyResistance);
}

void BM_MinimalLoop(benchmark::State& state)
{
    auto drive = RunningDrive();
    MinimalLoop loop = MinimalLoopLike(*drive);
    for (auto _ : state)
        if (!loop.Run(kChunkPeriods, kFieldIncrement, kQCurrent))
            state.SkipWithError("the over-current comparator tripped");
    state.counters["simulated"] =
        benchmark::Counter(kChunk * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MinimalLoop);

// The two side by side, chunk for chunk: the virtual drive's time over the
// minimal loop's ("ratio", at most 1.5 is the goal).
void BM_CurrentLoopAgainstMinimalLoop(benchmark::State& state)
{
    auto drive = CurrentLoopDrive();
    MinimalLoop loop = MinimalLoopLike(*drive);
    using Clock = std::chrono::steady_clock;
    Clock::duration virtualDrive{}, minimal{};
    for (auto _ : state) {
        const auto start = Clock::now();
        drive->AdvanceTo(drive->Time() + kChunk);
        const auto middle = Clock::now();
        loop.Run(kChunkPeriods, kFieldIncrement, kQCurrent);
        const auto end = Clock::now();
        virtualDrive += middle - start;
        minimal += end - middle;
    }
    const double simulated = kChunk * static_cast<double>(state.iterations());
    state.counters["drive x real time"] = simulated / std::chrono::duration<double>(virtualDrive).count();
    state.counters["floor x real time"] = simulated / std::chrono::duration<double>(minimal).count();
    state.counters["ratio"] =
        std::chrono::duration<double>(virtualDrive) / std::chrono::duration<double>(minimal);
}
BENCHMARK(BM_CurrentLoopAgainstMinimalLoop);

// The plant alone, at a constant voltage that turns the motor.
void BM_PlantAlone(benchmark::State& state)
{
    Plant plant(MotorModel::Reference(), PlantOptions{});
    plant.ConfigureHardware(DriveHardware{});
    plant.SetEnabled(true);
    plant.SetDuties(0.55, 0.5, 0.45);
    for (auto _ : state)
        for (long k = 0; k < kChunkPeriods; ++k)
            plant.Step();
    state.counters["simulated"] =
        benchmark::Counter(kChunk * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlantAlone);

// The same with converter noise on every current and Hall sample.
void BM_CurrentLoopWithNoise(benchmark::State& state)
{
    VirtualDriveOptions options;
    options.plant.currentNoise = 0.02;
    options.plant.hallNoise = 0.005;
    options.plant.busNoise = 0.05;
    Simulate(state, *CurrentLoopDrive(options));
}
BENCHMARK(BM_CurrentLoopWithNoise);

// The speed loop with commutation from the Hall sensors (read every
// current-loop period), calibrated to the motor's sensors.
void BM_SpeedLoop(benchmark::State& state)
{
    auto drive = RunningDrive();
    Firmware& fw = drive->GetFirmware();
    const MotorModel motor = MotorModel::Reference();
    const char* gains[] = {"HALLAGAIN", "HALLBGAIN", "HALLCGAIN"};
    const char* offsets[] = {"HALLAOFF", "HALLBOFF", "HALLCOFF"};
    for (std::size_t k = 0; k < 3; ++k) {
        fw.SetRegister(gains[k], 268435456.0 / (motor.halls[k].amplitude * 13094.4));
        fw.SetRegister(offsets[k], motor.halls[k].offset * 13094.4);
    }
    fw.SetRegister("ALPHA", motor.halls[0].angle / 360.0 * 65536.0);
    fw.SetSpeedReference(5.0); // [increments per speed-loop period], about 290 rpm
    Simulate(state, *drive);
}
BENCHMARK(BM_SpeedLoop);

// A whole positioning program through the link, as a test dialog runs it.
void BM_InitialPositioningProgram(benchmark::State& state)
{
    const auto setup = LoadReferenceSetup();
    for (auto _ : state) {
        VirtualDrive drive;
        double now = 0.0;
        drive.DownloadSetup(now += 0.02, *setup);
        drive.WriteUserVariable(now += 0.02, "Initial_Positioning_Test", "In1", 5401.0);
        drive.StartProgram(now += 0.02, {"Initial_Positioning_Test", {}}, nullptr);
        double started = 0.0;
        bool on = true;
        while (started == 0.0 || on) {
            drive.ReadUserVariable(now += 0.02, "Initial_Positioning_Test", "STARTED", started);
            drive.GetAxisOn(now += 0.02, on);
        }
        benchmark::DoNotOptimize(started);
    }
}
BENCHMARK(BM_InitialPositioningProgram)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
