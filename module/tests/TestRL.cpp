#include "TestRL.h"

#include "EngineCore.h"
#include "Helpers.h"
#include "RotatingVoltageResponse.h"
#include "TestSequence.h"

#include <QCloseEvent>

#include <array>
#include <cmath>
#include <numbers>
#include <sstream>
#include <string>

namespace {

constexpr const char* kResistanceProgram = "Ident_R_or_Rs";
constexpr const char* kInductanceProgram = "Ident_L_or_Tau_el";
constexpr std::array<const char*, 10> kStageTexts = {
    "Launching code for preliminary test (1)",
    "Waiting preliminary test to be finished (1)",
    "Launching code for R test (1)",
    "Waiting R test to be finished (1)",
    "Launching code for preliminary test (2)",
    "Waiting preliminary test to be finished (2)",
    "Launching code for R test (2)",
    "Waiting R test to be finished (2)",
    "Launching code for L test",
    "Waiting L test to be finished",
};
constexpr const char* kNoLogger = "The logger could not be instantiated";
constexpr const char* kSettingFailed = "Error while setting the test parameters.";
constexpr const char* kInductanceTooLow =
    "The computed inductivity is less than the possible minimum value of 50 \u00b5H.";
constexpr const char* kInductanceTooHigh =
    "The computed inductivity is greater than the possible maximum value of 1 H.";
constexpr const char* kShaftMoves =
    "The shaft moves with the L test's current: a load resonating near the test frequency disturbs the "
    "inductivity. Uncouple the load or block the shaft, then repeat the test.";

constexpr int kREdit = 1002;
constexpr int kLEdit = 1003;
constexpr int kRUnit = 3128;
constexpr int kLUnit = 3129;
// Samples each run logs.
constexpr int kLogPoints = 400;
// The angle increment counts a full electrical turn as 65535.
constexpr double kFullTurnIncrement = 65535.0;

} // namespace

CTestRL::CTestRL(CMC_Setup* setup, int /*flag*/, QWidget* parent)
    : CPositioningTestDlg(setup, kTemplateId, 1, parent, kStageTexts, kHelpTopic, kResistanceProgram),
      m_logger(std::make_unique<CMC_SingleAxisLogger>(setup, nullptr))
{
    AddProgramImage(m_lImage, kInductanceProgram);
    AddParameterControls("R", kREdit, kRUnit);
    AddParameterControls("L", kLEdit, kLUnit);
    AddParameterControls("TestCurrent", 1005, 1017);
}

CTestRL::~CTestRL() = default;

int CTestRL::OnInitDialog()
{
    const int result = CPositioningTestDlg::OnInitDialog();
    EmptyControls(*this, {kREdit, kLEdit, kRUnit, kLUnit});
    CMC_Setup* setup = GetSetup();
    m_vdcSaved = setup->GetParameterValueInBaseUnit("Vdc");
    m_lOld = m_lNew = setup->GetParameterValueInBaseUnit("L");
    m_rOld = m_rNew = setup->GetParameterValueInBaseUnit("R");
    return result;
}

void CTestRL::BeginTest()
{
    RefreshAllParameters(0);
    EmptyControls(*this, {kREdit, kLEdit, kRUnit, kLUnit});
    UpdateData(false);
    BeginWithPreliminaryTest();
}

void CTestRL::LaunchMainProgram()
{
    LaunchResistanceRun(m_testCurrent, m_reftst, m_rinctst, 1);
}

void CTestRL::PollOwnStage()
{
    // A stage that launches a program follows at once on the stage that saw
    // the previous program end.
    switch (m_nStage) {
    case 4:
        if (!EndFirstResistanceRun())
            return;
        [[fallthrough]];
    case 5:
        LaunchSecondPreliminaryTest();
        return;
    case 6:
        if (!PreliminaryTestEnded())
            return;
        [[fallthrough]];
    case 7:
        LaunchResistanceRun(m_testCurrent / 2, std::trunc(m_reftst), std::trunc(m_rinctst), 2);
        return;
    case 8:
        if (!EndSecondResistanceRun())
            return;
        [[fallthrough]];
    case 9:
        LaunchInductanceRun();
        return;
    case 10:
        EndInductanceRun();
        return;
    default:
        TestFailed(1);
    }
}

