#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "tamolib.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// No bar for work shorter than this, and no more redraws than this allows.
constexpr auto kQuietTime = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

struct BarState {
    std::mutex mutex;
    std::string label;
    Clock::time_point start;
    Clock::time_point lastDraw;
    int lastPercent = -1;
};
BarState bar;

// Set while a bar is on the screen; the signal handler reads it.
volatile std::sig_atomic_t barShown = 0;

const char kErase[] = "\r\033[K";

void writeAll(const char *text, std::size_t n) {
    while (n > 0) {
        const ssize_t put = write(STDERR_FILENO, text, n);
        if (put <= 0) return;  // a bar is not worth retrying for
        text += put;
        n -= static_cast<std::size_t>(put);
    }
}

int terminalColumns() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// "tamo pcon [#######.............]  35%", fitted to the terminal's width.
void draw(int percent, double share) {
    const std::string head = "tamo " + bar.label + " [";
    const int width = std::min(terminalColumns() - 1, 100);
    const int cells = width - static_cast<int>(head.size()) - 7;  // "] 100%"
    std::string line = kErase;
    if (cells < 10) {
        line += std::to_string(percent) + "%";
    } else {
        const int filled = static_cast<int>(share * cells);
        line += head + std::string(filled, '#') + std::string(cells - filled, '.') + "] ";
        char number[8];
        std::snprintf(number, sizeof number, "%3d%%", percent);
        line += number;
    }
    // Set first: a signal may arrive as soon as the line is out.
    barShown = 1;
    writeAll(line.data(), line.size());
}

int reportProgress(int64_t done, int64_t total) {
    if (total <= 0) return 0;
    // The library reports from the thread that called it; a report from
    // another thread while one is drawn is simply skipped.
    std::unique_lock<std::mutex> lock(bar.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return 0;
    const Clock::time_point now = Clock::now();
    if (now - bar.start < kQuietTime) return 0;
    const double share = std::clamp(double(done) / double(total), 0.0, 1.0);
    const int percent = static_cast<int>(share * 100);
    if (percent == bar.lastPercent && now - bar.lastDraw < kRedrawEvery) return 0;
    bar.lastPercent = percent;
    bar.lastDraw = now;
    draw(percent, share);
    return 0;
}

// Erases the bar, then lets the signal do what it did before (end the
// process, by default). Only async-signal-safe calls here.
struct sigaction previousInt, previousTerm;

void eraseAndResignal(int sig) {
    if (barShown) writeAll(kErase, sizeof kErase - 1);
    barShown = 0;
    sigaction(sig, sig == SIGINT ? &previousInt : &previousTerm, nullptr);
    raise(sig);
}

void installSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = eraseAndResignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction &previous = sig == SIGINT ? previousInt : previousTerm;
        if (sigaction(sig, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
}

}  // namespace

ProgressBar::ProgressBar(const char *command) {
    if (!isatty(STDERR_FILENO)) return;
    active_ = true;
    {
        std::lock_guard<std::mutex> lock(bar.mutex);
        bar.label = command;
        bar.start = Clock::now();
        bar.lastPercent = -1;
    }
    installSignalHandlers();
    Tamo_progressptr = reportProgress;
}

ProgressBar::~ProgressBar() {
    if (!active_) return;
    Tamo_progressptr = nullptr;
    std::lock_guard<std::mutex> lock(bar.mutex);
    if (barShown) writeAll(kErase, sizeof kErase - 1);
    barShown = 0;
}

}  // namespace cli
