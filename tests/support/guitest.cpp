#include "guitest.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGroupBox>
#include <QImage>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "history.h"
#include "tamotoolchildwindow.h"

// Exported by QtGui: offers a key to the shortcut map as a key press from the
// window system would.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject *o, ulong timestamp, int k,
                                               Qt::KeyboardModifiers mods,
                                               const QString &text = QString(),
                                               bool autorep = false, ushort count = 1);

namespace guitest {

namespace {

// Pollers still waiting, so that a test's unused answer cannot reach into the
// next test.
QList<QPointer<QTimer>> &pendingAnswers() {
    static QList<QPointer<QTimer>> timers;
    return timers;
}

void record(QWidget *widget, DialogSeen &seen) {
    seen.seen = true;
    seen.className = widget->metaObject()->className();
    seen.title = widget->windowTitle();
    seen.modal = widget->isModal();
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        seen.text = box->text();
    } else if (auto *input = qobject_cast<QInputDialog *>(widget)) {
        seen.text = input->labelText();
        seen.inputMode = input->inputMode();
        if (input->inputMode() == QInputDialog::IntInput) {
            seen.value = input->intValue();
            seen.minimum = input->intMinimum();
            seen.maximum = input->intMaximum();
            seen.step = input->intStep();
        } else if (input->inputMode() == QInputDialog::DoubleInput) {
            seen.value = input->doubleValue();
            seen.minimum = input->doubleMinimum();
            seen.maximum = input->doubleMaximum();
            seen.decimals = input->doubleDecimals();
        }
    } else {
        // A form: a caption label and rows of a label and a line edit.
        auto *form = widget->findChild<QFormLayout *>();
        QList<QWidget *> rowLabels;
        for (QLineEdit *edit : widget->findChildren<QLineEdit *>()) {
            QWidget *label = form ? form->labelForField(edit) : nullptr;
            auto *text = qobject_cast<QLabel *>(label);
            seen.labels << (text ? text->text() : QString());
            seen.fields << edit->text();
            rowLabels << label;
        }
        for (QLabel *label : widget->findChildren<QLabel *>()) {
            if (!rowLabels.contains(label)) {
                seen.text = label->text();
                break;
            }
        }
    }
}

// The modal widget a dialog answerer should act on: progress dialogs come
// and go with the computation and are left to ProgressWatch.
QWidget *modalToAnswer() {
    QWidget *modal = QApplication::activeModalWidget();
    if (qobject_cast<QProgressDialog *>(modal)) return nullptr;
    return modal;
}

void closeDialog(QWidget *widget) {
    if (auto *dialog = qobject_cast<QDialog *>(widget)) {
        dialog->reject();
    } else {
        widget->close();
    }
}

}  // namespace

