// What an image window needs of the window that keeps the table of image
// windows, the console and the command boundary. The control panel
// implements it; image windows know only this, never the panel itself.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class TamotoolChildWindow;

// How updateChildPtr changes the image-window table.
typedef enum { CHILD_REMOVE = 0, CHILD_ADD = 1 } _UPDATE_TYPE;

class WindowHost {
public:
    // Appends text at the end of the console (no newline added).
    virtual void addConsoleOutput(QString text) = 0;
    // Registers window for the Output slot (CHILD_ADD) or forgets it
    // wherever it is registered (CHILD_REMOVE).
    virtual void updateChildPtr(const TamotoolChildWindow *window, _UPDATE_TYPE how) = 0;
    // The user slot window is registered for, -1 when none.
    virtual int getIndexFromChildPtr(void *window) = 0;
    // Runs `change`, which changes slots, as the command `name`: at once when
    // no command runs, else as a command of its own once the running one has
    // ended.
    virtual void submitCommand(const QString &name, std::function<void()> change) = 0;
    // Inside such a change: the tamo command line that makes the same
    // change, for the recorded session (see TamotoolMainWindow::recordTamo).
    virtual void recordTamo(const QStringList &words) = 0;

protected:
    ~WindowHost() = default;
};
