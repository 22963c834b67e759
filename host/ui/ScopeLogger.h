// The oscilloscope logger: while a program runs, the drive streams its logged
// variables in unsolicited frames (code 0xE900) and the scope logger turns
// them into a screen of points, with a trigger, a time span and a vertical
// scale per channel, as a bench oscilloscope does. A graph window of kind 4
// (GraphWindow.h) draws its document's first filter.
//
// Frame (UnsolicitedFrame::data): bytes 0-1 the payload's length in 16-bit
// words, bytes 2-3 the frame's sequence number (counting up from 0 at the
// start of each log, wrapping at 65536), bytes 4-5 the code, then the
// payload: the samples in order, each logged variable of the sample as a
// signed 32-bit number in internal units, least significant 16-bit word
// first; every word little-endian.
//
// Trigger modes: 1 auto (the screen runs freely, round and round), 2 normal
// (each sweep waits for the trigger, again and again), 4 single (one
// triggered sweep, then the logger stops by itself: DoGracefulStop reports
// it). Slopes: 1 rising (the trigger variable crosses the level upwards), 0
// falling. The level is in the trigger variable's base unit. With a
// pre-trigger of p %, the crossing sample is drawn at p % of the screen,
// the samples just before it to its left.
//
// Vertical scale: a channel's value v is drawn (v - offset) / division
// divisions above the screen's centre line (eight divisions up, ten across).
//
// Settings (time span, trigger, each channel's unit, division and offset, and
// the scope graph's curves) are saved as text (ScopeSettings.h) into a setup
// option, or into a file (Save, Load).
#pragma once

#include "DriveLink.h"
#include "Logger.h"
#include "ScopeSettings.h"
#include "ScopeSweep.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QWidget;

class CMC_ScopeLogger : public CMC_Logger {
public:
    using Settings = ScopeSettings;
    using Channel = ScopeChannel;
    enum TriggerMode { TriggerAuto = 1, TriggerNormal = 2, TriggerSingle = 4 };
    enum TriggerSlope { SlopeFalling = 0, SlopeRising = 1 };
    // The screen: points across, divisions across and up.
    static constexpr int kScreenPoints = 1000;
    static constexpr int kDivisionsX = 10;
    static constexpr int kDivisionsY = 8;
    // The frame code of scope frames.
    static constexpr std::uint16_t kFrameCode = 0xE900;

    // image: the program image the logged variables belong to, or none.
    CMC_ScopeLogger(CMC_Setup* setup, CMC_CoffFormat* image);
    ~CMC_ScopeLogger() override;

    // A logged variable as the next channel, in the unit the variable is
    // shown in, not yet scaled. A variable that is logged already is not
    // added again (and counts as success).
    int AddVariable(const char* name, int showError = 1) override;

    // The time span [s], the trigger (mode, slope, variable or null, level
    // in its base unit) and the pre-trigger [%]. Channels stay. Settings
    // that make no sense (a span that is not positive, an unknown mode, a
    // trigger variable that is not logged...) are refused with a message.
    void ChangeSettings(double timeSpan, int triggerMode, int triggerSlope, const char* triggerVariable,
                        double triggerLevel, int preTrigger);
    // Shows a logged variable in a unit of its unit type, at a division
    // (> 0, 0: not set) and with the value at an offset on the centre line
    // (both in that unit); non-zero on success.
    int RescaleVariable(const char* name, const char* unitName, double division, double offset);
    // A scale step from the graph (window message 0x467): channel from 1;
    // codes 0 a finer division, 1 a coarser one (1-2-5 steps), 2 the trace
    // one division up, 3 one down. A channel without a division starts from
    // the one Autoscale would give it. Non-zero when the scale changed.
    int ChangeChannelScale(int channel, int code);
    // Every channel's division (1-2-5 steps) and offset so that the points
    // on the screen fill the eight divisions; non-zero when a scale changed.
    int Autoscale();
    // The defaults: 0.1 s, auto trigger, no trigger variable, no
    // pre-trigger, and an empty scope: no channel (no logged variable), no
    // curve, the grid black without marks. The caller adds its channels and
    // curves again.
    void SetDefaultValues();
    // The settings dialog; non-zero when the user pressed OK and the
    // settings changed.
    int Edit(QWidget* parent);

