// The register pass as a table of rows, and the change chains of the editor.
#include "ParametersToRegisters.h"
#include "ParametersToRegistersRows.h"

#include "Biquad.h"
#include "CaseInsensitive.h"
#include "Helpers.h"
#include "Limits.h"
#include "RegistersToParameters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

struct Row {
    bool (*condition)(CMC_Setup*); // null: always
    int (*compute)(CMC_Setup*);
};

// The order matters: later rows read registers that earlier rows wrote
// ("PWMPER" before the loop periods, "Resolution" before the position scales).
constexpr Row kPass[] = {
    {nullptr, &Compute_MECRESL},
    {nullptr, &Compute_ENC2THL},
    {nullptr, &Compute_DBTTH},
    {nullptr, &Compute_PWMPER},
    {nullptr, &Compute_AD4OFF},
    {nullptr, &Compute_CVDC},
    {nullptr, &Compute_T2MAXPROT},
    {nullptr, &Compute_UMAXPROT},
    {nullptr, &Compute_UMINPROT},
    {nullptr, &Compute_II2TPROT_D},
    {nullptr, &Compute_SFI2T_D},
    {nullptr, &Compute_I2TINTLIM_D},
    {&HasI2tWarningLimits, &Compute_II2TWARLIM_D},
    {nullptr, &Compute_SATPWM},
    {nullptr, &Compute_MTSTYPE},
    {nullptr, &Compute_AAR_table},
    {nullptr, &Compute_SCR},
    {nullptr, &Compute_OSR},
    {nullptr, &Compute_ASR},
    {nullptr, &Compute_PCR},
    {nullptr, &Compute_ACR},
    {nullptr, &Compute_SFTKPI},
    {nullptr, &Compute_KPI},
    {nullptr, &Compute_SFTKII},
    {nullptr, &Compute_KII},
    {nullptr, &Compute_SATID},
    {nullptr, &Compute_SATIQ},
    {nullptr, &Compute_FILTERQ},
    {&HasGravityCompensation, &Compute_FFL},
    {nullptr, &Compute_SFTKPS},
    {nullptr, &Compute_KPS},
    {nullptr, &Compute_SFTKIS},
    {nullptr, &Compute_KIS},
    {nullptr, &Compute_IMAXS},
    {nullptr, &Compute_SATS},
    {nullptr, &Compute_SFTKPP},
    {nullptr, &Compute_KPP},
    {nullptr, &Compute_SFTKIP},
    {nullptr, &Compute_KIP},
    {nullptr, &Compute_SFTKDP},
    {nullptr, &Compute_KDP},
    {nullptr, &Compute_KDFP},
    {&HasThetaController, &Compute_SFTKPTHT},
    {&HasThetaController, &Compute_KPTHT},
    {&HasThetaController, &Compute_SFTKITHT},
    {&HasThetaController, &Compute_KITHT},
    {nullptr, &Compute_IMAXP},
    {nullptr, &Compute_SATP},
    {nullptr, &Compute_SFTSFFW},
    {nullptr, &Compute_KFFS},
    {nullptr, &Compute_SFTAFFW},
    {nullptr, &Compute_SFTKFF},
    {nullptr, &Compute_KFFA},
    {nullptr, &Compute_IMAXPROT},
    {nullptr, &Compute_TIMAXPROT},
    {nullptr, &Compute_ERRMAX},
    {nullptr, &Compute_TERRMAX},
    {nullptr, &Compute_SERRMAX},
    {nullptr, &Compute_TSERRMAX},
    {nullptr, &Compute_T1MAXPROT},
    {nullptr, &Compute_II2TPROT_M},
    {nullptr, &Compute_SFI2T_M},
    {nullptr, &Compute_I2TINTLIM_M},
    {&HasI2tWarningLimits, &Compute_I2TWARLIM_M},
    {&HasSoftwareLimitSwitches, &Compute_SWNEGLS},
    {&HasSoftwareLimitSwitches, &Compute_SWPOSLS},
    {nullptr, &Compute_CACC},
    {nullptr, &Compute_CSPD},
    {&HasAnalogueInput, &Compute_CADIN},
    {&HasAnalogueInput, &Compute_SFTADIN},
    {&HasAnalogueInput, &Compute_AD5OFF},
    {&HasAnalogueInput, &Compute_FILTER1},
    {&HasAnalogueInput, &Compute_LEVEL_AD5},
    {&HasAnalogueInput, &Compute_E_LEVEL_AD5},
    {nullptr, &Compute_GEAR},
    {nullptr, &Compute_T1ONA},
    {nullptr, &Compute_T1ONB},
    {nullptr, &Compute_REFTST},
    {nullptr, &Compute_RINCTST},
    {nullptr, &Compute_BRAKELIM},
    {nullptr, &Compute_DIGIN_ACTIVE_LEVEL},
    {nullptr, &Compute_UPGRADE},
    {&HasCommunicationSaveOptions, &Compute_LSS_Active},
    {&HasMotorBrake, &Compute_BRAKECFG},
    {&HasMotorBrake, &Compute_BRAKEAPPLYDELAY},
    {&HasMotorBrake, &Compute_BRAKERELEASEDELAY},
    {&HasFreezeControl, &Compute_POSOKLIM_FC},
    {&HasFreezeControl, &Compute_TONPOSOK_FC},
    {&HasTransmissionSign, &Compute_TRANSMISSION},
    {&HasStartMinimumMove, &Compute_ABSTART_MINMOVE},
    {&HasBiquadFilters, &Compute_BiquadRegisters},
};

