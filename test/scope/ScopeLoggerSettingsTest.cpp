// The scope logger's settings: its columns and the drive's sampling, the
// vertical scales, the settings kept in a setup option and in a file, the
// settings dialog and the file prompt worked by the scripted user.
#include "Automation.h"
#include "ScopeSettingsDlg.h"
#include "ScopeTestSupport.h"

#include <QComboBox>

#include <fstream>

namespace {

using namespace scopetest;

constexpr const char* kOption = "SpeedTuningOscSettings";

class ScopeLoggerSettings : public ScopeTest {
protected:
    // Speed and current channels, scaled, triggered, with two curves.
    std::unique_ptr<CMC_ScopeLogger> Configured()
    {
        auto logger = std::make_unique<CMC_ScopeLogger>(setup.get(), nullptr);
        EXPECT_TRUE(logger->AddVariable("Speed_Reference"));
        EXPECT_TRUE(logger->AddVariable("Motor_Current"));
        CGraphFilter* filter = logger->GetGraphDocument().GetAt(0);
        filter->SetColor(0xFFC00000u);
        filter->Values() = {-4.2, -3.5};
        filter->Add(CXYCurve(1, 0, 1, 2, 0xFF008000u));
        filter->Add(CXYCurve(1, 0, 2, 2, 0xFF800080u));
        logger->ChangeSettings(0.35, CMC_ScopeLogger::TriggerNormal, CMC_ScopeLogger::SlopeFalling,
                               "Speed_Reference", -41.887902047863909, 12);
        EXPECT_TRUE(logger->RescaleVariable("Speed_Reference", "rpm", 100.0, -400.0));
        EXPECT_TRUE(logger->RescaleVariable("Motor_Current", "mA", 500.0, 1000.0));
        return logger;
    }

