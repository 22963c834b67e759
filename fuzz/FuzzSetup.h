// The reference setup of the fuzz targets, read once, with the module's
// scale registered and reported errors dropped (a refusal is an outcome the
// targets expect, not a finding).
#pragma once

#include "Errors.h"
#include "ScaleFactors.h"
#include "Setup.h"
#include "SetupDescription.h"
#include "SetupFile.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The option the scope settings target writes: present, empty, from the start,
// so that restoring it leaves the setup as it was.
inline constexpr const char* kFuzzScopeOption = "Scope";

inline const CMC_Setup& FuzzReferenceSetup()
{
    static const std::unique_ptr<CMC_Setup> reference = [] {
        SetErrorSink([](const std::string&) {});
        RegisterScaleProvider({&ScaleFactorOf, &ScaleOffsetOf});
        SetupLoadResult loaded =
            LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default());
        if (!loaded.setup)
            std::abort();
        loaded.setup->SetOption(kFuzzScopeOption, "");
        return std::move(loaded.setup);
    }();
    return *reference;
}

// What a run may change in a setup, kept so that the next input starts from
// the same setup without the cost of a copy: each quantity's unit type, unit,
// range and internal value, and the options.
class SetupState {
public:
    explicit SetupState(const CMC_Setup& setup) : m_options(setup.GetOptions())
    {
        for (const auto& p : setup.GetParameters())
            m_parameters.push_back({p->GetUnitType(), p->GetUnitName(), p->GetMinInBaseUnit(),
                                    p->GetMaxInBaseUnit(), p->GetValueInInternalUnit()});
        for (const auto& v : setup.GetVariables())
            m_variables.push_back(
                {v->GetUnitType(), v->GetUnitName(), 0.0, 0.0, v->GetValueInInternalUnit()});
    }

    void RestoreInto(CMC_Setup& setup) const
    {
        const auto& parameters = setup.GetParameters();
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            Restore(*parameters[i], m_parameters[i]);
            parameters[i]->SetMinInBaseUnit(m_parameters[i].min);
            parameters[i]->SetMaxInBaseUnit(m_parameters[i].max);
        }
        const auto& variables = setup.GetVariables();
        for (std::size_t i = 0; i < variables.size(); ++i)
            Restore(*variables[i], m_variables[i]);
        for (const auto& [name, text] : m_options)
            setup.SetOption(name, text);
    }

private:
    struct Quantity {
        std::string unitType, unit;
        double min, max, internal;
    };

    static void Restore(CMC_Quantity& q, const Quantity& saved)
    {
        if (saved.unitType != q.GetUnitType())
            q.ChangeUnitType(saved.unitType.c_str());
        if (saved.unit != q.GetUnitName())
            q.ChangeUnit(saved.unit.c_str());
        q.SetValueInInternalUnit(saved.internal);
    }

    std::vector<Quantity> m_parameters;
    std::vector<Quantity> m_variables;
    std::vector<std::pair<std::string, std::string>> m_options;
};

// A copy of the reference setup the targets change and restore after each input.
inline CMC_Setup& FuzzWorkingSetup()
{
    static const std::unique_ptr<CMC_Setup> setup = FuzzReferenceSetup().Clone();
    return *setup;
}

// Puts the working setup back as it was before the input, whatever happens.
class RestoredAfterInput {
public:
    RestoredAfterInput() : m_setup(FuzzWorkingSetup()) {}
    ~RestoredAfterInput()
    {
        static const SetupState state(FuzzReferenceSetup());
        state.RestoreInto(m_setup);
#ifdef VELMARO_FUZZ_REPLAY
        // The replay checks what the fuzzer relies on: the next input starts
        // from the reference setup exactly.
        if (SerializeSetup(m_setup) != SerializeSetup(FuzzReferenceSetup()))
            __builtin_trap();
#endif
    }
    RestoredAfterInput(const RestoredAfterInput&) = delete;
    RestoredAfterInput& operator=(const RestoredAfterInput&) = delete;
    CMC_Setup& Setup()
    {
        return m_setup;
    }

private:
    CMC_Setup& m_setup;
};
