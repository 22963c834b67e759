#include "Program.h"
#include "Programs.h"

const std::vector<ProgramInfo>& ProgramSet()
{
    // One line per program: its name, its user variables, its factory.
    static const std::vector<ProgramInfo> programs = {
        {"Initial_Positioning_Test", {"In1", "STARTED"}, MakeInitialPositioning},
        {"Motor_Phase_Connection_Test", {"RefTest", "RIncTest", "STARTED"}, MakePhaseConnectionCheck},
        {"Hall_Signals_Connection_Test",
         {"RefTest", "RIncTest", "run_test", "STARTED"},
         MakeHallSignalsCheck},
        {"Motor_Pole_Pairs_Detection_Test",
         {"RefTest", "RIncTest", "poles_pairs", "STARTED"},
         MakePolePairsCount},
        {"Detect_Hall_Gain_Offset_Test", {"RefTest", "RIncTest", "STARTED"}, MakeHallGainOffsetSweep},
        {"Ident_R_or_Rs", {"In1", "RefTest", "RIncTest", "STARTED"}, MakeResistanceMeasurement},
        {"Ident_L_or_Tau_el", {"In1", "STARTED"}, MakeInductanceMeasurement},
        {"VDC_Detection_Test", {"STARTED"}, MakeBusVoltageReading},
        {"Total_Inertia_Identification_Test",
         {"RefTest", "RIncTest", "In1", "LimitSpeedMax", "Imax_Prot_Test", "test_flag", "delta_time",
          "delta_speed", "STARTED"},
         MakeInertiaRun},
        {"Analogue_Reference_Test", {"STARTED"}, MakeAnalogueReferenceReading},
        {"Current_Controller_Tuning_Test",
         {"RefTest", "RIncTest", "In1", "Imax_Prot_Test", "test_flag", "STARTED"},
         MakeCurrentStepRun},
        {"Speed_Controller_Tuning_Test",
         {"RefTest", "RIncTest", "IlimPS_Test", "Imax_Prot_Test", "a0", "a1", "a2", "a3", "a4", "a5", "b0",
          "b1", "b2", "b3", "b4", "b5", "MultiC", "test_flag", "STARTED"},
         MakeSpeedProfileRun},
        {"Position_Controller_Tuning_Test_with_SpdCtrl",
         {"RefTest", "RIncTest", "LimitSpeed_Test", "a0", "a1", "a2", "a3", "a4", "a5", "b0", "b1", "b2",
          "b3", "b4", "b5", "MultiC", "Imax_Prot_Test", "test_flag", "STARTED"},
         MakePositionProfileRunWithSpeedLoop},
        {"Position_Controller_Tuning_Test_without_SpdCtrl",
         {"RefTest", "RIncTest", "IlimPS_Test", "a0", "a1", "a2", "a3", "a4", "a5", "b0", "b1", "b2", "b3",
          "b4", "b5", "MultiC", "Imax_Prot_Test", "test_flag", "STARTED"},
         MakePositionProfileRunWithoutSpeedLoop},
    };
    return programs;
}

const ProgramInfo* FindProgram(std::string_view name)
{
    return FindNamed(ProgramSet(), name);
}
