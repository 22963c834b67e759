// The drive's brake output lines: the output pins that can drive a motor
// brake, how each output stage is built and whether the drive inverts it. The
// motor setup dialog lists them and tells the user how the brake is wired.
// Ports are the host's numbering of the pins (Helpers.h: port = pin + 1).
#pragma once

#include <QString>

#include <vector>

class QComboBox;

// Port configuration bits (low byte) of a brake output line.
enum : int {
    BRAKE_PORT_ENABLED = 0x01,     // the line may drive a brake
    BRAKE_PORT_ACTIVE_HIGH = 0x10, // PNP (source) stage: "on" drives the line to +Vlog
    BRAKE_PORT_ACTIVE_LOW = 0x20,  // NPN (sink) stage: "on" pulls the line to GND
    BRAKE_PORT_POLARITY_MASK = 0x30,
};

struct BrakeOutputLine {
    int pin = 0;           // the drive's output pin
    QString name;          // as the user sees it, e.g. "OUT2 (pin 2)"
    int config = 0;        // BRAKE_PORT_* bits
    bool inverted = false; // the drive inverts the line's logic level
};

// The lines of the connected drive. The virtual drive has two: OUT2 (pin 2),
// an active-high source stage, and OUT3 (pin 3), an active-low sink stage.
const std::vector<BrakeOutputLine>& GetBrakeOutputLines();
// Another drive model (or a test) replaces the lines; an empty list means a
// drive without brake outputs.
void SetBrakeOutputLines(std::vector<BrakeOutputLine> lines);
void ResetBrakeOutputLines();

int GetNumberOfBrakeOutputs();
// Fills the combo box with the lines, each item carrying its port as item
// data, and selects the line on port (no selection when none is there).
void FillIOBrakeCombo(QComboBox* combo, int port);
// The configuration bits of the line on port; 0 when no brake line is there.
int IsBrakePortEnable(int port);
// True when the drive inverts the line on port.
bool IsIOMC3PortInverted(int port);