void CTestRL::LaunchResistanceRun(int current, double reftst, double rinctst, int logType)
{
    if (!SetUserVariableValue(&m_main, "In1", current, m_strError) ||
        !SetUserVariableValue(&m_main, "RefTest", reftst, m_strError) ||
        !SetUserVariableValue(&m_main, "RIncTest", rinctst, m_strError)) {
        TestFailed(1);
        return;
    }
    if (!m_logger) {
        FailTest(*this, kNoLogger);
        return;
    }
    m_logger->ChangeSettings(kLogPoints, logType, 1);
    m_logger->AddVariable("IQ", 0);
    StartMainProgram(m_logger.get());
}

bool CTestRL::UploadLog(std::vector<std::vector<double>>& points)
{
    if (!m_logger || !m_logger->BeginUploadData()) {
        FailTest(*this, msc_pszErrInternal);
        return false;
    }
    points.clear();
    // Element 0 of a point is its time.
    for (std::vector<double> point; m_logger->ReadPoint(&point);)
        points.emplace_back(point.begin() + std::min<std::size_t>(1, point.size()), point.end());
    return true;
}

bool CTestRL::UploadLogMean(double& mean)
{
    std::vector<std::vector<double>> points;
    if (!UploadLog(points))
        return false;
    mean = 0.0;
    for (const auto& point : points)
        mean += (point.empty() ? 0.0 : point[0]) / static_cast<double>(points.size());
    return true;
}

bool CTestRL::EndFirstResistanceRun()
{
    if (PollProgramEnd(*this, &m_main, kMaskShortCircuitEnable) != ProgramState::Ended ||
        !ReadDriveVariable(*this, "var_i1", m_u1) || !UploadLogMean(m_i1))
        return false;
    ShowStageText();
    return true;
}

void CTestRL::LaunchSecondPreliminaryTest()
{
    if (!SetUserVariableValue(&m_preliminary, "In1", m_testCurrent / 2, m_strError)) {
        FailTest(*this, kSettingFailed);
        return;
    }
    if (StartProgram(kPreliminaryProgram, &m_preliminary))
        RearmPoll();
}

bool CTestRL::EndSecondResistanceRun()
{
    double busCounts = 0.0;
    if (PollProgramEnd(*this, &m_main, kMaskShortCircuitEnable) != ProgramState::Ended ||
        !ReadDriveVariable(*this, "var_i1", m_u2) || !ReadDriveVariable(*this, "var_u2", busCounts))
        return false;
    if (!UploadLogMean(m_i2))
        return false;
    // Two runs at the same mean current give no resistance.
    const double slope = (m_u1 - m_u2) / (m_i1 - m_i2); // [internal voltage per internal current]
    if (!std::isfinite(slope)) {
        FailTest(*this, msc_pszErrInternal);
        return false;
    }
    CMC_Setup* setup = GetSetup();
    // From here on the voltage scale uses the measured bus voltage.
    const double adcMax = Compute_ADCMaxValue(setup);
    setup->SetParameterValueInBaseUnit("Vdc", setup->GetParameterValueInBaseUnit("VdcMaxMeasurable") *
                                                  busCounts / adcMax);
    m_rNew = slope / VoltageCommandScale(setup) * CurrentScale(setup);
    if (!std::isfinite(m_rNew)) {
        FailTest(*this, msc_pszErrInternal);
        return false;
    }
    ShowStageText();
    return true;
}

void CTestRL::LaunchInductanceRun()
{
    if (!SetUserVariableValue(&m_lImage, "In1", m_testCurrent, m_strError)) {
        TestFailed(1);
        return;
    }
    if (!m_logger) {
        FailTest(*this, kNoLogger);
        return;
    }
    m_logger->ChangeSettings(kLogPoints, 2, 1);
    m_logger->AddVariable("IQ", 0);
    m_logger->AddVariable("ID", 0);
    m_logger->AddVariable("THTST", 0);
    if (StartProgram(kInductanceProgram, &m_lImage, m_logger.get()))
        RearmPoll();
}

