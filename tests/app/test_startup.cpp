// The application object, start-up state, settings, desktop file-open
// requests and the About box.
#include <QAction>
#include <QApplication>
#include <QFileOpenEvent>
#include <QGroupBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "guitest.h"

using guitest::answerNextDialog;

TEST_F(PanelTest, StartsEmptyWithEveryCommandGroupDisabled) {
    for (int i = 0; i < 9; ++i) EXPECT_EQ(slot(i), nullptr) << "slot " << i;
    for (const QString &name : tool->imageNames) EXPECT_TRUE(name.isEmpty());
    EXPECT_EQ(tool->clickX1, 0);
    EXPECT_EQ(tool->clickY1, 0);
    EXPECT_EQ(tool->clickX2, 0);
    EXPECT_EQ(tool->clickY2, 0);
    EXPECT_EQ(tool->labelCount, 0);
    EXPECT_EQ(panel->modeFlag, 0);
    EXPECT_EQ(panel->clipboardImage, nullptr);
    EXPECT_NE(panel->op, nullptr);
    for (TamotoolChildWindow *window : panel->childWindows) EXPECT_EQ(window, nullptr);

    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->windowTitle(), "TamoTool Version 10.2.2");
    EXPECT_EQ(find<QPlainTextEdit>("console")->toPlainText(), ">> Console");
    EXPECT_TRUE(find<QPlainTextEdit>("console")->isReadOnly());
    EXPECT_EQ(panel->statusBar()->currentMessage(), "Ready");
    const std::pair<const char *, const char *> titles[] = {
        {"panelBox", "Control Panel Version 2.1"},
        {"selectBox", "Image Select"},
        {"input1Box", "Input 1"},
        {"input2Box", "Input 2"},
        {"outputBox", "Output"},
        {"commandBox", "Command"},
        {"unaryBox", "Unary"},
        {"binaryBox", "Binary"}};
    for (const auto &[name, title] : titles) EXPECT_EQ(find<QGroupBox>(name)->title(), title);

    for (const char *group : {"input1", "input2", "output"}) {
        for (int i = 0; i < 8; ++i) {
            auto *button = find<QRadioButton>(QString("%1_%2").arg(group).arg(i).toUtf8());
            EXPECT_EQ(button->text(), QString::number(i));
            EXPECT_EQ(button->isChecked(), i == 0) << group << " " << i;
        }
    }
    EXPECT_EQ(panel->getRadioButtonStatus(INPUT1), 0);
    EXPECT_EQ(panel->getRadioButtonStatus(INPUT2), 0);
    EXPECT_EQ(panel->getRadioButtonStatus(OUTPUT), 0);

    const auto buttons = find<QGroupBox>("commandBox")->findChildren<QPushButton *>();
    EXPECT_EQ(buttons.size(), 21);
    for (QPushButton *button : buttons) EXPECT_FALSE(button->isEnabled()) << button->objectName();

    // Every action but these waits for an image (or, for Paste, ReRun, Undo
    // and Redo, for something to paste, rerun, undo or redo).
    const QStringList enabled = {"openAct",        "reopenAct",        "archiveAct",   "saveAsAct",
                                 "runScriptAct",   "exitAct",          "aboutAct",     "modeAct",
                                 "saveSessionAct", "showRecordingAct", "undoMemoryAct",
                                 "readLimitAct"};
    const auto actions = panel->findChildren<QAction *>(QRegularExpression("Act$"));
    EXPECT_EQ(actions.size(), 50);
    for (QAction *action : actions) {
        EXPECT_EQ(action->isEnabled(), enabled.contains(action->objectName()))
            << action->objectName();
    }
}

