#include "DriveSetupDlg.h"

#include "Automation.h"
#include "CanSettings.h"
#include "CanSettingsDlg.h"
#include "EngineCore.h"
#include "ParametersToRegisters.h"
#include "SetupDialogTest.h"
#include "SetupFile.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QShowEvent>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kDriveSetup = 106;
constexpr int kMotorSetup = 108;

const QString kAxisIdMessage = QStringLiteral("If your drive is set in CANopen mode");
const QString kStartCurrentMessage =
    QStringLiteral("You have set a start current bigger than the nominal current!");

class DriveSetupDialog : public SetupDialogTest {
protected:
    void SetUp() override
    {
        SetupDialogTest::SetUp();
        user.OnDialog(kMotorSetup, [this](DialogDriver& d) {
            ++motorSetups;
            if (motorScript)
                motorScript(d);
            else
                d.Cancel();
        });
    }

    // Opens the Drive Setup over the setup and runs the script once the motor
    // setup that comes up on its own has closed.
    int Run(const DialogScript& script)
    {
        const int before = motorSetups;
        user.OnDialog(kDriveSetup, [this, before, script](DialogDriver& d) {
            ASSERT_TRUE(d.WaitUntil([&] { return motorSetups > before; }));
            script(d);
        });
        CDriveSetupDlg dialog(setup.get(), nullptr);
        return dialog.DoModal();
    }

    // Sets parameters (base units) and runs the register pass, as an earlier
    // editing session would have left the setup: the dialog derives its
    // parameters from the registers when it opens.
    void Prepare(std::initializer_list<std::pair<const char*, double>> values)
    {
        for (const auto& [name, value] : values)
            ASSERT_TRUE(setup->SetParameterValueInBaseUnit(name, value)) << name;
        ComputeRegistersFromParameters(setup.get());
    }

    // The reference setup without the named parameters.
    void Remove(std::initializer_list<const char*> names)
    {
        auto json = nlohmann::ordered_json::parse(SerializeSetup(*setup));
        for (const char* name : names)
            ASSERT_EQ(json["parameters"].erase(name), 1u) << name;
        SetupLoadResult loaded = ParseSetup(json.dump(), "reference", SetupDescription::Default());
        ASSERT_TRUE(loaded.setup) << loaded.error;
        setup = std::move(loaded.setup);
    }

