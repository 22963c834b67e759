// velmaro screenshot: every editor dialog as a picture, and the tuning tests
// on both pages after a run on the virtual drive, with their plots.
#include "CommandLineSupport.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <vector>

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

// The pictures the command reports, one path a line.
std::vector<std::string> Pictures(const std::string& out)
{
    std::vector<std::string> pictures;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.ends_with(".png"))
            pictures.push_back(line);
    return pictures;
}

TEST_F(ScreenshotCommand, GivesEveryPictureItsOwnFileAndEachControlModeItsExternalReference)
{
    const fs::path shots = dir / "shots";
    const CliRun run = Velmaro({"screenshot", shots.string(), "--setup", copy});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<std::string> pictures = Pictures(run.out);
    const std::set<std::string> distinct(pictures.begin(), pictures.end());
    EXPECT_EQ(distinct.size(), pictures.size()) << run.out;
    EXPECT_NE(run.out.find(std::to_string(pictures.size()) + " pictures in"), std::string::npos) << run.out;
    for (const std::string& picture : pictures)
        EXPECT_TRUE(fs::exists(picture)) << picture;

    // The External Reference Setup looks different in each control mode.
    std::set<std::string> references;
    for (const char* mode : {"position", "speed", "torque"}) {
        const fs::path reference = shots / ("111-external-reference-" + std::string(mode) + ".png");
        ASSERT_TRUE(distinct.count(reference.string())) << reference;
        references.insert(ReadFile(reference));
    }
    EXPECT_EQ(references.size(), 3u);
    // The motor setup as it opens, and with the brake ticked.
    EXPECT_NE(ReadFile(shots / "108-motor-setup.png"), ReadFile(shots / "108-motor-setup-brake.png"));
}

} // namespace
