// Motor and drive files as a careless or hostile user writes them: every one
// is refused with the file, the line and the field, and nothing throws.
#include "DriveFile.h"
#include "MotorModel.h"
#include "Plant.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct BadFile {
    std::string text;
    const char* where; // "FILE:LINE: " and the start of the problem
};

std::string Motor(const std::string& plant)
{
    return "{\"format\": \"velmaro-motor\",\n\"plant\": " + plant + "}";
}

TEST(HostileMotorFiles, AreRefusedWithFileLineAndField)
{
    const BadFile cases[] = {
        {Motor(std::string(100000, '[')), "bad.json:2: nested deeper than 64 levels"},
        {Motor("{\"R\": " + std::string(20, '[') + "1" + std::string(20, ']') + "}"),
         "bad.json:2: \"R\" must be a number, not a list"},
        {Motor("{\"R\": \"0.8\"}"), "bad.json:2: \"R\" must be a number, not a text"},
        {Motor("{\"R\":\n1e999}"), "bad.json:3: number out of range (not finite)"},
        {Motor("{\"R\": 1" + std::string(400, '0') + "}"), "bad.json:2: number out of range (not finite)"},
        {Motor("{\"R\": 0}"), "bad.json:2: \"R\" must be from 1e-04 to 1000, not 0"},
        {Motor("{\"Jm\": 1e-12}"), "bad.json:2: \"Jm\" must be from 1e-08 to 100, not 1e-12"},
        {Motor("{\"pp\": 2.5}"), "bad.json:2: \"pp\" must be a whole number"},
        {Motor("{\"pp\": 1e30}"), "bad.json:2: \"pp\" must be from 1 to 64"},
        {Motor("{\"coupling\": {\"stiffness\": 1e19}}"),
         "bad.json:2: \"stiffness\" must be from 0.001 to 1e+09, not 1e+19"},
        {Motor("{\"Jload\": 1e-8,\n\"coupling\": {\"stiffness\": 1e9}}"),
         "bad.json:3: the \"coupling\" is too stiff"},
        {Motor("{\"coupling\": {\"damping\": 1}}"), "bad.json:2: \"stiffness\" is missing"},
        {Motor("{\"halls\": [{}, {}, {\"angle\": true}]}"), "bad.json:2: \"angle\" must be a number"},
        {Motor("{\"Rr\": 1}"), "bad.json:2: unknown field \"Rr\""},
        {Motor("3"), "bad.json:2: \"plant\" must be an object"},
        {"{\"format\": \"velmaro-motor\", \"name\": 7, \"plant\": {}}",
         "bad.json:1: \"name\" must be a text"},
        {"{\"format\": \"velmaro-motor\", \"parameters\": {\"R\": 1, \"L\": 0.001, \"K\": 0.1, \"pp\": 4, "
         "\"Jm\": 1e-4, \"MotorPhaseConnectionType\": \"delta\"}}",
         "bad.json:1: \"MotorPhaseConnectionType\" must be a number"},
        {"{\"format\": 1}", "bad.json:1: not a velmaro-motor file"},
        {"[]", "bad.json:1: the file must be an object"},
    };
    for (const BadFile& c : cases) {
        MotorModel motor = MotorModel::Reference();
        std::string error;
        EXPECT_FALSE(MotorModel::Parse(c.text, "bad.json", motor, error)) << c.text.substr(0, 200);
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
        EXPECT_EQ(motor.R, MotorModel::Reference().R) << "a refused file changed the motor";
    }
}

TEST(HostileMotorFiles, TheStiffestShaftAllowedStepsWithinTheCap)
{
    MotorModel motor = MotorModel::Reference();
    std::string error;
    ASSERT_TRUE(
        MotorModel::Parse(Motor("{\"Jm\": 1e-5, \"Jload\": 1e-5, \"coupling\": {\"stiffness\": 1e4}}"),
                          "stiff.json", motor, error))
        << error;
    EXPECT_LE(ShaftSubStepsNeeded(motor.ShaftResonance(), kLongestPwmPeriod), kMaxShaftSubSteps);
    // A shaft built in code, stiffer than any file may give, still steps a bounded number of times.
    EXPECT_EQ(ShaftSubSteps(1e30, 5e-5), static_cast<int>(kMaxShaftSubSteps));
    EXPECT_EQ(ShaftSubSteps(std::nan(""), 5e-5), 1);
    EXPECT_EQ(ShaftSubSteps(0.0, 5e-5), 1);
}

TEST(HostileDriveFiles, AreRefusedWithFileLineAndField)
{
    const BadFile cases[] = {
        {"{\"format\": \"velmaro-drive\",\n\"sensors\": " + std::string(100000, '['),
         "bad.json:2: nested deeper"},
        {"{\"format\": \"velmaro-drive\",\n\"supplyVoltage\": 1e999}", "bad.json:2: number out of range"},
        {"{\"format\": \"velmaro-drive\",\n\"supplyVoltage\": \"48\"}",
         "bad.json:2: \"supplyVoltage\" must be a number"},
        {"{\"format\": \"velmaro-drive\",\n\"busCapacitance\": 0}",
         "bad.json:2: \"busCapacitance\" must be from"},
        {"{\"format\": \"velmaro-drive\",\n\"adcBits\": 7}", "bad.json:2: \"adcBits\" must be from 8 to 16"},
        {"{\"format\": \"velmaro-drive\",\n\"sensors\": {\"hallNoise\": -0.1}}",
         "bad.json:2: \"hallNoise\" must be from"},
        {"{\"format\": \"velmaro-drive\",\n\"supplyVoltag\": 48}",
         "bad.json:2: unknown field \"supplyVoltag\""},
        {"{\"format\": \"velmaro-motor\"}", "bad.json:1: not a velmaro-drive file"},
    };
    for (const BadFile& c : cases) {
        DriveDescription drive;
        std::string error;
        EXPECT_FALSE(DriveDescription::Parse(c.text, "bad.json", drive, error)) << c.text.substr(0, 200);
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
    }
}

} // namespace