void CTestRL::EndInductanceRun()
{
    double angleIncrement = 0.0; // per current-loop period, a full turn is 65535
    double voltage = 0.0;        // amplitude [internal units]
    std::vector<std::vector<double>> points;
    if (PollProgramEnd(*this, &m_lImage, kMaskShortCircuitEnable) != ProgramState::Ended ||
        !ReadDriveVariable(*this, "TINCTST", angleIncrement) ||
        !ReadDriveVariable(*this, "var_i1", voltage) || !UploadLog(points))
        return;
    RotatingVoltageResponse response;
    for (const auto& point : points)
        if (point.size() >= 3)
            response.Add(point[0], point[1], point[2]);
    CMC_Setup* setup = GetSetup();
    const double omega =
        2.0 * std::numbers::pi * angleIncrement / (CurrentLoopPeriod(setup) * kFullTurnIncrement);
    // A salient rotor's two axes count alike: the mean of Ld and Lq.
    const auto axes = response.Inductances(voltage, omega);
    // A run that logged nothing (or no frequency) identifies no inductance.
    if (!axes)
        return FailTest(*this, msc_pszErrInternal);
    if (axes->shaftLoss > kMaxShaftLoss)
        return FailTest(*this, kShaftMoves);
    const double inductance = axes->Mean() * CurrentScale(setup) / VoltageCommandScale(setup);
    if (inductance < kMinimumInductance)
        return FailTest(*this, kInductanceTooLow);
    if (inductance > kMaximumInductance)
        return FailTest(*this, kInductanceTooHigh);
    if (const std::string why = DeadTimeSpoilsResistance(inductance); !why.empty())
        return FailTest(*this, why);
    m_lNew = inductance;
    // A delta-connected motor: the phase of the equivalent star is a third.
    if (setup->GetParameterValueInBaseUnit("MotorPhaseConnectionType") == 1.0) {
        m_rNew *= 3.0;
        m_lNew *= 3.0;
    }
    setup->SetParameterValueInBaseUnit("L", m_lNew);
    setup->SetParameterValueInBaseUnit("R", m_rNew);
    RefreshAllParameters(0);
    TestSucceeded(1);
}

std::string CTestRL::DeadTimeSpoilsResistance(double starInductance) const
{
    CMC_Setup* setup = GetSetup();
    const double ripple =
        PwmRippleCurrent(setup->GetParameterValueInBaseUnit("Vdc"),
                         1.0 / setup->GetParameterValueInBaseUnit("PWM_freq"), starInductance);
    const double halfCurrent = 0.5 * m_testCurrent / CurrentScale(setup); // [A]
    if (!(halfCurrent <= ripple))
        return {};
    std::ostringstream text;
    text.precision(2);
    text << std::fixed << "The resistance cannot be identified: the PWM ripple of this low inductance ("
         << starInductance * 1e6 << " \u00b5H) is " << ripple << " A, more than half the test current ("
         << halfCurrent
         << " A), so the voltage lost to the inverter's dead time grows with the current and adds to the "
            "resistance. A test current of at least "
         << 2.0 * ripple << " A is needed.";
    return text.str();
}

void CTestRL::RestoreVdc()
{
    GetSetup()->SetParameterValueInBaseUnit("Vdc", m_vdcSaved);
}

void CTestRL::OnCancel()
{
    RestoreVdc();
    const QString question = ChangedValuesQuestion(
        {{QStringLiteral("Phase resistance"), FormatValue("%f", m_rOld), FormatValue("%f", m_rNew)},
         {QStringLiteral("Phase inductance"), FormatValue("%f", m_lOld), FormatValue("%f", m_lNew)}},
        m_nResult);
    switch (AskToSaveChangedValues(question)) {
    case IDYES:
        OnOK();
        return;
    case IDNO:
        EndDialog(IDCANCEL);
        return;
    case IDCANCEL:
        return;
    default:
        CMyTestDlg::OnCancel();
    }
}

void CTestRL::closeEvent(QCloseEvent* event)
{
    RestoreVdc();
    CMyTestDlg::closeEvent(event);
}
