// Data capture on the drive while a program runs, uploaded afterwards.
#pragma once

#include "DriveLink.h"

#include <cstddef>
#include <string>
#include <vector>

class CMC_Setup;
class CMC_CoffFormat;

class CMC_Logger {
public:
    // How often the drive samples: every current-loop period or every
    // speed-loop period, times the divider.
    enum tagLogType { LogCurrentLoop = 1, LogSpeedLoop = 2 };

    // Values the drive's log memory holds (samples x logged variables).
    static constexpr int kLogMemory = 8192;

    explicit CMC_Logger(CMC_Setup* setup) : m_setup(setup) {}
    virtual ~CMC_Logger() = default;

    // Adds a drive variable of the setup as the next column (column 0 is
    // time); non-zero on success. A variable the setup does not have is
    // refused (and reported when showError is set).
    int AddVariable(const char* name, int showError = 1);
    int GetPointsNo() const { return m_points; }
    const std::vector<std::string>& Variables() const { return m_variables; }
    // The request the drive records with.
    LogRequest Request() const;
    // The time between two samples [s].
    double SamplePeriod() const;

    // Uploaded samples: column 0 time [s], then one column per variable.
    const std::vector<std::vector<double>>& Points() const { return m_rows; }

protected:
    CMC_Setup* m_setup;
    std::vector<std::string> m_variables;
    int m_points = 0;
    int m_logType = LogSpeedLoop;
    int m_divider = 1;
    std::vector<std::vector<double>> m_rows;
};

class CMC_SingleAxisLogger : public CMC_Logger {
public:
    CMC_SingleAxisLogger(CMC_Setup* setup, CMC_CoffFormat* image) : CMC_Logger(setup), m_image(image) {}

    // New settings: points to record, the sampling (tagLogType) and a divider
    // (every n-th period; 0 counts as 1). The logged variables are cleared:
    // add them again after each change.
    void ChangeSettings(int points, int logType, int thirdSetting);
    // Makes the number of points fit the drive's log memory for the columns.
    void CorrectPointsNo();
    // Uploads the log from the active drive; non-zero on success (also when
    // the drive recorded no sample). Then ReadPoint steps through it.
    int BeginUploadData();
    // Non-zero while a further point was read; it is copied into point when
    // given and is Point() until the next read.
    int ReadPoint(std::vector<double>* point);
    const std::vector<double>& Point() const { return m_point; }
    // Writes the points as text columns (time first) to a file, atomically;
    // non-zero on success. A name without folder goes to PlotDirectory(), a
    // name without extension gets ".txt". Nothing uploaded: refused.
    int SaveGraph(const char* fileName) const;

private:
    CMC_CoffFormat* m_image;
    std::size_t m_next = 0;
    std::vector<double> m_point;
};

// The folder for saved plots: $VELMARO_PLOT_DIR, else the working folder.
std::string PlotDirectory();