    double Base(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
    double Internal(const char* name) const { return setup->GetParameterValueInInternalUnit(name); }

    std::vector<QString> Messages() const
    {
        std::vector<QString> texts;
        for (const auto& m : user.Messages())
            texts.push_back(m.text);
        return texts;
    }
    int MessagesStartingWith(const QString& start) const
    {
        const auto texts = Messages();
        return static_cast<int>(
            std::count_if(texts.begin(), texts.end(), [&](const QString& t) { return t.startsWith(start); }));
    }

    std::map<std::string, double> Registers() const
    {
        std::map<std::string, double> registers;
        for (const auto& p : setup->GetParameters())
            if (p->GetType() == PT_REGISTER)
                registers[p->Name()] = p->GetValueInInternalUnit();
        return registers;
    }

    int motorSetups = 0;
    DialogScript motorScript;
};

// ---- opening ----------------------------------------------------------------

TEST_F(DriveSetupDialog, OpensTheMotorSetupFirstEachTimeItIsShownAndRecomputesAfterIt)
{
    motorScript = [this](DialogDriver& d) {
        // An edit the motor setup stored before it was cancelled.
        setup->SetParameterValueInBaseUnit("Kp_C_scl", 5.0);
        d.Cancel();
    };
    const double kpiBefore = Internal("KPI");
    Run([this, kpiBefore](DialogDriver& d) {
        EXPECT_EQ(user.OpenedDialogs(), (std::vector<int>{kDriveSetup, kMotorSetup}));
        // The gain the registers hold: 5 x 32767 / 8 rounds to 20479.
        EXPECT_EQ(Base("Kp_C_scl"), 20479.0 * 8 / 32767);
        EXPECT_EQ(d.Text(3173), "4.99991");
        EXPECT_NE(Internal("KPI"), kpiBefore);

        // Shown again: the motor setup comes up again.
        QShowEvent shown;
        QCoreApplication::sendEvent(d.Dialog(), &shown);
        EXPECT_TRUE(d.WaitUntil([this] { return motorSetups == 2; }));
        d.Ok();
    });
    Run([](DialogDriver& d) { d.Cancel(); });
    EXPECT_EQ(motorSetups, 3);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(DriveSetupDialog, FitsTheScreenAndShowsItsSteps)
{
    Run([](DialogDriver& d) {
        const QSize size = d.Dialog()->sizeHint();
        EXPECT_LE(size.width(), 1280);
        EXPECT_LE(size.height(), 860);
        EXPECT_EQ(d.Dialog()->windowTitle(), "Drive Setup");
        EXPECT_TRUE(d.Text(10007).startsWith("Step 1.\tIn the <<Control mode>> group box"));
        for (int i = 0; i < 10; ++i)
            d.Click(10006);
        EXPECT_TRUE(d.Text(10007).startsWith("Step 11.  Select the start method"));
        EXPECT_FALSE(d.IsEnabled(10006));
        d.Click(10024);
        d.Cancel();
    });
    EXPECT_EQ(user.HelpTopics(), (std::vector<unsigned>{262406}));
}

// ---- enable and show rules by control mode ------------------------------------

struct ModeCase {
    const char* name;
    int mode;
    int positionType;
    bool speedGroup;
    bool positionGroup;
    bool loadSpeedLimit;
};

const ModeCase kModes[] = {
    {"position over a speed loop", 0, 1, true, true, true},
    {"position alone", 0, 0, false, true, false},
    {"speed", 1, 1, true, false, false},
    {"torque", 2, 1, false, false, false},
};

TEST_F(DriveSetupDialog, EnablesTheControllersAndErrorChecksOfTheControlMode)
{
    for (const ModeCase& c : kModes) {
        SCOPED_TRACE(c.name);
        Prepare({{"ControlMode", c.mode},
                 {"PositionControlType", c.positionType},
                 {"isSpeedControlError", 1},
                 {"isPositionControlError", 1}});
        Run([&c](DialogDriver& d) {
            EXPECT_TRUE(d.IsEnabled(3173));
            EXPECT_TRUE(d.IsEnabled(3137));
            EXPECT_EQ(d.IsEnabled(3179), c.speedGroup);
            EXPECT_EQ(d.IsEnabled(3178), c.speedGroup);
            EXPECT_EQ(d.IsEnabled(3190), c.positionGroup);
            EXPECT_EQ(d.IsEnabled(3198), c.positionGroup);
            EXPECT_EQ(d.IsVisible(1043), c.loadSpeedLimit);
            EXPECT_EQ(d.IsVisible(1101), c.loadSpeedLimit);
            // Position error check only in position control, speed error only in speed control.
            EXPECT_EQ(d.IsEnabled(3230), c.mode == 0);
            EXPECT_EQ(d.IsEnabled(3218), c.mode == 0);
            EXPECT_EQ(d.IsEnabled(3231), c.mode == 1);
            EXPECT_EQ(d.IsEnabled(3222), c.mode == 1);
            // The drive has speed feed-forward: one list of feedforwards at most.
            EXPECT_EQ(d.IsVisible(3183), c.mode == 1);
            EXPECT_EQ(d.IsVisible(3394), c.mode == 1);
            EXPECT_EQ(d.IsVisible(3197), c.mode == 0);
            EXPECT_EQ(d.IsVisible(3196), c.mode == 0);
            EXPECT_EQ(d.IsEnabled(3196), c.mode == 0);
            d.Ok();
        });
    }
}

TEST_F(DriveSetupDialog, WithoutSpeedFeedForwardTheSpeedLoopShowsOnlyItsAccelerationFeedforward)
{
    Remove({"SpeedForward"});
    for (const ModeCase& c : kModes) {
        SCOPED_TRACE(c.name);
        Prepare({{"ControlMode", c.mode}, {"PositionControlType", c.positionType}});
        Run([&c](DialogDriver& d) {
            EXPECT_FALSE(d.IsVisible(3394));
            EXPECT_FALSE(d.IsVisible(3395));
            EXPECT_EQ(d.IsVisible(3183), c.mode == 1);
            EXPECT_EQ(d.IsVisible(3197), c.mode == 0);
            // The position loop's speed feedforward only over a speed loop.
            EXPECT_EQ(d.IsEnabled(3196), c.loadSpeedLimit);
            d.Ok();
        });
    }
}

TEST_F(DriveSetupDialog, AControlModeClickAppliesItsRulesAtOnceAndTakesTheReferenceFromTheAnalogueInput)
{
    Prepare({{"GEARSLAVE", 3}, {"GEARMASTER", 2}, {"isAnalogueReference", 0}});
    Run([this](DialogDriver& d) {
        d.Click(1060);
        EXPECT_FALSE(d.IsEnabled(3190));
        EXPECT_TRUE(d.IsEnabled(3231));
        EXPECT_TRUE(d.IsVisible(3183));
        EXPECT_EQ(Base("GEARSLAVE"), 1.0);
        EXPECT_EQ(Base("GEARMASTER"), 1.0);
        EXPECT_EQ(Base("isAnalogueReference"), 1.0);
        EXPECT_TRUE(d.IsChecked(3291));

        d.Click(1061);
        EXPECT_FALSE(d.IsEnabled(3179));
        EXPECT_FALSE(d.IsVisible(3183));
        EXPECT_FALSE(d.IsVisible(3197));

        // Back to position: the gear stays as it is now.
        setup->SetParameterValueInBaseUnit("GEARSLAVE", 4);
        d.Click(1059);
        EXPECT_EQ(Base("GEARSLAVE"), 4.0);
        EXPECT_TRUE(d.IsEnabled(3190));
        d.Ok();
    });
}

TEST_F(DriveSetupDialog, CheckBoxesAndSwitchesEnableTheirValuesAtOnce)
{
    Prepare({{"isOverCurrent", 0}, {"isMotori2t", 0}, {"isBrakeResistor", 0}, {"StartMode", 1}});
    Run([this](DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(3214));
        EXPECT_FALSE(d.IsEnabled(3226));
        EXPECT_FALSE(d.IsEnabled(3244));
        EXPECT_FALSE(d.IsEnabled(3257));
        EXPECT_FALSE(d.IsEnabled(3208));
        EXPECT_FALSE(d.IsEnabled(3116));
        d.Click(3213);
        d.Click(3233);
        d.Click(3243);
        d.Click(1096);
        EXPECT_TRUE(d.IsEnabled(3214));
        EXPECT_TRUE(d.IsEnabled(3226));
        EXPECT_TRUE(d.IsEnabled(3244));
        EXPECT_TRUE(d.IsEnabled(3257));

        // External reference "Yes", auto activation on; "No" clears it again.
        d.Click(1064);
        EXPECT_TRUE(d.IsEnabled(3208));
        d.Click(3116);
        EXPECT_EQ(Base("isAutoActivatedAfterPowerOn"), 1.0);
        d.Click(1063);
        EXPECT_EQ(Base("isAutoActivatedAfterPowerOn"), 0.0);
        EXPECT_FALSE(d.IsChecked(3116));
        EXPECT_FALSE(d.IsEnabled(3116));
        d.Ok();
    });
}

// ---- options of the drive ----------------------------------------------------

TEST_F(DriveSetupDialog, HidesTheEnablePolarityWhenTheDriveHasNoEnableInput)
{
    setup->SetOption("hideEnablePolarity", "1");
    Run([](DialogDriver& d) {
        for (int id : {3248, 1047, 1046})
            EXPECT_FALSE(d.IsVisible(id)) << id;
        EXPECT_TRUE(d.IsVisible(3249));
        d.Ok();
    });
    setup->SetOption("hideEnablePolarity", "0");
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(1047));
        EXPECT_TRUE(d.IsChecked(1047)); // "EnablePolarity" 1: upper row
        d.Ok();
    });
}

