// The command catalogue: actions, menus, tool bars, status bar, the command
// buttons, the two command modes and the display-adjust slots.
#include <QAction>
#include <QGridLayout>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "commandtable.h"

void TamotoolMainWindow::addCommandButtons(QGridLayout *unaryGrid, QVBoxLayout *binaryStack) {
    std::vector<const CommandEntry *> grid;
    for (const CommandEntry &entry : commandTable()) {
        if (!entry.buttonName) continue;
        auto *button = new QPushButton(entry.labels[0]);
        button->setObjectName(entry.buttonName);
        if (entry.buttonTip) button->setToolTip(entry.buttonTip);
        connect(button, &QPushButton::released, this, entry.slot);
        this->*entry.button = button;
        if (entry.binary) {
            binaryStack->addWidget(button);
            binaryButtons.append(button);
        } else {
            grid.push_back(&entry);
        }
    }
    // Row by row; column 0 of the grid stays empty.
    std::stable_sort(grid.begin(), grid.end(), [](const CommandEntry *a, const CommandEntry *b) {
        return a->row != b->row ? a->row < b->row : a->column < b->column;
    });
    for (const CommandEntry *entry : grid) {
        unaryGrid->addWidget(this->*entry->button, entry->row, entry->column + 1);
        unaryButtons.append(this->*entry->button);
    }
    divButton->setEnabled(false);
}

