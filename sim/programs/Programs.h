// The drive programs of the virtual drive, one factory each (ProgramSet.cpp
// lists them with their names and user variables).
#pragma once

#include "Program.h"

#include <memory>

std::unique_ptr<Program> MakeInitialPositioning();
std::unique_ptr<Program> MakePhaseConnectionCheck();
std::unique_ptr<Program> MakeHallSignalsCheck();
std::unique_ptr<Program> MakePolePairsCount();
std::unique_ptr<Program> MakeHallGainOffsetSweep();
std::unique_ptr<Program> MakeResistanceMeasurement();
std::unique_ptr<Program> MakeInductanceMeasurement();
std::unique_ptr<Program> MakeBusVoltageReading();
std::unique_ptr<Program> MakeInertiaRun();
std::unique_ptr<Program> MakeAnalogueReferenceReading();
std::unique_ptr<Program> MakeCurrentStepRun();
std::unique_ptr<Program> MakeSpeedProfileRun();
std::unique_ptr<Program> MakePositionProfileRunWithSpeedLoop();
std::unique_ptr<Program> MakePositionProfileRunWithoutSpeedLoop();