    // The settings as text, in a setup option or a file. Loading takes the
    // channels (the logged variables) and the graph's curves from the text.
    // A damaged text or file, or one naming a variable or unit the setup
    // does not have, is refused with a message (GetLastErrorText() says
    // why; a file's name is in it) and the settings stay as they were.
    // LoadSettingsFromSetupOption gives 0 without a message when the option
    // is absent or empty. A file name without folder is in PlotDirectory(),
    // one without extension gets ".osc". Non-zero on success.
    int LoadSettingsFromSetupOption(const char* name);
    void SaveSettingsToSetupOption(const char* name) const;
    int Load(const char* file);
    int Save(const char* file) const;
    // The settings, with the graph's curves as the first filter has them.
    Settings GetSettings() const;

    // Sets the document's columns (time [s], then each channel in its unit
    // with its division and offset) and its capacity (GetPointsNo()); non-zero
    // when every curve names a column.
    int LocateItems() override;

    // The log request: the channels, sampled so that kScreenPoints samples
    // span the time span (a divider of the speed-loop period, or of the
    // current-loop period when that is too slow).
    LogRequest Request() const override;
    // Arms the logger (UploadInProgress 1), with the screen cleared.
    void OnProgramStarted() override;
    // One frame's payload (after the 6-byte header) of `length` bytes: the
    // number of samples taken (> 0), 0 when the logger takes none (not
    // armed, stopped, no payload), -1 for a payload that is not whole
    // samples of this logger's channels (nothing is taken).
    int OnFrameReceive(int length, const std::uint8_t* data);
    // A whole frame: as above, after its header was checked. A frame of
    // another code, whose size disagrees with its word count, or a
    // truncated one gives -1. A frame older than the last one taken (or the
    // same again) gives 0; after missing frames the sweep starts again.
    int OnFrameReceive(const UnsolicitedFrame& frame);
    // The screen points changed since the last call: the first index and
    // their number (the index wraps at GetPointsNo()); count 0 when none.
    void GetPointsToBeDrawn(int& first, int& count);
    // Armed and not yet ended by EndUploadData.
    int UploadInProgress() const { return m_uploading ? 1 : 0; }
    // Non-zero once the logger has stopped: its single sweep is complete, a
    // stop asked for by EndUploadData came at the end of its sweep, or
    // nothing is armed. It does not ask for a stop itself.
    int DoGracefulStop() const;
    // Ends the upload when the logger has stopped or no sweep is under way;
    // otherwise asks it to stop at the end of the sweep (UploadInProgress
    // stays 1 until then). Asked a second time, it ends at once.
    void EndUploadData();

private:
    int ChannelIndex(const char* name) const;
    bool SettingsProblemInSetup(const Settings& settings, std::string& error) const;
    bool Apply(const Settings& settings, std::string& error);
    bool LoadText(const std::string& text, const std::string& where);
    std::optional<Channel> FittedChannel(int channel) const;
    struct Sampling {
        int logType;
        int divider;
    };
    Sampling ComputeSampling() const;
    ScopeSweep::Trigger SweepTrigger() const;
    int TakePayload(int length, const std::uint8_t* data);
    void WritePoint(int index, const std::vector<double>& sample);

    Settings m_settings; // the graph's curves live in the document's first filter
    bool m_uploading = false;
    bool m_endRequested = false;
    ScopeSweep m_sweep;
    std::optional<std::uint16_t> m_lastSequence; // of the last frame taken since arming
};

// Asks for a scope settings file name: load (1) or save (0), with a
// proposed name (a name without folder is proposed in PlotDirectory(), one
// without extension gets ".osc"); non-zero when the user confirmed, with the
// path chosen in name. A scripted user answers it (Automation.h).
int DoPromptScopeLoggerFileName(int load, QString& name, QWidget* parent = nullptr);
