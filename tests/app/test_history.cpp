// Undo and redo through the control panel, the undo memory budget, and the
// recorded session run with the tamo tool against the slots it recorded.
#include <QAction>
#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QSlider>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "guitest.h"
#include "history.h"
#include "records.h"
#include "session.h"
#include "tamoio.h"
#include "tamotoolchildwindow.h"
#include "tempdir.h"
#include "testrecords.h"
#include "tiffimage.h"

using guitest::DialogScript;
using guitest::enterValue;
using guitest::fillForm;
using guitest::ImageOwner;
using guitest::makeImage;
using guitest::sameImage;

namespace {

// 24 x 30 "float" values without a simple pattern.
TAMOHDR *sample(float shift = 0.0f) {
    TAMOHDR *img = makeImage(24, 30);
    float *v = reinterpret_cast<float *>(img->orvptr);
    for (int k = 0; k < 24 * 30; ++k) v[k] = float((k * 29) % 53) * 0.5f - 7.0f + shift;
    return img;
}

// Copies of the eight user slots (null for an empty one) and their names.
struct Slots {
    std::vector<std::unique_ptr<ImageOwner>> images;
    QStringList names;
};

Slots snapshot(Tamotool *tool) {
    Slots s;
    for (int i = 0; i < 8; ++i) {
        TAMOHDR *img = tool->images[i];
        s.images.push_back(std::make_unique<ImageOwner>(img ? guitest::copyImage(img) : nullptr));
        s.names << tool->imageNames[i];
    }
    return s;
}

testing::AssertionResult sameSlots(Tamotool *tool, const Slots &expected) {
    for (int i = 0; i < 8; ++i) {
        const TAMOHDR *want = expected.images[i]->get();
        const TAMOHDR *have = tool->images[i];
        if (!want || !have) {
            if (want != have)
                return testing::AssertionFailure()
                       << "slot " << i << (want ? " is empty" : " is not empty");
            continue;
        }
        if (have == want) return testing::AssertionFailure() << "slot " << i << " is the copy";
        testing::AssertionResult same = sameImage(have, want);
        if (!same) return testing::AssertionFailure() << "slot " << i << ": " << same.message();
        if (tool->imageNames[i] != expected.names[i])
            return testing::AssertionFailure()
                   << "slot " << i << " is named " << tool->imageNames[i].toStdString();
    }
    return testing::AssertionSuccess();
}

// Reads an own-format file; null when it cannot be read.
TAMOHDR *readFile(const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) return nullptr;
    TAMOHDR *img = TamoRdImg(fp, 0);
    std::fclose(fp);
    return img;
}

