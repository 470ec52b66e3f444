// Control panel: layout, slot selection, buffers, enable rules, the
// image-window table, the console and the application-wide services.
#include "tamotoolmainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <new>

#include "history.h"
#include "longwork.h"
#include "notices.h"
#include "tamo++.h"
#include "records.h"
#include "session.h"
#include "tamoop.h"
#include "tamoops.h"
#include "tamotool.h"
#include "tamotoolchildwindow.h"

namespace {

constexpr int kWorkSlot = 8;

// The record in slot `index` (0..8); null for an empty slot, an index out of
// range (a group with nothing checked) or before the application object exists.
TAMOHDR *slotImage(int index) {
    if (!gTamotool || index < 0 || index > kWorkSlot) return nullptr;
    return gTamotool->images[index];
}

const char kCannotCreate[] = "Cannot create the output image.";

}  // namespace

TamotoolMainWindow::TamotoolMainWindow()
    : op(nullptr),
      childWindows{},
      clipboardImage(nullptr),
      lastOpenPath{},
      reReadPath{},
      scriptOutputPath{},
      scriptInputPath{},
      scriptDir{},
      scriptPath{},
      rerunFlag(false),
      modeFlag(0),
      pendingOutput(nullptr),
      commandRunning(false),
      slotsBefore{},
      runningSubmitted(false),
      history_(std::make_unique<History>()),
      session_(std::make_unique<Session>()),
      recordingView(nullptr) {
    createLayout();
    createActions();
    createHistoryActions();
    createMenus();
    createToolBars();
    createStatusBar();
    readSettings();
    changeDisplayAccess(false);
    changeUnaryAccess(false);
    changeBinaryAccess(false);
    op = new TamoOp(this);
    setWindowTitle(tr("TamoTool Version 10.2.2"));
}

TamotoolMainWindow::~TamotoolMainWindow() {
    // Image windows unregister themselves through this object in their
    // destructors, so they must go while it is still whole.
    for (int i = 0; i < 8; ++i) destroyChildWindow(i);
    const auto windows = findChildren<TamotoolChildWindow *>();
    for (TamotoolChildWindow *window : windows) delete window;
    if (clipboardImage) Tamofree(clipboardImage, 7);
    clipboardImage = nullptr;
}

// ---- Layout ------------------------------------------------------------------------

QGroupBox *TamotoolMainWindow::createRadioGroup(const QString &title, const QString &prefix,
                                                QRadioButton *(&buttons)[8]) {
    auto *box = new QGroupBox(title);
    box->setObjectName(prefix + "Box");
    auto *row = new QHBoxLayout(box);
    for (int i = 0; i < 8; ++i) {
        buttons[i] = new QRadioButton(tr("%1").arg(i));
        buttons[i]->setObjectName(prefix + "_" + QString::number(i));
        row->addWidget(buttons[i]);
        connect(buttons[i], &QRadioButton::clicked, this, &TamotoolMainWindow::updateAccessability);
    }
    buttons[0]->setChecked(true);
    return box;
}

void TamotoolMainWindow::createLayout() {
    auto *central = new QGroupBox;
    auto *centralLayout = new QVBoxLayout(central);

    auto *panelBox = new QGroupBox(tr("Control Panel Version 2.1"));
    panelBox->setObjectName("panelBox");
    auto *panelLayout = new QHBoxLayout(panelBox);

    auto *selectBox = new QGroupBox(tr("Image Select"));
    selectBox->setObjectName("selectBox");
    auto *selectLayout = new QVBoxLayout(selectBox);
    selectLayout->addWidget(createRadioGroup("Input 1", "input1", input1Buttons));
    selectLayout->addWidget(createRadioGroup("Input 2", "input2", input2Buttons));
    selectLayout->addWidget(createRadioGroup("Output", "output", outputButtons));

    auto *commandBox = new QGroupBox(tr("Command"));
    commandBox->setObjectName("commandBox");
    auto *commandLayout = new QHBoxLayout(commandBox);
    auto *unaryBox = new QGroupBox(tr("Unary"));
    unaryBox->setObjectName("unaryBox");
    auto *unaryGrid = new QGridLayout(unaryBox);
    auto *binaryBox = new QGroupBox(tr("Binary"));
    binaryBox->setObjectName("binaryBox");
    auto *binaryStack = new QVBoxLayout(binaryBox);
    addCommandButtons(unaryGrid, binaryStack);
    commandLayout->addWidget(unaryBox);
    commandLayout->addWidget(binaryBox);

    panelLayout->addWidget(selectBox);
    panelLayout->addWidget(commandBox);

    console = new QPlainTextEdit;
    console->setObjectName("console");
    console->setReadOnly(true);
    console->setPlainText(">> Console");

    // The recorded session, shown under the console on request.
    recordingView = new QPlainTextEdit;
    recordingView->setObjectName("recordingView");
    recordingView->setReadOnly(true);
    recordingView->setLineWrapMode(QPlainTextEdit::NoWrap);
    recordingView->hide();

    centralLayout->addWidget(panelBox);
    centralLayout->addWidget(console);
    centralLayout->addWidget(recordingView);
    setCentralWidget(central);
}

