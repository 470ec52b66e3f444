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

#include "tamotoolmainwindow.h"

namespace {

// Labels of the command buttons in mode 0 and mode 1.
struct ButtonLabels {
    QPushButton *TamotoolMainWindow::*button;
    const char *mode0;
    const char *mode1;
};

const char kCMapTip[] =
    "Replace each pixel with a color corresponding to brightness\n 0:gray scale\n1:inverse "
    "gray scale\n2:Mevrel\n3:hot metal\n4:heated specturm\n5:log\n6:random";

}  // namespace

void TamotoolMainWindow::addCommandButtons(QGridLayout *unaryGrid, QVBoxLayout *binaryStack) {
    using Slot = void (TamotoolMainWindow::*)();
    auto make = [this](const char *label, Slot slot, const char *name, const char *tip) {
        auto *button = new QPushButton(label);
        button->setObjectName(name);
        if (tip) button->setToolTip(tip);
        connect(button, &QPushButton::released, this, slot);
        return button;
    };

    dxButton = make("DX", &TamotoolMainWindow::dx, "dxButton",
                    "First deriv wrt to x using convolution with derivative of a Gaussian");
    dyButton = make("DY", &TamotoolMainWindow::dy, "dyButton",
                    "First deriv wrt to y using convolution with derivative of a Gaussian");
    dxxButton = make("DXX", &TamotoolMainWindow::dxx, "dxxButton",
                     "Second deriv wrt to x using convolution with derivative of a Gaussian");
    dyyButton = make("DYY", &TamotoolMainWindow::dyy, "dyyButton",
                     "Second deriv wrt to y using convolution with derivative of a Gaussian");
    dxdyButton = make("DXY", &TamotoolMainWindow::dxdy, "dxdyButton",
                      "second deriv wrt to xy using convolution with derivative of a Gaussian");
    cclButton = make("CCL", &TamotoolMainWindow::ccl, "cclButton", "connected components");
    blurButton = make("Blur", &TamotoolMainWindow::blur, "blurButton",
                      "Blur the image with a Gaussian with user-selectable variance.");
    exponentButton =
        make("Exp", &TamotoolMainWindow::exponent, "exponentButton", "Exponentiate each pixel.");
    inverseButton = make("Inv", &TamotoolMainWindow::inverse, "inverseButton", "output=max-input");
    laplacianButton = make("Lap", &TamotoolMainWindow::laplacian, "laplacianButton",
                           "Calculate the Lapacian or QV at each pixel");
    curvatureButton = make("Curv", &TamotoolMainWindow::curvature, "curvatureButton",
                           "Calculate the curvature of the level set at each point");
    histeqButton =
        make("Histeq", &TamotoolMainWindow::histeq, "histeqButton", "Histogram equalization");
    pseudoButton = make("CMap", &TamotoolMainWindow::pseudo, "pseudoButton", kCMapTip);
    natlogButton = make("Ln", &TamotoolMainWindow::natlog, "natlogButton", nullptr);

    // Column 0 of the grid stays empty.
    QPushButton *const grid[7][2] = {
        {dxButton, exponentButton},   {dyButton, inverseButton},  {dxxButton, laplacianButton},
        {dyyButton, curvatureButton}, {dxdyButton, histeqButton}, {cclButton, pseudoButton},
        {blurButton, natlogButton},
    };
    for (int row = 0; row < 7; ++row) {
        for (int column = 0; column < 2; ++column) {
            unaryGrid->addWidget(grid[row][column], row, column + 1);
            unaryButtons.append(grid[row][column]);
        }
    }

    addButton = make("Add", &TamotoolMainWindow::add, "addButton", nullptr);
    subButton = make("Sub", &TamotoolMainWindow::sub, "subButton", nullptr);
    mulButton = make("Mul", &TamotoolMainWindow::mul, "mulButton", nullptr);
    divButton = make("Div", &TamotoolMainWindow::div, "divButton", nullptr);
    pconButton = make("pcon", &TamotoolMainWindow::pcon, "pconButton", nullptr);
    gdirButton = make("N/A", &TamotoolMainWindow::gdir, "gdirButton", nullptr);
    correlateButton = make("Correlate", &TamotoolMainWindow::correlate, "correlateButton", nullptr);
    for (QPushButton *button :
         {addButton, subButton, mulButton, divButton, pconButton, gdirButton, correlateButton}) {
        binaryStack->addWidget(button);
        binaryButtons.append(button);
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

    dxAct = command(tr("DX"), tr("First derivative wrt x of the image"), "dxAct",
                    &TamotoolMainWindow::dx);
    dyAct = command(tr("DY"), tr("First derivative wrt y of the image"), "dyAct",
                    &TamotoolMainWindow::dy);
    dxxAct = command(tr("DXX"), tr("Second derivative wrt x of the image"), "dxxAct",
                     &TamotoolMainWindow::dxx);
    dyyAct = command(tr("DYY"), tr("Second derivative wrt y of the image"), "dyyAct",
                     &TamotoolMainWindow::dyy);
    dxdyAct = command(tr("DXDY"), tr("Second derivative wrt x and y of the image"), "dxdyAct",
                      &TamotoolMainWindow::dxdy);
    cclAct = command(tr("CCL"), tr("Connected Components"), "cclAct", &TamotoolMainWindow::ccl);
    curvatureAct = command(tr("Curvature"), tr("Curvature of the image"), "curvatureAct",
                           &TamotoolMainWindow::curvature);
    exponentAct = command(tr("Exponent"), tr("Exponent of the image"), "exponentAct",
                          &TamotoolMainWindow::exponent);
    inverseAct = command(tr("Inverse"), tr("Inverse of the image"), "inverseAct",
                         &TamotoolMainWindow::inverse);
    natlogAct =
        command(tr("nat log"), tr("log of the image"), "natlogAct", &TamotoolMainWindow::natlog);
    laplacianAct = command(tr("Laplacian"), tr("Laplacian of the image"), "laplacianAct",
                           &TamotoolMainWindow::laplacian);
    histeqAct = command(tr("HistEq"), tr("Histogram equalization"), "histeqAct",
                        &TamotoolMainWindow::histeq);
    pseudoAct =
        command(tr("Psedo Color"), tr("Pseudo Color"), "pseudoAct", &TamotoolMainWindow::pseudo);
    c2magAct =
        command(tr("ComlexMag"), tr("Complex magnitude"), "c2magAct", &TamotoolMainWindow::c2mag);
    c2phaseAct =
        command(tr("ComlexPhase"), tr("Complex phase"), "c2phaseAct", &TamotoolMainWindow::c2phase);
    c2realAct = command(tr("Real"), tr("Real"), "c2realAct", &TamotoolMainWindow::c2real);
    c2imagAct =
        command(tr("Imaginary"), tr("Complex imaginary"), "c2imagAct", &TamotoolMainWindow::c2imag);
    fftAct = command(tr("FFT"), tr("Fast Fourier Tranform"), "fftAct", &TamotoolMainWindow::fft);
    ifftAct = command(tr("IFFT"), tr("Inverse Fast Fourier Tranform"), "ifftAct",
                      &TamotoolMainWindow::ifft);
    addAct = command(tr("Add"), tr("Adds inp1 and inp2 and saves it in output"), "addAct",
                     &TamotoolMainWindow::add);
    subAct = command(tr("Sub"), tr("Subtracts inp2 from inp1 and saves it in output"), "subAct",
                     &TamotoolMainWindow::sub);
    mulAct = command(tr("Mul"), tr("Multiplies inp2 from inp1 and saves it in output"), "mulAct",
                     &TamotoolMainWindow::mul);
    divAct = command(tr("div"), tr("divides inp1 by inp1 and saves it in output"), "divAct",
                     &TamotoolMainWindow::div);
    pconAct = command(tr("pcon"), tr("segments an image using piecewise-constant MFA"), "pconAct",
                      &TamotoolMainWindow::pcon);

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
    unaryActions = {dxAct,        dxdyAct,      dyAct,       dxxAct,     dyyAct,
                    cclAct,       curvatureAct, exponentAct, inverseAct, natlogAct,
                    laplacianAct, histeqAct,    pseudoAct,   c2magAct,   c2phaseAct,
                    c2realAct,    c2imagAct,    fftAct,      ifftAct};
    binaryActions = {addAct, subAct, mulAct, divAct, pconAct};
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
    static const ButtonLabels labels[] = {
        {&TamotoolMainWindow::dxButton, "DX", "HoG"},
        {&TamotoolMainWindow::dyButton, "DY", "ShowHoG"},
        {&TamotoolMainWindow::dxxButton, "DXX", "gMag"},
        {&TamotoolMainWindow::dyyButton, "DYY", "gDir"},
        {&TamotoolMainWindow::dxdyButton, "DXY", "Clr2Gray"},
        {&TamotoolMainWindow::natlogButton, "Ln", "N/A"},
        {&TamotoolMainWindow::blurButton, "Blur", "N/A"},
        {&TamotoolMainWindow::cclButton, "CCL", "ABS"},
        {&TamotoolMainWindow::exponentButton, "Exp", "Crop"},
        {&TamotoolMainWindow::inverseButton, "Inv", "Resize"},
        {&TamotoolMainWindow::laplacianButton, "Lap", "Qvar"},
        {&TamotoolMainWindow::curvatureButton, "Curv", "HarrisOp"},
        {&TamotoolMainWindow::histeqButton, "Histeq", "MarkMax"},
        {&TamotoolMainWindow::pseudoButton, "CMap", "2D 2 3D"},
        {&TamotoolMainWindow::correlateButton, "Correlate", "N/A"},
        {&TamotoolMainWindow::addButton, "Add", "N/A"},
        {&TamotoolMainWindow::subButton, "Sub", "N/A"},
        {&TamotoolMainWindow::mulButton, "Mul", "N/A"},
        {&TamotoolMainWindow::divButton, "Div", "N/A"},
        {&TamotoolMainWindow::pconButton, "pcon", "N/A"},
        {&TamotoolMainWindow::gdirButton, "N/A", "N/A"},
    };
    const bool one = modeFlag != 0;
    for (const ButtonLabels &entry : labels) {
        (this->*entry.button)->setText(one ? entry.mode1 : entry.mode0);
    }
    modeAct->setText(one ? tr("Mode 1") : tr("Mode 0"));
    laplacianAct->setStatusTip(one ? tr("Quadratic Variation") : tr("Laplacian of the image"));
    curvatureAct->setStatusTip(one ? tr("Use Harris operator to find corners")
                                   : tr("Curvature of the image"));
    histeqAct->setStatusTip(one ? tr("Mark Maxima in Red") : tr("Histogram equalization"));
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