TEST_F(DriveSetupDialog, InputsTypeFollowsTheParameterTheDescriptionOrTheStatusRegister)
{
    // Programmable type: both radios live, captions for sink inputs.
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsEnabled(3406));
        EXPECT_TRUE(d.IsChecked(3407));
        EXPECT_EQ(d.Text(3404), "Active high (Connected to +Vlog)");
        EXPECT_EQ(d.Text(3405), "Active low (Open/No connection)");
        d.Ok();
    });

    Remove({"InputsPolarityType"});
    // No type parameter: the status register says source (NPN) inputs.
    Prepare({});
    setup->FindParameter("ASR")->SetValueInInternalUnit(4);
    Run([](DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(3406));
        EXPECT_FALSE(d.IsEnabled(3407));
        EXPECT_TRUE(d.IsChecked(3406));
        EXPECT_EQ(d.Text(3404), "Active high (Open/No connection)");
        EXPECT_EQ(d.Text(3405), "Active low (Connected to GND)");
        d.Ok();
    });

    // Type not programmable on this drive family: the drive's name decides.
    setup->ClearOption("IsInputsTypeProgrammable");
    setup->SetDescription("Velmaro QZ-48/10 drive");
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsChecked(3407));
        EXPECT_FALSE(d.IsChecked(3406));
        EXPECT_EQ(d.Text(3405), "Active low (Open/No connection)");
        d.Ok();
    });
    setup->SetDescription("Velmaro VD-48/10 drive");
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsChecked(3406));
        EXPECT_EQ(d.Text(3405), "Active low (Connected to GND)");
        d.Ok();
    });
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(DriveSetupDialog, SwitchingTheInputsTypeInvertsEveryPolarityOnce)
{
    Prepare({{"EnablePolarity", 1}, {"LSPPolarity", 0}, {"LSNPolarity", 1}});
    Run([this](DialogDriver& d) {
        d.Click(3406);
        EXPECT_EQ(Base("InputsPolarityType"), 0.0);
        EXPECT_EQ(Base("EnablePolarity"), 0.0);
        EXPECT_EQ(Base("LSPPolarity"), 1.0);
        EXPECT_EQ(Base("LSNPolarity"), 0.0);
        EXPECT_TRUE(d.IsChecked(1046));
        EXPECT_TRUE(d.IsChecked(3252));
        EXPECT_TRUE(d.IsChecked(3253));
        EXPECT_EQ(d.Text(3404), "Active high (Open/No connection)");

        // A click on the type already chosen changes nothing.
        d.Click(3406);
        EXPECT_EQ(Base("EnablePolarity"), 0.0);

        d.Click(3407);
        EXPECT_EQ(Base("EnablePolarity"), 1.0);
        EXPECT_EQ(Base("LSPPolarity"), 0.0);
        EXPECT_EQ(Base("LSNPolarity"), 1.0);
        EXPECT_EQ(d.Text(3404), "Active high (Connected to +Vlog)");
        d.Ok();
    });
}

