#include "TestPositionTuning.h"

#include "ControllerDesign.h"
#include "EngineCore.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "TuningSupport.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kProcedure[] = {
    "1. Check/setup the test current limits and position profile below",
    "2. Go to the \"Test\" tab and press the \"Tune\" button",
    "3. In the \"Test\" tab, press the \"Start\" button",
    "4. Wait until the test begins and displays the results",
    "5. If needed, change the controller parameters during the test, until you get satisfactory results",
};

// The controls of the two pages and the gains that may change while the
// drive runs; lists end with 0.
constexpr int kParametersPage[] = {10014, 10015, 1376, 1377, 1301, 1312, 1305, 1322, 3282, 3284,
                                   3283,  3278,  3281, 3279, 1313, 1314, 1315, 1316, 1317, 1318,
                                   1326,  1327,  1328, 1329, 1330, 1331, 1500, 1501, 1502, 1332,
                                   3285,  3287,  3286, 3408, 1101, 1043, 1044, 0};
constexpr int kTestPage[] = {
    1333,  1334,  1335, 1336,  1337,  1338,  1339,  1340,  1341, 1342, 1343, 1507, 1508, 1509, 1510,
    1511,  1344,  1345, 1346,  1347,  1348,  1349,  1367,  1369, 1368, 1350, 1351, 1352, 1353, 1354,
    1355,  1356,  1357, 1358,  1359,  1360,  1378,  1379,  1380, 1381, 1382, 1383, 1384, 1385, 1386,
    1387,  1388,  1389, 1390,  1512,  1513,  1361,  1362,  1517, 1518, 1519, 1520, 3331, 3332, 1374,
    10001, 10000, 1375, 10004, 10003, 10002, 10016, 10017, 1372, 3269, 3270, 3288, 3305, 0};
constexpr int kGainGroup[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343, 1508, 1509, 1510, 1511, 1345,
                              1346, 1347, 1348, 1349, 1352, 1353, 1354, 1355, 1357, 1358, 1359, 1360, 0};
constexpr int kSpeedLimitGroup[] = {3408, 1101, 1043, 1044, 0};
constexpr int kFeedForward[] = {1350, 1351, 1352, 1353, 1354, 1355, 1356, 1357, 1358, 1359, 1360, 0};
constexpr int kSpeedFeedForward[] = {1351, 1352, 1353, 1354, 1355, 0};
constexpr int kAccelerationFeedForward[] = {1356, 1357, 1358, 1359, 1360, 0};
constexpr const char* kSpeedChannels[] = {"Speed_Reference", "Load_Speed"};

constexpr LoopGain kGains[] = {
    {"Kp_P_scl", nullptr, {"SFTKPP", "KPP"}},      {"Ki_P_scl", nullptr, {"SFTKIP", "KIP"}},
    {"Kd_P_scl", nullptr, {"SFTKDP", "KDP"}},      {"filter_D", Compute_KDFP, {"KDFP", nullptr}},
    {"IPSatP", Compute_IMAXP, {"IMAXP", nullptr}},
};

const ProfileLoop kPositionLoop = {
    CTestPositionTuning::kTemplateId,
    CTestPositionTuning::kHelpTopic,
    "TestPosition",
    1501,
    1502,
    LoadPositionScale,
    {"TPP", "TNP", "TaPP", "TaNP"},
    "OnlinePlotP",
    "MultiCycleP",
    "PositionTestReferenceType",
    "PositionTuningOscSettings",
    "PositionTuning",
    {1519, 1520, 1517, 1518},
    CTestPositionTuning::kIdentify,
    {"BITMAP_309", "BITMAP_310"},
    RampCut::Position,
    kProcedure,
    kParametersPage,
    kTestPage,
    kGainGroup,
    kGains,
    false,
};

bool PositionLoopDrivesSpeedLoop(CMC_Setup* setup)
{
    const CMC_Parameter* type = FindQuietly(setup, "PositionControlType");
    return type != nullptr && type->GetValueInBaseUnit() == 1.0;
}

} // namespace

CTestPositionTuning::CTestPositionTuning(CMC_Setup* setup, int flag, QWidget* parent)
    : CProfileTuningDlg(setup, flag, parent, kPositionLoop,
                        PositionLoopDrivesSpeedLoop(setup) ? kProgramWithSpeedLoop
                                                           : kProgramWithoutSpeedLoop),
      m_withSpeedLoop(PositionLoopDrivesSpeedLoop(setup))
{
    m_nStageCount = 5;
    AddParameterControls("filter_D", 1513, 0);
    if (m_withSpeedLoop)
        AddParameterControls("Limit_Speed", 1043, 1044);
    AddSliderParameterControls("Kp_P_scl", 1337, 1335, 0, 1336, 1338);
    AddSliderParameterControls("Ki_P_scl", 1342, 1340, 0, 1341, 1343);
    AddSliderParameterControls("Kd_P_scl", 1510, 1508, 0, 1509, 1511);
    AddSliderParameterControls("IPSatP", 1348, 1345, 1346, 1347, 1349);
    AddSliderParameterControls("PB_P", 1382, 1379, 1380, 1381, 1383);
}

