// The application object: owner of the image slots shared by every window.
#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

#include "tamolib.h"

class TamotoolMainWindow;

// Version text of the control panel, shown by the About box.
extern const QString VERSION;

// Thrown by the workbench's handler when the image library ends an operation
// that it would otherwise end the process for. TamotoolMainWindow::runCommand
// catches it, so a fatal library condition stops one command, not the program.
class TamoFatal : public std::exception {
public:
    explicit TamoFatal(int status);
    int status() const { return status_; }
    const char *what() const noexcept override { return what_.c_str(); }

private:
    int status_;
    std::string what_;
};

class Tamotool {
public:
    // Registers the icon resource, installs the fatal-path handler and
    // creates and shows the control panel.
    Tamotool();
    // Closes the control panel and releases every slot; restores the library's
    // previous fatal-path handler; clears gTamotool when it points here.
    ~Tamotool();

    Tamotool(const Tamotool &) = delete;
    Tamotool &operator=(const Tamotool &) = delete;

    // Loads a file named on the command line or opened from the desktop into
    // user slot `slot`, after an "Opening PATH" console line (see
    // TamotoolMainWindow).
    void handleFileByPath(QString path, int slot);

    // User slots 0..7 and the work slot 8; null is an empty slot. Every record
    // here is owned by this object and released with Tamofree(img, 7).
    TAMOHDR *images[9];
    // File name each user slot was read from.
    QString imageNames[8];
    // The next-to-last (1) and last (2) pixel clicked in an image window.
    int32_t clickX1, clickY1;
    int32_t clickX2, clickY2;
    // Label count of the last connected-components run.
    int32_t labelCount;
    TamotoolMainWindow *mainWindow;

private:
    void (*previousExitHandler_)(int);
};

// The application object; null until it is fully constructed (main sets it
// to the object it owns) and again once that object is destroyed.
extern Tamotool *gTamotool;
