// The application object: owner of the image slots shared by every window,
// and the one interface through which a slot's record or name changes.
#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "slotnotifier.h"
#include "tamolib.h"

class TamotoolMainWindow;
class WindowHost;

// Version text of the control panel, shown by the About box.
extern const QString VERSION;

// Thrown by the workbench's handler when the image library ends an operation
// that it would otherwise end the process for. The command boundary catches
// it, so a fatal library condition stops one command, not the program.
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

    // ---- Changing a slot -------------------------------------------------------------
    // Every change below notifies the listeners of notifier(). Reading a slot
    // stays a plain read of images[] and imageNames[].

    // Puts img (null: none) into slot `slot` (0..8) and returns the record
    // the slot held, which the caller now owns (it may be img itself).
    TAMOHDR *replaceImage(int slot, TAMOHDR *img);
    TAMOHDR *takeImage(int slot) { return replaceImage(slot, nullptr); }
    // Sets the name user slot `slot` shows.
    void setImageName(int slot, const QString &name);
    // Runs change on the record of user slot `slot` (which must hold one),
    // telling the listeners before and after.
    void changePixels(int slot, const std::function<void(TAMOHDR *)> &change);
    // Puts back a record and name that user slot `slot` held before (undo and
    // redo); returns the record the slot held, now the caller's.
    TAMOHDR *restoreSlot(int slot, TAMOHDR *img, const QString &name);
    SlotNotifier &notifier() { return *notifier_; }

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
    // The control panel as the image windows see it.
    WindowHost *windowHost;

private:
    std::unique_ptr<SlotNotifier> notifier_;
    void (*previousExitHandler_)(int);
};

// The application object; null until it is fully constructed (main sets it
// to the object it owns) and again once that object is destroyed.
extern Tamotool *gTamotool;