    // Motor currents 0 to 7 A on the screen (internal 0 to 700), speed 0.
    void FillCurrents(CMC_ScopeLogger& logger)
    {
        logger.ChangeSettings(0.1, CMC_ScopeLogger::TriggerAuto, 1, nullptr, 0.0, 0);
        logger.OnProgramStarted();
        std::vector<std::vector<std::int32_t>> samples;
        for (int i = 0; i <= 7; ++i)
            samples.push_back({0, 100 * i});
        ASSERT_EQ(logger.OnFrameReceive(Frame(0, samples)), 8);
    }
};

TEST_F(ScopeLoggerSettings, ColumnsShowEachChannelInItsUnitWithItsScale)
{
    auto logger = Configured();
    const CGraphDocument& document = logger->GetGraphDocument();
    ASSERT_EQ(document.Columns().size(), 3u);
    EXPECT_EQ(document.Capacity(), static_cast<std::size_t>(CMC_ScopeLogger::kScreenPoints));
    const GraphColumn& speed = document.Columns()[1];
    EXPECT_EQ(speed.unit, "rpm");
    EXPECT_NEAR(speed.Shown(100.0), 10.0 / 0.10471975511965977, 1e-9) << "100 counts are 10 rad/s";
    EXPECT_EQ(speed.division, 100.0);
    EXPECT_EQ(speed.divisionOffset, -400.0);
    const GraphColumn& current = document.Columns()[2];
    EXPECT_EQ(current.unit, "mA");
    EXPECT_NEAR(current.Shown(3.0), 30.0, 1e-12);
    EXPECT_TRUE(logger->LocateItems());
    logger->GetGraphDocument().GetAt(0)->Add(CXYCurve(1, 0, 3, 2, 0));
    EXPECT_FALSE(logger->LocateItems()) << "a curve of a column the scope does not have";
}

TEST_F(ScopeLoggerSettings, RequestSamplesSoThatTheScreenSpansTheTimeSpan)
{
    auto logger = Configured(); // current loop 50 us, speed loop 500 us
    const auto sampling = [&](double span) {
        logger->ChangeSettings(span, CMC_ScopeLogger::TriggerAuto, 1, nullptr, 0.0, 0);
        const LogRequest request = logger->Request();
        EXPECT_EQ(request.variables, (std::vector<std::string>{"Speed_Reference", "Motor_Current"}));
        EXPECT_EQ(request.points, CMC_ScopeLogger::kScreenPoints);
        return std::make_pair(request.fastLoop, request.divider);
    };
    EXPECT_EQ(sampling(0.1), std::make_pair(true, 2));
    EXPECT_EQ(sampling(0.01), std::make_pair(true, 1));
    EXPECT_EQ(sampling(1.0), std::make_pair(false, 2));
    EXPECT_EQ(sampling(5.0), std::make_pair(false, 10));
    EXPECT_EQ(sampling(1e6), std::make_pair(false, 32767)) << "the drive's divider has 16 bits";
}

TEST_F(ScopeLoggerSettings, SettingsThatMakeNoSenseAreRefusedAndTheOldOnesStay)
{
    auto logger = Configured();
    const CMC_ScopeLogger::Settings before = logger->GetSettings();
    logger->ChangeSettings(0.0, 1, 1, nullptr, 0.0, 0);
    logger->ChangeSettings(0.1, 3, 1, nullptr, 0.0, 0);
    logger->ChangeSettings(0.1, 2, 1, "Load_Speed", 0.0, 0);
    logger->ChangeSettings(0.1, 2, 1, nullptr, 0.0, 120);
    EXPECT_EQ(errors.size(), 4u);
    EXPECT_FALSE(logger->RescaleVariable("Motor_Current", "rpm", 1.0, 0.0)) << "not a unit of a current";
    EXPECT_FALSE(logger->RescaleVariable("Motor_Current", "A", -1.0, 0.0));
    EXPECT_FALSE(logger->RescaleVariable("Load_Speed", "rpm", 1.0, 0.0)) << "not logged";
    EXPECT_FALSE(logger->AddVariable("No_Such_Variable", 0));
    EXPECT_EQ(logger->GetSettings(), before);
    EXPECT_TRUE(logger->AddVariable("speed_reference")) << "logged already: nothing to add";
    EXPECT_EQ(logger->GetSettings(), before);
}

TEST_F(ScopeLoggerSettings, AutoscaleFillsTheEightDivisionsInOneTwoFiveSteps)
{
    auto logger = Configured();
    logger->RescaleVariable("Motor_Current", "A", 0.0, 0.0);
    FillCurrents(*logger);
    EXPECT_TRUE(logger->Autoscale());
    const ScopeChannel current = logger->GetSettings().channels[1];
    EXPECT_EQ(current.division, 1.0) << "7 A over 8 divisions";
    EXPECT_EQ(current.offset, 3.5) << "the middle of the points on the centre line";
    const ScopeChannel speed = logger->GetSettings().channels[0];
    EXPECT_EQ(speed.division, 1.0) << "a flat zero trace";
    EXPECT_EQ(speed.offset, 0.0);
    EXPECT_EQ(logger->GetGraphDocument().Columns()[2].division, 1.0);
    EXPECT_FALSE(logger->Autoscale()) << "nothing to change";

    logger->RescaleVariable("Motor_Current", "mA", 0.0, 0.0);
    EXPECT_TRUE(logger->Autoscale());
    EXPECT_EQ(logger->GetSettings().channels[1].division, 1000.0) << "in the channel's unit";
}

TEST_F(ScopeLoggerSettings, ChannelScaleStepsAreOneTwoFiveAndMoveTheTraceByADivision)
{
    auto logger = Configured();
    FillCurrents(*logger);
    logger->RescaleVariable("Motor_Current", "A", 3.0, 0.0);
    const auto division = [&] { return logger->GetSettings().channels[1].division; };
    const auto offset = [&] { return logger->GetSettings().channels[1].offset; };
    EXPECT_TRUE(logger->ChangeChannelScale(2, 0));
    EXPECT_EQ(division(), 2.0) << "finer than 3: 2";
    EXPECT_TRUE(logger->ChangeChannelScale(2, 0));
    EXPECT_EQ(division(), 1.0);
    EXPECT_TRUE(logger->ChangeChannelScale(2, 0));
    EXPECT_EQ(division(), 0.5);
    EXPECT_TRUE(logger->ChangeChannelScale(2, 0));
    EXPECT_EQ(division(), 0.2);
    for (int i = 0; i < 4; ++i)
        logger->ChangeChannelScale(2, 1);
    EXPECT_EQ(division(), 5.0);
    EXPECT_TRUE(logger->ChangeChannelScale(2, 2));
    EXPECT_EQ(offset(), -5.0) << "the trace one division up";
    EXPECT_TRUE(logger->ChangeChannelScale(2, 3));
    EXPECT_TRUE(logger->ChangeChannelScale(2, 3));
    EXPECT_EQ(offset(), 5.0);
    EXPECT_EQ(logger->GetGraphDocument().Columns()[2].divisionOffset, 5.0);

    logger->RescaleVariable("Motor_Current", "A", 0.0, 0.0);
    EXPECT_TRUE(logger->ChangeChannelScale(2, 1));
    EXPECT_EQ(division(), 2.0) << "from the autoscaled division, one step coarser";
    for (const auto& [channel, code] : {std::pair{0, 0}, std::pair{3, 0}, std::pair{1, 4}, std::pair{1, -1}})
        EXPECT_FALSE(logger->ChangeChannelScale(channel, code)) << channel << " " << code;
}

TEST_F(ScopeLoggerSettings, SettingsSavedToAnOptionLoadIntoAnotherLoggerExactly)
{
    auto logger = Configured();
    logger->SaveSettingsToSetupOption(kOption);
    const std::string text = setup->GetOptionNoError(kOption);
    ASSERT_FALSE(text.empty());

    CMC_ScopeLogger loaded(setup.get(), nullptr);
    EXPECT_EQ(loaded.LoadSettingsFromSetupOption(kOption), 1);
    EXPECT_EQ(loaded.GetSettings(), logger->GetSettings());
    EXPECT_EQ(loaded.Variables(), logger->Variables());
    EXPECT_EQ(loaded.GetGraphDocument().GetAt(0)->Curves().size(), 2u);
    EXPECT_EQ(loaded.GetGraphDocument().Columns()[2].unit, "mA");
    loaded.SaveSettingsToSetupOption(kOption);
    EXPECT_EQ(setup->GetOptionNoError(kOption), text);
    EXPECT_TRUE(errors.empty());

    CMC_ScopeLogger fresh(setup.get(), nullptr);
    EXPECT_EQ(fresh.LoadSettingsFromSetupOption("PositionTuningOscSettings"), 0) << "no such option";
    EXPECT_TRUE(errors.empty()) << "an absent option is no error";
}

TEST_F(ScopeLoggerSettings, ADamagedOptionIsRefusedWithAMessageAndChangesNothing)
{
    auto logger = Configured();
    logger->SaveSettingsToSetupOption(kOption);
    const std::string good = setup->GetOptionNoError(kOption);
    const CMC_ScopeLogger::Settings before = logger->GetSettings();
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    for (const std::string& damaged :
         {good.substr(0, good.size() / 2), replaced("Motor_Current", "Motor_Torque"),
          replaced("Motor_Current,mA", "Motor_Current,rpm"),
          replaced("velmaro-scope=1", "velmaro-scope=9")}) {
        errors.clear();
        setup->SetOption(kOption, damaged);
        EXPECT_EQ(logger->LoadSettingsFromSetupOption(kOption), 0) << damaged;
        ASSERT_EQ(errors.size(), 1u) << damaged;
        EXPECT_NE(errors[0].find(kOption), std::string::npos) << errors[0];
        EXPECT_EQ(logger->GetSettings(), before);
        EXPECT_EQ(logger->GetGraphDocument().Columns()[2].unit, "mA");
    }
    EXPECT_NE(errors[0].find("version 9"), std::string::npos) << errors[0];
}

TEST_F(ScopeLoggerSettings, FilesSaveAndLoadTheSameSettingsAndADamagedFileIsNamed)
{
    auto logger = Configured();
    const std::string path = (Scratch() / "speed.osc").string();
    ASSERT_TRUE(logger->Save(path.c_str()));
    CMC_ScopeLogger loaded(setup.get(), nullptr);
    ASSERT_TRUE(loaded.Load(path.c_str()));
    EXPECT_EQ(loaded.GetSettings(), logger->GetSettings());

    ::setenv("VELMARO_PLOT_DIR", Scratch().c_str(), 1);
    ASSERT_TRUE(logger->Save("plain"));
    EXPECT_TRUE(std::filesystem::exists(Scratch() / "plain.osc")) << "in the plot folder, with the extension";

    const std::string damaged = (Scratch() / "damaged.osc").string();
    std::ofstream(damaged) << "velmaro-scope=1;span=0.1;trigger=1,1,,0";
    const CMC_ScopeLogger::Settings before = loaded.GetSettings();
    EXPECT_FALSE(loaded.Load(damaged.c_str()));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(damaged), std::string::npos) << errors[0];
    EXPECT_EQ(loaded.GetSettings(), before);

