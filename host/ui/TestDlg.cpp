#include "TestDlg.h"

#include "CoffFormat.h"
#include "Comm.h"
#include "Errors.h"
#include "HostServices.h"
#include "Logger.h"

#include <QApplication>
#include <QLabel>
#include <QStyle>

#include <cmath>

const char* const CMC_TestDlg::msc_pszErrInternal =
    "Internal error: the test program did not run as expected.";
const char* const CMC_TestDlg::msc_pszErrInZero = "The preliminary positioning test returned no usable "
                                                  "result. Increase the test current and repeat the test.";

namespace {

constexpr int kStartStop = 10000;
constexpr int kStatus = 10001;
constexpr int kResult = 10002;
constexpr int kDetails = 10003;
constexpr int kResultIcon = 10004;
constexpr int kHelp = 10024;
constexpr int kTimer = 1;

} // namespace

CMC_TestDlg::CMC_TestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent)
    : CMC_EditSetupDlg(setup, templateId, flag, {}, parent)
{
}

CMC_TestDlg::~CMC_TestDlg()
{
    // A dialog destroyed without having been closed still leaves the drive safe.
    if (m_programRunning)
        EndRun();
}

int CMC_TestDlg::OnInitDialog()
{
    const int result = CMC_EditSetupDlg::OnInitDialog();
    if (m_startCaption.isEmpty())
        m_startCaption = GetChildText(kStartStop);
    ShowChild(kDetails, false);
    SetChildText(kResult, QString());
    if (auto* icon = Item<QLabel>(kResultIcon))
        icon->clear();
    ShowStartButton();
    return result;
}

void CMC_TestDlg::showEvent(QShowEvent* event)
{
    m_closed = false;
    CMC_EditSetupDlg::showEvent(event);
}

bool CMC_TestDlg::OnCommand(int id)
{
    switch (id) {
    case kStartStop:
        OnBtnStartStop();
        return true;
    case kHelp:
        if (m_helpTopic != 0)
            OpenHelpTopic(GetSetup(), m_helpTopic);
        return true;
    case kDetails:
        if (!m_strError.empty())
            ShowMessageBox(QString::fromStdString(m_strError), MB_OK | MB_ICONINFORMATION, windowTitle());
        return true;
    default:
        return CMC_EditSetupDlg::OnCommand(id);
    }
}

void CMC_TestDlg::OnBtnStartStop()
{
    if (m_bRunning == 0) {
        m_strError.clear();
        m_bStopRequest = 0;
        SetChildText(kResult, QString());
        if (auto* icon = Item<QLabel>(kResultIcon))
            icon->clear();
        ShowChild(kDetails, false);
        BeginTest();
        RunStateChanged();
        return;
    }
    if (m_bStoppable != 0) {
        // The test sees the request at its next check and ends the run itself.
        m_bStopRequest = 1;
        return;
    }
    EndRun();
    SetChildText(kResult, QStringLiteral("The test was stopped."));
}

void CMC_TestDlg::SetInfoText(const QString& text)
{
    SetChildText(kStatus, text);
    ++m_nStage;
    ShowStartButton();
}

void CMC_TestDlg::TestFailed(int show)
{
    if (show != 0) {
        EndRun();
        m_nResult = 0;
    }
    ShowOutcome(false);
}

void CMC_TestDlg::TestSucceeded(int show)
{
    if (show != 0)
        EndRun();
    m_nResult = 1;
    ShowOutcome(true);
}

void CMC_TestDlg::ShowOutcome(bool success)
{
    const QString text = success ? QStringLiteral("Test passed.") : QString::fromStdString(m_strError);
    SetChildText(kResult, text.isEmpty() ? QStringLiteral("Test failed.") : text);
    ShowChild(kDetails, !success && !m_strError.empty());
    if (auto* icon = Item<QLabel>(kResultIcon)) {
        const auto standard = success ? QStyle::SP_DialogApplyButton : QStyle::SP_MessageBoxCritical;
        icon->setPixmap(QApplication::style()->standardIcon(standard).pixmap(32, 32));
    }
}

void CMC_TestDlg::EndRun()
{
    KillTimer(kTimer);
    m_bRunning = 0;
    if (m_programRunning) {
        m_programRunning = false;
        // A stop lost on the way must not leave the drive running: ask once more.
        if (DriveLink* link = CMC_Comm::ActiveLink();
            link && !CMC_Comm::Record(link->StopProgram(CMC_Comm::Now())))
            CMC_Comm::Record(link->StopProgram(CMC_Comm::Now()));
    }
    RunStateChanged();
}

