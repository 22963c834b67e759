// Data capture on the drive while a program runs, uploaded afterwards.
#pragma once

#include "DriveLink.h"
#include "GraphDocument.h"

#include <cstddef>
#include <functional>
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
    virtual int AddVariable(const char* name, int showError = 1);
    int GetPointsNo() const { return m_points; }
    const std::vector<std::string>& Variables() const { return m_variables; }
    // The request the drive records with.
    virtual LogRequest Request() const;
    // Called once the program it records has started.
    virtual void OnProgramStarted() {}
    // Sets the graph document's columns (time, then each logged variable in
    // the unit its drive variable is shown in); non-zero when every curve of
    // the document names a column.
    virtual int LocateItems();
    CGraphDocument& GetGraphDocument() { return m_document; }
    const CGraphDocument& GetGraphDocument() const { return m_document; }
    // The time between two samples [s].
    double SamplePeriod() const;

    // Saves the points of the graph document: "<name>.csv" (time first, in the units
    // shown), and with a graph renderer "<name>.png" and "<name>.svg" of the
    // document's first filter; each file atomically. A name without folder
    // goes to PlotDirectory(); an extension given is replaced. Non-zero on
    // success. Nothing read: refused.
    int SaveGraph(const char* fileName) const;

    // Uploaded samples: column 0 time [s], then one column per variable.
    const std::vector<std::vector<double>>& Points() const { return m_rows; }

protected:
    // The column of a logged drive variable, shown in a display unit of its
    // unit type (null: the unit the variable is shown in); internal units
    // when the setup has no such variable or unit.
    static GraphColumn VariableColumn(const CMC_Setup* setup, const std::string& name,
                                      const char* unitName = nullptr);

    CMC_Setup* m_setup;
    std::vector<std::string> m_variables;
    int m_points = 0;
    int m_logType = LogSpeedLoop;
    int m_divider = 1;
    std::vector<std::vector<double>> m_rows;
    CGraphDocument m_document;
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
    // given, is Point() until the next read, and is added to the graph
    // document (BeginUploadData empties it).
    int ReadPoint(std::vector<double>* point);
    const std::vector<double>& Point() const { return m_point; }

private:
    CMC_CoffFormat* m_image;
    std::size_t m_next = 0;
    std::vector<double> m_point;
};

// Draws a filter as pictures "<basePath>.png" and "<basePath>.svg"; host/ui
// registers one. Without it SaveGraph writes the data alone.
using GraphRenderer =
    std::function<bool(const CGraphFilter& filter, const std::string& basePath, std::string& error)>;
void SetGraphRenderer(GraphRenderer renderer);
bool HasGraphRenderer();

// The folder for saved plots: $VELMARO_PLOT_DIR, else the working folder.
std::string PlotDirectory();
// A plot file's path: a name without folder goes to PlotDirectory(), a name
// without extension gets the one given (".csv").
std::string PlotFilePath(const std::string& name, const char* extension);
