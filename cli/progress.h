// The progress bar of the tamo tool: long library operations report their
// progress through the library's progress hook, and a command that has run
// for a second draws it on standard error, when that is a terminal.
#pragma once

namespace cli {

// While alive, the library's progress reports draw a bar named after
// `command` on standard error, from one second after construction on; only
// when standard error is a terminal (otherwise nothing is installed). The
// destructor erases the bar, so that what follows starts a clean line. An
// interrupt (Ctrl-C) or termination signal erases it too before the signal
// ends the process.
class ProgressBar {
public:
    explicit ProgressBar(const char *command);
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

private:
    bool active_ = false;
};

}  // namespace cli