#ifdef TAMO_CLI_PATH
// Saves the panel's session into dir, runs it there with the tool (with
// `args`), and returns the shell's exit status (-1 when it did not end).
int runSession(TamotoolMainWindow *panel, const testsupport::TempDir &dir,
               const QStringList &args = {}, QString *errors = nullptr) {
    const std::string script = dir.file("session.sh");
    if (!panel->writeSession(QString::fromStdString(script)).isEmpty()) return -1;
    QProcess sh;
    sh.setWorkingDirectory(QString::fromStdString(dir.path()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TAMO", TAMO_CLI_PATH);
    sh.setProcessEnvironment(env);
    sh.start("/bin/sh", QStringList{QString::fromStdString(script)} + args);
    if (!sh.waitForFinished(300000)) return -1;
    if (errors) *errors = QString::fromLocal8Bit(sh.readAllStandardError());
    return sh.exitStatus() == QProcess::NormalExit ? sh.exitCode() : -1;
}
#endif

}  // namespace

class HistoryTest : public PanelTest {
protected:
    void route(int in1, int in2, int out) {
        select("input1", in1);
        select("input2", in2);
        select("output", out);
    }
    QAction *action(const char *name) { return find<QAction>(name); }
    QString console() { return find<QPlainTextEdit>("console")->toPlainText(); }
#ifdef TAMO_CLI_PATH
    // Runs the saved session in dir; the tool must remake every slot.
    void expectSessionRemakesEverySlot(const testsupport::TempDir &dir) {
        QString errors;
        ASSERT_EQ(runSession(panel, dir, {}, &errors), 0) << errors.toStdString();
        for (int s = 0; s < 8; ++s) {
            ImageOwner made(readFile(dir.file("slot" + std::to_string(s) + ".tamo")));
            ASSERT_EQ(made.get() != nullptr, slot(s) != nullptr) << "slot " << s << " not remade";
            if (made.get()) EXPECT_TRUE(sameImage(made, slot(s))) << "slot " << s;
        }
    }
#endif
};

TEST_F(HistoryTest, ThreeCommandsUndoneAndRedoneRestoreEverySlotExactly) {
    put(0, sample());
    put(3, sample(1.0f));
    tool->imageNames[3] = "kept.tamo";
    EXPECT_FALSE(action("undoAct")->isEnabled());
    EXPECT_FALSE(action("redoAct")->isEnabled());
    EXPECT_EQ(action("undoAct")->text(), "Undo");

    std::vector<Slots> states;
    states.push_back(snapshot(tool));
    // DX into an empty slot, Laplacian in place (through the work slot), and
    // a sum over the slot that held a record before.
    route(0, 0, 1);
    {
        DialogScript answers({enterValue(1.5)});
        press("dxButton");
    }
    states.push_back(snapshot(tool));
    route(1, 0, 1);
    {
        DialogScript answers({enterValue(0.75)});
        press("laplacianButton");
    }
    states.push_back(snapshot(tool));
    route(0, 1, 3);
    {
        DialogScript answers({fillForm({"1", "2"})});
        press("addButton");
    }
    states.push_back(snapshot(tool));
    ASSERT_NE(slot(3), nullptr);
    EXPECT_EQ(panel->history().undoCount(), 3);
    EXPECT_EQ(action("undoAct")->text(), "Undo Add");

    // An open image window follows its slot's record.
    route(0, 0, 3);
    trigger("viewAct");
    QPointer<TamotoolChildWindow> window = panel->childWindows[3];
    ASSERT_FALSE(window.isNull());

    const char *labels[] = {"DX", "Lap", "Add"};
    for (int k = 3; k > 0; --k) {
        SCOPED_TRACE(k);
        EXPECT_TRUE(action("undoAct")->isEnabled());
        trigger("undoAct");
        EXPECT_TRUE(sameSlots(tool, states[k - 1]));
        EXPECT_EQ(action("redoAct")->text(), QString("Redo ") + labels[k - 1]);
        EXPECT_TRUE(action("redoAct")->isEnabled());
    }
    EXPECT_FALSE(action("undoAct")->isEnabled());
    EXPECT_EQ(action("undoAct")->text(), "Undo");
    EXPECT_TRUE(window.isNull());
    EXPECT_NE(panel->childWindows[3], nullptr);
    // The history never holds what a slot holds, so the panel's own commands
    // work on the restored records as on any other.
    for (int k = 1; k <= 3; ++k) {
        SCOPED_TRACE(k);
        trigger("redoAct");
        EXPECT_TRUE(sameSlots(tool, states[k]));
        EXPECT_EQ(action("undoAct")->text(), QString("Undo ") + labels[k - 1]);
    }
    EXPECT_FALSE(action("redoAct")->isEnabled());
    EXPECT_EQ(action("redoAct")->text(), "Redo");

    // A new command drops what could be redone; a dialog cancelled with the
    // Output on an input leaves the zero image there, and undo brings the
    // input back.
    trigger("undoAct");
    route(0, 0, 5);
    {
        DialogScript answers({enterValue(1.0)});
        press("dyButton");
    }
    EXPECT_FALSE(action("redoAct")->isEnabled());
    EXPECT_EQ(action("undoAct")->text(), "Undo DY");
    const Slots beforeCancel = snapshot(tool);
    route(0, 0, 0);
    {
        DialogScript answers({guitest::rejectDialog()});
        press("exponentButton");
    }
    EXPECT_FALSE(sameSlots(tool, beforeCancel)) << "the zero image prepared for the result";
    EXPECT_EQ(action("undoAct")->text(), "Undo Exp");
    trigger("undoAct");
    EXPECT_TRUE(sameSlots(tool, beforeCancel));
    EXPECT_EQ(action("undoAct")->text(), "Undo DY");
}

TEST_F(HistoryTest, UndoOfPconRestoresBothInputsAndTheOutput) {
    put(0, sample());
    put(1, sample(3.0f));
    put(2, sample(-2.0f));
    const Slots before = snapshot(tool);
    route(0, 1, 2);
    {
        DialogScript answers({fillForm({"2.0", ".03", "4.0", "1.0", "0.3", "0.8"})});
        press("pconButton");
    }
    ASSERT_FALSE(sameImage(slot(0), before.images[0]->get())) << "pcon changed nothing";
    const Slots after = snapshot(tool);
    EXPECT_EQ(action("undoAct")->text(), "Undo pcon");

    TAMOHDR *estimate = slot(0);
    trigger("undoAct");
    EXPECT_TRUE(sameSlots(tool, before));
    EXPECT_NE(slot(0), estimate);  // the changed record left the slot
    trigger("redoAct");
    EXPECT_TRUE(sameSlots(tool, after));
}

TEST_F(HistoryTest, TheBudgetDropsTheOldestStepsAndRefusesATooLargeOne) {
    put(0, sample());
    const long long step = History::recordBytes(slot(0));
    // Room for two replaced records of this size.
    panel->setUndoBudget(2 * step + step / 2);
    // DX fills the empty slot 1 (nothing to keep), DY and DXX replace its
    // record, DYY fills the empty slot 2, DXY replaces slot 1 again: three
    // records of this size, one too many.
    std::unique_ptr<ImageOwner> afterDy;
    const char *buttons[] = {"dxButton", "dyButton", "dxxButton", "dyyButton", "dxdyButton"};
    for (const char *button : buttons) {
        route(0, 0, button == buttons[3] ? 2 : 1);
        DialogScript answers({enterValue(1.0)});
        press(button);
        if (button == buttons[1])
            afterDy = std::make_unique<ImageOwner>(guitest::copyImage(slot(1)));
    }
    EXPECT_LE(panel->history().bytesHeld(), panel->history().budget());
    EXPECT_EQ(panel->history().undoCount(), 3);
    EXPECT_EQ(action("undoAct")->text(), "Undo DXY");
    // The steps of DX and DY went: undoing what is left ends at DY's result.
    for (int k = 0; k < 3; ++k) trigger("undoAct");
    EXPECT_FALSE(action("undoAct")->isEnabled());
    EXPECT_TRUE(sameImage(slot(1), afterDy->get()));
    EXPECT_EQ(slot(2), nullptr);

    // The budget comes from the settings (in MiB).
    QSettings("Tamotool", "Orvstore Tool").setValue("undoMemoryMiB", 3);
    panel->readSettings();
    EXPECT_EQ(panel->history().budget(), 3LL << 20);

    // A step larger than the whole budget is not kept, and the older ones
    // cannot be undone any more.
    panel->setUndoBudget(step / 2);
    EXPECT_EQ(panel->history().undoCount(), 0);
    panel->setUndoBudget(step / 2);
    route(0, 0, 1);
    {
        DialogScript answers({enterValue(2.0)});
        press("dxButton");
    }
    EXPECT_EQ(console().count("DX needs"), 1) << console();
    EXPECT_FALSE(action("undoAct")->isEnabled());
}

#ifdef TAMO_CLI_PATH
TEST_F(HistoryTest, ASavedSessionRunByTheToolRemakesEverySlotBitForBit) {
    testsupport::TempDir dir;
    // A colour picture, read as three "float" frames.
    QImage picture(32, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            picture.setPixel(x, y, qRgb(x * 7, y * 5 + x, (255 - x * y) & 255));
    const QString png = QString::fromStdString(dir.file("in put.png"));
    ASSERT_TRUE(picture.save(png));

    panel->handleFileByPath(png, 0);
    ASSERT_NE(slot(0), nullptr);
    route(0, 0, 1);
    {
        DialogScript answers({enterValue(1.5)});
        press("dxButton");
    }
    route(0, 1, 2);
    {
        DialogScript answers({fillForm({"1", "-2"})});
        press("subButton");
    }
    setMode(1);
    route(0, 0, 3);
    press("dxdyButton");  // colour to grey
    setMode(0);
    route(3, 0, 4);
    {
        DialogScript answers({enterValue(2.0)});
        press("blurButton");
    }
    route(3, 4, 5);
    {
        DialogScript answers({fillForm({"2.0", ".03", "4.0", "1.0", "0.3", "0.8"})});
        press("pconButton");
    }
    route(1, 0, 1);
    trigger("copyAct");
    route(0, 0, 6);
    trigger("pasteAct");
    route(0, 0, 2);
    trigger("deleteAct");
    // Random colours, which the tool repeats from the generator's state.
    route(3, 0, 7);
    {
        DialogScript answers({enterValue(6)});
        press("pseudoButton");
    }
    // An undone command is not in the session.
    route(0, 0, 2);
    {
        DialogScript answers({enterValue(1.0)});
        press("dyButton");
    }
    trigger("undoAct");
    ASSERT_EQ(slot(2), nullptr);

    // The recording is what is saved, and the console can show it.
    trigger("showRecordingAct");
    auto *view = find<QPlainTextEdit>("recordingView");
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(view->toPlainText().contains(" dog ") &&
                 view->toPlainText().contains("--direction 1"))
        << "the undone DY is recorded";

    QString errors;
    ASSERT_EQ(runSession(panel, dir, {}, &errors), 0) << errors;

    // Slots 0, 1, 3, 4, 5 (pcon's zero output), 6 and 7 are remade, and
    // slot 2 is empty.
    for (int s : {0, 1, 3, 4, 5, 6, 7}) {
        SCOPED_TRACE(s);
        ImageOwner made(readFile(dir.file("slot" + std::to_string(s) + ".tamo")));
        ASSERT_NE(made.get(), nullptr);
        EXPECT_TRUE(sameImage(made, slot(s)));
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("slot2.tamo"))));

    // Another input and an output name: the pipeline on the next file.
    QImage other = picture.mirrored(true, false);
    const QString png2 = QString::fromStdString(dir.file("other.png"));
    ASSERT_TRUE(other.save(png2));
    panel->handleFileByPath(png2, 0);
    const std::string out = dir.file("other-out.tamo");
    ASSERT_EQ(runSession(panel, dir, {png2, QString::fromStdString(out)}, &errors), 0) << errors;
    ImageOwner remade(readFile(out));
    ASSERT_NE(remade.get(), nullptr);
    EXPECT_EQ(guitest::shape(remade), guitest::shape(slot(6)));
}
#endif

