// The oscilloscope logger: while a program runs, the drive streams its logged
// variables in unsolicited frames (code 0xE900) and the scope logger turns
// them into a screen of points, with a trigger, a time span and a vertical
// scale per channel, as a bench oscilloscope does. A graph window of kind 4
// (GraphWindow.h) draws its document's first filter.
//
// Frame payload (what OnFrameReceive gets, after the 6-byte header): the
// samples in order, each logged variable of the sample as a signed 32-bit
// number in internal units, least significant 16-bit word first. A payload
// that is not a whole number of samples is refused.
//
// Trigger modes: 1 auto (the screen runs freely, no trigger), 2 normal (each
// sweep waits for the trigger, again and again), 4 single (one triggered
// sweep, then the logger stops by itself: DoGracefulStop reports it).
// Slopes: 1 rising (the trigger variable crosses the level upwards), 0
// falling. The level is in the trigger variable's base unit.
//
// Settings (time span, trigger, each channel's unit, division and offset)
// are saved as text into a setup option, or into a file (Save, Load).
#pragma once

#include "Logger.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QWidget;

class CMC_ScopeLogger : public CMC_Logger {
public:
    enum TriggerMode { TriggerAuto = 1, TriggerNormal = 2, TriggerSingle = 4 };
    enum TriggerSlope { SlopeFalling = 0, SlopeRising = 1 };
    // The screen: points across, divisions across and up.
    static constexpr int kScreenPoints = 1000;
    static constexpr int kDivisionsX = 10;
    static constexpr int kDivisionsY = 8;

    struct Settings {
        double timeSpan = 0.1; // [s] across the screen
        int triggerMode = TriggerAuto;
        int triggerSlope = SlopeRising;
        std::string triggerVariable; // empty: none
        double triggerLevel = 0.0;   // [base unit of the trigger variable]
        int preTrigger = 0;          // [% of the screen before the trigger]
        struct Channel {
            std::string variable;
            std::string unit;      // display unit name; empty: internal units
            double division = 0.0; // per division, in the unit; 0: not set
            double offset = 0.0;   // the zero's place, in the unit
        };
        std::vector<Channel> channels;
    };

    // image: the program image the logged variables belong to, or none.
    CMC_ScopeLogger(CMC_Setup* setup, CMC_CoffFormat* image);
    ~CMC_ScopeLogger() override;

    // The time span [s], the trigger (mode, slope, variable or null, level
    // in its base unit) and the pre-trigger [%]. Channels stay.
    void ChangeSettings(double timeSpan, int triggerMode, int triggerSlope, const char* triggerVariable,
                        double triggerLevel, int preTrigger);
    // Shows a logged variable in a unit, at a division and with its zero at
    // an offset (both in that unit); non-zero on success.
    int RescaleVariable(const char* name, const char* unitName, double division, double offset);
    // A scale step from the graph (window message 0x467): channel from 1;
    // codes 0 a finer division, 1 a coarser one, 2 the trace one division
    // up, 3 one down. Non-zero when the scale changed.
    int ChangeChannelScale(int channel, int code);
    // Every channel's division and offset so that the points on the screen fill it.
    int Autoscale();
    // The defaults: 0.1 s, auto trigger, no pre-trigger, channels unscaled.
    void SetDefaultValues();
    // The settings dialog; non-zero when the user pressed OK and the settings changed.
    int Edit(QWidget* parent);

    // The settings as text, in a setup option or a file. Load refuses a
    // damaged text or file (GetLastErrorText() says why) and keeps the
    // settings it had; the logged variables must be those of this logger.
    int LoadSettingsFromSetupOption(const char* name);
    void SaveSettingsToSetupOption(const char* name) const;
    int Load(const char* file);
    int Save(const char* file) const;
    const Settings& GetSettings() const { return m_settings; }

    // Sets the document's columns from the logged variables and the channel
    // scales; non-zero when every curve names a column.
    int LocateItems() override;

    // Streaming. A started program arms the logger (UploadInProgress);
    // OnFrameReceive takes one frame's payload: the number of samples taken
    // (> 0), 0 for none, or -1 for a damaged payload. GetPointsToBeDrawn
    // gives the screen points changed since the last call (first index and
    // count; the index wraps at GetPointsNo()).
    LogRequest Request() const override;
    void OnProgramStarted() override;
    int OnFrameReceive(int length, const std::uint8_t* data);
    void GetPointsToBeDrawn(int& first, int& count);
    int UploadInProgress() const { return m_uploading ? 1 : 0; }
    // Asks the logger to stop at the end of the sweep; non-zero once it has
    // (a single sweep that is complete, or nothing armed).
    int DoGracefulStop();
    void EndUploadData();

private:
    struct Impl;
    Settings m_settings;
    bool m_uploading = false;
    std::unique_ptr<Impl> m_impl;
};

// Asks for a scope settings file name: load (1) or save (0), with a
// proposed name; non-zero when the user confirmed, with the name chosen.
int DoPromptScopeLoggerFileName(int load, QString& name, QWidget* parent = nullptr);