TEST_F(DriveSetupDialog, SoftwareLimitSwitchesAreLiveOnlyWhenTheDriveHasThemAndNeverCross)
{
    Run([this](DialogDriver& d) {
        EXPECT_TRUE(d.IsEnabled(3354));
        EXPECT_FALSE(d.IsEnabled(3274));
        d.Click(3354);
        EXPECT_TRUE(d.IsEnabled(3274));
        EXPECT_TRUE(d.IsEnabled(3271));

        const double positive = setup->FindParameter("Positive_SWLS")->GetValue();
        d.SetEditText(3274, QString::number(positive + 1));
        EXPECT_EQ(Internal("Negative_SWLS"), Internal("Positive_SWLS"));
        EXPECT_EQ(d.Text(3274), d.Text(3271));

        d.SetEditText(3274, QString::number(positive - 10));
        const double negative = Internal("Negative_SWLS");
        d.SetEditText(3271, QString::number(positive - 20));
        EXPECT_EQ(Internal("Positive_SWLS"), negative);
        EXPECT_EQ(Internal("Negative_SWLS"), negative);
        d.Ok();
    });

    Remove({"isSWLS"});
    Run([](DialogDriver& d) {
        for (int id : {3276, 3354, 3274, 3271})
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        d.Ok();
    });
}

TEST_F(DriveSetupDialog, SaveChecksGateTheBaudRateAndAxisIdOnlyWhenTheDriveHasBoth)
{
    Prepare({{"save_CAN_baudrate", 0}, {"save_axis_id", 1}});
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(3377));
        EXPECT_FALSE(d.IsEnabled(10021));
        EXPECT_FALSE(d.IsEnabled(10023));
        EXPECT_TRUE(d.IsEnabled(3136));
        d.Click(3377);
        EXPECT_TRUE(d.IsEnabled(10021));
        d.Click(3378);
        EXPECT_FALSE(d.IsEnabled(3136));
        EXPECT_FALSE(d.IsEnabled(3379));
        d.Ok();
    });
    EXPECT_EQ(Base("save_CAN_baudrate"), 1.0);
    EXPECT_EQ(Base("save_axis_id"), 0.0);

    Remove({"save_axis_id"});
    Run([](DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(3377));
        EXPECT_FALSE(d.IsVisible(3378));
        EXPECT_TRUE(d.IsEnabled(10021));
        EXPECT_TRUE(d.IsEnabled(3136));
        d.Ok();
    });
    EXPECT_TRUE(errors.empty()) << errors.front();
}

// ---- CANopen settings -------------------------------------------------------------

using CanDlg = CMC_CanSettingsDlg;

// Opens the CANopen settings from the Drive Setup's button; `script` works them.
void OpenCanSettings(ScriptedUser& user, DialogDriver& driveSetup, DialogScript script)
{
    user.OnDialog(CanDlg::kTemplate, std::move(script));
    driveSetup.Click(10022);
}