std::shared_ptr<DialogSeen> answerNextDialog(DialogAction action, int timeoutMs) {
    auto seen = std::make_shared<DialogSeen>();
    auto *timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [=]() {
        QWidget *modal = modalToAnswer();
        if (modal && modal->isVisible()) {
            // One dialog per answer: stop before acting, since the action
            // may open the next dialog.
            timer->stop();
            timer->deleteLater();
            record(modal, *seen);
            QPointer<QWidget> handled = modal;
            if (action) {
                action(modal);
            } else {
                closeDialog(modal);
            }
            // An action that left the dialog open must not hang the test.
            QTimer::singleShot(200, [handled] {
                if (handled && handled->isVisible()) closeDialog(handled);
            });
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    pendingAnswers().append(timer);
    timer->start();
    return seen;
}

struct DialogScript::State {
    QTimer *timer = nullptr;
    QList<DialogAction> actions;
    QList<DialogSeen> seen;
    QPointer<QWidget> last;  // the dialog answered last
    QElapsedTimer sinceLast;
};

DialogScript::DialogScript(QList<DialogAction> actions) : state_(std::make_shared<State>()) {
    state_->actions = std::move(actions);
    state_->timer = new QTimer(qApp);
    state_->timer->setInterval(10);
    std::weak_ptr<State> weak = state_;
    QObject::connect(state_->timer, &QTimer::timeout, [weak]() {
        auto state = weak.lock();
        QWidget *modal = modalToAnswer();
        if (!state || !modal || !modal->isVisible()) return;
        if (modal == state->last.data()) {
            // Left open by its action and nothing came on top of it.
            if (state->sinceLast.elapsed() > 300) closeDialog(modal);
            return;
        }
        state->last = modal;
        state->sinceLast.start();
        DialogSeen seen;
        record(modal, seen);
        state->seen << seen;
        const DialogAction action =
            state->actions.isEmpty() ? DialogAction() : state->actions.takeFirst();
        if (action) {
            action(modal);
        } else {
            closeDialog(modal);
        }
    });
    state_->timer->start();
}

DialogScript::~DialogScript() {
    delete state_->timer;
}

QList<DialogSeen> DialogScript::seen() const {
    return state_->seen;
}

QStringList DialogScript::texts() const {
    QStringList list;
    for (const DialogSeen &seen : state_->seen)
        list << (seen.text.isEmpty() ? seen.title : seen.text);
    return list;
}

struct ProgressWatch::State {
    QTimer *timer = nullptr;
    std::function<bool(QProgressDialog *)> onPoll;
    QPointer<QProgressDialog> last;
    ProgressSeen seen;
};

ProgressWatch::ProgressWatch(std::function<bool(QProgressDialog *)> onPoll)
    : state_(std::make_shared<State>()) {
    state_->onPoll = std::move(onPoll);
    state_->timer = new QTimer(qApp);
    state_->timer->setInterval(10);
    std::weak_ptr<State> weak = state_;
    QObject::connect(state_->timer, &QTimer::timeout, [weak]() {
        auto state = weak.lock();
        if (!state) return;
        QProgressDialog *dialog = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *candidate = qobject_cast<QProgressDialog *>(widget);
            if (candidate && candidate->isVisible()) dialog = candidate;
        }
        if (!dialog) return;
        ProgressSeen &seen = state->seen;
        if (dialog != state->last.data()) {
            state->last = dialog;
            ++seen.shown;
            seen.label = dialog->labelText();
            seen.applicationModal = dialog->windowModality() == Qt::ApplicationModal;
        }
        seen.maximum = dialog->maximum();
        seen.value = dialog->value();
        if (seen.cancelled || !state->onPoll || !state->onPoll(dialog)) return;
        auto *cancel = dialog->findChild<QPushButton *>();
        if (!cancel) {
            ADD_FAILURE() << "the progress dialog has no Cancel button";
            return;
        }
        seen.cancelled = true;
        seen.sinceCancel.start();
        cancel->click();
    });
    state_->timer->start();
}

ProgressWatch::~ProgressWatch() {
    delete state_->timer;
}

const ProgressSeen &ProgressWatch::seen() const {
    return state_->seen;
}

void cancelPendingAnswers() {
    for (const QPointer<QTimer> &timer : pendingAnswers()) {
        if (timer) timer->deleteLater();
    }
    pendingAnswers().clear();
}

DialogAction acceptDialog() {
    return [](QWidget *widget) {
        if (auto *dialog = qobject_cast<QDialog *>(widget)) dialog->accept();
    };
}

DialogAction rejectDialog() {
    return [](QWidget *widget) { closeDialog(widget); };
}

DialogAction clickMessageButton(int standardButton) {
    return [standardButton](QWidget *widget) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        QAbstractButton *button =
            box ? box->button(static_cast<QMessageBox::StandardButton>(standardButton)) : nullptr;
        if (button) {
            button->click();
        } else {
            ADD_FAILURE() << "no such button in " << widget->metaObject()->className();
            closeDialog(widget);
        }
    };
}

