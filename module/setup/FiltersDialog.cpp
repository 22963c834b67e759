#include "FiltersDialog.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "HostServices.h"

// The plot library's header still spells Qt's keyword macros, which this
// build turns off; they are lent to it for the include only.
#define signals Q_SIGNALS
#define foreach(variable, container) for (variable : container)
#include <qcustomplot.h>
#undef foreach
#undef signals

#include <QComboBox>
#include <QLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>

namespace {

constexpr int kTemplate = 295;

// The controls of one filter's group.
struct FilterControls {
    int group;
    int onOff;
    int locationLabel;
    int location;
    int typeLabel;
    int type;
    int secondRowLabel; // "Q" or "Lag Frequency"
    int q;
    int firstRowLabel; // "Frequency" or "Lead Frequency"
    int f1;
    int f1Unit;
    int f2; // stands where the Q edit is
    int f2Unit;
};

constexpr FilterControls kFilters[3] = {
    {3484, 3485, 3503, 3502, 3486, 3487, 3488, 3489, 3490, 3491, 3508, 3504, 3510},
    {3492, 3493, 3501, 3500, 3494, 3495, 3496, 3497, 3498, 3499, 3509, 3505, 3511},
    {3517, 3518, 3527, 3526, 3520, 3519, 3521, 3523, 3522, 3524, 3525, 3506, 3512},
};

// Curve colours of filters 1 to 3, from the host's palette.
constexpr int kFilterColours[3] = {2, 5, 3};

constexpr int kPlotPoints = 400;
constexpr double kPlotDecades = 3.0;       // from the Nyquist frequency down
constexpr double kLowestMagnitude = -80.0; // [dB] a notch's zero is drawn here

std::string Numbered(const char* base, int n)
{
    return base + std::to_string(n);
}

int IntegerPart(const CMC_Setup* setup, const std::string& name)
{
    const CMC_Parameter* p = FindQuietly(setup, name.c_str());
    return p ? static_cast<int>(std::trunc(p->GetValueInBaseUnit())) : 0;
}

double BaseValue(const CMC_Setup* setup, const std::string& name)
{
    const CMC_Parameter* p = FindQuietly(setup, name.c_str());
    return p ? p->GetValueInBaseUnit() : 0.0;
}

bool IsLeadLag(int type)
{
    return type == BQ_LEAD_LAG_1 || type == BQ_LEAD_LAG_2;
}

// Filter n as the register pass designs it for the drive: the quantised
// coefficients at the slow loop period ts [s].
BiquadCoefficients DesignedFilter(const CMC_Setup* setup, int n, double ts)
{
    const int type = IntegerPart(setup, Numbered("BQFilterType", n));
    double q = BaseValue(setup, Numbered("BQFilterQ", n));
    if (IsLeadLag(type))
        q = BaseValue(setup, Numbered("BQFilterF2", n)) * ts;
    CBiquadDesign design;
    design.Design(type, BaseValue(setup, Numbered("BQFilterF1", n)) * ts, q, 0.0);
    design.Quantise();
    design.CorrectZeroFrequencyGain(type);
    return CoefficientsFromRegisters(design.Coefficients(), design.ScaleFactor());
}

} // namespace

CFiltersDialog::CFiltersDialog(CMC_Setup* setup, int locked, QWidget* parent)
    : CMySetupDlg(setup, kTemplate, 1, {}, parent), m_locked(locked)
{
    // Locations, on/off checks, types, Q values, first and second frequencies.
    for (int n = 1; n <= 3; ++n)
        AddSwitchParameterControls(Numbered("BQFilterLocation", n).c_str(), kFilters[n - 1].location);
    for (int n = 1; n <= 3; ++n)
        AddCheckParameterControls(Numbered("BQFilter", n).c_str(), kFilters[n - 1].onOff);
    for (int n = 1; n <= 3; ++n)
        AddSwitchParameterControls(Numbered("BQFilterType", n).c_str(), kFilters[n - 1].type);
    for (int n = 1; n <= 3; ++n)
        AddParameterControls(Numbered("BQFilterQ", n).c_str(), kFilters[n - 1].q, 0);
    for (int n = 1; n <= 3; ++n)
        AddParameterControls(Numbered("BQFilterF1", n).c_str(), kFilters[n - 1].f1, kFilters[n - 1].f1Unit);
    for (int n = 1; n <= 3; ++n)
        AddParameterControls(Numbered("BQFilterF2", n).c_str(), kFilters[n - 1].f2, kFilters[n - 1].f2Unit);
    CreatePlot();
}

CFiltersDialog::~CFiltersDialog() = default;

int CFiltersDialog::OnInitDialog()
{
    m_original = GetSetup()->Clone();
    CMySetupDlg::OnInitDialog();
    FillCombos();
    for (int n = 1; n <= 3; ++n) {
        RefreshParameterControls(Numbered("BQFilterType", n).c_str());
        RefreshParameterControls(Numbered("BQFilterLocation", n).c_str());
    }
    RefreshAllParameters(0);
    UpdateData(false);
    return 1;
}

