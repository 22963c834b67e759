#include "MotorEditor.h"

#include "Automation.h"
#include "EditSetupDlg.h"
#include "Setup.h"

#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class MotorDialog : public CMC_EditSetupDlg {
public:
    explicit MotorDialog(CMC_Setup* setup) : CMC_EditSetupDlg(setup, 9001, 1, {}, nullptr)
    {
        AddParameterControls("R", 1159, 1160);
        InitializeMotorEditor();
    }
};

class MotorDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        config = fs::temp_directory_path() / ("velmaro-motors-" + std::to_string(::getpid()));
        fs::create_directories(config);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setup = std::make_unique<CMC_Setup>(SetupDescription::Default());
        setup->AddAllDescribed();
        setup->FindParameter("R")->SetValueInBaseUnit(1.25);
        setup->FindParameter("pp")->SetValueInBaseUnit(5);
    }
    void TearDown() override
    {
        fs::remove_all(config);
        ::unsetenv("XDG_CONFIG_HOME");
    }

    static void TypeMotorName(DialogDriver& d, const QString& name)
    {
        d.Dialog()->Item<QComboBox>(10011)->lineEdit()->setText(name);
    }

    fs::path config;
    std::unique_ptr<CMC_Setup> setup;
};

TEST_F(MotorDatabaseTest, SavedMotorsComeBackIntoTheSetup)
{
    ScriptedUser user;
    user.OnDialog(9001, [&](DialogDriver& d) {
        d.SelectComboText(10010, "User");
        TypeMotorName(d, "My servo 200W");
        d.Click(10012);
        EXPECT_EQ(d.ComboCount(10011), 1);
        d.SetEditText(1159, "3");
        d.SelectComboText(10011, "My servo 200W");
        EXPECT_EQ(d.Text(1159), "1.25");
        d.Ok();
    });
    MotorDialog dialog(setup.get());
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(setup->FindParameter("R")->GetValueInBaseUnit(), 1.25);
    EXPECT_TRUE(fs::exists(config / "velmaro" / "motors" / "My_servo_200W.json"));
}

TEST_F(MotorDatabaseTest, ReplacingAndDeletingAsk)
{
    ScriptedUser user;
    int questions = 0;
    user.AnswerMessages([&](const MessageBoxRequest&) {
        ++questions;
        return IDNO;
    });
    user.OnDialog(9001, [&](DialogDriver& d) {
        d.SelectComboText(10010, "User");
        TypeMotorName(d, "M1");
        d.Click(10012);
        d.SetEditText(1159, "2");
        TypeMotorName(d, "M1");
        d.Click(10012); // replace? no
        d.SelectComboText(10011, "M1");
        d.Click(10013); // delete? no
        EXPECT_EQ(d.ComboCount(10011), 1);
        d.Ok();
    });
    MotorDialog dialog(setup.get());
    dialog.DoModal();
    EXPECT_EQ(questions, 2);
    EXPECT_EQ(setup->FindParameter("R")->GetValueInBaseUnit(), 1.25); // the saved one came back
}

TEST_F(MotorDatabaseTest, DamagedMotorFilesAreSkipped)
{
    fs::create_directories(config / "velmaro" / "motors");
    std::ofstream(config / "velmaro" / "motors" / "broken.json") << "{\"format\": \"velmaro-motor\", ";
    std::ofstream(config / "velmaro" / "motors" / "good.json")
        << R"({"format": "velmaro-motor", "version": 1, "name": "Good", "parameters": {"R": 0.5}})";
    QStringList errors;
    const auto motors = MotorDatabase::Read(MotorDatabase::UserFolder(), errors);
    ASSERT_EQ(motors.size(), 1u);
    EXPECT_EQ(motors[0].name, "Good");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("broken.json")) << errors[0].toStdString();
}

} // namespace
