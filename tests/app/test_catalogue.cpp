// The command catalogue: modes, wiring of keys, buttons and slots, messages.
#include <QAction>
#include <QApplication>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPushButton>

#include <map>
#include <string>

#include "commandtable.h"
#include "guitest.h"

using guitest::makeImage;

namespace {

// Every button's label, in the order of the "Unary" grid then the "Binary" box.
QStringList labels(QWidget *panel) {
    QStringList list;
    for (QPushButton *button : panel->findChildren<QPushButton *>()) list << button->text();
    return list;
}

}  // namespace

TEST_F(PanelTest, ModeRelabelsTheButtonsAndTwiceRestoresEverything) {
    QAction *modeAct = find<QAction>("modeAct");
    const QStringList before = labels(panel);
    QStringList tipsBefore;
    for (const char *name : {"laplacianAct", "curvatureAct", "histeqAct"})
        tipsBefore << find<QAction>(name)->statusTip();

    modeAct->trigger();
    EXPECT_EQ(panel->modeFlag, 1);
    EXPECT_EQ(modeAct->text(), "Mode 1");
    // Every button and action the table names shows its mode-1 text.
    for (const CommandEntry &entry : TamotoolMainWindow::commandTable()) {
        if (entry.buttonName)
            EXPECT_EQ(find<QPushButton>(entry.buttonName)->text(), entry.labels[1]);
        if (entry.actionName)
            EXPECT_EQ(find<QAction>(entry.actionName)->statusTip(),
                      entry.actionTips[1] ? entry.actionTips[1] : entry.actionTips[0]);
    }
    // A few by hand, so that the table itself is checked too.
    EXPECT_EQ(find<QPushButton>("dxButton")->text(), "HoG");
    EXPECT_EQ(find<QPushButton>("pseudoButton")->text(), "2D 2 3D");
    EXPECT_EQ(find<QPushButton>("gdirButton")->text(), "N/A");
    EXPECT_EQ(find<QAction>("laplacianAct")->statusTip(), "Quadratic Variation");
    EXPECT_EQ(find<QAction>("curvatureAct")->statusTip(), "Use Harris operator to find corners");
    EXPECT_EQ(find<QAction>("histeqAct")->statusTip(), "Mark Maxima in Red");
    // Action texts other than the Mode action's stay.
    EXPECT_EQ(find<QAction>("laplacianAct")->text(), "Laplacian");

    modeAct->trigger();
    EXPECT_EQ(panel->modeFlag, 0);
    EXPECT_EQ(modeAct->text(), "Mode 0");
    EXPECT_EQ(labels(panel), before);
    QStringList tipsAfter;
    for (const char *name : {"laplacianAct", "curvatureAct", "histeqAct"})
        tipsAfter << find<QAction>(name)->statusTip();
    EXPECT_EQ(tipsAfter, tipsBefore);
}

