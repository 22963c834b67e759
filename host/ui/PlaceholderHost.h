// Puts a drawing widget into a placeholder control of a dialog template (a
// frame or a label), filling it.
#pragma once

class CMC_Dialog;
class QWidget;

// Returns the placeholder, or null when the dialog has no such control.
QWidget* AddToPlaceholder(CMC_Dialog* dialog, int controlId, QWidget* content);
