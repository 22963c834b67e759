#include "EditorCommands.h"

#include "Automation.h"
#include "CanSettingsDlg.h"
#include "DriveConnection.h"
#include "DriveInfo.h"
#include "DriveSetupDlg.h"
#include "FiltersDialog.h"
#include "HostApplication.h"
#include "InertiaQuestion.h"
#include "ModuleLoader.h"
#include "Setup.h"
#include "SetupCommands.h"
#include "SetupFile.h"
#include "TestCurrent.h"
#include "TestPositionTuning.h"
#include "TestSpeedTuning.h"

#include <QApplication>
#include <QDir>

#include <functional>
#include <memory>
#include <ostream>
#include <utility>

namespace {

struct EditArgs {
    SetupOption setup;
    std::string file;
    std::string output;
    VirtualDriveChoice drive;
};

void RunEdit(const EditArgs& args, std::ostream& out, std::ostream& err, int& exitCode)
{
    exitCode = 1;
    SetupOption option = args.setup;
    if (!TakeSetupFile(option, args.file, err))
        return;
    const std::string target = !args.output.empty() ? args.output : option.IsReference() ? "" : option.Path();
    if (target.empty()) {
        err << "velmaro: the reference setup is not changed; give a setup FILE or -o FILE\n";
        return;
    }
    if (RefusesReferenceTarget(target, err))
        return;
    auto setup = LoadChosenSetup(option, err);
    const ModuleLoader* module = HostModule(err);
    if (!setup || !module || !ConnectVirtualDrive(args.drive, *setup, err))
        return;
    HostApplication();
    if (module->EditSetup(setup.get()) != 1) {
        out << "Cancelled: " << target << " was not changed.\n";
        exitCode = 0;
        return;
    }
    std::string error;
    if (!SaveSetupFile(*setup, target, error)) {
        err << "velmaro: " << error << '\n';
        return;
    }
    out << "Saved " << target << '\n';
    exitCode = 0;
}

const char* ModeName(int mode)
{
    return mode == 0 ? "position" : mode == 1 ? "speed" : "torque";
}

// Renders a dialog the moment it has opened, then closes it.
class Camera {
public:
    Camera(QString folder, std::ostream& out) : m_folder(std::move(folder)), m_out(out) {}

