// Seeded random soak of the control panel: random commands in both modes with
// random dialog answers, slot and mode choices, image windows, the clipboard
// and undo/redo on small random images. After every step: no dialog left
// open, the enable rules hold, the work slot is empty, the window table
// points at live windows, and every live library allocation belongs to a
// record that a slot, the clipboard, the history or an image window holds.
//
// TAMO_SOAK_SEED and TAMO_SOAK_STEPS choose the run; a failure prints both so
// that the run can be replayed up to the failing step.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileOpenEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

#include "commandtable.h"
#include "guitest.h"
#include "history.h"
#include "session.h"
#include "tamotoolchildwindow.h"
#include "tempdir.h"
#include "testrecords.h"

namespace {

// ---- Live allocations of the library ------------------------------------------------

// Every block the library allocates through its hooks, from any thread.
struct LiveBlocks {
    std::mutex mutex;
    std::set<void *> blocks;
};
LiveBlocks *live = nullptr;
// When set, the next allocation or release off the GUI thread (a command's computation)
// waits long enough for the progress dialog to show, so that Cancel can be
// pressed while the computation runs.
std::atomic<bool> slowNextWorkerAlloc{false};
std::thread::id guiThread;
void *(*realAlloc)(size_t, size_t) = nullptr;
void *(*realRealloc)(void *, size_t) = nullptr;
void (*realFree)(void *) = nullptr;

void slowWorker() {
    if (std::this_thread::get_id() != guiThread && slowNextWorkerAlloc.exchange(false))
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
}

void *trackedAlloc(size_t n, size_t size) {
    slowWorker();
    void *p = realAlloc(n, size);
    if (p && live) {
        std::lock_guard<std::mutex> lock(live->mutex);
        live->blocks.insert(p);
    }
    return p;
}

void *trackedRealloc(void *old, size_t size) {
    void *p = realRealloc(old, size);
    if (p && live) {
        std::lock_guard<std::mutex> lock(live->mutex);
        if (old) live->blocks.erase(old);
        live->blocks.insert(p);
    }
    return p;
}

void trackedFree(void *p) {
    slowWorker();
    if (p && live) {
        std::lock_guard<std::mutex> lock(live->mutex);
        live->blocks.erase(p);
    }
    realFree(p);
}

// ---- Random choices ----------------------------------------------------------------------

// splitmix64: the same sequence on every platform and library, so that a
// seed replays anywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return n <= 1 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
    double uniform(double lo, double hi) {
        return lo + (hi - lo) * (static_cast<double>(next() >> 11) / 9007199254740992.0);
    }
    template <class T>
    const T &pick(const QList<T> &list) {
        return list[below(list.size())];
    }

private:
    uint64_t state_;
};

uint64_t envNumber(const char *name, uint64_t fallback) {
    const char *text = std::getenv(name);
    if (!text || !*text) return fallback;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    return end && *end == '\0' ? value : fallback;
}

// ---- Hang watch ----------------------------------------------------------------------