#ifdef TAMO_CLI_PATH
// Each command the tool can repeat, recorded and run: the tool remakes every
// slot bit for bit. The slots are compared after each group of commands.
TEST_F(HistoryTest, EveryRecordedCommandRemakesItsSlot) {
    testsupport::TempDir dir;
    ImageOwner grey(makeImage(32, 32));
    float *v = reinterpret_cast<float *>(grey.get()->orvptr);
    for (int k = 0; k < 32 * 32; ++k) v[k] = float((k * 41) % 97) * 1.5f - 30.0f;
    const std::string file = dir.file("grey.tamo");
    ASSERT_EQ(frontend::writeOwnFormatFile(grey, file), "");
    panel->handleFileByPath(QString::fromStdString(file), 0);
    ASSERT_NE(slot(0), nullptr);

    struct Case {
        int mode;
        const char *control;  // a button, or an action ending in "Act"
        int in1, in2, out;
        QList<guitest::DialogAction> answers;
        bool check;  // compare every slot with the tool's after this one
    };
    const Case cases[] = {
        {0, "dxButton", 0, 0, 1, {enterValue(1.0)}, false},
        {0, "dyButton", 0, 0, 2, {enterValue(1.2)}, false},
        {0, "dxxButton", 0, 0, 3, {enterValue(1.0)}, false},
        {0, "dyyButton", 0, 0, 4, {enterValue(1.0)}, false},
        {0, "dxdyButton", 0, 0, 5, {enterValue(1.4)}, false},
        {0, "blurButton", 0, 0, 6, {enterValue(0.8)}, false},
        {0, "curvatureButton", 0, 0, 7, {enterValue(1.0)}, true},
        {0, "exponentButton", 0, 0, 1, {enterValue(50.0)}, false},
        {0, "inverseButton", 0, 0, 2, {}, false},
        {0, "laplacianButton", 0, 0, 3, {enterValue(-1.5)}, false},
        {0, "natlogButton", 0, 0, 4, {}, false},
        {0, "histeqButton", 0, 0, 5, {}, false},
        {0, "fftAct", 0, 0, 6, {}, false},
        {0, "ifftAct", 6, 0, 7, {}, true},
        {0, "c2magAct", 6, 0, 1, {}, false},
        {0, "c2phaseAct", 6, 0, 2, {}, false},
        {0, "c2realAct", 6, 0, 3, {}, false},
        {0, "c2imagAct", 6, 0, 4, {}, false},
        {0, "addButton", 0, 3, 5, {fillForm({"2", "-1"})}, false},
        {0, "mulButton", 0, 3, 7, {fillForm({"0", "0"})}, true},
        {0, "subButton", 0, 3, 1, {fillForm({"-3", "2"})}, false},
        {0, "divButton", 0, 3, 2, {fillForm({"1", "1"})}, false},
        {0, "addButton", 6, 6, 3, {}, false},  // complex sum
        {0, "subButton", 6, 6, 3, {}, false},  // complex difference
        {0, "correlateButton", 0, 4, 5, {}, false},
        {1, "inverseButton", 0, 0, 7, {fillForm({"20", "40", "1"})}, true},  // Resize
        {1, "dxxButton", 0, 0, 1, {enterValue(1.0)}, false},                 // gMag
        {1, "dyyButton", 0, 0, 2, {enterValue(1.3)}, false},                 // gDir
        {1, "curvatureButton", 0, 0, 3, {enterValue(1.0)}, false},           // HarrisOp
        {1, "laplacianButton", 0, 0, 4, {enterValue(1.1)}, false},           // Qvar
        {1, "cclButton", 0, 0, 5, {}, false},                                // ABS
        {1, "histeqButton", 0, 0, 6, {enterValue(0.5)}, false},              // MarkMax
        {1, "dxdyButton", 0, 0, 7, {}, true},                                // Clr2Gray
        {0, "pseudoButton", 0, 0, 1, {enterValue(3)}, false},                // CMap
        {0, "cclButton", 0, 0, 3, {fillForm({"3", "20", "0", "1", "0", ""})}, false},
        {1, "dxButton", 0, 0, 4, {}, false},  // HoG
        {1, "dyButton", 4, 0, 5, {}, true},   // ShowHoG
        {0, "pconButton", 7, 0, 2, {fillForm({"2.0", ".03", "4.0", "1.0", "0.3", "0.8"})}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.control);
        setMode(c.mode);
        route(c.in1, c.in2, c.out);
        TAMOHDR *before = slot(c.out);
        {
            DialogScript answers(c.answers);
            if (QString(c.control).endsWith("Act"))
                trigger(c.control);
            else
                press(c.control);
        }
        EXPECT_NE(slot(c.out), before) << "the command stored nothing";
        if (c.check) expectSessionRemakesEverySlot(dir);
    }

    // A picture (three "float" frames), a 16-bit TIFF file and a point file
    // read as "float": the Fourier transform, its components and its inverse work
    // on the first frame and leave the others zero.
    QImage picture(16, 16, QImage::Format_RGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) picture.setPixel(x, y, qRgb(x * 9, y * 13, (x ^ y) * 7));
    const QString png = QString::fromStdString(dir.file("pic.png"));
    ASSERT_TRUE(picture.save(png));
    panel->handleFileByPath(png, 0);
    tamo::RecordPtr words = testsupport::image("16bit", 8, 8);
    for (int k = 0; k < 64; ++k) Tamofpp(words.get(), k / 8, k % 8, k * 700);
    const std::string tif = dir.file("words.tif");
    ASSERT_EQ(frontend::writeTiff(words.get(), tif, false), "");
    panel->handleFileByPath(QString::fromStdString(tif), 2);
    // A point file, plotted as Read plots it.
    const std::string points = dir.file("outline.Tamob");
    QFile pointFile(QString::fromStdString(points));
    ASSERT_TRUE(pointFile.open(QIODevice::WriteOnly));
    pointFile.write("# 4\n1 2\n9 7\n4 12\n1 2\n");
    pointFile.close();
    panel->handleFileByPath(QString::fromStdString(points), 5);
    ASSERT_NE(slot(5), nullptr);
    setMode(0);
    for (const auto &[action, in, out] :
         {std::tuple{"fftAct", 0, 6}, {"c2magAct", 6, 1}, {"c2realAct", 6, 3}, {"ifftAct", 6, 7}}) {
        SCOPED_TRACE(action);
        route(in, 0, out);
        trigger(action);
        ASSERT_EQ(guitest::shape(slot(out)), std::vector<int>({16, 16, 3}));
    }
    // Crop between the last two clicks, and "2D 2 3D", in mode 1.
    tool->clickX1 = 2, tool->clickY1 = 9, tool->clickX2 = 11, tool->clickY2 = 3;
    setMode(1);
    route(0, 0, 4);
    press("exponentButton");
    EXPECT_EQ(guitest::shape(slot(4)), std::vector<int>({9, 6, 3}));
    route(2, 0, 6);
    press("pseudoButton");
    EXPECT_EQ(guitest::shape(slot(6)), std::vector<int>({8, 8, 3}));
    setMode(0);
    // Labels of the picture (three frames).
    route(0, 0, 7);
    {
        DialogScript answers({fillForm({"3", "20", "0", "1", "0", ""})});
        press("cclButton");
    }
    // CMap cancelled in its dialog leaves the zero picture prepared for it.
    route(2, 0, 5);
    {
        DialogScript answers({guitest::rejectDialog()});
        press("pseudoButton");
    }
    EXPECT_EQ(guitest::shape(slot(5)), std::vector<int>({8, 8, 3}));
    // Colour maps of the picture's second frame: a table and random colours.
    for (const int map : {3, 6}) {
        route(0, 0, map == 3 ? 1 : 3);
        DialogScript answers({enterValue(map), enterValue(1)});
        press("pseudoButton");
    }
    // An image window's Save of what it shows, in colour and in grey.
    for (const auto &[index, sliders] :
         {std::pair{4,
                    std::vector<std::pair<const char *, int>>{
                        {"levelSlider", 20}, {"windowSlider", 150}, {"redSlider", 12}}},
          std::pair{2, std::vector<std::pair<const char *, int>>{
                           {"levelSlider", 10}, {"windowSlider", 100}, {"brightSlider", 30}}}}) {
        route(0, 0, index);
        trigger("viewAct");
        TamotoolChildWindow *window = panel->childWindows[index];
        ASSERT_NE(window, nullptr);
        for (const auto &[name, value] : sliders)
            window->findChild<QSlider *>(name)->setValue(value);
        window->findChild<QAction *>("saveAct")->trigger();
        EXPECT_EQ(action("undoAct")->text(), "Undo Save");
    }
    expectSessionRemakesEverySlot(dir);
}
#endif