// ---- Slot selection and buffers ------------------------------------------------------

int TamotoolMainWindow::getRadioButtonStatus(_RADIO_GROUP group) {
    QRadioButton **buttons = nullptr;
    switch (group) {
        case INPUT1:
            buttons = input1Buttons;
            break;
        case INPUT2:
            buttons = input2Buttons;
            break;
        case OUTPUT:
            buttons = outputButtons;
            break;
    }
    if (!buttons) return -1;
    for (int i = 0; i < 8; ++i) {
        if (buttons[i]->isChecked()) return i;
    }
    return -1;
}

void TamotoolMainWindow::storeInSlot(int index, TAMOHDR *img) {
    if (!gTamotool || index < 0 || index > kWorkSlot) return;
    TAMOHDR *old = gTamotool->replaceImage(index, img);
    if (old != img) releaseRecord(old);
}

void TamotoolMainWindow::releaseRecord(TAMOHDR *img) {
    if (!img) return;
    if (commandRunning)
        retired.append(img);
    else
        Tamofree(img, 7);
}

bool TamotoolMainWindow::isHeld(const TAMOHDR *img) const {
    if (img == clipboardImage || img == pendingOutput) return true;
    for (int i = 0; i <= kWorkSlot; ++i)
        if (slotImage(i) == img) return true;
    return false;
}

int TamotoolMainWindow::getUnaryBuffers(TAMOHDR *&in, TAMOHDR *&out, int &outIndex, _OP_TYPE type) {
    const int i = getRadioButtonStatus(INPUT1);
    const int o = getRadioButtonStatus(OUTPUT);
    outIndex = o;
    TAMOHDR *input = slotImage(i);
    if (!input || o < 0) return -1;

    // The new record is made before anything is released, so a failure
    // leaves every slot as it was. A one-dimensional input keeps its single
    // dimension under OP_FLOAT2D (there is no second one to take).
    const char *typeName = type == OP_COMPLEX ? "32cmp" : "float";
    TAMOHDR *fresh =
        frontend::createLike(input, typeName, type == OP_FLOAT2D ? 2 : TAMO_MAXDIM).release();
    if (!fresh) {
        showModalMessage(kCannotCreate);
        return -1;
    }
    in = input;
    if (i == o) {
        storeInSlot(kWorkSlot, fresh);
        out = fresh;
        return 1;
    }
    storeInSlot(o, fresh);
    out = fresh;
    return 0;
}

int TamotoolMainWindow::getBinaryBuffers(TAMOHDR *&in1, TAMOHDR *&in2, TAMOHDR *&out,
                                         int &outIndex) {
    const int a = getRadioButtonStatus(INPUT1);
    const int b = getRadioButtonStatus(INPUT2);
    const int o = getRadioButtonStatus(OUTPUT);
    outIndex = o;
    TAMOHDR *first = slotImage(a);
    TAMOHDR *second = slotImage(b);
    if (!first || !second || o < 0) return -1;

    TAMOHDR *fresh = frontend::createLike(first, "float").release();
    if (!fresh) {
        showModalMessage(kCannotCreate);
        return -1;
    }
    destroyChildWindow(o);
    in1 = first;
    in2 = second;
    out = fresh;
    if (o == a || o == b) {
        pendingOutput = fresh;
        return 3;
    }
    storeInSlot(o, fresh);
    return 0;
}

void TamotoolMainWindow::completeUnaryCopy(int result, int outIndex) {
    if (result != 1) return;
    TAMOHDR *work = slotImage(kWorkSlot);
    // The copy is only a "float" copy; any other result, or a copy that
    // cannot be made, is handed over as it is.
    if (!work || work->dtype != TAMO_32FLT) {
        completeUnaryMove(result, outIndex);
        return;
    }
    TAMOHDR *copy = flcrcopy(work);
    if (!copy) {
        completeUnaryMove(result, outIndex);
        return;
    }
    storeInSlot(kWorkSlot, nullptr);
    storeInSlot(outIndex, copy);
}

void TamotoolMainWindow::completeUnaryMove(int result, int outIndex) {
    if (result != 1) return;
    TAMOHDR *work = slotImage(kWorkSlot);
    if (!work) return;
    gTamotool->takeImage(kWorkSlot);
    storeInSlot(outIndex, work);
}