DialogAction enterValue(const QVariant &value) {
    return [value](QWidget *widget) {
        auto *input = qobject_cast<QInputDialog *>(widget);
        if (!input) {
            ADD_FAILURE() << "expected an input dialog, got " << widget->metaObject()->className();
            closeDialog(widget);
            return;
        }
        switch (input->inputMode()) {
            case QInputDialog::IntInput:
                input->setIntValue(value.toInt());
                break;
            case QInputDialog::DoubleInput:
                input->setDoubleValue(value.toDouble());
                break;
            case QInputDialog::TextInput:
                input->setTextValue(value.toString());
                break;
        }
        input->accept();
    };
}

DialogAction fillForm(const QStringList &texts) {
    return [texts](QWidget *widget) {
        const auto edits = widget->findChildren<QLineEdit *>();
        if (edits.size() < texts.size()) {
            ADD_FAILURE() << "form has " << edits.size() << " fields, " << texts.size()
                          << " values given";
        }
        for (int i = 0; i < texts.size() && i < edits.size(); ++i) edits[i]->setText(texts[i]);
        if (auto *dialog = qobject_cast<QDialog *>(widget)) dialog->accept();
    };
}

QList<DialogSeen> shownNotices() {
    QList<DialogSeen> notices;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && !box->isModal()) {
            DialogSeen seen;
            record(box, seen);
            notices << seen;
        }
    }
    return notices;
}

QStringList shownNoticeTexts() {
    QStringList texts;
    for (const DialogSeen &notice : shownNotices()) texts << notice.text;
    return texts;
}

void closeMessageBoxes() {
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible()) box->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void keyClick(QWidget *widget, const QKeySequence &key) {
    const int combined = key[0];
    const int code = combined & ~Qt::KeyboardModifierMask;
    const auto modifiers = Qt::KeyboardModifiers(combined & Qt::KeyboardModifierMask);
    if (qt_sendShortcutOverrideEvent(widget, 0, code, modifiers)) return;
    QKeyEvent press(QEvent::KeyPress, code, modifiers);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, code, modifiers);
    QApplication::sendEvent(widget, &release);
}

namespace {

void sendMouse(QWidget *widget, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
    const QPointF local = QRectF(widget->rect()).center();
    QMouseEvent event(type, local,
                      widget->window()->mapFromGlobal(widget->mapToGlobal(local.toPoint())),
                      widget->mapToGlobal(local.toPoint()), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

void mousePress(QWidget *widget, Qt::MouseButton button) {
    sendMouse(widget, QEvent::MouseButtonPress, button, button);
}

void mouseRelease(QWidget *widget, Qt::MouseButton button) {
    sendMouse(widget, QEvent::MouseButtonRelease, button, Qt::NoButton);
}

bool waitUntil(const std::function<bool()> &cond, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!cond() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return cond();
}

void settle(int ms) {
    waitUntil([] { return false; }, ms);
}

void installModalWatchdog(int ms) {
    auto *timer = new QTimer(qApp);
    auto since = std::make_shared<QElapsedTimer>();
    auto last = std::make_shared<QPointer<QWidget>>();
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [=]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            *last = nullptr;
            return;
        }
        if (modal != last->data()) {
            *last = modal;
            since->start();
            return;
        }
        if (since->elapsed() > ms) {
            DialogSeen seen;
            record(modal, seen);
            ADD_FAILURE() << "a modal " << seen.className.toStdString() << " \""
                          << seen.text.toStdString() << "\" was left unanswered";
            closeDialog(modal);
            *last = nullptr;
        }
    });
    timer->start();
}

TamotoolChildWindow *openWindow(TamotoolMainWindow *panel, int slot) {
    auto *picture = new QImage(4, 4, QImage::Format_RGB32);
    picture->fill(Qt::gray);
    auto *window = new TamotoolChildWindow(panel, picture, slot);
    window->setAttribute(Qt::WA_DeleteOnClose);
    return window;
}

TAMOHDR *makeImage(int cols, int rows, int frames, float first, const char *type) {
    int dims[4] = {frames > 0 ? 3 : 2, cols, rows, frames};
    TAMOHDR *img = Tamocreate(type, dims, 11, 0);
    if (!img) return nullptr;
    const int n = cols * rows * (frames > 0 ? frames : 1);
    for (int k = 0; k < n; ++k) {
        Tamofpp3d(img, k / (cols * rows), (k / cols) % rows, k % cols, first + k);
    }
    return img;
}