// Ends the process with the seed and step when a step makes no progress for
// a long time (a hang would otherwise only show as the runner's time-out,
// without the step to replay).
class HangWatch {
public:
    HangWatch(uint64_t seed, int seconds) : seed_(seed), seconds_(seconds) {
        thread_ = std::thread([this] { watch(); });
    }
    ~HangWatch() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void step(int index, const std::string &what) {
        std::lock_guard<std::mutex> lock(mutex_);
        step_ = index;
        what_ = what;
        since_ = std::chrono::steady_clock::now();
    }

private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_) {
            wake_.wait_for(lock, std::chrono::seconds(1));
            if (done_) return;
            if (std::chrono::steady_clock::now() - since_ > std::chrono::seconds(seconds_)) {
                std::fprintf(stderr,
                             "\nsoak hung: seed %llu, step %d (%s) made no progress for %d s; "
                             "replay with TAMO_SOAK_SEED=%llu TAMO_SOAK_STEPS=%d\n",
                             static_cast<unsigned long long>(seed_), step_, what_.c_str(), seconds_,
                             static_cast<unsigned long long>(seed_), step_ + 1);
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    uint64_t seed_;
    int seconds_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    int step_ = -1;
    std::string what_ = "start";
    std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
    std::thread thread_;
};

// ---- Crash note -----------------------------------------------------------------------

// What a crash prints before the process goes: the seed and step to replay.
// Written at each step, read only by the handlers below.
char crashNote[256] = "";

void writeCrashNote() {
    if (crashNote[0]) {
        ssize_t written = ::write(2, crashNote, std::strlen(crashNote));
        (void)written;
    }
}

void crashSignal(int signal) {
    writeCrashNote();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer reports memory faults and signals itself and then calls
// the death callback; aborts and illegal instructions it leaves alone. An
// UndefinedBehaviorSanitizer finding ends the process without either: run
// again with TAMO_SOAK_VERBOSE=1, whose last line is the step before.
void installCrashNote() {
    __sanitizer_set_death_callback(writeCrashNote);
    for (int signal : {SIGILL, SIGABRT}) std::signal(signal, crashSignal);
}
#else
void installCrashNote() {
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, crashSignal);
}
#endif

// ---- Replaying the recorded session ---------------------------------------------------

#ifdef TAMO_CLI_PATH
// Runs shell text with the tool as TAMO and `work` as the session's work
// folder; the empty text when it succeeds, else what it said.
QString runShell(const QString &text, const std::string &work) {
    QProcess sh;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TAMO", TAMO_CLI_PATH);
    env.insert("work", QString::fromStdString(work));
    sh.setProcessEnvironment(env);
    sh.setWorkingDirectory(QString::fromStdString(work));
    sh.start("/bin/sh", {"-c", "set -eu\n" + text});
    if (!sh.waitForFinished(120000)) return "the shell did not end";
    if (sh.exitStatus() == QProcess::NormalExit && sh.exitCode() == 0) return QString();
    return QString("exit %1: %2")
        .arg(sh.exitCode())
        .arg(QString::fromLocal8Bit(sh.readAllStandardError()));
}

// The recorded session repeated step by step with the tool, in one work
// folder for the whole soak: each check runs the commands recorded since
// the last one, then compares every slot the session can make with the
// tool's image of it, bit for bit.
class SessionReplay {
public:
    QStringList check(const Session &session, Tamotool *tool) {
        QStringList found;
        for (int i = 0; i < session.count(); ++i) {
            const Session::Entry &e = session.entry(i);
            if (!e.missing.isEmpty() || e.makes.isEmpty()) continue;
            const QSet<QString> outputs(e.makes.begin(), e.makes.end());
            bool done = true, readable = true;
            for (const QString &file : e.makes) done = done && made_.contains(file);
            for (const QStringList &line : e.lines)
                for (const QString &word : line)
                    if (Session::isWork(word) && !outputs.contains(word.mid(1)) &&
                        !made_.contains(word.mid(1)))
                        readable = false;
            if (done || !readable) continue;
            QString text;
            for (const QStringList &line : e.lines) {
                QStringList words;
                for (const QString &word : line) words << Session::shellWord(word);
                text += words.join(' ') + "\n";
            }
            const QString failure = runShell(text, work_.path());
            if (!failure.isEmpty()) {
                found << QString("the tool could not repeat \"%1\": %2").arg(e.title, failure);
                return found;
            }
            made_.unite(outputs);
        }
        for (int s = 0; s < 8; ++s) {
            const QString file = session.fileOf(s);
            if (file == Session::kEmpty) {
                if (tool->images[s])
                    found << QString("slot %1 holds an image the session leaves empty").arg(s);
                continue;
            }
            if (file == Session::kUnknown || !made_.contains(file)) continue;
            tamo::RecordPtr made = testsupport::readOwnFormat(work_.file(file.toStdString()));
            if (!made) {
                found << QString("the session's %1 for slot %2 cannot be read").arg(file).arg(s);
                continue;
            }
            const testing::AssertionResult same = guitest::sameImage(tool->images[s], made.get());
            if (!same)
                found << QString("slot %1 differs from the session's %2: %3")
                             .arg(s)
                             .arg(file, same.message());
        }
        return found;
    }

private:
    testsupport::TempDir work_;
    QSet<QString> made_;
};
#endif

// ---- The soak ------------------------------------------------------------------------

// The command buttons, and the actions of the commands that have no button
// (the complex part), from the command table; the display-adjust actions.
QList<const char *> commandButtons() {
    QList<const char *> names;
    for (const CommandEntry &entry : TamotoolMainWindow::commandTable())
        if (entry.buttonName) names << entry.buttonName;
    return names;
}
QList<const char *> actionsWithoutButtons() {
    QList<const char *> names;
    for (const CommandEntry &entry : TamotoolMainWindow::commandTable())
        if (!entry.buttonName && entry.actionName) names << entry.actionName;
    return names << "cutAct"
                 << "increaseBrightnessAct"
                 << "decreaseBrightnessAct"
                 << "increaseWarmAct"
                 << "decreaseWarmAct"
                 << "increaseCoolAct"
                 << "decreaseCoolAct";
}
const QList<const char *> kButtons = commandButtons();
const QList<const char *> kActions = actionsWithoutButtons();
// Read makes "float" of every type it can convert; a complex file is refused.
const QList<const char *> kTypes = {"float", "float", "float", "u8bit", "16bit",
                                    "32bit", "64flt", "float", "32cmp"};
const QStringList kTexts = {"",  "0",   "1",    "-1",  "2",     "3",   "0.5", "7",
                            "9", "100", "1e30", "nan", "-1e-3", "abc", "4 4", "2147483647"};

class SoakTest : public PanelTest {
protected:
    void SetUp() override {
        realAlloc = Tamo_alcptr;
        realRealloc = Tamo_realcptr;
        realFree = Tamo_freeptr;
        live = &blocks_;
        guiThread = std::this_thread::get_id();
        Tamo_alcptr = trackedAlloc;
        Tamo_realcptr = trackedRealloc;
        Tamo_freeptr = trackedFree;
        PanelTest::SetUp();
    }
    void TearDown() override {
        PanelTest::TearDown();
        Tamo_alcptr = realAlloc;
        Tamo_realcptr = realRealloc;
        Tamo_freeptr = realFree;
        live = nullptr;
    }

    // A random answer to whatever modal dialog opens.
    guitest::DialogAction randomAnswer() {
        return [this](QWidget *widget) {
            auto *dialog = qobject_cast<QDialog *>(widget);
            if (auto *box = qobject_cast<QMessageBox *>(widget)) {
                const auto buttons = box->buttons();
                if (!buttons.isEmpty()) {
                    buttons[rng_.below(buttons.size())]->click();
                    return;
                }
            } else if (auto *input = qobject_cast<QInputDialog *>(widget)) {
                const int how = rng_.below(10);
                if (how < 3) {
                    input->reject();
                    return;
                }
                if (how >= 5) {
                    switch (input->inputMode()) {
                        case QInputDialog::IntInput: {
                            const int lo = input->intMinimum(), hi = input->intMaximum();
                            const long long span = static_cast<long long>(hi) - lo;
                            const int value =
                                rng_.chance(50) ? lo + static_cast<int>(std::min<long long>(
                                                           rng_.below(10), span))
                                                : static_cast<int>(lo + rng_.uniform(0, 1) * span);
                            input->setIntValue(value);
                            break;
                        }
                        case QInputDialog::DoubleInput:
                            input->setDoubleValue(rng_.uniform(
                                input->doubleMinimum(),
                                std::min(input->doubleMaximum(), input->doubleMinimum() + 20.0)));
                            break;
                        case QInputDialog::TextInput:
                            input->setTextValue(kTexts[rng_.below(kTexts.size())]);
                            break;
                    }
                }
                input->accept();
                return;
            } else if (dialog) {
                if (rng_.chance(30)) {
                    dialog->reject();
                    return;
                }
                for (QLineEdit *edit : dialog->findChildren<QLineEdit *>()) {
                    if (rng_.chance(60)) edit->setText(kTexts[rng_.below(kTexts.size())]);
                }
                for (QSpinBox *spin : dialog->findChildren<QSpinBox *>()) {
                    if (rng_.chance(50))
                        spin->setValue(
                            spin->minimum() +
                            rng_.below(std::min(spin->maximum() - spin->minimum() + 1, 12)));
                }
                for (QComboBox *combo : dialog->findChildren<QComboBox *>())
                    combo->setCurrentIndex(rng_.below(combo->count()));
                for (QCheckBox *check : dialog->findChildren<QCheckBox *>())
                    check->setChecked(rng_.chance(50));
                dialog->accept();
                return;
            }
            if (dialog) {
                dialog->reject();
            } else {
                widget->close();
            }
        };
    }

    // A small random own-format file; `what` describes it.
    std::string writeRandomImage(std::string &what) {
        const char *type = kTypes[rng_.below(kTypes.size())];
        // Some square power-of-two images, which the Fourier transform takes.
        int cols = 1 + rng_.below(9), rows = 1 + rng_.below(9);
        if (rng_.chance(40)) cols = rows = 2 << rng_.below(3);
        const int frames = rng_.chance(20) ? 1 + rng_.below(4) : 0;
        tamo::RecordPtr img = testsupport::image(type, cols, rows, frames);
        EXPECT_TRUE(img);
        if (!img) return {};
        // Mostly ordinary values, some zeros, negatives and huge ones.
        auto value = [this]() {
            const int kind = rng_.below(20);
            return kind == 0   ? 0.0
                   : kind == 1 ? -rng_.uniform(0, 50)
                   : kind == 2 ? 1e30
                               : rng_.uniform(0, 255);
        };
        const long long n = tamo::elementCount(img.get());
        char *data = img->orvptr;
        for (long long k = 0; k < n; ++k) {
            char *at = data + k * img->orvbpd;
            switch (img->dtype) {
                case TAMO_32FLT: {
                    const float v = static_cast<float>(value());
                    std::memcpy(at, &v, sizeof v);
                    break;
                }
                case TAMO_64FLT: {
                    const double v = value();
                    std::memcpy(at, &v, sizeof v);
                    break;
                }
                case TAMO_32CMP: {
                    const float v[2] = {static_cast<float>(value()), static_cast<float>(value())};
                    std::memcpy(at, v, sizeof v);
                    break;
                }
                default:
                    for (int b = 0; b < img->orvbpd; ++b)
                        at[b] = static_cast<char>(rng_.below(256));
            }
        }
        // Names are not used twice: the recorded session reads them again.
        const std::string path =
            dir_.path() + "/img" + std::to_string(files_++) + (rng_.chance(80) ? ".tamo" : ".TAMO");
        testsupport::writeOwnFormat(path, img.get());
        what = std::string(type) + " " + std::to_string(cols) + "x" + std::to_string(rows) + "x" +
               std::to_string(frames);
        return path;
    }

    // A small random own-format file, read into a random slot as Read does.
    void loadRandomImage(std::string &what) {
        const std::string path = writeRandomImage(what);
        const int slot = rng_.below(8);
        what = "read " + what + " into " + std::to_string(slot);
        panel->handleFileByPath(QString::fromStdString(path), slot);
    }

    // What may arrive from outside while a command runs: a file opened from
    // the desktop, or an image window's Save. Chosen before the step (so that
    // a seed replays), done by arrive() once the step's progress dialog shows.
    struct Arrival {
        std::string path;  // a file from the desktop; empty: a window's Save
        int window = 0;    // which open window saves
        std::string what;
    };
    Arrival planArrival() {
        Arrival plan;
        if (rng_.chance(50)) {
            plan.path = writeRandomImage(plan.what);
            plan.what = "desktop opens " + plan.what;
        } else {
            plan.window = rng_.below(8);
            plan.what = "a window saves";
        }
        return plan;
    }
    void arrive(const Arrival &plan) {
        if (!plan.path.empty()) {
            QFileOpenEvent open(QString::fromStdString(plan.path));
            QApplication::sendEvent(qApp, &open);
            return;
        }
        const auto list = windows();
        if (!list.isEmpty())
            list[plan.window % list.size()]->findChild<QAction *>("saveAct")->trigger();
    }

    // Run Script with a script that returns its input (at once or after
    // long enough for the progress dialog to show).
    void runScript(std::string &what) {
        const bool slow = rng_.chance(50);
        const std::string script = dir_.path() + (slow ? "/slow.sh" : "/quick.sh");
        if (!QFile::exists(QString::fromStdString(script))) {
            QFile text(QString::fromStdString(script));
            EXPECT_TRUE(text.open(QIODevice::WriteOnly));
            text.write(
                slow ? "#!/bin/sh\nsleep 0.7\ncp ImgViewTempInput.Tamo ImgViewTempOutput.Tamo\n"
                     : "#!/bin/sh\ncp ImgViewTempInput.Tamo ImgViewTempOutput.Tamo\n");
            text.close();
            text.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        panel->fullScriptDir = QByteArray::fromStdString(dir_.path());
        panel->fullScriptPath = QByteArray::fromStdString(script);
        panel->fullScriptInputPath = panel->fullScriptDir + "/ImgViewTempInput.Tamo";
        what = slow ? "run a slow script" : "run a script";
        QMetaObject::invokeMethod(panel, "rerunScript");
    }

    QList<TamotoolChildWindow *> windows() const {
        QList<TamotoolChildWindow *> list;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *window = qobject_cast<TamotoolChildWindow *>(widget)) list << window;
        }
        return list;
    }

    // A slot to select: mostly one that holds an image.
    int randomSlot() {
        QList<int> filled;
        for (int i = 0; i < 8; ++i) {
            if (tool->images[i]) filled << i;
        }
        return !filled.isEmpty() && rng_.chance(70) ? rng_.pick(filled) : rng_.below(8);
    }

    // Triggers an action as the user can: menus, tool bars and shortcuts
    // reach enabled actions only.
    void triggerAction(const char *name, std::string &what) {
        auto *action = panel->findChild<QAction *>(name);
        ASSERT_NE(action, nullptr) << name;
        what = std::string("trigger ") + name;
        if (action->isEnabled()) {
            action->trigger();
        } else {
            what += " (disabled)";
        }
    }

    // One random user action; `what` says which.
    void step(std::string &what) {
        const int kind = rng_.below(100);
        if (kind < 18) {
            static const char *const groups[] = {"input1", "input2", "output"};
            const char *group = groups[rng_.below(3)];
            const int index = randomSlot();
            what = std::string("select ") + group + " " + std::to_string(index);
            select(group, index);
        } else if (kind < 50) {
            // Mostly an enabled button; a disabled one must do nothing.
            QList<const char *> enabled;
            for (const char *name : kButtons) {
                if (panel->findChild<QPushButton *>(name)->isEnabled()) enabled << name;
            }
            const char *name =
                !enabled.isEmpty() && rng_.chance(85) ? rng_.pick(enabled) : rng_.pick(kButtons);
            auto *button = panel->findChild<QPushButton *>(name);
            what = std::string("press ") + name + " (" + button->text().toStdString() + ", mode " +
                   std::to_string(panel->modeFlag) + (button->isEnabled() ? ")" : ", disabled)");
            button->click();
        } else if (kind < 56) {
            // The complex commands mostly on a complex image, as a user
            // would pick one after FFT.
            const char *name = rng_.pick(kActions);
            QList<int> complex;
            for (int i = 0; i < 8; ++i) {
                if (tool->images[i] && tool->images[i]->dtype == TAMO_32CMP) complex << i;
            }
            std::string chosen;
            if (std::strncmp(name, "c2", 2) == 0 || std::strcmp(name, "ifftAct") == 0) {
                if (!complex.isEmpty() && rng_.chance(70)) {
                    const int index = rng_.pick(complex);
                    select("input1", index);
                    chosen = "input1 " + std::to_string(index) + ", ";
                }
            }
            triggerAction(name, what);
            what = chosen + what;
        } else if (kind < 60) {
            triggerAction("modeAct", what);
        } else if (kind < 65) {
            triggerAction("viewAct", what);
        } else if (kind < 68) {
            const auto list = windows();
            what = "close a window of " + std::to_string(list.size());
            if (!list.isEmpty()) list[rng_.below(list.size())]->close();
        } else if (kind < 72) {
            triggerAction("copyAct", what);
        } else if (kind < 76) {
            triggerAction("pasteAct", what);
        } else if (kind < 78) {
            triggerAction("deleteAct", what);
        } else if (kind < 84) {
            triggerAction("undoAct", what);
        } else if (kind < 88) {
            triggerAction("redoAct", what);
        } else if (kind < 91) {
            loadRandomImage(what);
        } else if (kind < 94) {
            // Add, slow enough for its progress dialog to show: what the step
            // loop plans to arrive meanwhile then arrives during a command.
            select("input1", randomSlot());
            select("input2", randomSlot());
            select("output", rng_.below(8));
            if (panel->modeFlag) panel->findChild<QAction *>("modeAct")->trigger();
            auto *add = panel->findChild<QPushButton *>("addButton");
            what = std::string("slow add") + (add->isEnabled() ? "" : " (disabled)");
            slowNextWorkerAlloc = true;
            if (add->isEnabled()) add->click();
        } else if (kind < 96) {
            // Outside a command, what arrives is a command of its own at once.
            const Arrival plan = planArrival();
            what = plan.what;
            arrive(plan);
        } else if (kind < 98) {
            runScript(what);
        } else if (kind < 99) {
            // The points an image window's clicks leave for Crop.
            tool->clickX1 = rng_.below(12) - 1;
            tool->clickY1 = rng_.below(12) - 1;
            tool->clickX2 = rng_.below(12) - 1;
            tool->clickY2 = rng_.below(12) - 1;
            what = "click points";
        } else {
            const long long budget = rng_.chance(50) ? rng_.below(4096) : (64LL << 20);
            what = "undo budget " + std::to_string(budget);
            panel->setUndoBudget(budget);
        }
    }

    // What must hold between steps; the faults found, empty when none.
    QStringList faults() {
        QStringList found;
        if (QWidget *modal = QApplication::activeModalWidget())
            found << QString("a modal %1 is still open").arg(modal->metaObject()->className());
        if (tool->images[8]) found << "the work slot holds a record";
        for (const QString &fault : guitest::enableRuleFaults(panel))
            found << "enable rule: " + fault;

        // The window table names live windows only, each for its own slot.
        const QList<TamotoolChildWindow *> open = windows();
        for (int i = 0; i < 8; ++i) {
            TamotoolChildWindow *entry = panel->childWindows[i];
            if (entry && !open.contains(entry))
                found << QString("window table entry %1 points at no window").arg(i);
        }

        // Every live block belongs to a held record, and no record is held
        // twice (it would be released twice).
        std::map<const TAMOHDR *, QString> held;
        auto hold = [&](const TAMOHDR *img, const QString &where) {
            if (!img) return;
            auto [it, added] = held.emplace(img, where);
            if (!added) found << QString("one record held by %1 and %2").arg(it->second, where);
        };
        for (int i = 0; i < 9; ++i) hold(tool->images[i], QString("slot %1").arg(i));
        hold(panel->clipboardImage, "the clipboard");
        for (const TAMOHDR *img : panel->history().records()) hold(img, "the history");
        for (TamotoolChildWindow *window : open) hold(window->workImage, "an image window");
        std::set<const void *> owned;
        for (const auto &entry : held) {
            const TAMOHDR *img = entry.first;
            owned.insert(img);
            owned.insert(img->orvdln);
            owned.insert(img->orvptr);
            owned.insert(img->orvtail);
        }
        int leaked = 0;
        {
            std::lock_guard<std::mutex> lock(blocks_.mutex);
            for (void *block : blocks_.blocks) leaked += owned.count(block) ? 0 : 1;
        }
        if (leaked)
            found << QString("%1 library blocks held by no slot, clipboard, history or window")
                         .arg(leaked);
        return found;
    }

    LiveBlocks blocks_;
    Random rng_{0};
    testsupport::TempDir dir_;
    int files_ = 0;
};