void CFiltersDialog::FillCombos()
{
    std::vector<std::string> names;
    std::vector<int> types;
    m_design.GetAvailableTypes(names, types);
    for (const FilterControls& c : kFilters) {
        if (auto* combo = Item<QComboBox>(c.type)) {
            combo->clear();
            for (std::size_t i = 0; i < names.size(); ++i)
                combo->addItem(QString::fromStdString(names[i]), types[i]);
        }
        if (auto* combo = Item<QComboBox>(c.location)) {
            combo->clear();
            for (int location :
                 {BQ_POSITION_CONTROLLER_OUTPUT, BQ_SPEED_CONTROLLER_OUTPUT, BQ_SPEED_FEEDBACK})
                combo->addItem(QString::fromUtf8(BiquadLocationName(location)), location);
        }
    }
}

void CFiltersDialog::DoDataExchange(bool saveAndValidate)
{
    CMySetupDlg::DoDataExchange(saveAndValidate);
    if (saveAndValidate)
        return;
    ShowFilterStates();
    UpdatePlot();
}

void CFiltersDialog::ShowFilterStates()
{
    const CMC_Setup* setup = GetSetup();
    for (int n = 1; n <= 3; ++n) {
        const FilterControls& c = kFilters[n - 1];
        RefreshParameterControls(Numbered("BQFilterQ", n).c_str());
        const bool on = IntegerPart(setup, Numbered("BQFilter", n)) != 0;
        const int type = IntegerPart(setup, Numbered("BQFilterType", n));
        const bool leadLag = IsLeadLag(type);
        for (int id : {c.group, c.typeLabel, c.type, c.firstRowLabel, c.f1, c.f1Unit, c.f2, c.f2Unit})
            EnableChild(id, on);
        EnableChild(c.locationLabel, on && !m_locked);
        EnableChild(c.location, on && !m_locked);
        EnableChild(c.secondRowLabel, on && type != 0);
        EnableChild(c.q, on && type != 0, type == 0);
        EnableChild(c.onOff, !m_locked);
        SetChildText(c.onOff, on ? QStringLiteral("On") : QStringLiteral("Off"));
        SetChildText(c.secondRowLabel, leadLag ? QStringLiteral("Lag Frequency") : QStringLiteral("Q"));
        SetChildText(c.firstRowLabel,
                     leadLag ? QStringLiteral("Lead Frequency") : QStringLiteral("Frequency"));
        ShowChild(c.f2, leadLag);
        ShowChild(c.f2Unit, leadLag);
        ShowChild(c.q, !leadLag);
    }
}

bool CFiltersDialog::OnCommand(int id)
{
    for (const FilterControls& c : kFilters)
        if (id == c.onOff) {
            UpdateData(false);
            return true;
        }
    return CMySetupDlg::OnCommand(id);
}

void CFiltersDialog::OnSelChange(int id)
{
    for (const FilterControls& c : kFilters)
        if (id == c.type || id == c.location) {
            UpdateData(false);
            return;
        }
    CMySetupDlg::OnSelChange(id);
}

void CFiltersDialog::OnRefreshParameterValue(const char* name)
{
    CMySetupDlg::OnRefreshParameterValue(name);
    // A new frequency or Q changes the response but no control state.
    const std::string_view changed(name);
    if (changed.size() > 8 && EqualsIgnoringCase(changed.substr(0, 8), "BQFilter"))
        UpdatePlot();
}

void CFiltersDialog::OnCancel()
{
    if (m_original)
        GetSetup()->AssignFrom(*m_original);
    EndDialog(IDCANCEL);
}

