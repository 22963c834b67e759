// The host's test dialog: runs programs on the drive and reports the progress
// and outcome of a test. Common controls: 10000 Start (Stop while a test
// runs), 2 Close, 10024 Help, 10001 status text, 10002 result text,
// 10003 Details (hidden), 10004 result icon, 10014/10015 test purpose.
// Whenever a run ends, for any reason, and when the dialog closes, a drive
// program that still runs is stopped and the power stage switched off.
#pragma once

#include "EditSetupDlg.h"

#include <QString>

#include <cstdint>
#include <string>

class CMC_CoffFormat;
class CMC_Logger;

class CMC_TestDlg : public CMC_EditSetupDlg {
public:
    CMC_TestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent);
    ~CMC_TestDlg() override;

    static const char* const msc_pszErrInternal;
    static const char* const msc_pszErrInZero;

    // Test state, read and written by the tests directly.
    int m_bRunning = 0;
    int m_nResult = 0;
    std::uint16_t m_nStage = 0;
    std::uint16_t m_nStageCount = 0;
    std::string m_strError;
    int m_bStoppable = 0;
    int m_bStopRequest = 0;

    // Called when the user presses Start.
    virtual void BeginTest() {}
    // The host's Start/Stop behaviour. Start clears the outcome, the error
    // text and m_bStopRequest, and calls BeginTest. While a test runs the
    // button shows Stop: on a stoppable test it sets m_bStopRequest (the
    // test ends the run itself), any other run ends at once without an
    // outcome (m_bRunning 0, m_nResult left at -1).
    void OnBtnStartStop();

    // Shows the status text and advances m_nStage by one.
    void SetInfoText(const QString& text);
    // End the run and show m_strError (m_nResult becomes 0), or the success
    // (m_nResult becomes 1). With 0 the outcome is only shown again (a page
    // switch does that); a run that goes on is not ended.
    void TestFailed(int show);
    void TestSucceeded(int show);

    // Downloads the setup's registers, then downloads and starts the named
    // program (with the image's user variables, or by name alone when image
    // is null: its image is then looked up with GetOutPathName); non-zero on
    // success. A failed register download fails the start. A logger records
    // during the run. Refused once the dialog has closed.
    int ExecuteCode(const char* programName, CMC_CoffFormat* image, CMC_Logger* logger, void* callback,
                    void* context);
    // User variables of a program image on the drive; non-zero on success,
    // else the error text is filled in (a name the image does not list, an
    // image not loaded, a value that is not a finite number, or the drive's
    // error, CMC_Comm::GetLastErrorText()).
    int SetUserVariableValue(CMC_CoffFormat* image, const char* name, double value, std::string& error);
    int GetUserVariableValue(CMC_CoffFormat* image, const char* name, double& value, std::string& error);
    // Whether the power stage is on; non-zero on success.
    int GetAxisOn(int& on);

    // The test's help topic, opened by button 10024.
    void SetHelpTopic(unsigned topic) { m_helpTopic = topic; }

    // Whether a program was started in this run and not yet stopped.
    bool IsProgramStarted() const { return m_programRunning; }

protected:
    int OnInitDialog() override;
    bool OnCommand(int id) override;
    // Closing by any means ends the run: the program is stopped, the power
    // stage switched off, timer 1 killed; m_bRunning becomes 0 and
    // m_bStopRequest 1, so that a loop waiting on either ends.
    void OnDestroyDialog() override;
    void showEvent(QShowEvent* event) override;

private:
    static bool HasUserVariable(const CMC_CoffFormat* image, const char* name, std::string& error);
    void EndRun();
    void ShowStartButton();
    // The Start/Stop caption and the dialog's enable and show rules follow
    // whether a run is on.
    void RunStateChanged();
    void ShowOutcome(bool success);

    unsigned m_helpTopic = 0;
    bool m_programRunning = false;
    bool m_closed = false;
    QString m_startCaption;
};
