// The drive setup: parameters, drive variables, named text options and the
// drive's identity. Values are held in the drive's internal units.
#pragma once

#include "CaseInsensitive.h"
#include "ChipLink.h"
#include "Parameter.h"
#include "SetupDescription.h"
#include "Variable.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CMC_Setup {
public:
    explicit CMC_Setup(std::shared_ptr<const SetupDescription> description);
    ~CMC_Setup();
    CMC_Setup(const CMC_Setup&) = delete;
    CMC_Setup& operator=(const CMC_Setup&) = delete;

    // A deep copy (values, ranges, units, options, identity; same drive link).
    std::unique_ptr<CMC_Setup> Clone() const;
    // Makes this setup an exact copy of another one of the same description.
    void AssignFrom(const CMC_Setup& other);

    // Adds the described parameter or variable with its defaults; returns it, or
    // null when the description does not know the name or the setup has it already.
    CMC_Parameter* AddParameter(std::string_view name);
    CMC_Variable* AddVariable(std::string_view name);
    // Adds every parameter and variable of the description.
    void AddAllDescribed();

    // Lookup ignoring letter case; a miss is reported when g_bShowErrors is set.
    CMC_Parameter* FindParameter(std::string_view name) const;
    CMC_Variable* FindVariable(std::string_view name, int showError = 1) const;
    // Hears every lookup by name, found or not, in the order made: which names a
    // computation reads and how often. Not copied by Clone; empty: none.
    enum class LookupKind { Parameter, Variable };
    using LookupObserver = std::function<void(LookupKind kind, std::string_view name)>;
    void SetLookupObserver(LookupObserver observer) { m_lookupObserver = std::move(observer); }
    const std::vector<std::unique_ptr<CMC_Parameter>>& GetParameters() const { return m_parameters; }
    const std::vector<std::unique_ptr<CMC_Variable>>& GetVariables() const { return m_variables; }
    const CMC_UnitTable& GetUnits() const { return m_description->Units(); }
    const SetupDescription& Description() const { return *m_description; }
    const std::shared_ptr<const SetupDescription>& DescriptionPtr() const { return m_description; }

    // By name; a missing parameter reads 0 (reported as FindParameter does).
    double GetParameterValueInBaseUnit(std::string_view name) const;
    double GetParameterValueInInternalUnit(std::string_view name) const;
    int SetParameterValueInBaseUnit(std::string_view name, double value);

    // Options: named texts, kept in the order they were first set.
    int GetIntOption(std::string_view name) const; // 0 when absent or not a number
    std::string GetOptionNoError(std::string_view name) const;
    bool HasOption(std::string_view name) const;
    void SetOption(std::string_view name, std::string_view text);
    // Replaces every option at once; the names must differ ignoring case.
    void ReplaceOptions(std::vector<std::pair<std::string, std::string>> options)
    {
        m_options = std::move(options);
    }
    void ClearOption(std::string_view name);
    const std::vector<std::pair<std::string, std::string>>& GetOptions() const { return m_options; }

    // The drive's identity.
    const std::string& GetDescription() const { return m_identity.description; }
    void SetDescription(std::string text) { m_identity.description = std::move(text); }
    const std::string& GetProductID() const { return m_identity.productId; }
    void SetProductID(std::string text) { m_identity.productId = std::move(text); }
    const std::string& GetFirmwareID() const { return m_identity.firmwareId; }
    // Refuses an empty or malformed ID (see IsValidFirmwareID); returns 0 then.
    int SetFirmwareID(std::string text);
    const std::string& GetUserAppID() const { return m_identity.applicationId; }
    // Keeps at most 40 characters.
    void SetUserAppID(std::string text);
    unsigned GetE2ROMSize() const { return m_identity.e2romSize; } // [words]
    void SetE2ROMSize(unsigned words) { m_identity.e2romSize = words; }
    int GetMCVersion() const { return m_identity.mcVersion; }
    void SetMCVersion(int version) { m_identity.mcVersion = version; }

    // The drive behind the setup. Never null: a disconnected link by default.
    CMC_ChipLink& GetChipLink() const { return *m_link; }
    void SetChipLink(std::shared_ptr<CMC_ChipLink> link);

    static constexpr std::size_t kMaxUserAppIdLength = 40;
    static bool IsValidFirmwareID(std::string_view text);

private:
    struct Identity {
        std::string description;
        std::string productId;
        std::string firmwareId;
        std::string applicationId;
        unsigned e2romSize = 0;
        int mcVersion = 0;
    };

    std::shared_ptr<const SetupDescription> m_description;
    std::vector<std::unique_ptr<CMC_Parameter>> m_parameters;
    std::vector<std::unique_ptr<CMC_Variable>> m_variables;
    CaseInsensitiveMap<CMC_Parameter*> m_parameterIndex;
    CaseInsensitiveMap<CMC_Variable*> m_variableIndex;
    LookupObserver m_lookupObserver;
    std::vector<std::pair<std::string, std::string>> m_options;
    Identity m_identity;
    std::shared_ptr<CMC_ChipLink> m_link;
};