void TamotoolMainWindow::createActions() {
    auto make = [this](const QString &text, const char *icon, const QString &tip,
                       const char *name) {
        auto *action = icon ? new QAction(QIcon(icon), text, this) : new QAction(text, this);
        action->setStatusTip(tip);
        action->setObjectName(name);
        return action;
    };
    using Slot = void (TamotoolMainWindow::*)();
    auto command = [this, &make](const QString &text, const QString &tip, const char *name,
                                 Slot slot) {
        QAction *action = make(text, nullptr, tip, name);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    openAct = make(tr("&Read"), ":/icons/folder_new.png", tr("Open an existing file"), "openAct");
    openAct->setShortcuts(QKeySequence::Open);
    connect(openAct, &QAction::triggered, this, &TamotoolMainWindow::open);

    reopenAct =
        make(tr("&ReRead"), ":/icons/img_reopen.png", tr("Reopen an existing file"), "reopenAct");
    connect(reopenAct, &QAction::triggered, this, &TamotoolMainWindow::reopen);

    archiveAct = make(tr("&Archive"), ":/icons/archive.png",
                      tr("Move the work image into the main image, overwriting the original."),
                      "archiveAct");
    connect(archiveAct, &QAction::triggered, this, &TamotoolMainWindow::archive);

    saveAsAct = make(tr("&SaveAs"), ":/icons/save.png",
                     tr("Save the image selected as OUTPUT under a new name, including "
                        "conversion."),
                     "saveAsAct");
    saveAsAct->setShortcuts(QKeySequence::SaveAs);
    connect(saveAsAct, &QAction::triggered, this, &TamotoolMainWindow::saveAs);

    runScriptAct = make(tr("Run Script"), ":/icons/run.png",
                        tr("Run a script on an image, read output back"), "runScriptAct");
    connect(runScriptAct, &QAction::triggered, this, &TamotoolMainWindow::runScript);

    exitAct = make(tr("E&xit"), nullptr, tr("Exit the application"), "exitAct");
    exitAct->setShortcuts(QKeySequence::Quit);
    connect(exitAct, &QAction::triggered, this, &QWidget::close);

    // Cut has no command behind it.
    cutAct = make(tr("Cu&t"), ":/icons/cut.png",
                  tr("Cut the current selection's contents to the clipboard"), "cutAct");
    cutAct->setShortcuts(QKeySequence::Cut);

    copyAct = make(tr("&Copy"), ":/icons/copy.png",
                   tr("Copy the current selection's contents to the clipboard"), "copyAct");
    copyAct->setShortcuts(QKeySequence::Copy);
    connect(copyAct, &QAction::triggered, this, &TamotoolMainWindow::copy);

    pasteAct = make(tr("&Paste"), ":/icons/paste.png",
                    tr("Paste the clipboard's contents into output buffer"), "pasteAct");
    pasteAct->setShortcuts(QKeySequence::Paste);
    connect(pasteAct, &QAction::triggered, this, &TamotoolMainWindow::paste);

    deleteAct =
        make(tr("&Delete"), ":/icons/delete.png", tr("Deletes the output buffer"), "deleteAct");
    deleteAct->setShortcuts(QKeySequence::Delete);
    connect(deleteAct, &QAction::triggered, this, &TamotoolMainWindow::delete_);

    aboutAct = make(tr("&About"), nullptr, tr("Show the application's About box"), "aboutAct");
    connect(aboutAct, &QAction::triggered, this, &TamotoolMainWindow::about);

    viewAct =
        make(tr("&View"), ":/icons/view.png", tr("Display the selected output buffer"), "viewAct");
    connect(viewAct, &QAction::triggered, this, &TamotoolMainWindow::view);

    modeAct = make(tr("&Mode 0"), nullptr, tr("Does mode things"), "modeAct");
    connect(modeAct, &QAction::triggered, this, &TamotoolMainWindow::mode);

    rerunAct =
        make(tr("&ReRun"), ":/icons/rerun.png", tr("Run the last script again."), "rerunAct");
    connect(rerunAct, &QAction::triggered, this, &TamotoolMainWindow::rerunScript);

    increaseBrightnessAct =
        command(tr("Bright +"), tr("Increases the brightness slightly"), "increaseBrightnessAct",
                &TamotoolMainWindow::increaseBrightness);
    decreaseBrightnessAct =
        command(tr("Bright -"), tr("Decreases the brightness slightly"), "decreaseBrightnessAct",
                &TamotoolMainWindow::decreaseBrightness);
    increaseWarmAct = command(tr("Warm +"), tr("Increases the Warmness slightly"),
                              "increaseWarmAct", &TamotoolMainWindow::increaseWarm);
    decreaseWarmAct = command(tr("Warm -"), tr("Decreases the Warmness slightly"),
                              "decreaseWarmAct", &TamotoolMainWindow::decreaseWarm);
    increaseCoolAct = command(tr("Cool +"), tr("Increases the Coolness slightly"),
                              "increaseCoolAct", &TamotoolMainWindow::increaseCool);
    decreaseCoolAct = command(tr("Cool -"), tr("Decreases the Coolness slightly"),
                              "decreaseCoolAct", &TamotoolMainWindow::decreaseCool);

    for (const CommandEntry &entry : commandTable()) {
        if (!entry.actionName) continue;
        QAction *action =
            command(tr(entry.actionText), tr(entry.actionTips[0]), entry.actionName, entry.slot);
        this->*entry.action = action;
        (entry.binary ? binaryActions : unaryActions).append(action);
    }

    rerunAct->setEnabled(false);
    pasteAct->setEnabled(false);

    displayActions = {cutAct,
                      copyAct,
                      deleteAct,
                      viewAct,
                      increaseBrightnessAct,
                      decreaseBrightnessAct,
                      increaseWarmAct,
                      decreaseWarmAct,
                      increaseCoolAct,
                      decreaseCoolAct};
}

void TamotoolMainWindow::createMenus() {
    fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->addActions({openAct, reopenAct, archiveAct, saveAsAct, runScriptAct});
    fileMenu->addSeparator();
    fileMenu->addAction(saveSessionAct);
    fileMenu->addSeparator();
    fileMenu->addAction(exitAct);

    editMenu = menuBar()->addMenu(tr("&Edit"));
    editMenu->addActions({undoAct, redoAct});
    editMenu->addSeparator();
    editMenu->addActions({cutAct, copyAct, pasteAct, deleteAct});
    editMenu->addSeparator();
    editMenu->addActions({undoMemoryAct, readLimitAct});

    displayMenu = menuBar()->addMenu(tr("Display"));
    displayMenu->addAction(viewAct);
    displayMenu->addAction(showRecordingAct);

    unaryMenu = menuBar()->addMenu(tr("Unary"));
    unaryMenu->addActions({dxAct, dyAct, dxxAct, dyyAct, dxdyAct});
    unaryMenu->addSeparator();
    unaryMenu->addActions({curvatureAct, exponentAct, inverseAct, laplacianAct});

    binaryMenu = menuBar()->addMenu(tr("Binary"));
    binaryMenu->addActions({addAct, subAct, mulAct, divAct, pconAct});

    complexMenu = menuBar()->addMenu(tr("Complex"));
    complexMenu->addActions({c2magAct, c2phaseAct, c2realAct, c2imagAct, fftAct, ifftAct});

    helpMenu = menuBar()->addMenu(tr("&Help"));
    helpMenu->addAction(aboutAct);
}

void TamotoolMainWindow::createToolBars() {
    fileToolBar = addToolBar(tr("File"));
    fileToolBar->addActions({openAct, reopenAct, archiveAct, saveAsAct});
    editToolBar = addToolBar(tr("Edit"));
    editToolBar->addActions({undoAct, redoAct, copyAct, pasteAct, rerunAct});
    displayToolBar = addToolBar(tr("Display"));
    displayToolBar->addActions({viewAct, modeAct});
}

void TamotoolMainWindow::createStatusBar() {
    statusBar()->showMessage(tr("Ready"));
}

// ---- Command mode ----------------------------------------------------------------------

void TamotoolMainWindow::mode() {
    modeFlag = modeFlag ? 0 : 1;
    relabelForMode();
}

void TamotoolMainWindow::relabelForMode() {
    const int m = modeFlag ? 1 : 0;
    for (const CommandEntry &entry : commandTable()) {
        if (entry.buttonName) (this->*entry.button)->setText(entry.labels[m]);
        if (entry.actionName)
            (this->*entry.action)
                ->setStatusTip(tr(entry.actionTips[m] ? entry.actionTips[m] : entry.actionTips[0]));
    }
    modeAct->setText(m ? tr("Mode 1") : tr("Mode 0"));
}

// ---- Display-adjust slots ----------------------------------------------------------------
// The picture itself is adjusted in the image window; here these only
// re-apply the enable rules.

void TamotoolMainWindow::mono() {
    updateAccessability();
}
void TamotoolMainWindow::increaseBrightness() {
    updateAccessability();
}
void TamotoolMainWindow::decreaseBrightness() {}
void TamotoolMainWindow::increaseWarm() {
    updateAccessability();
}
void TamotoolMainWindow::decreaseWarm() {
    updateAccessability();
}
void TamotoolMainWindow::increaseCool() {
    updateAccessability();
}
void TamotoolMainWindow::decreaseCool() {}
