#include "Program.h"

#include "Firmware.h"

double UserVariables::Get(std::string_view name) const
{
    auto it = m_values.find(name);
    return it == m_values.end() ? 0.0 : it->second;
}

void UserVariables::Set(std::string_view name, double value)
{
    auto it = m_values.find(name);
    if (it != m_values.end())
        it->second = value;
}

void UserVariables::Declare(const std::string& name)
{
    if (m_values.find(name) == m_values.end())
        m_values.emplace(name, 0.0);
}

void UserVariables::MarkStarted()
{
    for (auto& [name, value] : m_values)
        if (m_written.find(name) == m_written.end())
            value = 0.0;
    m_written.clear();
}

void UserVariables::NoteWritten(std::string_view name)
{
    if (Has(name))
        m_written[std::string(name)] = true;
}

std::vector<std::string> UserVariables::Names() const
{
    std::vector<std::string> names;
    for (const auto& [name, value] : m_values)
        names.push_back(name);
    return names;
}

void Program::OnProtection(Firmware& fw)
{
    FinishNoResult(fw);
}

bool Program::SwitchOn(Firmware& fw)
{
    if (!fw.SwitchOn()) {
        FinishNoResult(fw);
        return false;
    }
    SetUser("STARTED", 1.0);
    return true;
}

void Program::Finish(Firmware& fw)
{
    fw.SwitchOff();
    SetUser("STARTED", 1.0);
    m_finished = true;
}

void Program::FinishNoResult(Firmware& fw, std::initializer_list<const char*> results)
{
    if (results.size() == 0) {
        for (const std::string& name : ResultNames())
            SetUser(name, kNoResult);
    } else {
        for (const char* name : results)
            SetUser(name, kNoResult);
    }
    Finish(fw);
}