void TamotoolMainWindow::replaceBinaryOutput(TAMOHDR *&out, TAMOHDR *fresh, int outIndex) {
    if (out && out == pendingOutput) {
        // Held by no slot yet: completeBinaryBuffers stores the new record.
        pendingOutput = fresh;
        releaseRecord(out);
    } else {
        storeInSlot(outIndex, fresh);
    }
    out = fresh;
}

void TamotoolMainWindow::completeBinaryBuffers(int result, TAMOHDR *out, int outIndex) {
    if (result != 3 || !out) return;
    storeInSlot(outIndex, out);
    if (pendingOutput == out) pendingOutput = nullptr;
}

// ---- The command boundary ------------------------------------------------------------

bool TamotoolMainWindow::runCommand(const QString &name, const std::function<void()> &body) {
    // One command at a time: one started meanwhile (from a timer, say, while
    // the first waits for its computation) is refused.
    if (commandRunning) return false;
    const bool finished = runOneCommand(name, body);
    // What arrived meanwhile runs now, in order; what arrives while those
    // run joins the queue. The outermost command empties it.
    if (!runningSubmitted) {
        runningSubmitted = true;
        while (!submitted.isEmpty()) {
            const SubmittedCommand next = submitted.takeFirst();
            runOneCommand(next.name, next.change);
        }
        runningSubmitted = false;
    }
    return finished;
}

void TamotoolMainWindow::submitCommand(const QString &name, std::function<void()> change) {
    if (commandRunning)
        submitted.append({name, std::move(change)});
    else
        runCommand(name, change);
}

bool TamotoolMainWindow::runOneCommand(const QString &name, const std::function<void()> &body) {
    commandRunning = true;
    for (int i = 0; i <= kWorkSlot; ++i) slotsBefore[i] = slotImage(i);
    for (int i = 0; i < 8 && gTamotool; ++i) namesBefore[i] = gTamotool->imageNames[i];
    retired.clear();
    beginStep(name);
    const longwork::CommandScope scope(name, this);

    QString reason;
    try {
        body();
        // A finished command has stored or released its own output.
        pendingOutput = nullptr;
        finishStep();
        endCommand();
        updateHistoryActions();
        return true;
    } catch (const longwork::Cancelled &) {
        dropStep();
        rollBackCommand();
        updateHistoryActions();
        updateAccessability();
        addConsoleOutput("\n" + name + " cancelled");
        return false;
    } catch (const TamoFatal &fatal) {
        reason = QString("the library ended the operation (status %1)").arg(fatal.status());
    } catch (const std::bad_alloc &) {
        reason = "there is not enough memory";
    } catch (const std::exception &error) {
        reason = QString::fromLocal8Bit(error.what());
    } catch (...) {
        reason = "an unexpected error";
    }

    // Inputs stay as they are; the Output slot holds either its old record or
    // the whole zero-filled one prepared for the result.
    storeInSlot(kWorkSlot, nullptr);
    TAMOHDR *unstored = pendingOutput;
    pendingOutput = nullptr;
    releaseRecord(unstored);
    finishStep();
    endCommand();
    updateHistoryActions();
    updateAccessability();
    showModalMessage(QString("%1 stopped: %2.").arg(name, reason));
    return false;
}

void TamotoolMainWindow::endCommand() {
    commandRunning = false;
    QList<TAMOHDR *> dropped;
    dropped.swap(retired);
    std::sort(dropped.begin(), dropped.end());
    dropped.erase(std::unique(dropped.begin(), dropped.end()), dropped.end());
    for (TAMOHDR *img : dropped)
        if (!isHeld(img)) Tamofree(img, 7);
}

void TamotoolMainWindow::rollBackCommand() {
    QList<TAMOHDR *> made = retired;
    made.append(pendingOutput);
    pendingOutput = nullptr;
    if (gTamotool) {
        for (int i = 0; i <= kWorkSlot; ++i)
            made.append(gTamotool->replaceImage(i, slotsBefore[i]));
        for (int i = 0; i < 8; ++i) gTamotool->setImageName(i, namesBefore[i]);
    }
    retired = made;
    // Whatever the slots no longer hold came from the command.
    endCommand();
}

// ---- Following the slots' changes ------------------------------------------------------

void TamotoolMainWindow::listenTo(SlotNotifier &notifier) {
    connect(&notifier, &SlotNotifier::pixelsAboutToChange, this, &TamotoolMainWindow::keepForUndo);
    connect(&notifier, &SlotNotifier::slotChanged, this, &TamotoolMainWindow::followSlot);
}

void TamotoolMainWindow::followSlot(int slot, int changes) {
    // A record put back by Undo or Redo is shown where its slot's window is;
    // a command's result waits until the user shows the slot again.
    if ((changes & kRestored) && slot >= 0 && slot < 8) followWindow(slot);
    // A command re-applies the rules when it ends; until then its own
    // disabling stands.
    if (!commandRunning) updateAccessability();
}