TEST_F(DriveSetupDialog, CanopenSettingsOkStoresEachValueInStepWithTheBaudRateListAndASavedSetupKeepsThem)
{
    Run([this](DialogDriver& d) {
        d.SelectComboText(10021, "1 Mbps");
        OpenCanSettings(user, d, [](DialogDriver& can) {
            EXPECT_EQ(can.Text(CanDlg::kNodeId), "1");
            EXPECT_EQ(can.Text(CanDlg::kBaudRate), "1 Mbps");
            EXPECT_EQ(can.Text(CanDlg::kHeartbeatTime), "0");
            EXPECT_EQ(can.Text(CanDlg::kSdoTimeout), "1000");
            can.SetEditText(CanDlg::kNodeId, "42");
            can.SelectComboText(CanDlg::kBaudRate, "250 kbps");
            can.SetEditText(CanDlg::kHeartbeatTime, "100");
            can.SetEditText(CanDlg::kSdoTimeout, " 2500 ");
            can.Ok();
        });
        EXPECT_EQ(d.Text(10021), "250 kbps");
        d.Ok();
    });
    SetupLoadResult saved = ParseSetup(SerializeSetup(*setup), "saved", SetupDescription::Default());
    ASSERT_TRUE(saved.setup) << saved.error;
    EXPECT_EQ(ReadCanSettings(*saved.setup), (CanSettings{250000, 42, 100, 2500}));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(DriveSetupDialog, CanopenSettingsCancelKeepsEverything)
{
    setup->SetOption("CANNodeId", "7");
    const auto options = setup->GetOptions();
    Run([this](DialogDriver& d) {
        OpenCanSettings(user, d, [](DialogDriver& can) {
            EXPECT_EQ(can.Text(CanDlg::kNodeId), "7");
            can.SetEditText(CanDlg::kNodeId, "8");
            can.SelectComboText(CanDlg::kBaudRate, "125 kbps");
            can.Cancel();
        });
        EXPECT_EQ(d.Text(10021), "500 kbps");
        d.Ok();
    });
    EXPECT_EQ(setup->GetOptions(), options);
}

TEST_F(DriveSetupDialog, CanopenSettingsRefuseAnUnusableEntryWithAMessageAndStoreNothing)
{
    struct Case {
        int id;
        const char* text;
        const char* rule;
    };
    const Case cases[] = {
        {CanDlg::kNodeId, "128", "the node id is a whole number from 1 to 127"},
        {CanDlg::kHeartbeatTime, "-5", "the producer heartbeat time is a whole number of ms from 0 to 65535"},
        {CanDlg::kHeartbeatTime, "1.5", "the producer heartbeat time is a whole number of ms"},
        {CanDlg::kSdoTimeout, "5", "the SDO timeout is a whole number of ms from 10 to 65535"},
    };
    const auto options = setup->GetOptions();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::size_t before = user.Messages().size();
        Run([&](DialogDriver& d) {
            OpenCanSettings(user, d, [&](DialogDriver& can) {
                can.SetEditText(CanDlg::kNodeId, "5"); // usable, but refused with the rest
                can.SetEditText(c.id, QString::fromUtf8(c.text));
                can.Ok();
                EXPECT_TRUE(can.Dialog()->isVisible());
                can.Cancel();
            });
            d.Ok();
        });
        ASSERT_EQ(user.Messages().size(), before + 1);
        EXPECT_TRUE(user.Messages().back().text.contains(QString::fromUtf8(c.rule)))
            << user.Messages().back().text.toStdString();
        EXPECT_EQ(setup->GetOptions(), options);
    }
}

TEST_F(DriveSetupDialog, TheDriveHasNoBaudRateRegisterSoAChosenRateChangesNoParameter)
{
    std::unique_ptr<CMC_Setup> unchosen;
    Run([&](DialogDriver& d) {
        unchosen = setup->Clone();
        OpenCanSettings(user, d, [](DialogDriver& can) {
            can.SelectComboText(CanDlg::kBaudRate, "125 kbps");
            can.Ok();
        });
        d.Ok();
    });
    ASSERT_TRUE(unchosen);
    ComputeRegistersFromParameters(unchosen.get());
    EXPECT_EQ(ReadCanSettings(*setup).baudRate, 125000);
    for (const auto& p : setup->GetParameters())
        EXPECT_EQ(p->GetValueInInternalUnit(), unchosen->GetParameterValueInInternalUnit(p->Name()))
            << p->Name();
}

