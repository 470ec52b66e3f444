// The control panel: slot selection, command catalogue, console, the buffer
// model every command uses, the enable rules and the image-window table.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "tamo2qt.h"
#include "tamolib.h"
#include "windowhost.h"

struct CommandEntry;
class History;
class QAction;
class QCloseEvent;
class QGridLayout;
class QGroupBox;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QToolBar;
class QVBoxLayout;
class Session;
class SlotNotifier;
struct CommandTrace;
class TamoOp;
class TamotoolChildWindow;

// The three radio groups: first input, second input, output (2 is no group).
typedef enum { INPUT1 = 0, INPUT2 = 1, OUTPUT = 3 } _RADIO_GROUP;

// Output record requested from getUnaryBuffers: "float" of the input's
// dimensions, "32cmp" of the input's dimensions, or "float" of its first two.
typedef enum { OP_FLOAT = 0, OP_COMPLEX = 1, OP_FLOAT2D = 2 } _OP_TYPE;

class TamotoolMainWindow : public QMainWindow, public WindowHost {
    Q_OBJECT
    // The dispatcher runs parts of commands and re-applies the enable rules
    // itself.
    friend class TamoOp;

public:
    TamotoolMainWindow();
    ~TamotoolMainWindow() override;

    // Makes the undo history, the recorded session, the image windows and
    // the enable rules follow the slot changes `notifier` reports.
    void listenTo(SlotNotifier &notifier);

    // The image commands, one entry each (commandtable.h): their buttons,
    // actions, labels and tips in both modes, and their courses.
    static const std::vector<CommandEntry> &commandTable();

    // Index 0..7 of the checked button of a group, -1 when none is checked.
    int getRadioButtonStatus(_RADIO_GROUP group);

    // Input and output records of a unary command. Returns -1 when the Input 1
    // slot is empty or the output cannot be created (no slot is touched);
    // 0 when the Output slot received a new zero-filled record (out); 1 when
    // Input 1 is the Output slot and the work slot received it instead.
    int getUnaryBuffers(TAMOHDR *&in, TAMOHDR *&out, int &outIndex, _OP_TYPE type);
    // Input and output records of a binary command ("float" output of Input
    // 1's dimensions). Returns -1 when an input slot is empty or the output
    // cannot be created (no slot is touched); 0 when the Output slot received
    // the new record; 3 when the Output slot is one of the inputs, so that
    // out is held by no slot until completeBinaryBuffers stores it.
    int getBinaryBuffers(TAMOHDR *&in1, TAMOHDR *&in2, TAMOHDR *&out, int &outIndex);

    // Completion of a unary command after the operation. Result 1: the Output
    // slot receives the work slot's result, a "float" copy (copy) or the work
    // record itself (move), and the former image of the slot is released;
    // result 0: nothing to do.
    void completeUnaryCopy(int result, int outIndex);
    void completeUnaryMove(int result, int outIndex);
    // Completion of a binary command: result 3 stores out in the Output slot,
    // releasing the slot's former image; result 0: nothing to do.
    void completeBinaryBuffers(int result, TAMOHDR *out, int outIndex);

    // The command boundary: runs body, whose computations (TamoOp::compute)
    // run on a worker thread under a progress dialog named `name`. Records
    // that the command takes out of the slots are released only when it
    // ends. When the user cancels the computation, every slot gets back the
    // record it held before the command (same record, same pixels) and what
    // the command made is released. When the image library ends the command
    // (or memory runs out, or anything else is thrown, on either thread) the
    // work slot and any record held by no slot are released, every slot
    // keeps a whole record and the user is told which command stopped. Both
    // re-apply the enable rules. Returns true when body ran to its end; false
    // as well, doing nothing, while another command is running. The changes
    // submitted while it ran run after it, each as a command of its own.
    bool runCommand(const QString &name, const std::function<void()> &body);
    // The way in for changes that may arrive while a command runs (a file
    // from the desktop, an image window's Save): runs change as command
    // `name` at once, or queues it until the running command has ended,
    // finished or not.
    void submitCommand(const QString &name, std::function<void()> change) override;

    void changeDisplayAccess(bool enabled);
    void changeUnaryAccess(bool enabled);
    void changeBinaryAccess(bool enabled);

    void updateChildPtr(const TamotoolChildWindow *window, _UPDATE_TYPE how) override;
    int getIndexFromChildPtr(void *window) override;

    // Appends text at the end of the console (no newline added).
    void addConsoleOutput(QString text) override;

    // Loads the file into user slot `slot`.
    void handleFileByPath(QString path, int slot);
    // A file named on the command line or opened from the desktop: read as
    // a command of its own, its console block begun as Read begins it.
    void openFromOutside(const QString &path, int slot);

    void readSettings();

