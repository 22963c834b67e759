#include "BrakeOutputs.h"

#include "Helpers.h"

#include <QComboBox>

namespace {

std::vector<BrakeOutputLine> DefaultLines()
{
    return {
        {2, QStringLiteral("OUT2 (pin 2)"), BRAKE_PORT_ENABLED | BRAKE_PORT_ACTIVE_HIGH, false},
        {3, QStringLiteral("OUT3 (pin 3)"), BRAKE_PORT_ENABLED | BRAKE_PORT_ACTIVE_LOW, false},
    };
}

std::vector<BrakeOutputLine>& Lines()
{
    static std::vector<BrakeOutputLine> lines = DefaultLines();
    return lines;
}

const BrakeOutputLine* LineOnPort(int port)
{
    for (const auto& line : Lines())
        if (GetIOPortFromPin(line.pin) == port)
            return &line;
    return nullptr;
}

} // namespace

const std::vector<BrakeOutputLine>& GetBrakeOutputLines()
{
    return Lines();
}

void SetBrakeOutputLines(std::vector<BrakeOutputLine> lines)
{
    Lines() = std::move(lines);
}

void ResetBrakeOutputLines()
{
    Lines() = DefaultLines();
}

int GetNumberOfBrakeOutputs()
{
    return static_cast<int>(Lines().size());
}

void FillIOBrakeCombo(QComboBox* combo, int port)
{
    if (!combo)
        return;
    combo->clear();
    for (const auto& line : Lines())
        combo->addItem(line.name, GetIOPortFromPin(line.pin));
    combo->setCurrentIndex(combo->findData(port));
}

int IsBrakePortEnable(int port)
{
    const BrakeOutputLine* line = LineOnPort(port);
    return line ? line->config : 0;
}

bool IsIOMC3PortInverted(int port)
{
    const BrakeOutputLine* line = LineOnPort(port);
    return line && line->inverted;
}
