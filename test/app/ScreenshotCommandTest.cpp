// velmaro screenshot: every editor dialog as a picture, and the tuning tests
// on both pages after a run on the virtual drive, with their plots.
#include "CommandLineSupport.h"

#include <algorithm>
#include <cstdlib>

namespace {

class ScreenshotCommand : public ReferenceSetupCopy {
protected:
    ScreenshotCommand() : ReferenceSetupCopy("screenshot") {}

    // The command points the plot folder at its own folder.
    void TearDown() override
    {
        ::unsetenv("VELMARO_PLOT_DIR");
        ReferenceSetupCopy::TearDown();
    }
};

std::size_t Lines(const fs::path& file)
{
    const std::string text = ReadFile(file);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(ScreenshotCommand, ShowsEachTuningTestOnBothPagesAfterARunAndSavesItsPlot)
{
    const fs::path shots = dir / "shots";
    const CliRun run = Velmaro({"screenshot", shots.string(), "--setup", copy});
    ASSERT_EQ(run.code, 0) << run.err;
    for (const char* test : {"101-current-tuning", "102-speed-tuning", "103-position-tuning"}) {
        SCOPED_TRACE(test);
        const fs::path parameters = shots / (std::string(test) + "-parameters.png");
        const fs::path page = shots / (std::string(test) + "-test.png");
        ASSERT_TRUE(fs::exists(parameters));
        ASSERT_TRUE(fs::exists(page));
        EXPECT_NE(ReadFile(parameters), ReadFile(page));
        EXPECT_NE(run.out.find(page.string()), std::string::npos) << run.out;
    }
    // The whole log of each run: a header, then every point.
    const std::pair<const char*, std::size_t> plots[] = {
        {"CurrentTuning", 1000}, {"SpeedTuning", 2000}, {"PositionTuning", 2000}};
    for (const auto& [plot, points] : plots) {
        SCOPED_TRACE(plot);
        for (const char* extension : {".png", ".svg"})
            EXPECT_TRUE(fs::exists(shots / (std::string(plot) + extension)));
        EXPECT_EQ(Lines(shots / (std::string(plot) + ".csv")), points + 1);
    }
}

} // namespace