TEST_F(PanelTest, StandardShortcutsReachTheirActions) {
    slot(0) = makeImage(4, 4);
    QMetaObject::invokeMethod(panel, "updateAccessability");
    // Paste comes before Copy: it is disabled until something was copied,
    // and a disabled action's key does nothing.
    const std::pair<const char *, QKeySequence::StandardKey> keys[] = {
        {"openAct", QKeySequence::Open}, {"saveAsAct", QKeySequence::SaveAs},
        {"cutAct", QKeySequence::Cut},   {"pasteAct", QKeySequence::Paste},
        {"copyAct", QKeySequence::Copy}, {"deleteAct", QKeySequence::Delete},
        {"exitAct", QKeySequence::Quit}};
    EXPECT_FALSE(find<QAction>("pasteAct")->isEnabled());
    guitest::DialogCloser closer;  // the commands may ask for files
    std::map<std::string, int> triggered;
    for (const auto &[name, key] : keys) {
        SCOPED_TRACE(name);
        guitest::closeMessageBoxes();
        QApplication::setActiveWindow(panel);
        ASSERT_TRUE(guitest::waitUntil([&] { return panel->isActiveWindow(); }));
        const std::string action = name;
        QObject::connect(find<QAction>(name), &QAction::triggered, panel,
                         [&triggered, action] { ++triggered[action]; });
        // Some platforms' key schemes have no binding for a key (SaveAs on
        // the offscreen one); the action then has no shortcut to reach.
        const QKeySequence sequence = QKeySequence::keyBindings(key).value(0);
        if (sequence.isEmpty()) continue;
        guitest::keyClick(panel, sequence);
        EXPECT_EQ(triggered[action], key == QKeySequence::Paste ? 0 : 1);
    }
    EXPECT_EQ(slot(0), nullptr);  // Delete emptied the Output slot
    // Exit closes the panel, with or without a Quit key on this platform.
    find<QAction>("exitAct")->trigger();
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(PanelTest, ButtonsActOnReleaseNotOnPress) {
    slot(0) = makeImage(4, 4);
    QMetaObject::invokeMethod(panel, "updateAccessability");
    auto *button = find<QPushButton>("dxButton");
    guitest::DialogScript script;  // cancels the sigma dialog
    guitest::mousePress(button);
    guitest::settle(100);
    EXPECT_TRUE(script.seen().isEmpty());
    guitest::mouseRelease(button);
    ASSERT_EQ(script.seen().size(), 1);
    EXPECT_EQ(script.seen()[0].title, "Dx");
}

TEST_F(PanelTest, CutAndTheDecreaseAdjustmentsDoNothing) {
    slot(0) = makeImage(4, 4);
    QMetaObject::invokeMethod(panel, "updateAccessability");
    TAMOHDR *image = slot(0);
    auto seen = guitest::answerNextDialog({}, 200);
    find<QAction>("cutAct")->trigger();
    guitest::waitUntil([] { return false; }, 250);
    EXPECT_FALSE(seen->seen);
    EXPECT_TRUE(guitest::shownNoticeTexts().isEmpty());
    EXPECT_EQ(slot(0), image);

    // The other adjustments re-apply the enable rules; these two leave them.
    QAction *dx = find<QAction>("dxAct");
    for (const char *name : {"decreaseBrightnessAct", "decreaseCoolAct"}) {
        QMetaObject::invokeMethod(panel, "disableButtons");
        QMetaObject::invokeMethod(
            panel, name == std::string("decreaseCoolAct") ? "decreaseCool" : "decreaseBrightness");
        EXPECT_FALSE(dx->isEnabled()) << name;
    }
    for (const char *slotName :
         {"mono", "increaseBrightness", "increaseWarm", "decreaseWarm", "increaseCool"}) {
        QMetaObject::invokeMethod(panel, "disableButtons");
        QMetaObject::invokeMethod(panel, slotName);
        EXPECT_TRUE(dx->isEnabled()) << slotName;
    }
}

TEST_F(PanelTest, EveryCommandIsAPrivateSlotThatCanBeInvokedByName) {
    // The command slots come from the command table; the others are listed.
    QStringList signatures = {"badMsg(int)",
                              "open()",
                              "reopen()",
                              "save()",
                              "archive()",
                              "saveAs()",
                              "runScript()",
                              "about()",
                              "view()",
                              "mode()",
                              "copy()",
                              "paste()",
                              "delete_()",
                              "mono()",
                              "increaseBrightness()",
                              "decreaseBrightness()",
                              "increaseWarm()",
                              "decreaseWarm()",
                              "increaseCool()",
                              "decreaseCool()",
                              "updateAccessability()",
                              "rerunScript()",
                              "disableButtons()"};
    for (const CommandEntry &entry : TamotoolMainWindow::commandTable())
        signatures << QString(entry.slotName) + "()";
    EXPECT_EQ(signatures.size(), 50);
    const QMetaObject *meta = panel->metaObject();
    for (const QString &signature : signatures) {
        const int index = meta->indexOfSlot(signature.toLatin1().constData());
        ASSERT_GE(index, 0) << signature;
        EXPECT_EQ(meta->method(index).access(), QMetaMethod::Private) << signature;
    }
    for (const char *name : {"save", "archive", "saveAs"}) {
        EXPECT_EQ(meta->method(meta->indexOfSlot((std::string(name) + "()").c_str())).returnType(),
                  QMetaType::Bool)
            << name;
    }
}

TEST_F(PanelTest, BadMsgTellsTheFixedTexts) {
    const std::pair<int, const char *> cases[] = {
        {1, "No function has been defined for that button yet."},
        {2, "The crop funtion has  been implemented."},
        {3, "Function return error code."},
        {-7, "No function has been defined for that button yet."}};
    for (const auto &[code, text] : cases) {
        auto seen = guitest::answerNextDialog();
        QMetaObject::invokeMethod(panel, "badMsg", Q_ARG(int, code));
        EXPECT_TRUE(seen->seen) << code;
        EXPECT_EQ(seen->className, "QMessageBox");
        EXPECT_EQ(seen->text, text) << code;
    }
}

TEST_F(PanelTest, ConsoleAppendsAtTheEndWithoutNewlines) {
    panel->addConsoleOutput("\nOpening ");
    panel->addConsoleOutput("a.png");
    EXPECT_EQ(find<QPlainTextEdit>("console")->toPlainText(), ">> Console\nOpening a.png");
}