    // ---- Undo history and recorded session (undocommands.cpp) ----
    // What Undo and Redo can take back, and the session File > Save Session
    // As... writes.
    const History &history() const { return *history_; }
    const Session &session() const { return *session_; }
    // The undo history's memory budget in bytes (kept in the settings).
    void setUndoBudget(long long bytes);
    // The largest image a read may create, in MiB (kept in the settings);
    // 0 or less: the library's default.
    void setReadLimit(long long mib);
    // During a command: the tamo command line that makes what the command
    // made. Words "{IN1}", "{IN2}" and "{OUT}" stand for the images of the
    // Input 1, Input 2 and Output slots as the command found them, "{IN:n}"
    // and "{OUT:n}" for slot n, "{CLIP}" for the clipboard's image, "{TMP}"
    // for a file between two lines of the command; a first word "tamo" is
    // the tool.
    void recordTamo(const QStringList &words) override;
    // During a command: the command's parameter dialog was cancelled. What
    // the command left in the slots makes no undo step and no recorded
    // command.
    void declineCommand();
    // During a command: slot `slot` is about to change in place; its record
    // is copied now for the undo step.
    void keepForUndo(int slot);
    // The recorded session as the script Save Session As... writes.
    QString sessionScript() const;
    // Writes the recorded session to `path`; an empty text when written,
    // else the reason.
    QString writeSession(const QString &path) const;

    Tamo2Qt converter;
    TamoOp *op;
    TamotoolChildWindow *childWindows[8];
    QMutex childMutex;
    TAMOHDR *clipboardImage;
    // Full path of the file last loaded (local 8-bit encoding, any length).
    QByteArray lastOpenPath;
    QByteArray reReadPath;
    QString fileName;
    char scriptOutputPath[256];
    char scriptInputPath[256];
    char scriptDir[256];
    char scriptPath[256];
    // The same four paths at full length (local 8-bit encoding), which the
    // script runner uses; the arrays above hold them only when they fit in
    // 255 bytes and are empty otherwise.
    QByteArray fullScriptOutputPath;
    QByteArray fullScriptInputPath;
    QByteArray fullScriptDir;
    QByteArray fullScriptPath;
    bool rerunFlag;
    int32_t modeFlag;

protected:
    // Remembers the panel's position and size for the next start.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void badMsg(int code);
    void open();
    void reopen();
    bool save();
    bool archive();
    bool saveAs();
    void runScript();
    void about();
    void view();
    void mode();
    void copy();
    void paste();
    void delete_();
    void mono();
    void increaseBrightness();
    void decreaseBrightness();
    void increaseWarm();
    void decreaseWarm();
    void increaseCool();
    void decreaseCool();
    void dx();
    void dy();
    void dxx();
    void dyy();
    void dxdy();
    void curvature();
    void exponent();
    void correlate();
    void gdir();
    void inverse();
    void natlog();
    void laplacian();
    void histeq();
    void pseudo();
    void blur();
    void ccl();
    void c2mag();
    void c2phase();
    void c2real();
    void c2imag();
    void fft();
    void ifft();
    void add();
    void sub();
    void mul();
    void div();
    void pcon();
    void updateAccessability();
    void rerunScript();
    void disableButtons();
    void undo();
    void redo();
    void saveSessionAs();
    void showRecording(bool shown);
    void askUndoMemory();
    void askReadLimit();

private:
    void createLayout();
    QGroupBox *createRadioGroup(const QString &title, const QString &prefix,
                                QRadioButton *(&buttons)[8]);
    void addCommandButtons(QGridLayout *unaryGrid, QVBoxLayout *binaryStack);
    void createActions();
    void createMenus();
    void createToolBars();
    void createStatusBar();
    void createHistoryActions();
    void relabelForMode();
    // The file loading behind Read, ReRead and the files given at start.
    void loadFile(const QString &path, int slot);
    void readAsCommand(const QString &name, const QString &path, int slot);

    // Undo history and session around a command: beginStep notes what the
    // slots hold as the command starts, finishStep makes the undo step and
    // the recorded command of what it changed, dropStep forgets the command.
    void beginStep(const QString &name);
    void finishStep();
    // Records the zero images a command left in slots as the tool makes them.
    void recordZeroImages();
    void dropStep();
    // Undo (true) or redo (false) of the last step.
    void applyStep(bool undoing);
    // The image window of a slot whose record was swapped shows the new one.
    void followWindow(int slot);
    void updateHistoryActions();
    void refreshRecording();

    // One command through the boundary (runCommand without the queue).
    bool runOneCommand(const QString &name, const std::function<void()> &body);
    // What follows a slot's change: its image window and the enable rules.
    void followSlot(int slot, int changes);

    // Stores img in user slot `index`, releasing what the slot held before.
    void storeInSlot(int index, TAMOHDR *img);
    // Releases img, a record just taken out of a slot or made by the
    // running command; during a command only once the command has ended.
    void releaseRecord(TAMOHDR *img);
    // Whether a slot, the clipboard or the pending output holds img.
    bool isHeld(const TAMOHDR *img) const;
    // Ends the running command: releases the records it took out of the
    // slots that no slot holds any more.
    void endCommand();
    // Ends the running command as if it had not run: every slot gets back
    // what it held when the command began, and what the command made is
    // released.
    void rollBackCommand();
    // Deletes the image window registered for user slot `index`, if any.
    void destroyChildWindow(int index);
    // Tells the user that a command arrives with a later version and
    // re-applies the enable rules.
    void commandNotAvailable(const QString &name);
    // Puts fresh, a binary operation's own result record, in the place of
    // out (the record getBinaryBuffers prepared for Output slot outIndex),
    // releasing out; out becomes fresh.
    void replaceBinaryOutput(TAMOHDR *&out, TAMOHDR *fresh, int outIndex);