#ifdef TAMO_CLI_PATH
// A script's result is recorded as the same script run from the shell.
TEST_F(HistoryTest, AScriptRunIsRecordedAsTheSameRun) {
    testsupport::TempDir dir;
    ImageOwner grey(sample());
    const std::string file = dir.file("grey.tamo");
    ASSERT_EQ(frontend::writeOwnFormatFile(grey, file), "");
    panel->handleFileByPath(QString::fromStdString(file), 0);

    const std::string script = dir.file("double.sh");
    QFile text(QString::fromStdString(script));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("#!/bin/sh\n\"" TAMO_CLI_PATH
               "\" mults ImgViewTempInput.Tamo ImgViewTempOutput.Tamo --value 2\n");
    text.close();
    ASSERT_TRUE(text.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    panel->fullScriptDir = QByteArray::fromStdString(dir.path());
    panel->fullScriptPath = QByteArray::fromStdString(script);
    panel->fullScriptInputPath = panel->fullScriptDir + "/ImgViewTempInput.Tamo";
    route(0, 1, 0);
    ASSERT_TRUE(QMetaObject::invokeMethod(panel, "rerunScript"));
    ASSERT_TRUE(guitest::waitUntil([&] { return slot(1) != nullptr; }, 20000));
    EXPECT_EQ(action("undoAct")->text(), "Undo Run Script");

    // The session's run has a folder of its own: the script's folder is
    // left alone, so that copies of the session can run side by side.
    for (const char *name : {"/ImgViewTempInput.Tamo", "/ImgViewTempOutput.Tamo"})
        QFile::remove(QString::fromStdString(dir.path() + name));
    const testsupport::TempDir out;
    QString errors;
    ASSERT_EQ(runSession(panel, out, {}, &errors), 0) << errors;
    for (const char *name : {"/ImgViewTempInput.Tamo", "/ImgViewTempOutput.Tamo"})
        EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.path() + name))) << name;
    for (int s : {0, 1}) {
        ImageOwner made(readFile(out.file("slot" + std::to_string(s) + ".tamo")));
        ASSERT_NE(made.get(), nullptr) << "slot " << s;
        EXPECT_TRUE(sameImage(made, slot(s))) << "slot " << s;
    }
}
#endif