TEST_F(DriveSetupDialog, CanopenSettingsOfferTheBaudRateOnlyWhenTheDriveSavesIt)
{
    Prepare({{"save_CAN_baudrate", 0}});
    Run([this](DialogDriver& d) {
        ASSERT_FALSE(d.IsEnabled(10021));
        OpenCanSettings(user, d, [](DialogDriver& can) {
            EXPECT_FALSE(can.IsEnabled(CanDlg::kBaudRate));
            can.SelectComboText(CanDlg::kBaudRate, "125 kbps");
            can.SetEditText(CanDlg::kNodeId, "9");
            can.Ok();
        });
        d.Click(3377);
        OpenCanSettings(user, d, [](DialogDriver& can) {
            EXPECT_TRUE(can.IsEnabled(CanDlg::kBaudRate));
            can.Cancel();
        });
        d.Ok();
    });
    EXPECT_EQ(ReadCanSettings(*setup), (CanSettings{500000, 9, 0, 1000}));
}

// ---- change and refresh handlers ------------------------------------------------

TEST_F(DriveSetupDialog, AStartCurrentAboveTheNominalCurrentWarnsWithTheTimeItLasts)
{
    Prepare({{"time_AB", 0.75}});
    Run([this](DialogDriver& d) {
        d.SetEditText(3257, "80");
        EXPECT_TRUE(user.Messages().empty());
        // The current the whole start voltage register drives.
        EXPECT_NEAR(Base("StartCurrent"), 80.0, 0.05);
        EXPECT_EQ(Internal("REFTST"), std::round(Internal("REFTST")));

        d.SetEditText(3257, "100");
        EXPECT_TRUE(user.Messages().empty()) << Base("StartCurrent");

        d.SetEditText(3257, "150");
        ASSERT_EQ(user.Messages().size(), 1u);
        EXPECT_EQ(
            user.Messages()[0].text,
            "You have set a start current bigger than the nominal current! The start current will be applied "
            "for 1.50 s.\n\nThe motor must withstand this over current condition or it may be damaged.");
        // The registers of the start follow the current at once.
        EXPECT_EQ(Internal("REFTST"), Internal("RINCTST"));
        d.Ok();
    });
    EXPECT_NEAR(Base("StartCurrent"), 150.0, 0.05);
}

TEST_F(DriveSetupDialog, AxisIdsAboveTheCANopenRangeWarnAndOkStoresTheChoice)
{
    Prepare({{"Axis_ID_list", 12}});
    Run([this](DialogDriver& d) {
        ASSERT_EQ(d.ComboCount(3136), 256);
        EXPECT_EQ(d.ComboItemText(3136, 0), "1");
        EXPECT_EQ(d.ComboItemText(3136, 254), "255");
        EXPECT_EQ(d.ComboItemText(3136, 255), "H/W");
        EXPECT_EQ(d.Text(3136), "12");

        d.SelectComboText(3136, "127");
        EXPECT_EQ(MessagesStartingWith(kAxisIdMessage), 0);
        d.SelectComboText(3136, "128");
        EXPECT_EQ(MessagesStartingWith(kAxisIdMessage), 1);
        d.SelectComboText(3136, "255");
        EXPECT_EQ(MessagesStartingWith(kAxisIdMessage), 2);
        d.SelectComboText(3136, "H/W");
        EXPECT_EQ(MessagesStartingWith(kAxisIdMessage), 2);
        // A warning never undoes the choice.
        EXPECT_EQ(Base("Axis_ID_list"), 12.0);
        d.Ok();
    });
    EXPECT_EQ(Base("Axis_ID_list"), 0.0);

    Run([](DialogDriver& d) {
        EXPECT_EQ(d.Text(3136), "H/W");
        d.SelectComboText(3136, "200");
        d.Cancel();
    });
    EXPECT_EQ(Base("Axis_ID_list"), 0.0);

    Run([](DialogDriver& d) {
        d.SelectComboText(3136, "200");
        d.Ok();
    });
    EXPECT_EQ(Base("Axis_ID_list"), 200.0);
}

TEST_F(DriveSetupDialog, ANewSupplyVoltageBoundsTheLoadSpeedLimit)
{
    Run([this](DialogDriver& d) {
        d.SetEditText(3163, "24");
        EXPECT_EQ(Base("Vdc"), 24.0);
        const CMC_Parameter* limit = setup->FindParameter("Limit_Speed");
        EXPECT_NEAR(limit->GetMaxInBaseUnit(), 24.0 / Base("K"), 1e-9);
        d.SetEditText(1043, QString::number(limit->BaseToDisplay(limit->GetMaxInBaseUnit() * 2)));
        EXPECT_FALSE(d.Hint(1043).isEmpty());
        d.Ok();
    });
}