TAMOHDR *copyImage(const TAMOHDR *img) {
    TAMOHDR *copy = blankLike(img, img->orvdt);
    if (copy)
        std::memcpy(copy->orvptr, img->orvptr,
                    std::size_t(img->orvbpd) * Tamodimen(const_cast<TAMOHDR *>(img), -1));
    return copy;
}

TAMOHDR *blankLike(const TAMOHDR *img, const char *type) {
    int dims[4] = {img->orvndim, 0, 0, 0};
    for (int k = 0; k < img->orvndim; ++k) dims[k + 1] = img->orvdim[k].dlen;
    return Tamocreate(type, dims, 11, 0);
}

std::vector<int> shape(const TAMOHDR *img) {
    std::vector<int> lengths;
    for (int k = 0; k < img->orvndim; ++k) lengths.push_back(img->orvdim[k].dlen);
    return lengths;
}

bool allZero(const TAMOHDR *img) {
    const std::size_t bytes = std::size_t(img->orvbpd) * Tamodimen(const_cast<TAMOHDR *>(img), -1);
    return std::all_of(img->orvptr, img->orvptr + bytes, [](char b) { return b == 0; });
}

namespace {

std::string describe(const TAMOHDR *img) {
    std::string text = img->orvdt;
    for (int length : shape(img)) text += " " + std::to_string(length);
    return text;
}

}  // namespace

