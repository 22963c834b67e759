// The registers as the loops, the protections and the sensors use them: read
// once whenever the setup changes, with the loop periods and the power stage's
// hardware.
#include "Firmware.h"

#include "Plant.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// The i2t integrators' scales: the drive's in (current / 32767)^2 x 2^26, the
// motor's in current^2 / 16, each over the time its "SFI2T" register names
// (Ts x 2^26 / SFI2T).
constexpr double kDriveI2tScale = 1.0 / (32767.0 * 32767.0);
constexpr double kMotorI2tScale = 1.0 / (67108864.0 * 16.0);

} // namespace

void Firmware::Configure()
{
    auto reg = [this](const char* name, double fallback) {
        auto it = m_registers.find(name);
        return it == m_registers.end() ? fallback : it->second;
    };
    auto whole = [](double v) { return static_cast<std::int64_t>(std::llround(v)); };
    auto gain = [&](const char* mantissa, const char* shift) {
        FixedGain g;
        g.mantissa = whole(reg(mantissa, 0.0));
        g.shift = static_cast<int>(std::clamp<std::int64_t>(whole(reg(shift, 0.0)), 0, 30));
        return g;
    };

    const double dsp = reg("DSP_freq", 40e6);
    const double pwmper = std::max(1.0, reg("PWMPER", 1000.0));
    m_clper = static_cast<int>(std::clamp<std::int64_t>(whole(reg("CLPER", 1.0)), 1, 255));
    m_slper = static_cast<int>(std::clamp<std::int64_t>(whole(reg("SLPER", 10.0)), 1, 255));
    m_pwmPeriod = 2.0 * pwmper / dsp;
    m_fastPeriod = m_clper * m_pwmPeriod;
    m_slowPeriod = m_slper * m_pwmPeriod;

    // The converter and the sensors are the board's, whatever the setup says of them.
    DriveHardware hw;
    static_cast<DriveBoard&>(hw) = m_plant.Options().board;
    hw.pwmPeriod = m_pwmPeriod;
    // Dead time from the dead-band register: the larger byte in counter steps.
    const auto dbt =
        static_cast<std::uint32_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(reg("DBT", 0.0))));
    const double step = HasRegister("DBTPC") ? reg("DBTPC", 50.0) / 100.0 : 0.5;
    hw.deadTime = dbt == 0 ? 1e-6 : std::max(dbt & 0xFFu, (dbt >> 8) & 0xFFu) * step / dsp;
    m_plant.ConfigureHardware(hw);
    m_adcMax = hw.AdcMax();

    Params& p = m_p;
    p.kpI = gain("KPI", "SFTKPI");
    p.kiI = gain("KII", "SFTKII");
    p.kpS = gain("KPS", "SFTKPS");
    p.kiS = gain("KIS", "SFTKIS");
    p.kpP = gain("KPP", "SFTKPP");
    p.kiP = gain("KIP", "SFTKIP");
    p.kdP = gain("KDP", "SFTKDP");
    p.kffS = gain("KFFS", "SFTSFFW");
    p.kffA.mantissa = whole(reg("KFFA", 0.0));
    p.kffA.shift =
        static_cast<int>(std::clamp<std::int64_t>(whole(reg("SFTAFFW", 0.0) + reg("SFTKFF", 0.0)), 0, 30));
    p.filterQ = std::clamp(reg("FILTERQ", 32767.0), 0.0, 32767.0) / 32767.0;
    p.speedOutLimit = std::max(0.0, 32767.0 - reg("SATS", 0.0));
    p.speedIntLimit = std::max(0.0, 32767.0 - reg("IMAXS", 0.0));
    p.posOutLimit = std::max(0.0, 32767.0 - reg("SATP", 0.0));
    p.posIntLimit = std::max(0.0, 32767.0 - reg("IMAXP", 0.0));
    p.derivativeFilter = std::clamp(reg("KDFP", 32767.0), 0.0, 32767.0) / 32768.0;
    const auto acr = static_cast<std::uint32_t>(std::max(0.0, reg("ACR", 1796.0)));
    p.cascade = (acr >> 9) & 1u;
    p.kffSOnCurrent = (acr >> 14) & 1u;
    p.loadCurrent = reg("FFL", 0.0);
    const auto pcr = static_cast<std::uint32_t>(std::max(0.0, reg("PCR", 1.0)));
    p.overCurrentOn = pcr & 1u;
    p.overCurrentLevel = reg("IMAXPROT", 32767.0);
    p.overCurrentTime = static_cast<int>(std::max<std::int64_t>(1, whole(reg("TIMAXPROT", 100.0))));
    p.positionErrorBand = reg("ERRMAX", 32767.0);
    p.positionErrorTime = static_cast<int>(whole(reg("TERRMAX", 65535.0)));
    p.speedErrorBand = reg("SERRMAX", 32767.0);
    p.speedErrorTime = static_cast<int>(whole(reg("TSERRMAX", 65535.0)));
    p.overVoltageOn = (pcr >> 4) & 1u;
    p.overVoltageLevel = reg("UMAXPROT", 65535.0);
    p.underVoltageOn = (pcr >> 5) & 1u;
    p.underVoltageLevel = reg("UMINPROT", 0.0);
    p.driveOverTempOn = (pcr >> 3) & 1u;
    p.driveTempLevel = reg("T2MAXPROT", 65535.0);
    p.motorOverTempOn = (pcr >> 2) & 1u;
    p.motorTempLevel = reg("T1MAXPROT", 65535.0);
    const auto i2t = [&](bool on, const char* nominal, const char* scale, const char* limit, double unit) {
        I2tSetting setting;
        setting.on = on;
        setting.nominalSquared = reg(nominal, 0.0) * reg(nominal, 0.0);
        setting.gain = std::max(0.0, reg(scale, 0.0)) * unit;
        setting.limit = reg(limit, 0.0);
        return setting;
    };
    p.driveI2t = i2t((pcr >> 7) & 1u, "II2TPROT_D", "SFI2T_D", "I2TINTLIM_D", kDriveI2tScale);
    p.motorI2t = i2t((pcr >> 1) & 1u, "II2TPROT_M", "SFI2T_M", "I2TINTLIM_M", kMotorI2tScale);
    const char* gains[3] = {"HALLAGAIN", "HALLBGAIN", "HALLCGAIN"};
    const char* offsets[3] = {"HALLAOFF", "HALLBOFF", "HALLCOFF"};
    for (int k = 0; k < 3; ++k) {
        p.hallGain[k] = reg(gains[k], 16384.0);
        p.hallOffset[k] = reg(offsets[k], 32736.0);
    }
    p.alpha = reg("ALPHA", 0.0);
    p.zeroOffset = reg("ZAOFF", 0.0);
    p.dbtth = static_cast<int>(std::clamp<std::int64_t>(whole(reg("DBTTH", 6.0)), 0, 16));
    std::array<SlotCoefficients, 3> slots;
    for (int k = 0; k < 3; ++k) {
        const std::string prefix = "BQ" + std::to_string(k + 1);
        const std::array<double, 6> r = {
            reg((prefix + "B0").c_str(), 0.0), reg((prefix + "B1").c_str(), 0.0),
            reg((prefix + "B2").c_str(), 0.0), reg((prefix + "A1").c_str(), 0.0),
            reg((prefix + "A2").c_str(), 0.0), reg((prefix + "SF").c_str(), 0.0)};
        slots[static_cast<std::size_t>(k)] = SlotCoefficients::FromRegisters(r);
    }
    const std::array<int, 3> counts = {static_cast<int>(whole(reg("SPDREF_BQ_INI", 0.0))),
                                       static_cast<int>(whole(reg("IQREF_BQ_INI", 0.0))),
                                       static_cast<int>(whole(reg("ASPD_BQ_INI", 0.0)))};
    m_biquads.Configure(slots, counts);
}
