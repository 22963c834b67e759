// The drive programs of the virtual drive, one factory each (ProgramSet.cpp
// lists them with their names and user variables).
#pragma once

#include "Program.h"

#include <memory>

std::unique_ptr<Program> MakeInitialPositioningTest();
std::unique_ptr<Program> MakeMotorPhaseConnectionTest();
std::unique_ptr<Program> MakeHallSignalsConnectionTest();
std::unique_ptr<Program> MakeMotorPolePairsDetectionTest();
std::unique_ptr<Program> MakeDetectHallGainOffsetTest();
std::unique_ptr<Program> MakeIdentROrRs();
std::unique_ptr<Program> MakeIdentLOrTauEl();
std::unique_ptr<Program> MakeVdcDetectionTest();
std::unique_ptr<Program> MakeTotalInertiaIdentificationTest();
std::unique_ptr<Program> MakeAnalogueReferenceTest();
std::unique_ptr<Program> MakeCurrentControllerTuningTest();
std::unique_ptr<Program> MakeSpeedControllerTuningTest();
std::unique_ptr<Program> MakePositionControllerTuningTestWithSpdCtrl();
std::unique_ptr<Program> MakePositionControllerTuningTestWithoutSpdCtrl();