testing::AssertionResult sameImage(const TAMOHDR *actual, const TAMOHDR *expected) {
    if (!actual || !expected) {
        return testing::AssertionFailure() << (actual ? "expected" : "actual") << " record is null";
    }
    if (describe(actual) != describe(expected)) {
        return testing::AssertionFailure()
               << "record is " << describe(actual) << ", expected " << describe(expected);
    }
    const int n = Tamodimen(const_cast<TAMOHDR *>(actual), -1);
    const int size = actual->orvbpd;
    for (int k = 0; k < n; ++k) {
        if (std::memcmp(actual->orvptr + std::size_t(k) * size,
                        expected->orvptr + std::size_t(k) * size, size) != 0) {
            testing::AssertionResult failure = testing::AssertionFailure();
            failure << "element " << k << " differs";
            if (actual->dtype == TAMO_32FLT) {
                failure << ": " << reinterpret_cast<const float *>(actual->orvptr)[k] << " vs "
                        << reinterpret_cast<const float *>(expected->orvptr)[k];
            }
            return failure;
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult floatsNear(const TAMOHDR *actual,
                                    const std::function<double(int)> &expected, double tolerance) {
    if (!actual) return testing::AssertionFailure() << "record is null";
    if (actual->dtype != TAMO_32FLT)
        return testing::AssertionFailure() << "record is " << actual->orvdt;
    const float *values = reinterpret_cast<const float *>(actual->orvptr);
    const int n = Tamodimen(const_cast<TAMOHDR *>(actual), -1);
    for (int k = 0; k < n; ++k) {
        const double want = expected(k);
        if (!(std::fabs(values[k] - want) <= tolerance * std::max(1.0, std::fabs(want)))) {
            return testing::AssertionFailure()
                   << "element " << k << " is " << values[k] << ", expected " << want;
        }
    }
    return testing::AssertionSuccess();
}

const QList<EnableGroup> &enableGroups() {
    static const QList<EnableGroup> groups = {
        {"display",
         {"cutAct", "copyAct", "deleteAct", "viewAct", "increaseBrightnessAct",
          "decreaseBrightnessAct", "increaseWarmAct", "decreaseWarmAct", "increaseCoolAct",
          "decreaseCoolAct"},
         nullptr},
        {"unary",
         {"dxAct", "dyAct", "dxxAct", "dyyAct", "dxdyAct", "cclAct", "curvatureAct", "exponentAct",
          "inverseAct", "natlogAct", "laplacianAct", "histeqAct", "pseudoAct", "c2magAct",
          "c2phaseAct", "c2realAct", "c2imagAct", "fftAct", "ifftAct"},
         "unaryBox"},
        {"binary", {"addAct", "subAct", "mulAct", "divAct", "pconAct"}, "binaryBox"},
    };
    return groups;
}

QStringList enableRuleFaults(TamotoolMainWindow *panel) {
    QStringList faults;
    auto holds = [panel](_RADIO_GROUP group) {
        const int index = panel->getRadioButtonStatus(group);
        return gTamotool && index >= 0 && gTamotool->images[index] != nullptr;
    };
    const bool in1 = holds(INPUT1);
    const bool want[3] = {holds(OUTPUT), in1, in1 && holds(INPUT2)};
    auto check = [&faults](QObject *control, const QString &name, bool enabled, bool wanted) {
        if (!control) {
            faults << name + " missing";
        } else if (enabled != wanted) {
            faults << name + (enabled ? " on" : " off");
        }
    };
    const QList<EnableGroup> &groups = enableGroups();
    for (int g = 0; g < groups.size(); ++g) {
        for (const QString &name : groups[g].actions) {
            auto *action = panel->findChild<QAction *>(name);
            check(action, name, action && action->isEnabled(), want[g]);
        }
        if (!groups[g].box) continue;
        auto *box = panel->findChild<QGroupBox *>(groups[g].box);
        if (!box) {
            faults << QString(groups[g].box) + " missing";
            continue;
        }
        for (QPushButton *button : box->findChildren<QPushButton *>())
            check(button, button->objectName(), button->isEnabled(), want[g]);
    }
    auto *paste = panel->findChild<QAction *>("pasteAct");
    check(paste, "pasteAct", paste && paste->isEnabled(), panel->clipboardImage != nullptr);
    auto *undo = panel->findChild<QAction *>("undoAct");
    check(undo, "undoAct", undo && undo->isEnabled(), panel->history().canUndo());
    auto *redo = panel->findChild<QAction *>("redoAct");
    check(redo, "redoAct", redo && redo->isEnabled(), panel->history().canRedo());
    return faults;
}

}  // namespace guitest

void PanelTest::SetUp() {
    QSettings("Tamotool", "Orvstore Tool").clear();
    tool = new Tamotool;
    gTamotool = tool;
    panel = tool->mainWindow;
}

void PanelTest::TearDown() {
    guitest::cancelPendingAnswers();
    guitest::closeMessageBoxes();
    delete tool;
    gTamotool = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TAMOHDR *&PanelTest::slot(int index) {
    return tool->images[index];
}

TAMOHDR *PanelTest::put(int index, TAMOHDR *img) {
    if (slot(index)) Tamofree(slot(index), 7);
    slot(index) = img;
    return img;
}

void PanelTest::select(const char *group, int index) {
    auto *button = find<QRadioButton>(QString("%1_%2").arg(group).arg(index).toUtf8().constData());
    if (button) button->click();
}

void PanelTest::press(const char *name) {
    auto *button = find<QPushButton>(name);
    if (!button) return;
    EXPECT_TRUE(button->isEnabled()) << name << " is disabled";
    button->click();
}

void PanelTest::trigger(const char *name) {
    auto *action = find<QAction>(name);
    if (!action) return;
    EXPECT_TRUE(action->isEnabled()) << name << " is disabled";
    action->trigger();
}

void PanelTest::setMode(int mode) {
    if (panel->modeFlag != mode) find<QAction>("modeAct")->trigger();
    EXPECT_EQ(panel->modeFlag, mode);
}

QString PanelTest::groups() {
    QString result;
    for (const guitest::EnableGroup &group : guitest::enableGroups()) {
        QList<bool> on;
        for (const QString &name : group.actions)
            on << find<QAction>(name.toUtf8().constData())->isEnabled();
        if (group.box) {
            for (QPushButton *button : find<QGroupBox>(group.box)->findChildren<QPushButton *>())
                on << button->isEnabled();
        }
        result += on.count(true) == on.size() ? '1' : on.count(false) == on.size() ? '0' : 'x';
    }
    return result;
}