    // Runs the course the command table gives the command slot `slot` in
    // the current mode.
    void dispatchCommand(void (TamotoolMainWindow::*slot)());
    // The command slots' courses (commands.cpp).
    void runUnary(const QString &name, int code, _OP_TYPE type, bool keepBinary = false);
    void runComplexPart(const QString &name, int code, _OP_TYPE type, const char *refusal);
    void runBinary(const QString &name, int code);
    void dispatchUnary(int code, TAMOHDR *in, TAMOHDR *&out, int result, int outIndex);
    void replaceUnaryOutput(TAMOHDR *&out, TAMOHDR *fresh, int result, int outIndex);
    void hogCommand();
    void showHoGCommand();
    void cropCommand();
    void resizeCommand();
    void markMaxCommand();
    void pseudoCommand();
    void pconCommand();

    QRadioButton *input1Buttons[8];
    QRadioButton *input2Buttons[8];
    QRadioButton *outputButtons[8];
    QPlainTextEdit *console;

    // A binary command's output while the Output slot still holds an input.
    TAMOHDR *pendingOutput;

    // The running command: the slots as it found them, and the records it
    // took out of them (or made and dropped) whose release waits for its end.
    bool commandRunning;
    TAMOHDR *slotsBefore[9];
    QString namesBefore[8];
    QList<TAMOHDR *> retired;
    // Changes submitted while a command ran, in order of arrival.
    struct SubmittedCommand {
        QString name;
        std::function<void()> change;
    };
    QList<SubmittedCommand> submitted;
    bool runningSubmitted;

    std::unique_ptr<History> history_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<CommandTrace> trace_;
    QPlainTextEdit *recordingView;

    QMenu *fileMenu;
    QMenu *editMenu;
    QMenu *displayMenu;
    QMenu *unaryMenu;
    QMenu *binaryMenu;
    QMenu *complexMenu;
    QMenu *helpMenu;
    QToolBar *fileToolBar;
    QToolBar *editToolBar;
    QToolBar *displayToolBar;

    QAction *openAct;
    QAction *reopenAct;
    QAction *archiveAct;
    QAction *saveAsAct;
    QAction *runScriptAct;
    QAction *exitAct;
    QAction *cutAct;
    QAction *copyAct;
    QAction *pasteAct;
    QAction *deleteAct;
    QAction *aboutAct;
    QAction *viewAct;
    QAction *modeAct;
    QAction *rerunAct;
    QAction *increaseBrightnessAct;
    QAction *decreaseBrightnessAct;
    QAction *increaseWarmAct;
    QAction *decreaseWarmAct;
    QAction *increaseCoolAct;
    QAction *decreaseCoolAct;
    QAction *dxAct;
    QAction *dyAct;
    QAction *dxxAct;
    QAction *dyyAct;
    QAction *dxdyAct;
    QAction *cclAct;
    QAction *curvatureAct;
    QAction *exponentAct;
    QAction *inverseAct;
    QAction *natlogAct;
    QAction *laplacianAct;
    QAction *histeqAct;
    QAction *pseudoAct;
    QAction *c2magAct;
    QAction *c2phaseAct;
    QAction *c2realAct;
    QAction *c2imagAct;
    QAction *fftAct;
    QAction *ifftAct;
    QAction *addAct;
    QAction *subAct;
    QAction *mulAct;
    QAction *divAct;
    QAction *pconAct;
    QAction *undoAct;
    QAction *redoAct;
    QAction *saveSessionAct;
    QAction *showRecordingAct;
    QAction *undoMemoryAct;
    QAction *readLimitAct;

    // The three enable groups (the buttons are listed in the button members
    // below as well).
    QList<QAction *> displayActions;
    QList<QAction *> unaryActions;
    QList<QAction *> binaryActions;
    QList<QPushButton *> unaryButtons;
    QList<QPushButton *> binaryButtons;

    QPushButton *dxButton;
    QPushButton *dyButton;
    QPushButton *dxxButton;
    QPushButton *dyyButton;
    QPushButton *dxdyButton;
    QPushButton *cclButton;
    QPushButton *blurButton;
    QPushButton *exponentButton;
    QPushButton *inverseButton;
    QPushButton *laplacianButton;
    QPushButton *curvatureButton;
    QPushButton *histeqButton;
    QPushButton *pseudoButton;
    QPushButton *natlogButton;
    QPushButton *addButton;
    QPushButton *subButton;
    QPushButton *mulButton;
    QPushButton *divButton;
    QPushButton *pconButton;
    QPushButton *gdirButton;
    QPushButton *correlateButton;
};