TEST_F(PanelTest, GeometryComesFromTheSettingsStoreAndIsSavedOnClose) {
    // Empty store: (200, 200), and 400 x 400 unless the layout needs more.
    EXPECT_EQ(panel->pos(), QPoint(200, 200));
    EXPECT_EQ(panel->size(), QSize(400, 400).expandedTo(panel->minimumSizeHint()));

    const QSize stored = panel->minimumSizeHint() + QSize(123, 45);
    {
        QSettings settings("Tamotool", "Orvstore Tool");
        settings.setValue("pos", QPoint(31, 57));
        settings.setValue("size", stored);
    }
    panel->readSettings();
    EXPECT_EQ(panel->pos(), QPoint(31, 57));
    EXPECT_EQ(panel->size(), stored);

    // Closing asks nothing and remembers where the panel stood.
    panel->move(64, 96);
    panel->resize(stored + QSize(10, 20));
    auto seen = answerNextDialog({}, 300);
    EXPECT_TRUE(panel->close());
    guitest::waitUntil([&] { return false; }, 350);
    EXPECT_FALSE(seen->seen);
    EXPECT_FALSE(panel->isVisible());
    QSettings settings("Tamotool", "Orvstore Tool");
    EXPECT_EQ(settings.value("pos").toPoint(), QPoint(64, 96));
    EXPECT_EQ(settings.value("size").toSize(), stored + QSize(10, 20));

    // The next panel opens there.
    delete tool;
    tool = new Tamotool;
    gTamotool = tool;
    panel = tool->mainWindow;
    EXPECT_EQ(panel->pos(), QPoint(64, 96));
    EXPECT_EQ(panel->size(), stored + QSize(10, 20));
}

TEST_F(PanelTest, DesktopFileOpenGoesToSlotZeroWhateverIsSelected) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cells.png");
    QImage picture(5, 4, QImage::Format_RGB32);
    picture.fill(qRgb(10, 20, 30));
    ASSERT_TRUE(picture.save(path));
    select("output", 5);
    select("input1", 3);

    auto answer = answerNextDialog({}, 2000);  // in case loading asks or complains
    QFileOpenEvent event(path);
    EXPECT_TRUE(QCoreApplication::sendEvent(qApp, &event));
    ASSERT_NE(slot(0), nullptr);
    EXPECT_EQ(Tamodimen(slot(0), -1), 5 * 4 * 3);
    EXPECT_EQ(slot(5), nullptr);
    EXPECT_EQ(slot(3), nullptr);
}

TEST_F(PanelTest, AboutBoxShowsTheVersionAndTheBuildLine) {
    auto seen = answerNextDialog();
    find<QAction>("aboutAct")->trigger();
    ASSERT_TRUE(seen->seen);
    EXPECT_EQ(seen->title, "About Application");
    EXPECT_EQ(seen->text,
              "Tamotool 2.1 is an Orvstore tool which gives wide range of operations on images\n"
              "Built under Yosemite");
    EXPECT_EQ(VERSION, "2.1");
}

namespace {

std::vector<void *> *freedPointers = nullptr;

void recordingFree(void *p) {
    if (freedPointers) freedPointers->push_back(p);
    std::free(p);
}

[[noreturn]] void hostExit(int status) {
    std::exit(status);
}

}  // namespace

// main owns the application object, so its end is what closes the panel,
// releases the slots and hands the library's exit handler back; several
// objects in one process (as the tests make) stay apart.
TEST(ApplicationObject, HoldsTheFatalHandlerAndTheSlotsForItsLifetime) {
    QSettings("Tamotool", "Orvstore Tool").clear();
    void (*const before)(int) = Tamo_exitptr;
    Tamo_exitptr = hostExit;
    std::vector<void *> freed;
    void *pixels[2] = {};
    {
        Tamotool tool;
        gTamotool = &tool;
        EXPECT_THROW(Tamo_exitptr(3), TamoFatal);
        try {
            Tamo_exitptr(42);
        } catch (const TamoFatal &fatal) {
            EXPECT_EQ(fatal.status(), 42);
        }
        tool.images[3] = guitest::makeImage(4, 4);
        tool.images[8] = guitest::makeImage(2, 2);
        pixels[0] = tool.images[3]->orvptr;
        pixels[1] = tool.images[8]->orvptr;
        {
            Tamotool other;  // lives and goes without touching the first
        }
        EXPECT_EQ(gTamotool, &tool);
        EXPECT_THROW(Tamo_exitptr(3), TamoFatal);

        freedPointers = &freed;
        Tamo_freeptr = recordingFree;
    }
    Tamo_freeptr = std::free;
    freedPointers = nullptr;

    EXPECT_EQ(gTamotool, nullptr);
    EXPECT_EQ(Tamo_exitptr, hostExit);
    for (void *p : pixels)
        EXPECT_NE(std::find(freed.begin(), freed.end(), p), freed.end()) << "slot not released";
    Tamo_exitptr = before;
}