using Step = int (*)(CMC_Setup*);

struct Chain {
    const char* name;
    bool (*condition)(CMC_Setup*); // null: always
    std::array<Step, 5> steps;     // ends at the first null
};

// A gain goes to its registers and is read back from them, so the editor
// shows at once the value the drive can hold.
constexpr Chain kChains[] = {
    {"Kp_C_scl", nullptr, {&Compute_KPI, &Compute_SFTKPI, &Compute_Kp_C_scl}},
    {"Ki_C_scl", nullptr, {&Compute_KII, &Compute_SFTKII, &Compute_Ki_C_scl}},
    {"Ki_P_scl", nullptr, {&Compute_SFTKIP, &Compute_KIP, &Compute_Ki_P_scl}},
    {"Kp_P_scl", nullptr, {&Compute_SFTKPP, &Compute_KPP, &Compute_Kp_P_scl}},
    {"Kd_P_scl", nullptr, {&Compute_SFTKDP, &Compute_KDP, &Compute_Kd_P_scl}},
    {"Ki_S_scl", nullptr, {&Compute_SFTKIS, &Compute_KIS, &Compute_Ki_S_scl}},
    {"Kp_S_scl", nullptr, {&Compute_SFTKPS, &Compute_KPS, &Compute_Kp_S_scl}},
    {"KFFA_scl", nullptr, {&Compute_SFTKFF, &Compute_KFFA, &Compute_SFTAFFW, &Compute_KFFA_scl}},
    {"KFFS_scl", nullptr, {&Compute_SFTSFFW, &Compute_KFFS, &Compute_KFFS_scl}},
    {"Resolution",
     nullptr,
     {&Compute_MECRESL, &Compute_ENC2THL, &Compute_DBTTH, &Compute_pp, &Compute_Resolution}},
    // The theta controller's current limit follows the nominal currents.
    {"In", &HasThetaController, {&Limit_MAX_CURRENT}},
    {"InPS", &HasThetaController, {&Limit_MAX_CURRENT}},
};

} // namespace

void ComputeRegistersFromParameters(CMC_Setup* setup)
{
    for (const Row& row : kPass)
        if (!row.condition || row.condition(setup))
            row.compute(setup);
}

void ParameterChangeDispatch(CMC_Setup* setup, const char* name)
{
    if (!setup || !name)
        return;
    for (const Chain& chain : kChains) {
        if (!EqualsIgnoringCase(name, chain.name))
            continue;
        if (!chain.condition || chain.condition(setup))
            for (Step step : chain.steps)
                if (step)
                    step(setup);
        return;
    }
}

double AnalogueReferenceSpan(CMC_Setup* setup)
{
    const char* maxName = "CRT_max";
    const char* minName = "CRT_min";
    const std::int64_t mode = TruncRegister(setup->GetParameterValueInBaseUnit("ControlMode"));
    if (mode == 0) {
        maxName = "POS_max";
        minName = "POS_min";
    } else if (mode == 1) {
        maxName = "SPD_max";
        minName = "SPD_min";
    }
    const double span =
        (setup->GetParameterValueInInternalUnit(maxName) - setup->GetParameterValueInInternalUnit(minName)) *
        0.5 * 65536.0 / static_cast<double>(Compute_ADCMaxValue(setup));
    return LoadPositionScale(setup) > 0.0 ? span : -span;
}

double FeedForwardShift(CMC_Setup* setup)
{
    const double gain = setup->GetParameterValueInBaseUnit("KFFA_scl");
    return gain <= 1.0 ? 0.0 : std::ceil(std::log(gain) / std::log(2.0));
}

double TruncSettled(double x, double fullScale)
{
    if (!std::isfinite(x))
        return x;
    const double whole = std::round(x);
    const double magnitude = std::max(std::fabs(x), std::fabs(fullScale));
    const double ulp = std::nextafter(magnitude, std::numeric_limits<double>::infinity()) - magnitude;
    if (std::fabs(x - whole) <= 8.0 * ulp)
        return whole;
    return std::trunc(x);
}

int Compute_BiquadRegisters(CMC_Setup* setup)
{
    return ComputeAllFilters(setup);
}
