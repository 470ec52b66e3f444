// The table of the control panel's image commands. Each entry is one
// command in both modes: its button (label in each mode, tip, place), its
// action (text, tip in each mode, enable group), the slot that runs it and
// the course the slot takes in each mode, with what the course needs of its
// input, its one-value dialog and the tamo line that repeats it. The panel
// makes its buttons and actions, relabels them for a mode and dispatches its
// command slots from this table; the dispatcher takes its dialogs, input
// checks and recorded lines of the one-value operations from it.
#pragma once

#include <QStringList>

#include <vector>

#include "tamoop.h"
#include "tamotoolmainwindow.h"

// What a command slot does in one mode.
struct CommandCourse {
    enum Kind {
        Unary,        // runUnary(name, code, type, keepBinary)
        ComplexPart,  // runComplexPart(name, code, type, refusal)
        Binary,       // runBinary(name, code)
        Own,          // a course of its own: (panel->*own)()
        NotDefined,   // badMsg(1)
        Nothing,
    };
    Kind kind = Nothing;
    const char *name = nullptr;     // the command's name: progress dialog, undo step, messages
    int code = 0;                   // the dispatcher's operation code
    _OP_TYPE type = OP_FLOAT;       // the output record a unary course asks for
    bool keepBinary = false;        // the binary group stays enabled while it runs
    const char *refusal = nullptr;  // a complex part's message for a real input
    void (TamotoolMainWindow::*own)() = nullptr;
    // What it needs of the Input 1 image's data type.
    TamoOp::InputNeed need = TamoOp::InputNeed::Float;
    // The dispatcher's one-value dialog (sigma or scale); no title: none.
    const char *dialogTitle = nullptr;
    const char *dialogLabel = nullptr;
    double start = 0, minimum = 0, maximum = 0;
    int decimals = 0;
    // The tamo line that makes the same record ("{VALUE}" stands for the
    // value the dialog gave); empty when the tool has none.
    QStringList tamoLine;

    CommandCourse withCode(int c) const;
    CommandCourse needs(TamoOp::InputNeed n) const;
    CommandCourse asks(const char *title, const char *label, double start, double minimum,
                       double maximum, int decimals) const;
    CommandCourse repeatedBy(const QStringList &line) const;
};

struct CommandEntry {
    void (TamotoolMainWindow::*slot)();  // the required slot the controls reach
    const char *slotName;                // its name, as invoked by name
    bool binary;                         // enable group: binary, else unary
    // The button in the "Unary" grid (row, column) or the "Binary" box (row,
    // in order); null object name: no button.
    QPushButton *TamotoolMainWindow::*button;
    const char *buttonName;
    const char *labels[2];  // in mode 0 and mode 1
    const char *buttonTip;  // null: none
    int row, column;
    // The action in the menus; null object name: no action.
    QAction *TamotoolMainWindow::*action;
    const char *actionName;
    const char *actionText;
    const char *actionTips[2];  // in mode 0 and mode 1 (null: as in mode 0)
    CommandCourse courses[2];   // in mode 0 and mode 1
};

// The course that runs the dispatcher's unary operation `code` (in either
// mode), or null.
const CommandCourse *courseWithCode(int code);
