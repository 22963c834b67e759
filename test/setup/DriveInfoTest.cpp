#include "SetupDialogTest.h"

#include "DriveInfo.h"

#include <QEvent>

namespace {

const Qt::KeyboardModifiers kChord = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;

class DriveInfoTest : public SetupDialogTest {
protected:
    void TearDown() override
    {
        EXPECT_TRUE(errors.empty()) << errors.front();
        SetupDialogTest::TearDown();
    }

    int Run(const DialogScript& script)
    {
        user.OnDialog(CDriveInfo::kTemplateId, script);
        CDriveInfo dialog(setup.get(), nullptr);
        return dialog.DoModal();
    }

    double Value(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
};

// Drive ratings and identity: editable in the service mode only.
const int kServiceEdits[] = {3087, 3089, 3092, 3094, 1159, 1161, 3097, 1179, 1163, 3103, 3105, 3107,
                             3276, 3275, 3277, 3278, 1165, 1167, 3325, 1169, 1171, 1173, 1175, 1177};

TEST_F(DriveInfoTest, ServiceChordTogglesTheDriveDataAndIdentityEdits)
{
    Run([](DialogDriver& d) {
        for (int id : kServiceEdits)
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        EXPECT_TRUE(d.IsEnabled(3114));
        // Units and the labels of active protections stay readable.
        for (int id : {3088, 1166, 3098, 1170, 3104, 1174, 3109, 1178, 3326})
            EXPECT_TRUE(d.IsEnabled(id)) << id;

        d.PressKey(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_FALSE(d.IsEnabled(3087));

        d.PressKey(Qt::Key_S, kChord);
        for (int id : kServiceEdits)
            EXPECT_TRUE(d.IsEnabled(id)) << id;

        d.Dialog()->GetDlgItem(3278)->setFocus();
        d.PressKey(Qt::Key_S, kChord);
        for (int id : kServiceEdits)
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        EXPECT_TRUE(d.IsEnabled(3114));
        d.Ok();
    });
}

// Counts the key presses that reach the object it watches.
class KeyPressCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        count += event->type() == QEvent::KeyPress;
        return false;
    }
};

TEST_F(DriveInfoTest, ServiceChordGoesOnToNormalHandlingAndTogglesOnce)
{
    Run([](DialogDriver& d) {
        // An edit leaves the chord unhandled, so it travels on to the dialog.
        d.Dialog()->GetDlgItem(3114)->setFocus();
        KeyPressCounter reachedDialog;
        d.Dialog()->installEventFilter(&reachedDialog);
        d.PressKey(Qt::Key_S, kChord);
        d.Dialog()->removeEventFilter(&reachedDialog);
        EXPECT_EQ(reachedDialog.count, 1);
        EXPECT_TRUE(d.IsEnabled(3087));
        d.Ok();
    });
}

TEST_F(DriveInfoTest, ProtectionEditsFollowTheirChecks)
{
    Run([&](DialogDriver& d) {
        d.PressKey(Qt::Key_S, kChord);
        d.Click(3103);
        EXPECT_EQ(Value("isOverVoltage"), 0.0);
        for (int id : {1169, 1170, 3104})
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        d.Click(3107);
        for (int id : {1173, 1174, 3108, 1175, 1176, 3109})
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        // Other protections are untouched.
        EXPECT_TRUE(d.IsEnabled(1171));
        d.Click(3107);
        EXPECT_TRUE(d.IsEnabled(1175));
        d.Ok();
    });
}

TEST_F(DriveInfoTest, ClearingTheTemperatureSensorSwitchesOverTemperatureProtectionOff)
{
    ASSERT_EQ(Value("isDriveTemperatureSensor"), 1.0);
    ASSERT_EQ(Value("isDriveOverTemp"), 1.0);
    Run([&](DialogDriver& d) {
        d.PressKey(Qt::Key_S, kChord);
        EXPECT_TRUE(d.IsChecked(3325));
        d.Click(3097);
        EXPECT_EQ(Value("isDriveTemperatureSensor"), 0.0);
        EXPECT_EQ(Value("isDriveOverTemp"), 0.0);
        EXPECT_FALSE(d.IsChecked(3325));
        for (int id : {3325, 1165, 1166, 3098, 1167, 1168, 3101, 1177, 1178, 3326})
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        // The sensor back on does not bring the protection back by itself.
        d.Click(3097);
        EXPECT_TRUE(d.IsEnabled(3325));
        EXPECT_FALSE(d.IsChecked(3325));
        d.Cancel();
    });
}

TEST_F(DriveInfoTest, MemorySizeIsShownAndStoredInKwords)
{
    ASSERT_EQ(setup->GetE2ROMSize(), 0x8000u);
    Run([](DialogDriver& d) {
        EXPECT_EQ(d.Text(3276), "32");
        d.PressKey(Qt::Key_S, kChord);
        d.SetEditText(3276, "16");
        d.Ok();
    });
    EXPECT_EQ(setup->GetE2ROMSize(), 16384u);

    Run([](DialogDriver& d) {
        d.PressKey(Qt::Key_S, kChord);
        d.SetEditText(3276, "8 Kwords");
        d.Ok();
    });
    EXPECT_EQ(setup->GetE2ROMSize(), 8192u);

    Run([](DialogDriver& d) {
        d.PressKey(Qt::Key_S, kChord);
        d.SetEditText(3276, "lots");
        d.Ok();
    });
    EXPECT_EQ(setup->GetE2ROMSize(), 0u);
}

TEST_F(DriveInfoTest, OkStoresTheIdentityAndReportsARefusedFirmwareId)
{
    const std::string firmware = setup->GetFirmwareID();
    const int result = Run([](DialogDriver& d) {
        EXPECT_EQ(d.Text(3278), "F514A");
        EXPECT_EQ(d.Text(3275), "Velmaro VD-48/10 drive");
        d.SetEditText(3114, QString(50, 'a'));
        d.PressKey(Qt::Key_S, kChord);
        d.SetEditText(3277, "VD-48-12");
        d.SetEditText(3275, "Axis 2");
        d.SetEditText(3278, "F5 14");
        d.Ok();
    });
    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(user.Messages().size(), 1u);
    EXPECT_EQ(user.Messages()[0].text, "Error setting the firmware ID!");
    EXPECT_EQ(setup->GetFirmwareID(), firmware);
    EXPECT_EQ(setup->GetProductID(), "VD-48-12");
    EXPECT_EQ(setup->GetDescription(), "Axis 2");
    EXPECT_EQ(setup->GetUserAppID(), std::string(40, 'a'));
}

TEST_F(DriveInfoTest, OkComputesTheRegistersAndCancelLeavesTheIdentity)
{
    Run([](DialogDriver& d) {
        d.PressKey(Qt::Key_S, kChord);
        d.SetEditText(3278, "F600B");
        d.SetEditText(1169, "45");
        d.Cancel();
    });
    EXPECT_EQ(setup->GetFirmwareID(), "F514A");

    const double before = setup->GetParameterValueInInternalUnit("UMAXPROT");
    Run([](DialogDriver& d) {
        d.PressKey(Qt::Key_S, kChord);
        d.SetEditText(1169, "40");
        d.Ok();
    });
    EXPECT_EQ(Value("UMAX_PROT"), 40.0);
    EXPECT_NE(setup->GetParameterValueInInternalUnit("UMAXPROT"), before);
    EXPECT_TRUE(user.Messages().empty());
}

} // namespace