void CFiltersDialog::CreatePlot()
{
    auto* area = Content() ? Content()->findChild<QWidget*>(QStringLiteral("responsePlot")) : nullptr;
    if (!area)
        return;
    if (!area->layout()) {
        auto* layout = new QVBoxLayout(area);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    m_plot = new QCustomPlot(area);
    m_plot->setObjectName(QStringLiteral("responsePlotGraph"));
    m_plot->setMinimumSize(440, 400);
    area->layout()->addWidget(m_plot);

    QCPAxisRect* magnitude = m_plot->axisRect();
    auto* phase = new QCPAxisRect(m_plot);
    m_plot->plotLayout()->addElement(1, 0, phase);
    m_plot->plotLayout()->setRowStretchFactor(0, 3);
    m_plot->plotLayout()->setRowStretchFactor(1, 2);
    auto* margins = new QCPMarginGroup(m_plot);
    magnitude->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    phase->setMarginGroup(QCP::msLeft | QCP::msRight, margins);

    QSharedPointer<QCPAxisTickerLog> logTicker(new QCPAxisTickerLog);
    for (QCPAxisRect* rect : {magnitude, phase}) {
        rect->axis(QCPAxis::atBottom)->setScaleType(QCPAxis::stLogarithmic);
        rect->axis(QCPAxis::atBottom)->setTicker(logTicker);
        rect->axis(QCPAxis::atBottom)->setNumberFormat(QStringLiteral("eb"));
        rect->axis(QCPAxis::atBottom)->setNumberPrecision(0);
        rect->axis(QCPAxis::atBottom)->grid()->setSubGridVisible(true);
    }
    magnitude->axis(QCPAxis::atLeft)->setLabel(QStringLiteral("Magnitude [dB]"));
    phase->axis(QCPAxis::atLeft)->setLabel(QStringLiteral("Phase [deg]"));
    phase->axis(QCPAxis::atBottom)->setLabel(QStringLiteral("Frequency [Hz]"));
    QSharedPointer<QCPAxisTickerFixed> phaseTicker(new QCPAxisTickerFixed);
    phaseTicker->setTickStep(90.0);
    phase->axis(QCPAxis::atLeft)->setTicker(phaseTicker);
    phase->axis(QCPAxis::atLeft)->setRange(-180.0, 180.0);

    m_plot->plotLayout()->insertRow(0);
    m_title = new QCPTextElement(m_plot, QString(), m_plot->font());
    m_plot->plotLayout()->addElement(0, 0, m_title);

    m_plot->legend->setVisible(true);
    m_plot->legend->setFont(m_plot->font());
    magnitude->insetLayout()->addElement(m_plot->legend, Qt::AlignLeft | Qt::AlignBottom);
}

void CFiltersDialog::UpdatePlot()
{
    m_responses.clear();
    const CMC_Setup* setup = GetSetup();
    const double ts = BaseValue(setup, "Ts_S"); // [s]
    if (ts > 0.0) {
        const double nyquist = 0.5 / ts; // [Hz]
        const double lowest = nyquist * std::pow(10.0, -kPlotDecades);
        for (int n = 1; n <= 3; ++n) {
            if (IntegerPart(setup, Numbered("BQFilter", n)) == 0)
                continue;
            const BiquadCoefficients c = DesignedFilter(setup, n, ts);
            Response response;
            response.filter = n;
            for (int i = 0; i < kPlotPoints; ++i) {
                // Up to just below the Nyquist frequency, evenly on a log scale.
                const double f = lowest * std::pow(10.0, kPlotDecades * i / kPlotPoints);
                const std::complex<double> h = BiquadResponse(c, f * ts);
                response.frequency.push_back(f);
                response.magnitude.push_back(std::max(kLowestMagnitude, 20.0 * std::log10(std::abs(h))));
                response.phase.push_back(std::arg(h) * 180.0 / std::numbers::pi);
            }
            m_responses.push_back(std::move(response));
        }
    }
    if (!m_plot)
        return;

    m_plot->clearGraphs();
    QCPAxisRect* magnitude = m_plot->axisRect(0);
    QCPAxisRect* phase = m_plot->axisRect(1);
    double top = 5.0;
    double bottom = -20.0;
    for (const Response& r : m_responses) {
        const QColor colour = RGB16(kFilterColours[r.filter - 1]);
        const int type = IntegerPart(setup, Numbered("BQFilterType", r.filter));
        const QString name =
            QStringLiteral("Filter %1: %2").arg(r.filter).arg(QString::fromUtf8(m_design.TypeName(type)));
        const QVector<double> f(r.frequency.begin(), r.frequency.end());

        QCPGraph* gain =
            m_plot->addGraph(magnitude->axis(QCPAxis::atBottom), magnitude->axis(QCPAxis::atLeft));
        gain->setData(f, QVector<double>(r.magnitude.begin(), r.magnitude.end()), true);
        gain->setPen(QPen(colour, 2));
        gain->setName(name);

        QCPGraph* angle = m_plot->addGraph(phase->axis(QCPAxis::atBottom), phase->axis(QCPAxis::atLeft));
        angle->setData(f, QVector<double>(r.phase.begin(), r.phase.end()), true);
        angle->setPen(QPen(colour, 2));
        angle->removeFromLegend();

        top = std::max(top, *std::max_element(r.magnitude.begin(), r.magnitude.end()) + 3.0);
        bottom = std::min(bottom, *std::min_element(r.magnitude.begin(), r.magnitude.end()) - 3.0);
    }
    m_plot->legend->setVisible(!m_responses.empty());
    magnitude->axis(QCPAxis::atLeft)->setRange(std::max(bottom, kLowestMagnitude - 3.0), top);
    if (ts > 0.0)
        for (QCPAxisRect* rect : {magnitude, phase})
            rect->axis(QCPAxis::atBottom)->setRange(0.5 / ts * std::pow(10.0, -kPlotDecades), 0.5 / ts);
    m_title->setText(m_responses.empty() ? QStringLiteral("No filter is on")
                                         : QStringLiteral("Filters that are on, as the drive runs them"));
    m_plot->replot();
}
