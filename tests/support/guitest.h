// Shared helpers of the GUI tests: answering modal dialogs so that no test
// can hang, reading non-modal notices, and a fixture with a fresh workbench.
#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QKeySequence>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "tamolib.h"
#include "tamotool.h"
#include "tamotoolmainwindow.h"

class QProgressDialog;
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
    QString text;  // a message box's text, an input dialog's label or a form's caption
    bool modal = false;
    // An input dialog's set-up: QInputDialog::InputMode (-1 for other
    // dialogs), start value, limits, decimals (double) or step (int).
    int inputMode = -1;
    double value = 0, minimum = 0, maximum = 0;
    int decimals = 0, step = 0;
    // A form's rows: the label and the initial text of each line edit.
    QStringList labels, fields;
};

using DialogAction = std::function<void(QWidget *)>;

// Arms a poller that waits for the next modal dialog or message box, records
// what it shows, runs `action` on it (default: reject) and closes it if the
// action left it open. Call it before the code that opens the dialog; the
// poller runs inside the dialog's own event loop. When nothing appears within
// timeoutMs the poller gives up and seen stays false.
std::shared_ptr<DialogSeen> answerNextDialog(DialogAction action = {}, int timeoutMs = 5000);

// While it lives, answers the modal dialogs that open one after the other
// with `actions` in order, and rejects every dialog beyond them. A dialog
// that an action leaves open (a form refusing its values) counts as a new
// dialog once another one has been answered on top of it.
class DialogScript {
public:
    explicit DialogScript(QList<DialogAction> actions = {});
    ~DialogScript();
    DialogScript(const DialogScript &) = delete;
    DialogScript &operator=(const DialogScript &) = delete;
    // Every dialog answered so far, in order.
    QList<DialogSeen> seen() const;
    // Their texts (titles where a dialog has no text).
    QStringList texts() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// While it lives, rejects every modal dialog that opens (for code that may
// ask several questions whose answers do not matter to the test).
class DialogCloser : public DialogScript {
public:
    // Titles or texts of the dialogs closed so far.
    QStringList closed() const { return texts(); }
};

// What a ProgressWatch saw of the progress dialogs that showed.
struct ProgressSeen {
    int shown = 0;  // progress dialogs seen
    QString label;
    bool applicationModal = false;
    int maximum = -1, value = -1;  // the bar when last looked at
    bool cancelled = false;        // Cancel was clicked
    QElapsedTimer sinceCancel;     // started when it was
};

// While it lives, watches the progress dialogs (QProgressDialog) of long
// computations, which the dialog answerers above leave alone. `onPoll`,
// when given, runs every 10 ms while such a dialog shows; when it returns
// true, the dialog's Cancel button is clicked (once).
class ProgressWatch {
public:
    explicit ProgressWatch(std::function<bool(QProgressDialog *)> onPoll = {});
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch &) = delete;
    ProgressWatch &operator=(const ProgressWatch &) = delete;
    const ProgressSeen &seen() const;

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

// The visible message boxes that are not modal (timed notices), and their texts.
QList<DialogSeen> shownNotices();
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

// Processes events for ms milliseconds (lets timers and notices run).
void settle(int ms);

// A new zero-filled "float" record of cols x rows (x frames when frames > 0)
// whose pixel k holds first + k.
TAMOHDR *makeImage(int cols, int rows, int frames = 0, float first = 0.0f,
                   const char *type = "float");
// A new record like img: same type and dimensions, same pixels.
TAMOHDR *copyImage(const TAMOHDR *img);
// A new zero-filled record of img's dimensions and the given type.
TAMOHDR *blankLike(const TAMOHDR *img, const char *type = "float");
// Dimension lengths, e.g. {4, 3} for 4 columns and 3 rows.
std::vector<int> shape(const TAMOHDR *img);
// Whether every element is zero.
bool allZero(const TAMOHDR *img);
// Same type name, dimensions and pixel bytes (NaN patterns included).
testing::AssertionResult sameImage(const TAMOHDR *actual, const TAMOHDR *expected);
// Same dimensions and each element of a "float" record within tolerance of
// the expected value (a function of the element's index).
testing::AssertionResult floatsNear(const TAMOHDR *actual,
                                    const std::function<double(int)> &expected,
                                    double tolerance = 1e-5);

// The three enable groups of the control panel: the actions (object names)
// and the command box whose buttons belong to each group.
struct EnableGroup {
    const char *name;  // "display", "unary", "binary"
    QStringList actions;
    const char *box;  // object name of the button box, or null
};
const QList<EnableGroup> &enableGroups();

// The controls whose enabled state disagrees with what the selected slots
// hold: display controls with the Output slot, unary ones with Input 1,
// binary ones with Input 1 and Input 2; Paste with the clipboard, Undo and
// Redo with the history. Empty when every control agrees.
QStringList enableRuleFaults(TamotoolMainWindow *panel);

// Owns a record for the length of a test.
struct ImageOwner {
    explicit ImageOwner(TAMOHDR *img = nullptr) : img(img) {}
    ~ImageOwner() { reset(); }
    ImageOwner(const ImageOwner &) = delete;
    ImageOwner &operator=(const ImageOwner &) = delete;
    void reset(TAMOHDR *next = nullptr) {
        if (img) Tamofree(img, 7);
        img = next;
    }
    TAMOHDR *get() const { return img; }
    operator TAMOHDR *() const { return img; }
    TAMOHDR *img;
};

}  // namespace guitest

// A fresh application object and control panel for each test, with empty
// settings; torn down (panel, windows and slots) afterwards.
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TAMOHDR *&slot(int index);
    // Stores img in slot `index`, releasing the record the slot held; returns img.
    TAMOHDR *put(int index, TAMOHDR *img);
    // Checks the radio button `index` of a group ("input1", "input2",
    // "output") with a click, as the user would.
    void select(const char *group, int index);
    template <class T>
    T *find(const char *name) const;
    // Clicks a command button by object name ("dxButton"); fails the test
    // when the button is disabled (a click would then do nothing).
    void press(const char *button);
    // Triggers an action by object name ("fftAct"); fails the test when the
    // action is disabled.
    void trigger(const char *action);
    // Switches the command mode to `mode` (0 or 1) through the Mode action.
    void setMode(int mode);
    // The enable state of the three control groups (display, unary, binary),
    // one character each: '1' all on, '0' all off, 'x' when they disagree.
    QString groups();

    Tamotool *tool = nullptr;
    TamotoolMainWindow *panel = nullptr;
};

template <class T>
T *PanelTest::find(const char *name) const {
    T *widget = panel->findChild<T *>(name);
    EXPECT_NE(widget, nullptr) << "no child named " << name;
    return widget;
}
