// The CAN bus settings kept as options of the setup: what each option takes,
// and that they survive a saved file while a damaged one is refused.
#include "TestSetup.h"

#include "CanSettings.h"
#include "SetupFile.h"

#include <optional>

namespace {

const CanOption& Option(const char* name)
{
    const CanOption* option = FindCanOption(name);
    EXPECT_NE(option, nullptr) << name;
    return *option;
}

TEST(CanSettings, OptionsTakeOnlyWholeNumbersWithinTheirRange)
{
    struct Case {
        const char* option;
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        {"CANNodeId", "1", 1},
        {"CANNodeId", " 127 ", 127},
        {"CANNodeId", "0", std::nullopt},
        {"CANNodeId", "128", std::nullopt},
        {"CANNodeId", "12.0", std::nullopt},
        {"canheartbeattime", "0", 0}, // off; letter case of the name ignored
        {"CANHeartbeatTime", "65535", 65535},
        {"CANHeartbeatTime", "65536", std::nullopt},
        {"CANSdoTimeout", "9", std::nullopt},
        {"CANSdoTimeout", "1e3", std::nullopt},
        {"CANSdoTimeout", "99999999999", std::nullopt},
        {"CANBaudRate", "250000", 250000},
        {"CANBaudRate", "300000", std::nullopt}, // within the span, not a rate of the drive
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseCanOption(Option(c.option), c.text), c.value) << c.option << " \"" << c.text << '"';
    EXPECT_EQ(FindCanOption("hasOscilloscope"), nullptr);
}

class CanSettingsFile : public ModelTest {
protected:
    SetupLoadResult Reload(const std::string& text)
    {
        return ParseSetup(text, "can.json", setup->DescriptionPtr());
    }
};

TEST_F(CanSettingsFile, StoredSettingsReadBackFromASavedFileAndAbsentOnesTakeTheirDefaults)
{
    EXPECT_EQ(ReadCanSettings(*setup), CanSettings{});
    setup->SetOption("CANBaudRate", "125000"); // as older files hold it
    CanSettings older;
    older.baudRate = 125000;
    EXPECT_EQ(ReadCanSettings(*setup), older);
    const CanSettings chosen{250000, 42, 100, 2500};
    StoreCanSettings(*setup, chosen);
    SetupLoadResult loaded = Reload(SerializeSetup(*setup));
    ASSERT_TRUE(loaded.setup) << loaded.error;
    EXPECT_EQ(ReadCanSettings(*loaded.setup), chosen);
}

TEST_F(CanSettingsFile, AnUnusableSettingRefusesTheFileNamingOptionAndLine)
{
    setup->SetOption("CANNodeId", "200");
    const SetupLoadResult loaded = Reload(SerializeSetup(*setup));
    EXPECT_FALSE(loaded.setup);
    EXPECT_NE(loaded.error.find("can.json:"), std::string::npos) << loaded.error;
    EXPECT_NE(loaded.error.find("\"CANNodeId\": the node id is a whole number from 1 to 127"),
              std::string::npos)
        << loaded.error;
}

} // namespace
