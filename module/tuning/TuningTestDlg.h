// The base of the controller tuning tests: page "Test Parameters" and page
// "Test" on one tab control, the graph a run's log is drawn on, and on OK
// the test's over-current protection kept as the drive's.
#pragma once

#include "GraphWindow.h"
#include "PositioningTestDlg.h"

#include <span>

class CTuningTestDlg : public CPositioningTestDlg {
public:
    CGraphWindow& Graph() { return m_graph; }
    int Page() const { return m_page; }

    // The tab control of the pages, the graph, and the button that saves the plots.
    static constexpr int kTab = 1300;
    static constexpr int kGraph = 1361;
    static constexpr int kSavePlots = 1372;

protected:
    // The pages' control lists end with 0; procedure is the five lines of
    // the test's procedure. All are kept by reference (static storage).
    CTuningTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent, unsigned helpTopic,
                   const char* mainProgram, std::span<const char* const> procedure, const int* parametersPage,
                   const int* testPage);

    // The common start-up, then the procedure and the two pages' tabs.
    int OnInitDialog() override;
    // Opens on the parameters page.
    void showEvent(QShowEvent* event) override;
    void DoDataExchange(bool saveAndValidate) override;
    // The user picked a page: back to the parameters only while no test
    // runs, and only with every value taken; on to the test only while
    // TestPageRefusal has nothing to say. Else the tab goes back.
    void OnTabSelChange(int id) override;
    // The host's OK, then "Imax_Prot" takes "TestProtectionCurrent".
    void OnOK() override;

    // Shows the controls of a page and hides those of the other.
    void ShowPage(int page);
    // What stops the user from going to the test page (shown to them), or null.
    virtual const char* TestPageRefusal() const = 0;
    // After the user went to a page.
    virtual void PageShown(int page) = 0;
    // The display rules of the controls, after every exchange towards them.
    virtual void UpdateControls() = 0;

    CGraphWindow m_graph{2, 0};
    int m_page = 0;

private:
    std::span<const char* const> m_procedure;
    const int* m_parametersPage;
    const int* m_testPage;
};
