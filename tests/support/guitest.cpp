#include "guitest.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>

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
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        seen.text = box->text();
    } else if (auto *input = qobject_cast<QInputDialog *>(widget)) {
        seen.text = input->labelText();
    } else if (auto *label = widget->findChild<QLabel *>()) {
        seen.text = label->text();
    }
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
        QWidget *modal = QApplication::activeModalWidget();
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

struct DialogCloser::State {
    QTimer *timer = nullptr;
    QStringList closed;
};

DialogCloser::DialogCloser() : state_(std::make_shared<State>()) {
    state_->timer = new QTimer(qApp);
    state_->timer->setInterval(10);
    std::weak_ptr<State> weak = state_;
    QObject::connect(state_->timer, &QTimer::timeout, [weak]() {
        auto state = weak.lock();
        QWidget *modal = QApplication::activeModalWidget();
        if (!state || !modal || !modal->isVisible()) return;
        DialogSeen seen;
        record(modal, seen);
        state->closed << (seen.text.isEmpty() ? seen.title : seen.text);
        closeDialog(modal);
    });
    state_->timer->start();
}

DialogCloser::~DialogCloser() {
    delete state_->timer;
}

QStringList DialogCloser::closed() const {
    return state_->closed;
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

QStringList shownNoticeTexts() {
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && !box->isModal()) texts << box->text();
    }
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

void PanelTest::select(const char *group, int index) {
    auto *button = find<QRadioButton>(QString("%1_%2").arg(group).arg(index).toUtf8().constData());
    if (button) button->click();
}
