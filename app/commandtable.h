// The table of the control panel's image commands. Each entry is one
// command in both modes: its button (label in each mode, tip, place), its
// action (text, tip in each mode, enable group), the slot that runs it and
// the course the slot takes in each mode. The panel makes its buttons and
// actions, relabels them for a mode and dispatches its command slots from
// this table alone.
#pragma once

#include <vector>

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
