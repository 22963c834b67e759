// The base of every test dialog of the module: the drive error check, the
// start-up rule on the minimum move, the stage texts of a run and its poll.
#pragma once

#include "TestDlg.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

class CMC_CoffFormat;
class CMC_Logger;

// Timer 1 polls the drive every 20 ms.
inline constexpr int kPollTimer = 1;
inline constexpr int kPollPeriodMs = 20;

class CMyTestDlg : public CMC_TestDlg {
public:
    // Unless the template is a controller tuning test (102, 103), a setup with
    // "ABSTART_MINMOVE" gets it set to 0. stageTexts are the status texts of
    // the stages in order, kept by reference (static storage); helpTopic is
    // opened by Help.
    CMyTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent,
               std::span<const char* const> stageTexts = {}, unsigned helpTopic = 0);

    // 1 when the drive reports none of the errors the mask selects ("MER"),
    // nor a supply, i2t or temperature trip (selected whatever the mask);
    // otherwise the error text goes into m_strError, TestFailed(1) follows
    // when failOnError is non-zero, and 0 is returned.
    int CheckDriveErrors(int failOnError, std::uint16_t mask);

    // Arms timer 1 for the next poll of the drive. When the timer cannot be
    // created the run fails with the system's reason and false is returned.
    bool RearmPoll(int milliseconds = kPollPeriodMs);

protected:
    // A program image that OnInitDialog loads, in the order named.
    void AddProgramImage(CMC_CoffFormat& image, const char* program);
    // The host's start-up, then the program images are loaded.
    int OnInitDialog() override;
    // Loads every image named with AddProgramImage; whether a load worked
    // shows later, when the program is started.
    void LoadProgramImages();

    // Shows the text of stage m_nStage and so advances to the next stage;
    // past the last text nothing is shown and the stage stays.
    void ShowStageText();
    // Opens a run: no outcome yet, stage 0 with its text shown.
    void OpenRun();
    // Starts a program of the run (by name alone when image is null) and
    // shows the next stage's text; a start that fails ends the run with the
    // internal error and gives false.
    bool StartProgram(const char* program, CMC_CoffFormat* image, CMC_Logger* logger = nullptr);

    // Timer 1 is the run's poll: it is killed on every tick, and while a run
    // is on its tick goes to OnPollTimer; any other tick goes to the host.
    void OnTimer(int id) override;
    virtual void OnPollTimer() {}

private:
    std::span<const char* const> m_stageTexts;
    std::vector<std::pair<CMC_CoffFormat*, const char*>> m_images;
};

// Registers every test dialog of the module with the setup editor's launcher.
void RegisterModuleTests();