    const std::string missing = (Scratch() / "missing.osc").string();
    EXPECT_FALSE(loaded.Load(missing.c_str()));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[1].find(missing), std::string::npos) << errors[1];
    EXPECT_FALSE(logger->Save((Scratch() / "no-folder" / "x.osc").c_str()));
}

TEST_F(ScopeLoggerSettings, DefaultsLeaveAnEmptyScopeForTheCallerToFill)
{
    auto logger = Configured();
    logger->SetDefaultValues();
    const CMC_ScopeLogger::Settings settings = logger->GetSettings();
    EXPECT_EQ(settings, CMC_ScopeLogger::Settings{});
    EXPECT_TRUE(logger->Variables().empty());
    EXPECT_TRUE(logger->GetGraphDocument().GetAt(0)->Curves().empty());
}

TEST_F(ScopeLoggerSettings, TheScriptedUserWorksTheSettingsDialog)
{
    using Dlg = CMC_ScopeSettingsDlg;
    auto logger = Configured();
    ScriptedUser user;
    user.OnDialog(Dlg::kTemplate, [](DialogDriver& d) {
        EXPECT_EQ(d.Text(Dlg::ChannelName(1)), QStringLiteral("Speed_Reference"));
        EXPECT_FALSE(d.IsVisible(Dlg::ChannelName(3))) << "two channels";
        EXPECT_EQ(d.Text(Dlg::kLevelUnit), QStringLiteral("rad/s")) << "the level in the base unit";
        EXPECT_EQ(d.ComboCount(Dlg::kTriggerVariable), 3) << "none and the two channels";
        d.SetEditText(Dlg::kTimeSpan, QStringLiteral("fast"));
        d.Ok();
        ASSERT_TRUE(d.Dialog()->isVisible()) << "a time span that is no number keeps the dialog open";
        d.SetEditText(Dlg::kTimeSpan, QStringLiteral("0.2"));
        d.SetEditText(Dlg::kPreTrigger, QStringLiteral("101"));
        d.Ok();
        ASSERT_TRUE(d.Dialog()->isVisible());
        d.SetEditText(Dlg::kPreTrigger, QStringLiteral("20"));
        d.SelectComboText(Dlg::kTriggerMode, QStringLiteral("Single"));
        d.SelectComboText(Dlg::kTriggerSlope, QStringLiteral("Rising"));
        d.SelectComboText(Dlg::kTriggerVariable, QStringLiteral("Motor_Current"));
        EXPECT_EQ(d.Text(Dlg::kLevelUnit), QStringLiteral("A"));
        d.SetEditText(Dlg::kTriggerLevel, QStringLiteral("1.5"));
        d.SelectComboText(Dlg::ChannelUnit(2), QStringLiteral("A"));
        d.SetEditText(Dlg::ChannelDivision(2), QStringLiteral("0.5"));
        d.SetEditText(Dlg::ChannelOffset(2), QStringLiteral("-1"));
        d.Ok();
    });
    EXPECT_EQ(logger->Edit(nullptr), 1);
    EXPECT_EQ(user.Messages().size(), 2u);
    const CMC_ScopeLogger::Settings settings = logger->GetSettings();
    EXPECT_EQ(settings.timeSpan, 0.2);
    EXPECT_EQ(settings.preTrigger, 20);
    EXPECT_EQ(settings.triggerMode, CMC_ScopeLogger::TriggerSingle);
    EXPECT_EQ(settings.triggerSlope, CMC_ScopeLogger::SlopeRising);
    EXPECT_EQ(settings.triggerVariable, "Motor_Current");
    EXPECT_EQ(settings.triggerLevel, 1.5);
    EXPECT_EQ(settings.channels[1], (ScopeChannel{"Motor_Current", "A", 0.5, -1.0}));
    EXPECT_EQ(settings.channels[0].unit, "rpm") << "left as it was";
    EXPECT_EQ(logger->GetGraphDocument().Columns()[2].unit, "A");

    user.OnDialog(Dlg::kTemplate, [](DialogDriver& d) {
        d.SetEditText(Dlg::kTimeSpan, QStringLiteral("9"));
        d.Cancel();
    });
    EXPECT_EQ(logger->Edit(nullptr), 0);
    user.OnDialog(Dlg::kTemplate, [](DialogDriver& d) { d.Ok(); });
    EXPECT_EQ(logger->Edit(nullptr), 0) << "OK without a change";
    EXPECT_EQ(logger->GetSettings(), settings);
}

TEST_F(ScopeLoggerSettings, TheFilePromptProposesTheNameInThePlotFolderAndTheScriptedUserAnswersIt)
{
    ::setenv("VELMARO_PLOT_DIR", Scratch().c_str(), 1);
    ScriptedUser user;
    QString name = QStringLiteral("SpeedTuning");
    EXPECT_EQ(DoPromptScopeLoggerFileName(1, name, nullptr), 0) << "nobody answers: cancelled";
    EXPECT_EQ(name, QStringLiteral("SpeedTuning"));
    ASSERT_EQ(user.FilePrompts().size(), 1u);
    EXPECT_TRUE(user.FilePrompts()[0].load);
    EXPECT_EQ(user.FilePrompts()[0].proposed,
              QString::fromStdString((Scratch() / "SpeedTuning.osc").string()));

    user.AnswerFilePrompts([](const FilePromptRequest& request) { return request.proposed.chopped(4); });
    EXPECT_EQ(DoPromptScopeLoggerFileName(0, name, nullptr), 1);
    EXPECT_FALSE(user.FilePrompts()[1].load);
    EXPECT_EQ(name, QString::fromStdString((Scratch() / "SpeedTuning.osc").string()))
        << "a name saved gets the extension";
}

} // namespace
