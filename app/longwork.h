// Long computations of the workbench. A command's computation runs on a
// worker thread while the GUI thread waits in a local event loop, so that
// image windows keep repainting; the command itself returns only when the
// computation has ended. After half a second an application-modal progress
// dialog names the command, shows the progress the library reports (a busy
// bar when it reports none) and offers Cancel.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace longwork {

// Thrown on the GUI thread by run() when the user cancelled the computation.
// Not a std::exception on purpose: only the command boundary handles it.
struct Cancelled {};

// How long a computation runs before its progress dialog shows.
constexpr int kDialogDelayMs = 500;

// While alive, the computations run() starts belong to command `name`: the
// progress dialog shows that name and is parented to `parent`.
class CommandScope {
public:
    CommandScope(const QString &name, QWidget *parent);
    ~CommandScope();
    CommandScope(const CommandScope &) = delete;
    CommandScope &operator=(const CommandScope &) = delete;

private:
    QString previousName_;
    QWidget *previousParent_;
};

// Runs computation on a worker thread and returns its result once it has
// ended, with the library's progress hook installed for the worker's run
// only. Call it on the GUI thread, which must not call the library until it
// returns. Until the dialog shows, user input waits; while the dialog shows,
// it blocks every other window. An exception thrown by the computation (the
// library's fatal paths, memory running out) is thrown again here. When the
// user pressed Cancel, throws Cancelled once the computation has ended,
// whatever it returned. Throws std::logic_error when a computation is
// already running.
int run(const std::function<int()> &computation);

// True while run() waits for a computation.
bool busy();

}  // namespace longwork
