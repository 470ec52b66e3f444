// Shared helpers of the GUI tests: answering modal dialogs so that no test
// can hang, reading non-modal notices, and a fixture with a fresh workbench.
#pragma once

#include <gtest/gtest.h>

#include <QKeySequence>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <ostream>

#include "tamolib.h"
#include "tamotool.h"
#include "tamotoolmainwindow.h"

class QWidget;
class TamotoolChildWindow;

// Readable failure messages for Qt values.
inline std::ostream &operator<<(std::ostream &os, const QString &text) {
    return os << '"' << text.toStdString() << '"';
}
inline std::ostream &operator<<(std::ostream &os, const QPoint &p) {
    return os << "(" << p.x() << ", " << p.y() << ")";
}
inline std::ostream &operator<<(std::ostream &os, const QSize &s) {
    return os << s.width() << " x " << s.height();
}

namespace guitest {

// What answerNextDialog found.
struct DialogSeen {
    bool seen = false;
    QString className;  // e.g. "QMessageBox", "QInputDialog"
    QString title;
    QString text;  // a message box's text or an input dialog's label
};

using DialogAction = std::function<void(QWidget *)>;

// Arms a poller that waits for the next modal dialog or message box, records
// what it shows, runs `action` on it (default: reject) and closes it if the
// action left it open. Call it before the code that opens the dialog; the
// poller runs inside the dialog's own event loop. When nothing appears within
// timeoutMs the poller gives up and seen stays false.
std::shared_ptr<DialogSeen> answerNextDialog(DialogAction action = {}, int timeoutMs = 5000);

// While it lives, rejects every modal dialog that opens (for code that may
// ask several questions whose answers do not matter to the test).
class DialogCloser {
public:
    DialogCloser();
    ~DialogCloser();
    DialogCloser(const DialogCloser &) = delete;
    DialogCloser &operator=(const DialogCloser &) = delete;
    // Titles or texts of the dialogs closed so far.
    QStringList closed() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Stops every poller that has not found its dialog yet.
void cancelPendingAnswers();

// Ready-made actions.
DialogAction acceptDialog();                          // QDialog::accept
DialogAction rejectDialog();                          // QDialog::reject
DialogAction clickMessageButton(int standardButton);  // a QMessageBox::StandardButton
DialogAction enterValue(const QVariant &value);       // QInputDialog: int, double or text
DialogAction fillForm(const QStringList &texts);      // line edits in order, then accept

// Texts of the visible message boxes that are not modal (timed notices).
QStringList shownNoticeTexts();
// Closes every visible message box.
void closeMessageBoxes();

// Input as the window system delivers it: a key press goes through the
// shortcut map first, mouse events reach the widget at its centre.
void keyClick(QWidget *widget, const QKeySequence &key);
void mousePress(QWidget *widget, Qt::MouseButton button = Qt::LeftButton);
void mouseRelease(QWidget *widget, Qt::MouseButton button = Qt::LeftButton);

// Processes events until cond holds or timeoutMs passes; returns cond().
bool waitUntil(const std::function<bool()> &cond, int timeoutMs = 2000);

// Rejects any modal dialog left open longer than ms and fails the running
// test, so that a forgotten answer cannot hang the run.
void installModalWatchdog(int ms);

// A new image window for user slot `slot`, parented to the panel as View
// makes it (not registered in the window table).
TamotoolChildWindow *openWindow(TamotoolMainWindow *panel, int slot);

// A new zero-filled "float" record of cols x rows (x frames when frames > 0)
// whose pixel k holds first + k.
TAMOHDR *makeImage(int cols, int rows, int frames = 0, float first = 0.0f,
                   const char *type = "float");

}  // namespace guitest

// A fresh application object and control panel for each test, with empty
// settings; torn down (panel, windows and slots) afterwards.
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TAMOHDR *&slot(int index);
    // Checks the radio button `index` of a group ("input1", "input2",
    // "output") with a click, as the user would.
    void select(const char *group, int index);
    template <class T>
    T *find(const char *name) const;

    Tamotool *tool = nullptr;
    TamotoolMainWindow *panel = nullptr;
};

template <class T>
T *PanelTest::find(const char *name) const {
    T *widget = panel->findChild<T *>(name);
    EXPECT_NE(widget, nullptr) << "no child named " << name;
    return widget;
}