// ---- OK, Cancel and the buttons -------------------------------------------------

TEST_F(DriveSetupDialog, OkRunsTheRegisterPassAndTheClosedLoopOptionsCancelDoesNot)
{
    const auto script = [](DialogDriver& d) {
        d.Click(1061);
        d.SetEditText(3169, "3");
    };
    const auto reference = Registers();
    EXPECT_EQ(Run([&](DialogDriver& d) {
                  script(d);
                  d.Cancel();
              }),
              IDCANCEL);
    EXPECT_EQ(setup->GetOptionNoError("IsClosedPosition"), "1");
    EXPECT_EQ(Base("ControlMode"), 2.0); // edits stay in the setup
    auto afterCancel = Registers();
    ComputeRegistersFromParameters(setup.get());
    EXPECT_NE(Registers(), afterCancel); // the register pass had not run

    setup = Reference();
    EXPECT_EQ(Run([&](DialogDriver& d) {
                  script(d);
                  d.Ok();
              }),
              IDOK);
    EXPECT_EQ(setup->GetOptionNoError("IsClosedPosition"), "0");
    EXPECT_EQ(setup->GetOptionNoError("IsClosedSpeed"), "0");
    EXPECT_EQ(setup->GetOptionNoError("IsClosedCurrent"), "1");
    const auto afterOk = Registers();
    EXPECT_NE(afterOk, reference);
    ComputeRegistersFromParameters(setup.get());
    EXPECT_EQ(Registers(), afterOk);
}

TEST_F(DriveSetupDialog, TestButtonsRecomputeFirstAndCopeWithATestThatIsNotThere)
{
    Run([this](DialogDriver& d) {
        const QString shown = d.Text(3173);
        double kp = 2.0;
        for (int button : {3171, 3137, 3178, 3198}) {
            SCOPED_TRACE(button);
            // A value stored behind the dialog's back reaches the registers first.
            kp += 1.0;
            setup->SetParameterValueInBaseUnit("Kp_C_scl", kp);
            const std::size_t messages = user.Messages().size();
            const std::size_t opened = user.OpenedDialogs().size();
            d.Click(button);
            EXPECT_NEAR(Internal("KPI") * std::pow(2.0, Internal("SFTKPI")) / 32767.0, kp,
                        0.5 * std::pow(2.0, Internal("SFTKPI")) / 32767.0);
            // Either the test said it is missing or its dialog opened and was cancelled.
            EXPECT_TRUE(user.Messages().size() == messages + 1 || user.OpenedDialogs().size() == opened + 1);
            // Nothing came back with OK: the controls were not refreshed.
            EXPECT_EQ(d.Text(3173), shown);
        }
        EXPECT_TRUE(d.Dialog()->isVisible());
        d.Ok();
    });
}

// A typed gain becomes the whole register the drive holds, and the editor
// shows the gain of that register.
TEST_F(DriveSetupDialog, TypedGainShowsWhatItsWholeRegisterHolds)
{
    Run([this](DialogDriver& d) {
        d.SetEditText(3173, "1.50001");
        EXPECT_EQ(Internal("KPI"), 24575.0);
        EXPECT_EQ(Internal("SFTKPI"), 1.0);
        EXPECT_EQ(Base("Kp_C_scl"), 24575.0 * 2.0 / 32767.0);
        EXPECT_EQ(d.Text(3173), "1.49998");
        d.Ok();
    });
    EXPECT_EQ(Internal("KPI"), 24575.0);
}

// The setup dialogs the hub opens, and what it does around each: a recompute
// before, and after OK a recompute followed by a display exchange (the
// controls and their show and enable rules), or by nothing more.
struct ChildDialog {
    int command;
    int templateId;
    bool controlsFollow;
};

