#include "TestSpeedTuning.h"

#include "ControllerDesign.h"
#include "EngineCore.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "TuningSupport.h"

namespace {

constexpr const char* kProcedure[] = {
    "1. Check/setup the test current limits and speed profile below",
    "2. Go to the \"Test\" tab and press the \"Tune\" button",
    "3. In the \"Test\" tab, press the \"Start\" button",
    "4. Wait until the test begins and displays the results",
    "5. If needed, change the controller parameters during the test, until you get satisfactory results",
};

// The controls of the two pages and the gains that may change while the
// drive runs; lists end with 0.
constexpr int kParametersPage[] = {10014, 10015, 1376, 1377, 1301, 1305, 1322, 3282, 3284, 3283, 3278, 3281,
                                   3279,  1312,  1313, 1314, 1315, 1316, 1317, 1318, 1326, 1327, 1328, 1329,
                                   1330,  1331,  1319, 1320, 1321, 1323, 1332, 3285, 3287, 3286, 0};
constexpr int kTestPage[] = {1333,  1334, 1335, 1336, 1337, 1338,  1339,  1340, 1341,  1342,  1343,  1347,
                             1348,  1349, 1344, 1345, 1346, 1367,  1369,  1368, 1350,  1351,  1352,  1353,
                             1354,  1355, 1356, 1357, 1358, 1359,  1360,  1378, 1382,  1379,  1380,  1381,
                             1383,  1384, 1387, 1385, 1386, 1388,  1389,  1390, 1361,  1362,  1363,  1364,
                             1365,  1366, 3331, 3332, 1374, 10001, 10000, 1375, 10004, 10003, 10002, 10016,
                             10017, 1372, 3269, 3270, 3288, 3271,  0};
constexpr int kGainGroup[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343, 1345,
                              1346, 1347, 1348, 1349, 1357, 1359, 1358, 1360, 0};
constexpr int kFeedForward[] = {1350, 1351, 1352, 1353, 1354, 1355, 1356, 1357, 1358, 1359, 1360, 0};
constexpr int kSpeedFeedForward[] = {1351, 1352, 1353, 1354, 1355, 0};

constexpr LoopGain kGains[] = {
    {"Kp_S_scl", nullptr, {"SFTKPS", "KPS"}},
    {"Ki_S_scl", nullptr, {"SFTKIS", "KIS"}},
    {"IPSatS", Compute_IMAXS, {"IMAXS", nullptr}},
};

const ProfileLoop kSpeedLoop = {
    CTestSpeedTuning::kTemplateId,
    CTestSpeedTuning::kHelpTopic,
    "TestSpeed",
    1320,
    1321,
    LoadSpeedScale,
    {"TPS", "TNS", "TaPS", "TaNS"},
    "OnlinePlotS",
    "MultiCycleS",
    "SpeedTestReferenceType",
    "SpeedTuningOscSettings",
    "SpeedTuning",
    {1365, 1366, 1363, 1364},
    CTestSpeedTuning::kIdentify,
    {"BITMAP_308", "BITMAP_311"},
    RampCut::Speed,
    kProcedure,
    kParametersPage,
    kTestPage,
    kGainGroup,
    kGains,
    true,
};

} // namespace

CTestSpeedTuning::CTestSpeedTuning(CMC_Setup* setup, int flag, QWidget* parent)
    : CProfileTuningDlg(setup, flag, parent, kSpeedLoop, kMainProgram)
{
    AddSliderParameterControls("Kp_S_scl", 1337, 1335, 0, 1336, 1338);
    AddSliderParameterControls("Ki_S_scl", 1342, 1340, 0, 1341, 1343);
    AddSliderParameterControls("IPSatS", 1348, 1345, 1346, 1347, 1349);
    AddSliderParameterControls("PB_S", 1382, 1379, 1380, 1381, 1383);
}

std::array<const char*, 4> CTestSpeedTuning::LoggedVariables() const
{
    return {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"};
}

bool CTestSpeedTuning::WriteInputsBeforeTable()
{
    CMC_Setup* setup = GetSetup();
    return WriteInput("IlimPS_Test",
                      TruncatedProgramInput(setup->GetParameterValueInInternalUnit("TestLimitCurrent"))) &&
           WriteInput("Imax_Prot_Test",
                      TruncatedProgramInput(setup->GetParameterValueInInternalUnit("TestProtectionCurrent")));
}

CProfileTuningDlg::TriggerPoint CTestSpeedTuning::ScopeTrigger(double finalValue, int /*referenceType*/) const
{
    return {"Speed_Reference", finalValue,
            finalValue >= 0.0 ? CMC_ScopeLogger::SlopeRising : CMC_ScopeLogger::SlopeFalling};
}

void CTestSpeedTuning::RescaleLowerLoopChannels()
{
    RescaleCurrentChannels();
}

void CTestSpeedTuning::UpdateFeedForwardControls()
{
    CMC_Setup* setup = GetSetup();
    if (HasSpeedForward(setup))
        EnableChildren(kFeedForward,
                       ParameterInBase("ControlMode") == 1.0 && ParameterInBase("PosSpd_in_FastLoop") == 0.0);
    else
        EnableChildren(kSpeedFeedForward, false);
}

void CTestSpeedTuning::Tune()
{
    TuneController(
        *this, DesignSpeedController,
        {Compute_SFTKPS, Compute_KPS, Compute_SFTKIS, Compute_KIS, Compute_Ki_S_scl, Compute_Kp_S_scl},
        {"SFTKPS", "KPS", "SFTKIS", "KIS"}, m_bRunning);
}
