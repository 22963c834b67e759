#include "Setup.h"

#include "Errors.h"

#include <charconv>
#include <utility>

CMC_Setup::CMC_Setup(std::shared_ptr<const SetupDescription> description)
    : m_description(std::move(description)), m_link(std::make_shared<CMC_DisconnectedLink>())
{
}

CMC_Setup::~CMC_Setup() = default;

std::unique_ptr<CMC_Setup> CMC_Setup::Clone() const
{
    auto copy = std::make_unique<CMC_Setup>(m_description);
    copy->AssignFrom(*this);
    return copy;
}

void CMC_Setup::AssignFrom(const CMC_Setup& other)
{
    if (this == &other)
        return;
    m_description = other.m_description;
    m_parameters.clear();
    m_parameterIndex.clear();
    m_variables.clear();
    m_variableIndex.clear();
    for (const auto& source : other.m_parameters) {
        auto p =
            std::make_unique<CMC_Parameter>(this, source->Name(), &source->UnitType(), source->GetType());
        p->SetPhysical(source->IsPhysical());
        p->SetRegisterWidth(source->GetRegisterLowest(), source->GetRegisterHighest());
        p->ChangeUnit(source->GetUnitName());
        p->SetMinInBaseUnit(source->GetMinInBaseUnit());
        p->SetMaxInBaseUnit(source->GetMaxInBaseUnit());
        p->SetValueInInternalUnit(source->GetValueInInternalUnit());
        m_parameterIndex.emplace(p->Name(), p.get());
        m_parameters.push_back(std::move(p));
    }
    for (const auto& source : other.m_variables) {
        auto v = std::make_unique<CMC_Variable>(this, source->Name(), &source->UnitType());
        v->ChangeUnit(source->GetUnitName());
        v->SetValueInInternalUnit(source->GetValueInInternalUnit());
        m_variableIndex.emplace(v->Name(), v.get());
        m_variables.push_back(std::move(v));
    }
    m_options = other.m_options;
    m_identity = other.m_identity;
    m_link = other.m_link;
}

CMC_Parameter* CMC_Setup::AddParameter(std::string_view name)
{
    const ParameterDefinition* def = m_description->FindParameter(name);
    if (!def || m_parameterIndex.find(name) != m_parameterIndex.end())
        return nullptr;
    const CMC_UnitType* type = m_description->Units().Find(def->unitType);
    auto p = std::make_unique<CMC_Parameter>(this, def->name, type ? type : m_description->Units().None(),
                                             def->type);
    p->SetPhysical(def->physical);
    if (def->type == PT_REGISTER)
        p->SetRegisterWidth(def->min, def->max);
    p->SetMinInBaseUnit(def->min);
    p->SetMaxInBaseUnit(def->max);
    CMC_Parameter* raw = p.get();
    m_parameterIndex.emplace(raw->Name(), raw);
    m_parameters.push_back(std::move(p));
    raw->SetValueInInternalUnit(def->defaultValue);
    return raw;
}

CMC_Variable* CMC_Setup::AddVariable(std::string_view name)
{
    const VariableDefinition* def = m_description->FindVariable(name);
    if (!def || m_variableIndex.find(name) != m_variableIndex.end())
        return nullptr;
    const CMC_UnitType* type = m_description->Units().Find(def->unitType);
    auto v = std::make_unique<CMC_Variable>(this, def->name, type ? type : m_description->Units().None());
    CMC_Variable* raw = v.get();
    m_variableIndex.emplace(raw->Name(), raw);
    m_variables.push_back(std::move(v));
    return raw;
}

void CMC_Setup::AddAllDescribed()
{
    for (const auto& def : m_description->Parameters())
        AddParameter(def.name);
    for (const auto& def : m_description->Variables())
        AddVariable(def.name);
}

CMC_Parameter* CMC_Setup::FindParameter(std::string_view name) const
{
    if (m_lookupObserver)
        m_lookupObserver(LookupKind::Parameter, name);
    auto it = m_parameterIndex.find(name);
    if (it != m_parameterIndex.end())
        return it->second;
    if (g_bShowErrors)
        ReportError("Parameter \"" + std::string(name) + "\" not found in the setup.");
    return nullptr;
}

CMC_Variable* CMC_Setup::FindVariable(std::string_view name, int showError) const
{
    if (m_lookupObserver)
        m_lookupObserver(LookupKind::Variable, name);
    auto it = m_variableIndex.find(name);
    if (it != m_variableIndex.end())
        return it->second;
    if (showError && g_bShowErrors)
        ReportError("Variable \"" + std::string(name) + "\" not found in the setup.");
    return nullptr;
}

double CMC_Setup::GetParameterValueInBaseUnit(std::string_view name) const
{
    const CMC_Parameter* p = FindParameter(name);
    return p ? p->GetValueInBaseUnit() : 0.0;
}

double CMC_Setup::GetParameterValueInInternalUnit(std::string_view name) const
{
    const CMC_Parameter* p = FindParameter(name);
    return p ? p->GetValueInInternalUnit() : 0.0;
}

int CMC_Setup::SetParameterValueInBaseUnit(std::string_view name, double value)
{
    CMC_Parameter* p = FindParameter(name);
    return p ? p->SetValueInBaseUnit(value) : 0;
}

namespace {

template <typename Options> auto FindOption(Options& options, std::string_view name)
{
    auto it = options.begin();
    for (; it != options.end(); ++it)
        if (EqualsIgnoringCase(it->first, name))
            break;
    return it;
}

} // namespace

int CMC_Setup::GetIntOption(std::string_view name) const
{
    auto it = FindOption(m_options, name);
    if (it == m_options.end())
        return 0;
    const std::string& text = it->second;
    std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return 0;
    if (text[start] == '+')
        ++start;
    int value = 0;
    std::from_chars(text.data() + start, text.data() + text.size(), value);
    return value;
}

std::string CMC_Setup::GetOptionNoError(std::string_view name) const
{
    auto it = FindOption(m_options, name);
    return it == m_options.end() ? std::string() : it->second;
}

bool CMC_Setup::HasOption(std::string_view name) const
{
    return FindOption(m_options, name) != m_options.end();
}

void CMC_Setup::SetOption(std::string_view name, std::string_view text)
{
    auto it = FindOption(m_options, name);
    if (it == m_options.end())
        m_options.emplace_back(std::string(name), std::string(text));
    else
        it->second = std::string(text);
}

void CMC_Setup::ClearOption(std::string_view name)
{
    auto it = FindOption(m_options, name);
    if (it != m_options.end())
        m_options.erase(it);
}

bool CMC_Setup::IsValidFirmwareID(std::string_view text)
{
    if (text.empty() || text.size() > 32)
        return false;
    for (char c : text)
        if (c < 0x21 || c > 0x7e)
            return false;
    return true;
}

int CMC_Setup::SetFirmwareID(std::string text)
{
    if (!IsValidFirmwareID(text)) {
        SetLastErrorText("A firmware ID is 1 to 32 printable characters without blanks.");
        return 0;
    }
    m_identity.firmwareId = std::move(text);
    return 1;
}

void CMC_Setup::SetUserAppID(std::string text)
{
    if (text.size() > kMaxUserAppIdLength)
        text.resize(kMaxUserAppIdLength);
    m_identity.applicationId = std::move(text);
}

void CMC_Setup::SetChipLink(std::shared_ptr<CMC_ChipLink> link)
{
    m_link = link ? std::move(link) : std::make_shared<CMC_DisconnectedLink>();
}