std::array<const char*, 4> CTestPositionTuning::LoggedVariables() const
{
    if (m_withSpeedLoop)
        return {"Target_Position", "Load_Position", "Speed_Reference", "Load_Speed"};
    return {"Target_Position", "Load_Position", "Current_Reference", "Motor_Current"};
}

// The limit of the position controller's output: the load speed with the
// speed loop, else the current (the setup keeps it as its own limit).
bool CTestPositionTuning::WriteInputsBeforeTable()
{
    CMC_Setup* setup = GetSetup();
    CMC_Parameter* limit = FindQuietly(setup, "IlimPS");
    const CMC_Parameter* testLimit = FindQuietly(setup, "TestLimitCurrent");
    if (!m_withSpeedLoop) {
        if (limit && testLimit)
            limit->SetValueInInternalUnit(testLimit->GetValueInInternalUnit());
        return WriteInput("IlimPS_Test", TruncatedProgramInput(ParameterInternal("IlimPS")));
    }
    if (limit && testLimit)
        limit->SetValueInBaseUnit(testLimit->GetValueInBaseUnit());
    Compute_IMAXS(setup);
    Compute_SATS(setup);
    Compute_SATP(setup);
    return WriteInput("LimitSpeed_Test", std::trunc(ParameterInternal("Limit_Speed")));
}

bool CTestPositionTuning::WriteInputsAfterTable()
{
    return WriteInput("Imax_Prot_Test", TruncatedProgramInput(ParameterInternal("TestProtectionCurrent")));
}

CProfileTuningDlg::TriggerPoint CTestPositionTuning::ScopeTrigger(double finalValue, int referenceType) const
{
    constexpr int rising = CMC_ScopeLogger::SlopeRising;
    constexpr int falling = CMC_ScopeLogger::SlopeFalling;
    if (!HasSpeedTestReferenceType(GetSetup()))
        return {"Target_Position", 0.95 * finalValue, rising};
    switch (referenceType) {
    case 1:
        return {"Target_Position", -0.95 * finalValue, finalValue < 0.0 ? rising : falling};
    case 2:
        return {"Target_Position", 0.9 * finalValue, finalValue >= 0.0 ? rising : falling};
    default:
        return {"Target_Position", 0.95 * finalValue, finalValue >= 0.0 ? rising : falling};
    }
}

void CTestPositionTuning::RescaleLowerLoopChannels()
{
    if (m_withSpeedLoop)
        RescaleSpeedChannels();
    else
        RescaleCurrentChannels();
}

// The speed channels are scaled for the mean speed of the faster ramp, in
// the unit "TestSpeed" is shown in.
void CTestPositionTuning::RescaleSpeedChannels()
{
    CMC_Parameter* speed = FindQuietly(GetSetup(), "TestSpeed");
    const double ramp = std::min(ParameterInBase("TaPP"), ParameterInBase("TaNP"));
    if (!HasScopeDefaults() || speed == nullptr || ramp <= 0.0)
        return;
    const double kept = speed->GetValueInInternalUnit();
    speed->SetValueInBaseUnit(ParameterInBase("TestPosition") / ramp);
    const double shown = speed->GetValue();
    speed->SetValueInInternalUnit(kept);
    const double division = DivisionFor(std::fabs(shown) * 0.5);
    for (const char* name : kSpeedChannels)
        Scope()->RescaleVariable(name, speed->GetUnitName(), division, 2.0 * division);
}

void CTestPositionTuning::UpdateFeedForwardControls()
{
    CMC_Setup* setup = GetSetup();
    const int mode = static_cast<int>(TruncRegister(ParameterInBase("ControlMode")));
    const int type = static_cast<int>(TruncRegister(ParameterInBase("PositionControlType")));
    const double fastLoop = ParameterInBase("PosSpd_in_FastLoop");
    EnableChildren(kSpeedLimitGroup, mode == 0 && type == 1);
    if (HasSpeedForward(setup)) {
        EnableChildren(kFeedForward, fastLoop == 0.0 && mode == 0 && (type == 0 || type == 1));
        return;
    }
    EnableChildren(kSpeedFeedForward, mode == 0 && type == 1);
    EnableChildren(kAccelerationFeedForward, mode != 0 || type == 1 || fastLoop != 1.0);
}

void CTestPositionTuning::Tune()
{
    TuneController(*this, DesignPositionController,
                   {Compute_SFTKPP, Compute_KPP, Compute_SFTKIP, Compute_KIP, Compute_SFTKDP, Compute_KDP,
                    Compute_Ki_P_scl, Compute_Kp_P_scl, Compute_Kd_P_scl},
                   {"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"}, m_bRunning);
}
