// Biquad filter design: responses against the analog prototypes, the
// fixed-point registers, the zero-frequency gain and the packing into slots.
#include "EngineTestSetup.h"

#include "Biquad.h"
#include "ChipLink.h"
#include "ParametersToRegisters.h"

#include <cmath>
#include <complex>
#include <functional>

namespace {

using Complex = std::complex<double>;
constexpr double kPi = 3.141592653589793;
constexpr double kTs = 0.0005; // [s]

// The prototype each type is made from, on the analog frequency axis that the
// prewarped bilinear transform maps f to: t = tan(pi f Ts).
Complex Prototype(int type, double f, double f1, double q, double f2)
{
    const double t = std::tan(kPi * f * kTs);
    const Complex jx(0.0, t / std::tan(kPi * f1 * kTs));
    const Complex den = 1.0 + jx / q + jx * jx;
    switch (type) {
    case BQ_LOW_PASS_1:
        return 1.0 / (1.0 + jx);
    case BQ_LOW_PASS_2:
        return 1.0 / den;
    case BQ_NOTCH:
        return (1.0 + jx * jx) / den;
    case BQ_HIGH_PASS:
        return jx * jx / den;
    case BQ_BAND_PASS:
        return jx / q / den;
    default: {
        const Complex leadLag = (1.0 + jx) / (1.0 + Complex(0.0, t / std::tan(kPi * f2 * kTs)));
        return type == BQ_LEAD_LAG_1 ? leadLag : leadLag * leadLag;
    }
    }
}

bool FitsInt32(double reg)
{
    return reg >= -2147483648.0 && reg <= 2147483647.0;
}

// b0 + b1 + b2 = 1 + a1 + a2 is a gain of 1 at zero frequency.
double DcSum(const BiquadCoefficients& r)
{
    return r.b0 + r.b1 + r.b2 - r.a1 - r.a2;
}

struct Quantised {
    BiquadCoefficients designed;
    BiquadCoefficients registers; // before the zero-frequency correction
    BiquadCoefficients corrected;
    double sf;
};

Quantised Make(int type, double f1, double q, double f2 = 0.0)
{
    CBiquadDesign design;
    const bool leadLag = type == BQ_LEAD_LAG_1 || type == BQ_LEAD_LAG_2;
    design.Design(type, f1 * kTs, leadLag ? f2 * kTs : q, 0.0);
    Quantised out{design.Coefficients(), {}, {}, 0.0};
    design.Quantise();
    out.registers = design.Coefficients();
    design.CorrectZeroFrequencyGain(type);
    out.corrected = design.Coefficients();
    out.sf = design.ScaleFactor();
    return out;
}

class BiquadDesign : public EngineTest {};

TEST_F(BiquadDesign, OffersSevenTypesInTypeOrder)
{
    CBiquadDesign design;
    std::vector<std::string> names = {"stale"};
    std::vector<int> types = {42};
    design.GetAvailableTypes(names, types);
    EXPECT_EQ(types, (std::vector<int>{0, 1, 2, 3, 4, 8, 9}));
    EXPECT_EQ(names.front(), "Low Pass 1st order");
    EXPECT_EQ(names.back(), "Lead-lag 2nd order");
    EXPECT_STREQ(design.TypeName(5), "Peak");
    EXPECT_FALSE(design.IsAvailable(6));
}

TEST_F(BiquadDesign, EachTypeFollowsItsPrototypeBeforeAndAfterQuantisation)
{
    const double f1 = 150.0, q = 0.9, f2 = 450.0;
    for (int type : {0, 1, 2, 3, 4, 8, 9}) {
        const Quantised filter = Make(type, f1, q, f2);
        const BiquadCoefficients drive = CoefficientsFromRegisters(filter.corrected, filter.sf);
        for (double f : {10.0, 80.0, 150.0, 400.0, 900.0}) {
            const Complex expected = Prototype(type, f, f1, q, f2);
            EXPECT_LT(std::abs(BiquadResponse(filter.designed, f * kTs) - expected),
                      1e-9 * (1 + std::abs(expected)))
                << "type " << type << " at " << f << " Hz";
            EXPECT_LT(std::abs(BiquadResponse(drive, f * kTs) - expected), 1e-6 * (1 + std::abs(expected)))
                << "type " << type << " at " << f << " Hz, quantised";
        }
    }
    // Peak and shelves at 0 dB pass everything unchanged.
    for (int type : {5, 6, 7})
        EXPECT_NEAR(std::abs(BiquadResponse(Make(type, f1, q).designed, 300 * kTs)), 1.0, 1e-12) << type;
}

TEST_F(BiquadDesign, WorkedExamplesAtOneMillisecond)
{
    auto at1ms = [](int type, double f1, double q, double f2 = 0) {
        CBiquadDesign design;
        const bool leadLag = type >= 8;
        design.Design(type, f1 * 0.001, leadLag ? f2 * 0.001 : q, 0.0);
        const BiquadCoefficients designed = design.Coefficients();
        design.Quantise();
        const BiquadCoefficients before = design.Coefficients();
        design.CorrectZeroFrequencyGain(type);
        return std::make_tuple(designed, before, design.Coefficients(), design.ScaleFactor());
    };
    { // first-order low pass: one short of unit gain, b0 goes up by one
        auto [designed, before, after, sf] = at1ms(0, 100, 0);
        EXPECT_EQ(sf, 1);
        EXPECT_EQ(before.b0, before.b1);
        EXPECT_EQ(DcSum(before), 2147483647.0);
        EXPECT_EQ(after.b0, before.b0 + 1);
    }
    { // second-order low pass: one above, b0 goes down by one
        auto [designed, before, after, sf] = at1ms(1, 100, 1 / std::sqrt(2.0));
        EXPECT_EQ(sf, 2);
        EXPECT_EQ(before.b0, before.b2);
        EXPECT_NEAR(before.b1, 2 * before.b0, 1);
        EXPECT_EQ(DcSum(before) * 2, 2147483648.0 + 2);
        EXPECT_EQ(after.b0, before.b0 - 1);
    }
    { // notch: one above
        auto [designed, before, after, sf] = at1ms(2, 200, 2);
        EXPECT_EQ(sf, 1);
        EXPECT_EQ(before.b0, before.b2);
        EXPECT_EQ(before.b1, before.a1);
        EXPECT_EQ(after.b0, before.b0 - 1);
    }
    { // second-order lead-lag: largest coefficient about 13.76
        auto [designed, before, after, sf] = at1ms(9, 50, 0, 200);
        EXPECT_NEAR(-designed.b1, 13.76, 0.01);
        EXPECT_LT(designed.b0, -designed.b1);
        EXPECT_EQ(sf, 16);
    }
    { // a largest magnitude of exactly 1 takes SF 2
        auto [designed, before, after, sf] = at1ms(9, 120, 0, 120);
        EXPECT_EQ(designed.b0, 1.0);
        EXPECT_EQ(sf, 2);
    }
}

TEST_F(BiquadDesign, ZeroFrequencyGainIsOneExceptForHighAndBandPass)
{
    for (int type : {0, 1, 2, 3, 4, 8, 9}) {
        for (double f1 : {3.0, 47.0, 333.0, 777.0}) {
            const Quantised filter = Make(type, f1, 1.3, f1 * 2.7);
            const BiquadCoefficients& r = filter.corrected;
            if (type == BQ_HIGH_PASS || type == BQ_BAND_PASS) {
                // The numerator's sum stays at the rounding of its coefficients.
                EXPECT_LE(std::fabs(r.b0 + r.b1 + r.b2), 2) << type << " at " << f1;
                EXPECT_EQ(r.b0, filter.registers.b0);
            } else {
                EXPECT_EQ(DcSum(r) * filter.sf, 2147483648.0) << type << " at " << f1;
            }
        }
    }
}

// Every register fits a signed 32-bit word, with the smallest SF that allows it.
TEST_F(BiquadDesign, RegistersFitThirtyTwoBitsOverASweepOfDesigns)
{
    int designs = 0;
    double largestRegister = 0;
    for (int type = 0; type <= 9; ++type) {
        for (double f1 = 0.5; f1 < 0.499 / kTs; f1 *= 1.17) {
            for (double q : {0.05, 0.5, 0.7071067811865476, 1.0, 3.0, 40.0}) {
                const double f2 = std::min(f1 * q * 2, 0.499 / kTs);
                const Quantised filter = Make(type, f1, q, f2);
                const BiquadCoefficients& r = filter.corrected;
                for (double reg : {r.b0, r.b1, r.b2, r.a1, r.a2}) {
                    ASSERT_TRUE(FitsInt32(reg)) << type << ' ' << f1 << ' ' << q;
                    largestRegister = std::max(largestRegister, std::fabs(reg));
                }
                const BiquadCoefficients& d = filter.designed;
                const double largest = std::max(
                    {std::fabs(d.b0), std::fabs(d.b1), std::fabs(d.b2), std::fabs(d.a1), std::fabs(d.a2)});
                if (filter.sf > 1 && largest != 1.0) { // half the SF would not have held the largest
                    EXPECT_GT(largest * 2 / filter.sf, 1 - 1e-9) << type << ' ' << f1 << ' ' << q;
                }
                ++designs;
            }
        }
    }
    EXPECT_GT(designs, 2000);
    EXPECT_LT(largestRegister, 2147483648.0);
    RecordProperty("largestRegister", std::to_string(largestRegister));
}

TEST_F(BiquadDesign, CoefficientJustBelowOneTakesTheNextScaleFactor)
{
    // A lag just below the lead: b0 = 1 - 1e-13, which rounds to 2^31 at SF 1.
    const Quantised filter = Make(BQ_LEAD_LAG_1, 100.0, 0.0, 100.0 * (1 - 1e-12));
    ASSERT_LT(filter.designed.b0, 1.0);
    ASSERT_EQ(std::floor(filter.designed.b0 * 2147483648.0 + 0.5), 2147483648.0);
    EXPECT_EQ(filter.sf, 2);
    EXPECT_TRUE(FitsInt32(filter.corrected.b0));
    EXPECT_EQ(DcSum(filter.corrected) * 2, 2147483648.0);
}

class BiquadSlots : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        setup = Reference();
    }
    void Filter(int n, bool on, int location, int type = BQ_LOW_PASS_2)
    {
        const std::string k = std::to_string(n);
        setup->SetParameterValueInBaseUnit("BQFilter" + k, on);
        setup->SetParameterValueInBaseUnit("BQFilterLocation" + k, location);
        setup->SetParameterValueInBaseUnit("BQFilterType" + k, type);
    }
    double Slot(int slot, const char* reg) const
    {
        return Value(*setup, ("BQ" + std::to_string(slot) + reg).c_str());
    }

    std::unique_ptr<CMC_Setup> setup;
};