TEST_F(SoakTest, RandomStepsKeepThePanelWhole) {
    const uint64_t seed = envNumber("TAMO_SOAK_SEED", 19);
    const int steps = static_cast<int>(envNumber("TAMO_SOAK_STEPS", 200));
    const int hangSeconds = static_cast<int>(envNumber("TAMO_SOAK_HANG_SECONDS", 120));
    rng_ = Random(seed);
    const bool verbose = envNumber("TAMO_SOAK_VERBOSE", 0) != 0;
    // A short soak repeats the recorded session with the tool after every
    // step, a long one at its end.
    [[maybe_unused]] const bool replayEachStep =
        envNumber("TAMO_SOAK_REPLAY_EACH_STEP", steps <= 300) != 0;
#ifdef TAMO_CLI_PATH
    SessionReplay replay;
#endif
    HangWatch hang(seed, hangSeconds);
    std::deque<std::string> recent;
    installCrashNote();
    struct ClearNote {
        ~ClearNote() { crashNote[0] = '\0'; }
    } clearNote;
    // CCL writes its areas file, named by a random answer, into the current
    // folder: that is the test's own, not the one the test was started in.
    struct BackHome {
        QString path = QDir::currentPath();
        ~BackHome() { QDir::setCurrent(path); }
    } backHome;
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir_.path())));

    for (int index = 0; index < steps; ++index) {
        std::string what = "?";
        hang.step(index, what);
        std::snprintf(crashNote, sizeof crashNote,
                      "\nsoak crashed: seed %llu, step %d; replay with TAMO_SOAK_SEED=%llu "
                      "TAMO_SOAK_STEPS=%d\n",
                      static_cast<unsigned long long>(seed), index,
                      static_cast<unsigned long long>(seed), index + 1);
        {
            // Answers for every dialog the step opens, up to a few; later
            // ones are rejected. A progress dialog is cancelled or not.
            QList<guitest::DialogAction> answers;
            for (int k = 0; k < 6; ++k) answers << randomAnswer();
            guitest::DialogScript script(answers);
            slowNextWorkerAlloc = rng_.chance(10);
            const bool cancel = rng_.chance(60);
            // Sometimes something arrives while the step's command runs.
            const bool arrives = rng_.chance(40);
            const Arrival plan = arrives ? planArrival() : Arrival{};
            // Slow enough for the progress dialog, in which it arrives.
            if (arrives) slowNextWorkerAlloc = true;
            bool arrived = false;
            guitest::ProgressWatch progress([&](QProgressDialog *) {
                if (arrives && !arrived) {
                    arrived = true;
                    arrive(plan);
                }
                return cancel;
            });
            step(what);
            if (arrived) what += " | meanwhile " + plan.what;
            slowNextWorkerAlloc = false;
            hang.step(index, what);
            guitest::waitUntil([] { return QApplication::activeModalWidget() == nullptr; }, 3000);
            for (const QString &text : script.texts()) what += " | " + text.toStdString();
            if (progress.seen().shown)
                what += progress.seen().cancelled ? " | progress cancelled" : " | progress";
        }
        guitest::closeMessageBoxes();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        if (verbose) {
            std::string filled;
            for (int i = 0; i < 8; ++i) filled += tool->images[i] ? char('0' + i) : '.';
            // Unbuffered, so that a crash leaves the step before it shown.
            std::fprintf(stderr, "%d: %s [%s]\n", index, what.c_str(), filled.c_str());
        }
        recent.push_back(std::to_string(index) + ": " + what);
        if (recent.size() > 12) recent.pop_front();
        QStringList found = faults();
#ifdef TAMO_CLI_PATH
        if (found.isEmpty() && (replayEachStep || index + 1 == steps))
            found << replay.check(panel->session(), tool);
#endif
        if (!found.isEmpty() || HasFailure()) {
            std::string log;
            for (const std::string &line : recent) log += "  " + line + "\n";
            ADD_FAILURE() << "soak failed at seed " << seed << ", step " << index
                          << " (replay with TAMO_SOAK_SEED=" << seed
                          << " TAMO_SOAK_STEPS=" << index + 1 << ")\n"
                          << found.join("\n").toStdString() << "\nlast steps:\n"
                          << log;
            return;
        }
    }
    int unmade = 0;