TEST_F(DriveSetupDialog, SetupDialogCommandsRecomputeAroundTheirDialogAndUpdateTheControls)
{
    const ChildDialog children[] = {
        {3208, 111, true},   {10019, kMotorSetup, true}, {3158, 110, true},
        {3159, 3018, false}, {1117, kMotorSetup, true},
    };
    auto gain = [this] { return Internal("KPI") * std::pow(2.0, Internal("SFTKPI")) / 32767.0; };
    Prepare({{"ExternalReference", 1.0}, {"Kp_C_scl", 2.0}, {"PositionControlType", 1.0}});
    for (const ChildDialog& child : children) {
        SCOPED_TRACE(child.command);
        bool opened = false;
        const DialogScript script = [&](DialogDriver& c) {
            opened = true;
            EXPECT_NEAR(gain(), 3.0, 1e-3) << "the gain stored before reached the registers";
            setup->SetParameterValueInBaseUnit("Kp_C_scl", 4.0);
            setup->SetParameterValueInBaseUnit("PositionControlType", 0.0);
            c.Ok();
        };
        if (child.templateId != kMotorSetup)
            user.OnDialog(child.templateId, script);
        Run([&](DialogDriver& d) {
            const QString shownGain = d.Text(3173);
            ASSERT_TRUE(d.IsVisible(1043));
            setup->SetParameterValueInBaseUnit("Kp_C_scl", 3.0);
            motorScript = script;
            if (child.command == 1117)
                EXPECT_TRUE(d.Dialog()->SendCommand(child.command));
            else
                d.Click(child.command);
            motorScript = nullptr;
            EXPECT_TRUE(opened);
            EXPECT_NEAR(gain(), 4.0, 1e-3) << "the gain stored in the dialog reached the registers";
            EXPECT_EQ(d.Text(3173) != shownGain, child.controlsFollow);
            EXPECT_EQ(!d.IsVisible(1043), child.controlsFollow);
            d.Cancel();
        });
        Prepare({{"Kp_C_scl", 2.0}, {"PositionControlType", 1.0}});
    }
}

// Each gain typed in the dialog reaches its registers at once, through the
// change dispatch, as the whole register pass would put it there, and the
// dialog shows the gain read back from them.
TEST_F(DriveSetupDialog, EveryGainTypedReachesItsRegistersAtOnce)
{
    struct GainEdit {
        int edit;
        const char* gain;
        std::vector<const char*> registers;
    };
    const GainEdit gains[] = {
        {3173, "Kp_C_scl", {"KPI", "SFTKPI"}},
        {3176, "Ki_C_scl", {"KII", "SFTKII"}},
        {3179, "Kp_S_scl", {"KPS", "SFTKPS"}},
        {3180, "Ki_S_scl", {"KIS", "SFTKIS"}},
        {3190, "Kp_P_scl", {"KPP", "SFTKPP"}},
        {3191, "Ki_P_scl", {"KIP", "SFTKIP"}},
        {3192, "Kd_P_scl", {"KDP", "SFTKDP"}},
        {3196, "KFFS_scl", {"KFFS", "SFTSFFW"}},
        {3197, "KFFA_scl", {"KFFA", "SFTKFF", "SFTAFFW"}},
    };
    Prepare({{"ControlMode", 0.0}, {"PositionControlType", 1.0}});
    Run([&](DialogDriver& d) {
        for (const GainEdit& g : gains) {
            SCOPED_TRACE(g.gain);
            ASSERT_TRUE(d.IsVisible(g.edit) && d.IsEnabled(g.edit));
            const double typed = Base(g.gain) > 0.0 ? 1.37 * Base(g.gain) : 0.5;
            d.SetEditText(g.edit, QString::number(typed, 'g', 12));
            // Within a step of the register (a small integral gain has few bits).
            EXPECT_NEAR(Base(g.gain), typed, 1e-2 * typed);
            EXPECT_EQ(d.Text(g.edit), QString::number(Base(g.gain), 'g', 6));
            auto passed = setup->Clone();
            ComputeRegistersFromParameters(passed.get());
            for (const char* name : g.registers)
                EXPECT_EQ(Internal(name), passed->GetParameterValueInInternalUnit(name)) << name;
        }
        d.Cancel();
    });
}

TEST_F(DriveSetupDialog, MotorSetupButtonAppliesTheRulesOnlyWhenItEndsWithOk)
{
    Run([this](DialogDriver& d) {
        motorScript = [this](DialogDriver& motor) {
            setup->SetParameterValueInBaseUnit("PositionControlType", 0);
            motor.Cancel();
        };
        d.Click(10019);
        EXPECT_EQ(motorSetups, 2);
        EXPECT_TRUE(d.IsVisible(1043));

        motorScript = [](DialogDriver& motor) { motor.Ok(); };
        d.Click(10019);
        EXPECT_EQ(motorSetups, 3);
        EXPECT_FALSE(d.IsVisible(1043));
        d.Ok();
    });
}

} // namespace