    void Shoot(DialogDriver& d, const QString& name)
    {
        QCoreApplication::processEvents();
        const QString path = QDir(m_folder).filePath(name + QStringLiteral(".png"));
        if (d.Dialog()->grab().save(path)) {
            m_out << path.toStdString() << '\n';
            ++m_saved;
        }
    }
    int Saved() const { return m_saved; }

private:
    QString m_folder;
    std::ostream& m_out;
    int m_saved = 0;
};

constexpr int kDriveSetup = 106;
constexpr int kMotorSetup = 108;
constexpr int kPositionModeRadio = 1059; // then speed, torque
constexpr int kExternalReferenceYes = 1064;
constexpr int kExternalReferenceSetup = 3208;
constexpr int kAdvancedButton = 3158;
constexpr int kMotorBrakeCheck = 3381;
constexpr int kCanopenSettingsButton = 10022;

// Opens the Drive Setup, picks the control mode there as a user does, lets
// `then` work the dialog and closes it with OK, so that everything the editor
// does on a change of mode has happened.
void ChooseControlMode(CMC_Setup& setup, ScriptedUser& user, int mode, const DialogScript& then)
{
    user.OnDialog(kDriveSetup, [mode, then](DialogDriver& d) {
        d.Click(kPositionModeRadio + mode);
        if (then)
            then(d);
        d.Ok();
    });
    CDriveSetupDlg dialog(&setup, nullptr);
    dialog.DoModal();
}

// Presses a button of the dialog that opens another one, and shoots that.
void ShootChild(DialogDriver& d, ScriptedUser& user, Camera& camera, int button, int templateId,
                const QString& name)
{
    user.OnDialog(templateId, [&camera, name](DialogDriver& child) {
        camera.Shoot(child, name);
        child.Cancel();
    });
    d.Click(button);
}

// The motor setup, which the Drive Setup opens on its own: shot the first
// time, as it opens and, when the motor has no brake yet, with the brake
// ticked (its output line shown); the brake is then left as it was.
void ShootMotorSetupOnce(ScriptedUser& user, Camera& camera)
{
    auto shot = std::make_shared<bool>(false);
    user.OnDialog(kMotorSetup, [&camera, shot](DialogDriver& d) {
        if (!std::exchange(*shot, true)) {
            camera.Shoot(d, QStringLiteral("108-motor-setup"));
            if (d.IsEnabled(kMotorBrakeCheck) && !d.IsChecked(kMotorBrakeCheck)) {
                d.Click(kMotorBrakeCheck);
                camera.Shoot(d, QStringLiteral("108-motor-setup-brake"));
                d.Click(kMotorBrakeCheck);
            }
        }
        d.Cancel();
    });
}

// The Drive Setup, the Advanced and the External Reference Setup dialogs in
// each control mode, the mode chosen in the Drive Setup and the external
// reference switched on there before its "Setup" button is pressed.
void ShootControlModes(CMC_Setup& setup, ScriptedUser& user, Camera& camera)
{
    for (int mode : {0, 1, 2}) {
        const QString suffix = QStringLiteral("-") + QString::fromUtf8(ModeName(mode));
        ChooseControlMode(setup, user, mode, [&user, &camera, &suffix](DialogDriver& d) {
            camera.Shoot(d, QStringLiteral("106-drive-setup") + suffix);
            ShootChild(d, user, camera, kAdvancedButton, 110, QStringLiteral("110-advanced") + suffix);
            d.Click(kExternalReferenceYes);
            ShootChild(d, user, camera, kExternalReferenceSetup, 111,
                       QStringLiteral("111-external-reference") + suffix);
        });
    }
}

template <typename Dialog>
void ShootDialog(CMC_Setup& setup, ScriptedUser& user, Camera& camera, int templateId, const QString& name)
{
    user.OnDialog(templateId, [&camera, name](DialogDriver& d) {
        camera.Shoot(d, name);
        d.Cancel();
    });
    Dialog dialog(&setup, nullptr);
    dialog.DoModal();
}

// A tuning test on both pages: the parameters, then a run tuned with the
// setup's bandwidth and logged on the virtual drive, saved as a plot
// (<name>.png, .svg, .csv, the name the test gives it).
template <typename Dialog>
void ShootTuning(CMC_Setup& setup, ScriptedUser& user, Camera& camera, const QString& name)
{
    Dialog dialog(&setup, 1, nullptr);
    user.OnDialog(Dialog::kTemplateId, [&camera, &dialog, name](DialogDriver& d) {
        camera.Shoot(d, name + QStringLiteral("-parameters"));
        d.SelectTab(Dialog::kTab, 1);
        d.Click(Dialog::kTune);
        d.Click(10000);
        d.WaitUntil([&dialog] { return dialog.m_bRunning == 0; });
        camera.Shoot(d, name + QStringLiteral("-test"));
        d.Click(Dialog::kSavePlots);
        d.Cancel();
    });
    dialog.DoModal();
}

// The current, speed and position tuning tests on the virtual drive with the
// reference motor; their plots go beside the pictures of the dialogs.
void ShootTuningTests(CMC_Setup& setup, ScriptedUser& user, Camera& camera, const std::string& folder,
                      std::ostream& err)
{
    qputenv("VELMARO_PLOT_DIR", QByteArray::fromStdString(folder));
    if (!ConnectVirtualDrive(VirtualDriveChoice{{}, {}, {}, false}, setup, err))
        return;
    // The drive keeps its own clock here: nothing needs to wait for the wall clock.
    CMC_Dialog::SetInstantTimers(true);
    ShootTuning<CTestCurrent>(setup, user, camera, QStringLiteral("101-current-tuning"));
    ShootTuning<CTestSpeedTuning>(setup, user, camera, QStringLiteral("102-speed-tuning"));
    ShootTuning<CTestPositionTuning>(setup, user, camera, QStringLiteral("103-position-tuning"));
    CMC_Dialog::SetInstantTimers(false);
    DisconnectDrive();
}

void RunScreenshots(const std::string& folder, const SetupOption& option, std::ostream& out,
                    std::ostream& err, int& exitCode)
{
    exitCode = 1;
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        err << "velmaro: the folder " << folder << " cannot be made\n";
        return;
    }
    auto setup = LoadChosenSetup(option, err);
    if (!setup)
        return;
    HostApplication();
    ScriptedUser user;
    Camera camera(QString::fromStdString(folder), out);
    ShootMotorSetupOnce(user, camera);
    ShootControlModes(*setup, user, camera);
    ChooseControlMode(*setup, user, 0, [&user, &camera](DialogDriver& d) {
        ShootChild(d, user, camera, kCanopenSettingsButton, CMC_CanSettingsDlg::kTemplate,
                   QStringLiteral("30002-canopen-settings"));
    });
    ShootDialog<CFiltersDialog>(*setup, user, camera, 295, QStringLiteral("295-filters"));
    ShootDialog<CDriveInfo>(*setup, user, camera, 3018, QStringLiteral("3018-drive-info"));
    ShootDialog<CInertiaQuestion>(*setup, user, camera, 3056, QStringLiteral("3056-motor-inertia"));
    ShootTuningTests(*setup, user, camera, folder, err);
    out << camera.Saved() << " pictures in " << folder << '\n';
    exitCode = camera.Saved() > 0 ? 0 : 1;
}

} // namespace

void AddEditCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    auto args = std::make_shared<EditArgs>();
    auto* command =
        app.add_subcommand("edit", "Edit a setup in the setup editor; saved only when it ends with OK");
    command->add_option("FILE", args->file, "Setup file, as --setup");
    command->add_option("-o,--output", args->output, "Save to this file (default: the setup file)");
    command->add_option("--motor", args->drive.motorFile,
                        "Motor file of the virtual drive (default: the reference motor)");
    command->add_option("--drive", args->drive.driveFile,
                        "Drive file: the virtual drive's supply and board (default: the reference drive)");
    command->add_option("--fault", args->drive.faults, "Fault the virtual drive injects (repeatable)");
    AddSetupOption(*command, args->setup);
    command->callback([&out, &err, &exitCode, args] {
        RunEdit(*args, out, err, exitCode);
        DisconnectDrive();
    });
}

void AddScreenshotCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    struct Args {
        std::string folder;
        SetupOption setup;
        double scale = 1.0;
    };
    auto args = std::make_shared<Args>();
    auto* command =
        app.add_subcommand("screenshot", "Render every editor dialog, in each control mode, to PNG files");
    command->add_option("DIR", args->folder, "Folder for the pictures")->required();
    command->add_option("--scale", args->scale, "Display scale, e.g. 1.5")->check(CLI::Range(0.5, 4.0));
    AddSetupOption(*command, args->setup);
    command->callback([&out, &err, &exitCode, args] {
        UseHeadlessPlatform(args->scale);
        RunScreenshots(args->folder, args->setup, out, err, exitCode);
    });
}