#ifdef TAMO_CLI_PATH
    // The whole session as saved, run once: every slot it makes is the
    // slot's image.
    const testsupport::TempDir out;
    const std::string script = out.file("session.sh");
    ASSERT_EQ(panel->writeSession(QString::fromStdString(script)), QString());
    ASSERT_EQ(runShell("sh '" + QString::fromStdString(script) + "'", out.path()), QString());
    for (int s = 0; s < 8; ++s) {
        tamo::RecordPtr made =
            testsupport::readOwnFormat(out.file("slot" + std::to_string(s) + ".tamo"));
        if (!made) {
            unmade += tool->images[s] != nullptr;
            continue;
        }
        EXPECT_TRUE(guitest::sameImage(tool->images[s], made.get())) << "slot " << s;
    }
#endif
    // What the tool could not repeat, for the record.
    const Session &session = panel->session();
    for (int i = 0; i < session.count(); ++i)
        if (!session.entry(i).missing.isEmpty())
            std::printf("soak: not repeated: %s (%s)\n", qPrintable(session.entry(i).title),
                        qPrintable(session.entry(i).missing));
    std::printf(
        "soak: seed %llu, %d steps, %d undo / %d redo steps held, %d slots the "
        "session cannot make\n",
        static_cast<unsigned long long>(seed), steps, panel->history().undoCount(),
        panel->history().redoCount(), unmade);
}

}  // namespace
