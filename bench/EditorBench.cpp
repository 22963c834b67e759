// The setup editor's latencies, headless on Qt's offscreen platform, driven
// by the scripted user: the Drive Setup dialog opened and shown (with the motor
// setup it opens on top of itself, closed at once), and one typed gain through
// the change dispatch, the recompute and the refresh of every control.
#include "Automation.h"
#include "DriveSetupDlg.h"
#include "ReferenceSetup.h"
#include "ScaleFactors.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr int kDriveSetup = 106;
constexpr int kMotorSetup = 108;

std::unique_ptr<CMC_Setup> Reference()
{
    RegisterScaleProvider({&ScaleFactorOf, &ScaleOffsetOf});
    return LoadReferenceSetup();
}

void BM_DriveSetupOpenedAndShown(benchmark::State& state)
{
    auto setup = Reference();
    ScriptedUser user;
    user.OnDialog(kMotorSetup, [](DialogDriver& d) { d.Cancel(); });
    user.OnDialog(kDriveSetup, [](DialogDriver& d) { d.Cancel(); });
    for (auto _ : state) {
        CDriveSetupDlg dialog(setup.get(), nullptr);
        benchmark::DoNotOptimize(dialog.DoModal());
    }
}
BENCHMARK(BM_DriveSetupOpenedAndShown)->Unit(benchmark::kMillisecond);

// A typed value, alternating between two, through everything the editor does
// with it: a gain goes through the change dispatch; the supply voltage bounds
// the load speed limit, recomputes the limits and refreshes every control.
struct TypedEdit {
    int editId;
    const char* low;
    const char* high;
};
constexpr TypedEdit kEdits[] = {
    {3173, "3.5", "4.5"}, // "Kp_C_scl"
    {3163, "40", "44"},   // "Vdc" [V]
};

void BM_EditToRefresh(benchmark::State& state)
{
    const TypedEdit& edit = kEdits[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(edit.editId == 3173 ? "current loop gain" : "supply voltage");
    auto setup = Reference();
    ScriptedUser user;
    user.OnDialog(kMotorSetup, [](DialogDriver& d) { d.Cancel(); });
    user.OnDialog(kDriveSetup, [&state, &edit](DialogDriver& d) {
        bool high = false;
        for (auto _ : state) {
            high = !high;
            d.SetEditText(edit.editId, QString::fromUtf8(high ? edit.high : edit.low));
        }
        d.Cancel();
    });
    CDriveSetupDlg dialog(setup.get(), nullptr);
    dialog.DoModal();
}
BENCHMARK(BM_EditToRefresh)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
