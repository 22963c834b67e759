// The "Filters" dialog: the drive's three biquad filters, each on or off, its
// place in the control loop, its type and its frequencies or quality factor,
// with a plot of the magnitude and phase of the filters that are on.
//
// The dialog edits parameters only; the coefficient registers follow from them
// in the register pass. Opened locked (while a tuning test runs), the filters
// cannot be switched on or off nor moved in the loop.
#pragma once

#include "Biquad.h"
#include "MySetupDlg.h"

#include <memory>
#include <vector>

class QCPTextElement;
class QCustomPlot;

class CFiltersDialog : public CMySetupDlg {
public:
    CFiltersDialog(CMC_Setup* setup, int locked, QWidget* parent);
    // Unlocked, as the other setup dialogs are made.
    CFiltersDialog(CMC_Setup* setup, QWidget* parent) : CFiltersDialog(setup, 0, parent) {}
    ~CFiltersDialog() override;

    void OnRefreshParameterValue(const char* name) override;

    // One plotted response: a filter that is on, as the drive will run it
    // (quantised coefficients at the slow loop rate).
    struct Response {
        int filter = 0;                // 1 to 3
        std::vector<double> frequency; // [Hz]
        std::vector<double> magnitude; // [dB]
        std::vector<double> phase;     // [deg]
    };
    const std::vector<Response>& PlottedResponses() const { return m_responses; }

protected:
    int OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    bool OnCommand(int id) override;
    void OnSelChange(int id) override;
    void OnCancel() override;

private:
    void FillCombos();
    void ShowFilterStates();
    void CreatePlot();
    void UpdatePlot();

    CBiquadDesign m_design;
    int m_locked;
    std::unique_ptr<CMC_Setup> m_original; // restored on Cancel
    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    std::vector<Response> m_responses;
};