TEST_F(BiquadSlots, FiltersFillSlotsByLocationThenNumber)
{
    Filter(1, true, BQ_SPEED_FEEDBACK, BQ_NOTCH);
    Filter(2, true, BQ_POSITION_CONTROLLER_OUTPUT, BQ_LOW_PASS_1);
    Filter(3, true, BQ_SPEED_FEEDBACK, BQ_LEAD_LAG_2);
    ComputeRegistersFromParameters(setup.get());
    EXPECT_EQ(Value(*setup, "SPDREF_BQ_INI"), 1);
    EXPECT_EQ(Value(*setup, "IQREF_BQ_INI"), 0);
    EXPECT_EQ(Value(*setup, "ASPD_BQ_INI"), 2);
    EXPECT_EQ(Slot(1, "B2"), 0);             // first-order low pass: filter 2
    EXPECT_EQ(Slot(2, "B1"), Slot(2, "A1")); // notch: filter 1
    EXPECT_GT(Slot(3, "SF"), 1);             // lead-lag: filter 3
}

TEST_F(BiquadSlots, FiltersOffOrNowhereLeaveEverySlotZero)
{
    for (int slot = 1; slot <= 3; ++slot)
        setup->SetParameterValueInBaseUnit("BQ" + std::to_string(slot) + "A1", 77);
    Filter(1, false, BQ_SPEED_CONTROLLER_OUTPUT);
    Filter(2, true, 3);
    Filter(3, false, BQ_SPEED_FEEDBACK);
    ComputeAllFilters(setup.get());
    for (int slot = 1; slot <= 3; ++slot)
        for (const char* reg : {"B0", "B1", "B2", "A1", "A2", "SF"})
            EXPECT_EQ(Slot(slot, reg), 0) << slot << reg;
    for (const char* count : {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"})
        EXPECT_EQ(Value(*setup, count), 0);
}

TEST_F(BiquadSlots, UnknownTypePassesTheSignalUnchanged)
{
    Filter(1, true, BQ_SPEED_CONTROLLER_OUTPUT, 12);
    ComputeAllFilters(setup.get());
    EXPECT_EQ(Slot(1, "B0"), 1073741824);
    EXPECT_EQ(Slot(1, "SF"), 2);
    EXPECT_EQ(Slot(1, "A1"), 0);
}

// A drive that records what it is sent and can be told to refuse.
class RecordingLink : public CMC_ChipLink {
public:
    bool ReadVariable(const std::string&, double&) override { return false; }
    bool WriteVariable(const std::string&, double) override { return false; }
    bool WriteParameter(const std::string& name, double value) override
    {
        written.emplace_back(name, value);
        return !refuse;
    }
    std::string LastError() const override { return "link down"; }

    std::vector<std::pair<std::string, double>> written;
    bool refuse = false;
};

TEST_F(BiquadSlots, WritesCountsThenSlotsToTheDrive)
{
    Filter(2, true, BQ_SPEED_CONTROLLER_OUTPUT);
    ComputeAllFilters(setup.get());
    auto link = std::make_shared<RecordingLink>();
    setup->SetChipLink(link);
    EXPECT_EQ(WriteFiltersToDrive(setup.get()), 1);
    ASSERT_EQ(link->written.size(), 21u);
    EXPECT_EQ(link->written[1], std::make_pair(std::string("IQREF_BQ_INI"), 1.0));
    EXPECT_EQ(link->written[3].first, "BQ1B0");
    EXPECT_EQ(link->written[3].second, Slot(1, "B0"));
    EXPECT_EQ(link->written[20].first, "BQ3SF");

    link->written.clear();
    link->refuse = true;
    EXPECT_EQ(WriteFiltersToDrive(setup.get()), 0);
    EXPECT_EQ(link->written.size(), 21u);
    EXPECT_STREQ(GetLastErrorText(), "link down");
    EXPECT_TRUE(errors.empty());
}

} // namespace