void CMC_TestDlg::OnDestroyDialog()
{
    EndRun();
    m_bStopRequest = 1;
    m_closed = true;
}

void CMC_TestDlg::ShowStartButton()
{
    if (!HasItem(kStartStop) || m_startCaption.isEmpty())
        return;
    SetChildText(kStartStop, m_bRunning != 0 ? QStringLiteral("&Stop") : m_startCaption);
}

void CMC_TestDlg::RunStateChanged()
{
    ShowStartButton();
    UpdateData(false);
}

int CMC_TestDlg::ExecuteCode(const char* programName, CMC_CoffFormat* image, CMC_Logger* logger,
                             void* /*callback*/, void* /*context*/)
{
    if (m_closed || programName == nullptr)
        return 0;
    DriveLink* link = CMC_Comm::ActiveLink();
    if (link == nullptr) {
        CMC_Comm::Record(LinkResult::NotConnected);
        return 0;
    }

    CMC_CoffFormat byName;
    if (image == nullptr) {
        byName.m_strFileName = GetOutPathName(programName);
        byName.ReadCoff();
        image = &byName;
    }
    if (!image->IsLoaded() || image->ProgramName() != programName) {
        SetLastErrorText(image->IsLoaded()
                             ? "The program image does not hold " + std::string(programName) + "."
                             : image->LastError());
        return 0;
    }
    // The drive runs the program on the registers the setup holds now (a
    // tuning or an edit since the last start included).
    if (!CMC_Comm::Record(link->DownloadSetup(CMC_Comm::Now(), *GetSetup())))
        return 0;
    const ProgramRequest request{image->ProgramName(), image->UserVariables()};
    LogRequest log;
    if (logger != nullptr)
        log = logger->Request();
    if (!CMC_Comm::Record(link->StartProgram(CMC_Comm::Now(), request, logger != nullptr ? &log : nullptr)))
        return 0;
    m_programRunning = true;
    if (logger != nullptr)
        logger->OnProgramStarted();
    return 1;
}

// Whether the image is loaded and lists the variable; else the error says why.
bool CMC_TestDlg::HasUserVariable(const CMC_CoffFormat* image, const char* name, std::string& error)
{
    if (image == nullptr || !image->IsLoaded()) {
        error = image != nullptr && !image->LastError().empty() ? image->LastError()
                                                                : "The test program is not loaded.";
        return false;
    }
    if (name == nullptr || !image->HasUserVariable(name)) {
        error = "The program " + image->ProgramName() + " has no variable " + (name ? name : "") + ".";
        return false;
    }
    return true;
}

int CMC_TestDlg::SetUserVariableValue(CMC_CoffFormat* image, const char* name, double value,
                                      std::string& error)
{
    if (!HasUserVariable(image, name, error))
        return 0;
    if (!std::isfinite(value)) {
        error = "The value of " + std::string(name) + " is not a finite number.";
        return 0;
    }
    DriveLink* link = CMC_Comm::ActiveLink();
    const LinkResult result =
        link != nullptr ? link->WriteUserVariable(CMC_Comm::Now(), image->ProgramName(), name, value)
                        : LinkResult::NotConnected;
    if (!CMC_Comm::Record(result)) {
        error = CMC_Comm::GetLastErrorText();
        return 0;
    }
    return 1;
}

int CMC_TestDlg::GetUserVariableValue(CMC_CoffFormat* image, const char* name, double& value,
                                      std::string& error)
{
    if (!HasUserVariable(image, name, error))
        return 0;
    DriveLink* link = CMC_Comm::ActiveLink();
    double read = 0.0;
    const LinkResult result = link != nullptr
                                  ? link->ReadUserVariable(CMC_Comm::Now(), image->ProgramName(), name, read)
                                  : LinkResult::NotConnected;
    if (!CMC_Comm::Record(result)) {
        error = CMC_Comm::GetLastErrorText();
        return 0;
    }
    if (!std::isfinite(read)) {
        error = "The drive returned a value of " + std::string(name) + " that is not a finite number.";
        return 0;
    }
    value = read;
    return 1;
}

int CMC_TestDlg::GetAxisOn(int& on)
{
    DriveLink* link = CMC_Comm::ActiveLink();
    bool axisOn = false;
    const LinkResult result =
        link != nullptr ? link->GetAxisOn(CMC_Comm::Now(), axisOn) : LinkResult::NotConnected;
    if (!CMC_Comm::Record(result))
        return 0;
    on = axisOn ? 1 : 0;
    return 1;
}
