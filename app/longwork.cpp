#include "longwork.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>

#include "tamolib.h"

namespace longwork {

namespace {

QString commandName;
QWidget *commandParent = nullptr;
bool running = false;

// What the worker last reported, read by the GUI thread. Only one
// computation runs at a time, so one set serves every run.
std::atomic<int64_t> progressDone{0};
std::atomic<int64_t> progressTotal{0};
std::atomic<bool> cancelRequested{false};

// The library's progress hook during a run: records the report and asks the
// operation to stop once the user has cancelled.
int reportProgress(int64_t done, int64_t total) {
    progressTotal.store(total, std::memory_order_relaxed);
    progressDone.store(done, std::memory_order_relaxed);
    return cancelRequested.load(std::memory_order_relaxed) ? 1 : 0;
}

// Resolution of the progress bar, and how often the GUI thread reads the
// worker's reports.
constexpr int kBarSteps = 1000;
constexpr int kPollMs = 50;

// The busy cursor for the run, restored on every way out.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

// The library's hook for the worker's run only: it is one pointer for the
// whole process.
struct ProgressHook {
    ProgressHook() : previous(Tamo_progressptr) { Tamo_progressptr = reportProgress; }
    ~ProgressHook() { Tamo_progressptr = previous; }
    int (*previous)(int64_t, int64_t);
};

void showProgress(QProgressBar *bar) {
    const int64_t total = progressTotal.load(std::memory_order_relaxed);
    const int64_t done = progressDone.load(std::memory_order_relaxed);
    if (total <= 0) return;  // nothing reported yet: the busy bar stays
    const double share = std::clamp(double(done) / double(total), 0.0, 1.0);
    if (bar->maximum() != kBarSteps) bar->setRange(0, kBarSteps);
    bar->setValue(static_cast<int>(share * kBarSteps));
}

}  // namespace

CommandScope::CommandScope(const QString &name, QWidget *parent)
    : previousName_(commandName), previousParent_(commandParent) {
    commandName = name;
    commandParent = parent;
}

CommandScope::~CommandScope() {
    commandName = previousName_;
    commandParent = previousParent_;
}

bool busy() {
    return running;
}

int run(const std::function<int()> &computation) {
    if (running) throw std::logic_error("another computation is still running");
    running = true;
    struct Running {
        ~Running() { running = false; }
    } runningGuard;

    progressDone = 0;
    progressTotal = 0;
    cancelRequested = false;

    int result = 0;
    std::exception_ptr failure;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            result = computation();
        } catch (...) {
            failure = std::current_exception();
        }
    }));

    QEventLoop loop;
    bool finished = false;
    // Queued: the worker emits finished from its own thread.
    QObject::connect(worker.get(), &QThread::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });

    BusyCursor cursor;
    std::unique_ptr<QProgressDialog> dialog;
    QProgressBar *bar = nullptr;
    auto cancel = [&] {
        cancelRequested = true;
        loop.quit();  // waits on with user input held back
    };
    QTimer delay;
    delay.setSingleShot(true);
    QObject::connect(&delay, &QTimer::timeout, &loop, [&] {
        if (finished) return;  // ended in the same round of events
        dialog = std::make_unique<QProgressDialog>(commandName, QObject::tr("Cancel"), 0, 0,
                                                   commandParent);
        dialog->setWindowTitle(commandName);
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->setAutoReset(false);
        dialog->setAutoClose(false);
        // The bar is updated directly: QProgressDialog::setValue would run a
        // nested event loop of its own.
        bar = new QProgressBar;
        bar->setRange(0, 0);
        dialog->setBar(bar);
        QObject::connect(dialog.get(), &QProgressDialog::canceled, &loop, cancel);
        QObject::connect(dialog.get(), &QDialog::rejected, &loop, cancel);
        showProgress(bar);
        dialog->show();
        QApplication::changeOverrideCursor(Qt::BusyCursor);
        loop.quit();  // waits on with input reaching the dialog
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (bar) showProgress(bar);
    });

    {
        ProgressHook hook;
        worker->start();
        delay.start(kDialogDelayMs);
        poll.start(kPollMs);
        while (!finished) {
            // The application-modal dialog keeps input from every other
            // window; without it, input waits until the command is over.
            const bool dialogShown = dialog && dialog->isVisible() && !cancelRequested;
            loop.exec(dialogShown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        }
        worker->wait();
    }
    poll.stop();
    delay.stop();
    if (dialog) dialog->hide();
    dialog.reset();

    if (failure) std::rethrow_exception(failure);
    if (cancelRequested) throw Cancelled{};
    return result;
}

}  // namespace longwork
