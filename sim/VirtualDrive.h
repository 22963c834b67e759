// The virtual drive: a simulated motor (Plant) and the drive's firmware
// behind the drive link interface. It holds the setup's registers as a real
// drive holds a downloaded setup, runs the drive programs by name, and keeps
// its own clock: every request first runs the drive up to the request's
// time `now`, one PWM period at a time, and then answers. Requests with an
// earlier time than the drive's clock answer at once.
//
// Scope frames (code 0xE900) come while a program runs with a log request:
// bytes 0-1 the payload's length in 16-bit words, bytes 2-3 the frame's
// sequence number (0 for the first frame of each log, then counting up and
// wrapping at 65536, so the host sees frames lost or out of order), bytes
// 4-5 the code, then the samples, each logged variable (in the request's
// order) as a signed 32-bit number in internal units, least significant word
// first. All 16-bit words are little-endian.
//
// Not thread-safe: a virtual drive lives on the caller's thread.
#pragma once

#include "DriveLink.h"
#include "Faults.h"
#include "Firmware.h"
#include "MotorModel.h"
#include "Plant.h"
#include "Program.h"

#include <memory>
#include <string>

struct VirtualDriveOptions {
    PlantOptions plant;
    // The supply's voltage [V]; 0: the plant's own (48 V). Never the setup's.
    double busVoltage = 0.0;
};

class VirtualDrive final : public DriveLink {
public:
    // Faults are those of the motor file and of the options together.
    explicit VirtualDrive(const MotorModel& motor = MotorModel::Reference(),
                          const VirtualDriveOptions& options = VirtualDriveOptions());
    ~VirtualDrive() override;

    LinkResult DownloadSetup(double now, const CMC_Setup& setup) override;
    LinkResult StartProgram(double now, const ProgramRequest& program, const LogRequest* log) override;
    LinkResult StopProgram(double now) override;
    LinkResult ReadUserVariable(double now, const std::string& program, const std::string& name,
                                double& value) override;
    LinkResult WriteUserVariable(double now, const std::string& program, const std::string& name,
                                 double value) override;
    LinkResult ReadVariable(double now, const std::string& name, double& value) override;
    LinkResult WriteVariable(double now, const std::string& name, double value) override;
    LinkResult WriteParameter(double now, const std::string& name, double value) override;
    LinkResult GetAxisOn(double now, bool& on) override;
    LinkResult UploadLog(double now, std::vector<std::vector<double>>& rows) override;
    std::vector<UnsolicitedFrame> TakeUnsolicitedFrames(double now) override;
    LinkResult Reset(double now) override;
    std::string LastError() const override { return m_lastError; }

    // Runs the drive up to a time [s] (what every request does first).
    void AdvanceTo(double now);
    double Time() const { return m_firmware->Time(); }
    // The name of the program that runs, empty when none does.
    std::string RunningProgram() const;
    const FaultSet& Faults() const { return m_faults; }

    // The simulation behind the link, for tests and benchmarks.
    Plant& GetPlant() { return *m_plant; }
    // The supply's no-load voltage [V].
    double SupplyVoltage() const { return m_plant->Options().busVoltage; }
    Firmware& GetFirmware() { return *m_firmware; }

private:
    LinkResult Fail(LinkResult result, std::string text);
    bool Answers();
    bool KnowsVariable(const std::string& name) const;
    UserVariables& VariablesOf(const ProgramInfo& info);
    // A request for a program's user variable: the drive runs up to `now`,
    // then finds the program's variables; a failure says what is missing.
    LinkResult UserVariablesAt(double now, const std::string& program, const std::string& name,
                               UserVariables*& variables);
    void EndFinishedProgram();

    FaultSet m_faults;
    VirtualDriveOptions m_options;
    std::unique_ptr<Plant> m_plant;
    std::unique_ptr<Firmware> m_firmware;
    std::unique_ptr<Program> m_program;
    const ProgramInfo* m_programInfo = nullptr;
    CaseInsensitiveMap<UserVariables> m_userVariables;
    CaseInsensitiveMap<bool> m_knownVariables;
    bool m_silent = false; // the drive stopped answering
    std::string m_lastError;
};