// ---- Enable rules --------------------------------------------------------------------

void TamotoolMainWindow::changeDisplayAccess(bool enabled) {
    for (QAction *action : displayActions) action->setEnabled(enabled);
}

void TamotoolMainWindow::changeUnaryAccess(bool enabled) {
    for (QPushButton *button : unaryButtons) button->setEnabled(enabled);
    for (QAction *action : unaryActions) action->setEnabled(enabled);
}

void TamotoolMainWindow::changeBinaryAccess(bool enabled) {
    for (QPushButton *button : binaryButtons) button->setEnabled(enabled);
    for (QAction *action : binaryActions) action->setEnabled(enabled);
}

void TamotoolMainWindow::updateAccessability() {
    changeDisplayAccess(slotImage(getRadioButtonStatus(OUTPUT)) != nullptr);
    if (!slotImage(getRadioButtonStatus(INPUT1))) {
        changeUnaryAccess(false);
        changeBinaryAccess(false);
        return;
    }
    changeUnaryAccess(true);
    changeBinaryAccess(slotImage(getRadioButtonStatus(INPUT2)) != nullptr);
}

void TamotoolMainWindow::disableButtons() {
    changeDisplayAccess(false);
    changeUnaryAccess(false);
    changeBinaryAccess(false);
}

void TamotoolMainWindow::delete_() {
    const int o = getRadioButtonStatus(OUTPUT);
    submitCommand("Delete", [this, o] {
        if (slotImage(o)) {
            storeInSlot(o, nullptr);
            destroyChildWindow(o);
        }
    });
    updateAccessability();
}

// ---- Image-window table ----------------------------------------------------------------

void TamotoolMainWindow::updateChildPtr(const TamotoolChildWindow *window, _UPDATE_TYPE how) {
    const int o = how == CHILD_ADD ? getRadioButtonStatus(OUTPUT) : -1;
    QMutexLocker lock(&childMutex);
    switch (how) {
        case CHILD_REMOVE:
            for (TamotoolChildWindow *&entry : childWindows) {
                if (entry == window) entry = nullptr;
            }
            break;
        case CHILD_ADD:
            if (o >= 0) childWindows[o] = const_cast<TamotoolChildWindow *>(window);
            break;
    }
}

int TamotoolMainWindow::getIndexFromChildPtr(void *window) {
    for (int i = 0; i < 8; ++i) {
        if (childWindows[i] == window) return i;
    }
    return -1;
}

void TamotoolMainWindow::destroyChildWindow(int index) {
    if (index < 0 || index >= 8) return;
    TamotoolChildWindow *window = nullptr;
    {
        // The entry is cleared first: the window's destructor takes the same
        // lock to unregister itself.
        QMutexLocker lock(&childMutex);
        window = childWindows[index];
        childWindows[index] = nullptr;
    }
    delete window;
}

// ---- Console and messages -----------------------------------------------------------------

void TamotoolMainWindow::addConsoleOutput(QString text) {
    QTextCursor cursor = console->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    cursor.movePosition(QTextCursor::End);
    console->setTextCursor(cursor);
    console->ensureCursorVisible();
}

void TamotoolMainWindow::badMsg(int code) {
    switch (code) {
        case 2:
            showModalMessage("The crop funtion has  been implemented.");
            break;
        case 3:
            showModalMessage("Function return error code.");
            break;
        default:
            showModalMessage("No function has been defined for that button yet.");
            break;
    }
}

void TamotoolMainWindow::commandNotAvailable(const QString &name) {
    showTimedNote(name + " is not available yet.", 3000);
    updateAccessability();
}

// ---- Settings, About, close ------------------------------------------------------------------

void TamotoolMainWindow::readSettings() {
    QSettings settings("Tamotool", "Orvstore Tool");
    const QPoint pos = settings.value("pos", QPoint(200, 200)).toPoint();
    const QSize size = settings.value("size", QSize(400, 400)).toSize();
    resize(size);
    move(pos);
    // The undo memory in MiB; 0 or less (or none stored) is the default.
    const long long mib = settings.value("undoMemoryMiB", 0).toLongLong();
    if (history_) history_->setBudget(mib > 0 ? mib << 20 : History::defaultBudget());
    setReadLimit(settings.value("maxImageMiB", 0).toLongLong());
}

void TamotoolMainWindow::closeEvent(QCloseEvent *event) {
    QSettings settings("Tamotool", "Orvstore Tool");
    settings.setValue("pos", pos());
    settings.setValue("size", size());
    event->accept();
}

void TamotoolMainWindow::about() {
    QMessageBox::about(this, tr("About Application"),
                       "Tamotool " + VERSION +
                           " is an Orvstore tool which gives wide range of operations on "
                           "images\nBuilt under Yosemite");
}
