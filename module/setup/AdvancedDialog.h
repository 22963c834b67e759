// The "Advanced" dialog: PWM frequency, the fast and slow loop dividers, the
// control scheme, where speed feed-forward acts, the speed estimator and the
// freeze control.
//
// Every value the drive counts per slow-loop sample (times, speeds,
// accelerations, current rates) is rescaled when the slow loop period changes,
// so its engineering value stays where the user put it. A PWM frequency change
// keeps both loop periods as near as the dividers allow.
#pragma once

#include "MySetupDlg.h"

#include <QColor>
#include <QPixmap>

#include <array>
#include <memory>

class CAdvancedDialog : public CMySetupDlg {
public:
    CAdvancedDialog(CMC_Setup* setup, QWidget* parent);
    ~CAdvancedDialog() override;

    // Only "PWM_freq": new PWM period, dividers chosen to keep the loop periods.
    void OnChangedParameterValue(const char* name) override;
    // Every edit: keeps the slow loop no faster than the fast loop, rescales the
    // loop-counted values on a slow period change, checks the minimum periods.
    void OnRefreshParameterValue(const char* name) override;

    // The warning colours of the fast and slow loop labels (red below the minimum).
    QColor FastLoopColour() const { return m_fastColour; }
    QColor SlowLoopColour() const { return m_slowColour; }
    // The control scheme picture shown: bitmap 3016, 3017, 3062 or 3063.
    int SchemeBitmap() const { return m_schemeBitmap; }

protected:
    int OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(int id) override;

private:
    int IntValue(const char* name) const;
    double BaseValue(const char* name) const; // 0 for a parameter the setup lacks
    void LoadPictures();
    void ShowSchemePicture();
    void EnableSpeedFeedForward();
    void ApplyWarningColours();
    // Shows labelId and turns colour red while the period is below its minimum.
    void CheckLoopPeriod(double minimum, const char* period, QColor& colour, int labelId);
    void SetDivider(const char* name, double value);
    void FollowSlowLoopPeriod();
    void RescaleLoopCountedValues(double ratio);
    void CorrectI2tCurrent(const char* current, const char* time, double expectedTime);
    void OpenFilters();

    std::unique_ptr<CMC_Setup> m_original; // restored on Cancel
    std::array<QPixmap, 4> m_schemes;      // bitmaps 3016, 3017, 3062, 3063
    int m_schemeBitmap = 0;
    double m_referenceSlowPeriod = 0.0; // [s] the slow period the values are scaled for
    double m_fastPeriodToKeep = 0.0;    // [s]
    double m_slowPeriodToKeep = 0.0;    // [s]
    QColor m_fastColour = Qt::black;
    QColor m_slowColour = Qt::black;
};
