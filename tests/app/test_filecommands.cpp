// The file commands: Read, ReRead and the loader behind them, Save As, Copy
// and Paste, driven through the control panel's actions and dialogs.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "guitest.h"
#include "npyio.h"
#include "tamoio.h"
#include "tamotoolchildwindow.h"
#include "tiffimage.h"

using guitest::makeImage;

namespace {

QString logPath() {
    return QDir::homePath() + "/com_TAMO_Tamotool.txt";
}

QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void writePng(const QString &path, int width, int height, std::function<QRgb(int, int)> colour) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, colour(x, y));
    ASSERT_TRUE(image.save(path));
}

// An own-format file of `type` and lengths (columns first), pixel k = values[k].
void writeOwn(const QString &path, const char *type, std::vector<int> lengths,
              const std::vector<double> &values) {
    const int cols = lengths[0], rows = lengths.size() > 1 ? lengths[1] : 1;
    lengths.insert(lengths.begin(), static_cast<int>(lengths.size()));
    TAMOHDR *img = Tamocreate(type, lengths.data(), 11, 0);
    for (size_t k = 0; k < values.size(); ++k)
        Tamofpp3d(img, k / (cols * rows), (k / cols) % rows, k % cols, values[k]);
    EXPECT_EQ(Tamopot(img, QFile::encodeName(path).constData()), -1);
    Tamofree(img, 7);
}

std::vector<int> shape(const TAMOHDR *img) {
    std::vector<int> lengths;
    for (int k = 0; k < img->orvndim; ++k) lengths.push_back(img->orvdim[k].dlen);
    return lengths;
}

// Answers a file dialog with `path`, confirming the replacement of an
// existing file when asked.
guitest::DialogAction choose(const QString &path) {
    return [path](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        ASSERT_NE(dialog, nullptr) << widget->metaObject()->className();
        if (QFileInfo::exists(path))
            guitest::answerNextDialog(guitest::clickMessageButton(QMessageBox::Yes));
        dialog->selectFile(path);
        // selectFile leaves the name field alone while it has the focus.
        if (auto *name = dialog->findChild<QLineEdit *>("fileNameEdit")) name->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");  // protected in QFileDialog
    };
}

// Answers the dialogs of one command in the order they appear (default:
// reject); text(i) is what the i-th showed, empty when it never came.
struct Answers {
    std::vector<guitest::DialogAction> actions;
    std::vector<std::shared_ptr<guitest::DialogSeen>> seen;
    QString text(size_t i) const { return i < seen.size() ? seen[i]->text : QString(); }
};

void armFrom(const std::shared_ptr<Answers> &answers, size_t i) {
    if (i >= answers->actions.size()) return;
    answers->seen.push_back(guitest::answerNextDialog(
        [answers, i](QWidget *widget) {
            const guitest::DialogAction &action = answers->actions[i];
            action ? action(widget) : guitest::rejectDialog()(widget);
            armFrom(answers, i + 1);
        },
        1000));
}

std::shared_ptr<Answers> answerInTurn(std::vector<guitest::DialogAction> actions) {
    auto answers = std::make_shared<Answers>();
    answers->actions = std::move(actions);
    armFrom(answers, 0);
    return answers;
}

class FileCommandsTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        QFile::remove(logPath());
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString console() const { return find<QPlainTextEdit>("console")->toPlainText(); }
    void trigger(const char *name) {
        guitest::closeMessageBoxes();
        find<QAction>(name)->trigger();
        guitest::cancelPendingAnswers();
    }
    // Loads a file into a slot; returns the modal message shown, if any.
    QString load(const QString &file, int index) {
        auto answers = answerInTurn({{}});
        guitest::closeMessageBoxes();
        panel->handleFileByPath(file, index);
        guitest::cancelPendingAnswers();
        return answers->text(0);
    }
    // Save As of the Output slot to `name`; `type` answers the data-type
    // dialog of the own format. Dialog 0 is the file dialog.
    std::shared_ptr<Answers> saveAs(const QString &name, const QString &type = QString()) {
        std::vector<guitest::DialogAction> actions{choose(name)};
        if (!type.isNull()) actions.push_back(guitest::enterValue(type));
        actions.push_back({});  // the closing message, if one comes
        auto answers = answerInTurn(actions);
        trigger("saveAsAct");
        return answers;
    }
    bool noticeShown(const QString &text) { return guitest::shownNoticeTexts().contains(text); }

    QTemporaryDir dir;
};

}  // namespace

TEST_F(FileCommandsTest, ReadOfARasterFileGivesThreeFramesWithTheirStatistics) {
    // Red constant, green 0/128 by column, blue 0/32 by half: the exact
    // statistics are known.
    const QString png = path("pic.png");
    writePng(png, 640, 480,
             [](int x, int y) { return qRgb(7, x % 2 ? 128 : 0, y < 240 ? 0 : 32); });
    slot(2) = makeImage(2, 2);
    select("output", 2);
    answerInTurn({choose(png)});
    trigger("openAct");

    ASSERT_NE(slot(2), nullptr);
    EXPECT_EQ(slot(2)->dtype, TAMO_32FLT);
    EXPECT_EQ(shape(slot(2)), std::vector<int>({640, 480, 3}));
    EXPECT_EQ(Tamofgp3d(slot(2), 1, 100, 3), 128.0);
    EXPECT_EQ(Tamofgp3d(slot(2), 2, 240, 5), 32.0);
    EXPECT_TRUE(console().endsWith("\nOpening " + png +
                                   "\nImage has 3 frames and 480 rows and 640 Columns\n"
                                   "max = [7 128 32], min = [7 0 0], Mean = [7 64 16], "
                                   "StdDev = [0 64 16]"))
        << console();
    EXPECT_TRUE(noticeShown("non TAMO"));
    EXPECT_EQ(tool->imageNames[2], QString("pic.png"));
    EXPECT_EQ(tool->labelCount, 7);
    EXPECT_EQ(fileBytes(logPath()), QFile::encodeName(png));
    EXPECT_TRUE(find<QAction>("viewAct")->isEnabled());

    // Grey, translucent and palette pictures: each frame holds what
    // QImage::pixel reports, alpha ignored.
    QImage grey(5, 3, QImage::Format_Grayscale8), argb(5, 3, QImage::Format_ARGB32);
    for (int k = 0; k < 15; ++k) {
        grey.setPixel(k % 5, k / 5, qRgb(k * 17, k * 17, k * 17));
        argb.setPixel(k % 5, k / 5, qRgba(k * 16, 250 - k * 9, 200, k * 17));
    }
    for (const QImage &picture : {grey, argb, argb.convertToFormat(QImage::Format_Indexed8)}) {
        ASSERT_TRUE(picture.save(path("other.png")));
        const QImage truth(path("other.png"));
        ASSERT_EQ(load(path("other.png"), 0), QString());
        for (int k = 0; k < 15; ++k) {
            const QRgb v = truth.pixel(k % 5, k / 5);
            EXPECT_EQ(Tamofgp3d(slot(0), 0, k / 5, k % 5), qRed(v)) << picture.format() << k;
            EXPECT_EQ(Tamofgp3d(slot(0), 1, k / 5, k % 5), qGreen(v)) << picture.format() << k;
            EXPECT_EQ(Tamofgp3d(slot(0), 2, k / 5, k % 5), qBlue(v)) << picture.format() << k;
        }
    }

    // A 16-bit picture keeps its values 0..65535.
    QImage deep(4, 1, QImage::Format_RGBA64);
    const quint16 levels[4] = {0, 1, 32769, 65535};
    for (int x = 0; x < 4; ++x)
        reinterpret_cast<QRgba64 *>(deep.scanLine(0))[x] =
            QRgba64::fromRgba64(levels[x], levels[3 - x], 257, 65535);
    ASSERT_TRUE(deep.save(path("deep.png")));
    ASSERT_EQ(load(path("deep.png"), 0), QString());
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(Tamofgp3d(slot(0), 0, 0, x), levels[x]);
        EXPECT_EQ(Tamofgp3d(slot(0), 1, 0, x), levels[3 - x]);
        EXPECT_EQ(Tamofgp3d(slot(0), 2, 0, x), 257.0);
    }
    EXPECT_TRUE(
        console().endsWith("\nImage has 3 frames and 1 rows and 4 Columns\n"
                           "max = [65535 65535 257], min = [0 0 257], "
                           "Mean = [24576.3 24576.3 257], "
                           "StdDev = [27169.3 27169.3 0]"))
        << console();
    EXPECT_EQ(tool->labelCount, 65535);
}

TEST_F(FileCommandsTest, OwnFormatAndPointFilesAreChosenByTheEndOfTheName) {
    // A "u8bit" checkerboard of 0 and 128 becomes "float" with equal values.
    std::vector<double> board(256 * 256);
    for (size_t k = 0; k < board.size(); ++k) board[k] = ((k / 256 + k % 256) % 2) * 128;
    writeOwn(path("board.tamo"), "u8bit", {256, 256}, board);
    ASSERT_EQ(load(path("board.tamo"), 1), QString());
    EXPECT_EQ(slot(1)->dtype, TAMO_32FLT);
    EXPECT_EQ(Tamofgp(slot(1), 0, 1), 128.0);
    EXPECT_TRUE(
        console().endsWith("\n\nImage has 1 frame and 256 rows and 256 Columns\n"
                           "max = 128 min = 0 Mean = 64 StdDev = 64"))
        << console();
    EXPECT_TRUE(noticeShown("Tamo image"));

    // No dot needed ("xtam"); negative values survive.
    writeOwn(path("smallxtam"), "16bit", {3, 2}, {-3, -1, 1, 3, 5, 7});
    ASSERT_EQ(load(path("smallxtam"), 1), QString());
    EXPECT_TRUE(console().endsWith("max = 7 min = -3 Mean = 2 StdDev = 3.41565")) << console();
    EXPECT_EQ(tool->labelCount, 7);

    // A 3-D file names its type first; one frame is "frame", and only the
    // frames that exist are listed.
    writeOwn(path("one.orv"), "u8bit", {2, 2, 1}, {1, 2, 3, 4});
    ASSERT_EQ(load(path("one.orv"), 1), QString());
    EXPECT_TRUE(
        console().endsWith(" --- u8bit\n\nImage has 1 frame and 2 rows and 2 Columns\n"
                           "max = [4], min = [1], Mean = [2.5], StdDev = [1.11803]"))
        << console();

    // Values far outside any assumed start value are reported as they are.
    writeOwn(path("far.TAMO"), "float", {2, 1}, {-5e6, -5e6});
    ASSERT_EQ(load(path("far.TAMO"), 1), QString());
    EXPECT_TRUE(console().endsWith("max = -5e+06 min = -5e+06 Mean = -5e+06 StdDev = 0"));

    // Point files: first point red, middle white, last green.
    writeBytes(path("edge.Tamob"), "# 3\n10 20\n12 22\n14 24\n");
    const int before = console().size();
    ASSERT_EQ(load(path("edge.Tamob"), 0), QString());
    EXPECT_EQ(shape(slot(0)), std::vector<int>({5, 5, 3}));
    EXPECT_EQ(Tamofgp3d(slot(0), 0, 0, 0), 255.0);
    EXPECT_EQ(Tamofgp3d(slot(0), 1, 4, 4), 255.0);
    EXPECT_EQ(console().mid(before), QString("\nImage has 3 frames and 5 rows and 5 Columns\n"
                                             "max = [255 255 255], min = [0 0 0], "
                                             "Mean = [20.4 20.4 10.2], "
                                             "StdDev = [69.1798 69.1798 49.9696]"));
    EXPECT_TRUE(noticeShown("Boundary file"));
    // Fewer coordinate lines than announced: only the points read are drawn.
    writeBytes(path("short.Tamob"), "# 5\n10 20\n14 24\n");
    ASSERT_EQ(load(path("short.Tamob"), 0), QString());
    EXPECT_TRUE(console().endsWith("Mean = [10.2 10.2 0], StdDev = [49.9696 49.9696 0]"));
}

TEST_F(FileCommandsTest, AFailedReadSaysWhyAndKeepsTheSlot) {
    TAMOHDR *kept = slot(0) = makeImage(3, 3);
    tool->imageNames[0] = "kept";
    writeOwn(path("wave.tamo"), "32cmp", {4, 4}, {});
    writeBytes(path("text.tamo"), QByteArray(2000, 'x'));
    writeBytes(path("text.png"), "not a picture");
    {
        QImage picture(40, 40, QImage::Format_RGB32);
        picture.fill(qRgb(1, 2, 3));
        ASSERT_TRUE(picture.save(path("cut.png")));
        writeBytes(path("cut.png"), fileBytes(path("cut.png")).left(60));
    }
    QDir(dir.path()).mkdir("folder.tamo");
    for (const auto &c : std::vector<std::pair<QString, QString>>{
             {"missing.tamo", "No such file or directory"},
             {"missing.Tamob", "No such file or directory"},
             {"folder.tamo", "it is a directory"},
             {"wave.tamo", "its data type 32cmp cannot be converted to float"},
             {"text.tamo", "it is not an image file of this format, or its header is damaged"},
             {"text.png", ""},
             {"cut.png", ""},
             {"missing.png", ""}}) {
        const QString message = load(path(c.first), 0);
        EXPECT_TRUE(message.startsWith("Cannot read " + path(c.first) + ": ")) << message;
        EXPECT_TRUE(message.endsWith(": " + c.second) || c.second.isEmpty()) << message;
        EXPECT_EQ(slot(0), kept);
        EXPECT_EQ(tool->imageNames[0], QString("kept"));
        EXPECT_EQ(panel->reReadPath, QFile::encodeName(path(c.first)));  // ReRead retries it
    }
    // The largest image to read, set in the workbench: an image of 2 MiB is
    // refused at 1 MiB with both sizes named, and read again at 0 (the default).
    writeOwn(path("big.tamo"), "float", {1024, 512}, {});
    panel->setReadLimit(1);
    EXPECT_EQ(load(path("big.tamo"), 0),
              "Cannot read " + path("big.tamo") +
                  ": it would need 2 MB, more than the 1 MB set as the largest image to read");
    EXPECT_EQ(slot(0), kept);
    panel->setReadLimit(0);
    EXPECT_EQ(load(path("big.tamo"), 0), QString());
    EXPECT_EQ(Tamonc(slot(0)), 1024);
}

TEST_F(FileCommandsTest, ReReadFindsTheLastFileReadAcrossARestartWhateverItsPath) {
    trigger("reopenAct");
    EXPECT_TRUE(noticeShown("Cannot open log file. ReRead will not work."));
    EXPECT_EQ(slot(0), nullptr);
    EXPECT_EQ(console(), QString(">> Console"));

    // Far beyond 255 bytes, with characters that name expansion would rewrite.
    const QString deep = path(QString(150, 'a') + "/$HOME ~" + QString(150, 'b'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString png = deep + "/pic.png";
    writePng(png, 3, 2, [](int x, int y) { return qRgb(x, y, 9); });
    answerInTurn({choose(png)});
    trigger("openAct");
    ASSERT_NE(slot(0), nullptr);

    PanelTest::TearDown();  // a new run
    PanelTest::SetUp();
    select("output", 3);
    trigger("reopenAct");
    ASSERT_NE(slot(3), nullptr);
    EXPECT_EQ(Tamofgp3d(slot(3), 0, 1, 2), 2.0);
    EXPECT_TRUE(console().startsWith(">> Console\nOpening " + png + "\nImage has 3 frames"));

    // Within a run ReRead needs no log file.
    ASSERT_TRUE(QFile::remove(logPath()));
    select("output", 4);
    trigger("reopenAct");
    EXPECT_NE(slot(4), nullptr);
}

TEST_F(FileCommandsTest, SaveAsOwnFormatWritesTheChosenDataTypeOrNothing) {
    TAMOHDR *img = slot(0) = makeImage(40, 20);
    for (int k = 0; k < 800; ++k) Tamofpp(img, k / 40, k % 40, k * 0.3);
    auto answers = saveAs(path("bytes.tamo"), "ubyte");
    EXPECT_EQ(answers->text(1), QString("TAMO data type:"));
    EXPECT_EQ(answers->text(2), QString());
    TAMOHDR *read = Tamopin(QFile::encodeName(path("bytes.tamo")).constData());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->dtype, TAMO_U8BIT);
    EXPECT_EQ(shape(read), std::vector<int>({40, 20}));
    for (int k : {1, 7, 433, 799})
        EXPECT_EQ(Tamofgp(read, k / 40, k % 40), std::floor(static_cast<float>(k * 0.3)));
    Tamofree(read, 7);

    // Empty answer: "float", three frames kept.
    Tamofree(img, 7);
    slot(0) = makeImage(6, 5, 3, -2.5f);
    saveAs(path("floats.Tamo"), "");
    read = Tamopin(QFile::encodeName(path("floats.Tamo")).constData());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->dtype, TAMO_32FLT);
    EXPECT_EQ(shape(read), std::vector<int>({6, 5, 3}));
    EXPECT_EQ(Tamofgp3d(read, 2, 4, 5), -2.5 + 89);
    Tamofree(read, 7);

    // A complex slot is offered its own type, so that the offer (an empty
    // answer) saves it exactly; bytes are refused.
    int dims[] = {2, 2, 2};
    TAMOHDR *wave = Tamocreate("32cmp", dims, 11, 0);
    for (int k = 0; k < 8; ++k) reinterpret_cast<float *>(wave->orvptr)[k] = 1.5f * k - 3;
    Tamofree(slot(0), 7);
    slot(0) = wave;
    saveAs(path("wave.orv"), "");
    read = Tamopin(QFile::encodeName(path("wave.orv")).constData());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::memcmp(read->orvptr, wave->orvptr, 8 * sizeof(float)), 0);
    Tamofree(read, 7);
    EXPECT_EQ(saveAs(path("wave.tam"), "ubyte")->text(2),
              QString("A 32cmp image cannot be saved as u8bit."));

    // Names outside the type table are refused with the valid ones listed.
    for (const QString type : {"nonsense", "u8bitu8bitu8bitu8bit", "ubyte "}) {
        const QString message = saveAs(path("x.tamo"), type)->text(2);
        EXPECT_TRUE(message.contains("\"" + type + "\"")) << message;
        EXPECT_TRUE(message.contains("ubyte, uchar, u8bit, short")) << message;
    }
    answers = answerInTurn({choose(path("x.tamo")), guitest::rejectDialog(), {}});
    trigger("saveAsAct");  // cancelled at the type dialog
    EXPECT_EQ(answers->text(1), QString("TAMO data type:"));
    EXPECT_EQ(answers->text(2), QString());
    EXPECT_FALSE(QFileInfo::exists(path("wave.tam")) || QFileInfo::exists(path("x.tamo")));
}

TEST_F(FileCommandsTest, SaveAsRasterWritesTheShownFrameAndFailuresKeepOldFiles) {
    // Six columns: the display picture is widened to eight, the file is not.
    TAMOHDR *colour = slot(0) = makeImage(6, 4, 3);
    std::unique_ptr<QImage> truth(panel->converter.toQImage(colour, 0, 0));
    EXPECT_EQ(saveAs(path("pic.png"))->text(1), QString());
    EXPECT_TRUE(console().endsWith("\nsaving "));
    QImage saved(path("pic.png"));
    ASSERT_EQ(saved.size(), QSize(6, 4));
    for (int k = 0; k < 24; ++k) EXPECT_EQ(saved.pixel(k % 6, k / 6), truth->pixel(k % 6, k / 6));

    // Five frames: the file shows the frame the slot's window shows (frame 3
    // runs the other way), replacing the earlier file.
    TAMOHDR *frames = makeImage(4, 4, 5);
    for (int k = 0; k < 16; ++k) Tamofpp3d(frames, 3, k / 4, k % 4, -k);
    Tamofree(colour, 7);
    slot(0) = frames;
    auto *window = new TamotoolChildWindow(panel, panel->converter.toQImage(frames, 0, 0), 0);
    panel->updateChildPtr(window, CHILD_ADD);
    window->currentFrame = 3;
    saveAs(path("pic.png"));
    saved = QImage(path("pic.png"));
    EXPECT_EQ(saved.size(), QSize(4, 4));
    EXPECT_EQ(qRed(saved.pixel(0, 0)), 255);
    EXPECT_EQ(qRed(saved.pixel(3, 3)), 0);

    // Failures leave an existing file whole: "TAM" is no own-format suffix
    // for saving and no raster format either; the own-format writer fails
    // half way for want of memory to compress.
    Tamofree(frames, 7);
    slot(0) = makeImage(32, 32);
    const QByteArray old("previous contents");
    writeBytes(path("keep.TAM"), old);
    writeBytes(path("keep.tamo"), old);
    EXPECT_TRUE(saveAs(path("keep.TAM"))->text(1).startsWith("output of file to disk failed: "));
    static void *(*realAlloc)(size_t, size_t) = Tamo_alcptr;
    Tamo_alcptr = [](size_t n, size_t size) -> void * {
        return n * size > 32 * 32 * 4 ? nullptr : realAlloc(n, size);
    };
    EXPECT_EQ(saveAs(path("keep.tamo"), "float")->text(2),
              QString("output of file to disk failed"));
    Tamo_alcptr = realAlloc;
    EXPECT_EQ(fileBytes(path("keep.TAM")), old);
    EXPECT_EQ(fileBytes(path("keep.tamo")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"keep.TAM", "keep.tamo", "pic.png"}));

    select("output", 5);
    auto seen = guitest::answerNextDialog();
    trigger("saveAsAct");
    EXPECT_EQ(seen->text, QString("No image has been stored in the buffer."));
}

TEST_F(FileCommandsTest, CopyThenPasteGivesIndependentExactRecords) {
    auto seen = guitest::answerNextDialog();
    QMetaObject::invokeMethod(panel, "paste");
    EXPECT_EQ(seen->text, QString("Nothing to paste"));
    seen = guitest::answerNextDialog();
    QMetaObject::invokeMethod(panel, "copy");
    EXPECT_EQ(seen->text, QString("Image Empty"));

    // Double precision values that single precision cannot hold.
    int dims[] = {2, 3, 2};
    TAMOHDR *source = slot(0) = Tamocreate("double", dims, 11, 0);
    double *values = reinterpret_cast<double *>(source->orvptr);
    for (int k = 0; k < 6; ++k) values[k] = 1.0 + k * 1e-12;
    EXPECT_FALSE(find<QAction>("pasteAct")->isEnabled());
    trigger("copyAct");
    EXPECT_TRUE(find<QAction>("pasteAct")->isEnabled());
    for (int index : {3, 5}) {
        select("output", index);
        trigger("pasteAct");
        ASSERT_NE(slot(index), nullptr);
        EXPECT_EQ(slot(index)->dtype, TAMO_64FLT);
        EXPECT_EQ(shape(slot(index)), std::vector<int>({3, 2}));
        EXPECT_EQ(std::memcmp(slot(index)->orvptr, values, 6 * sizeof(double)), 0);
    }
    EXPECT_NE(slot(3), slot(5));
    // Changing one copy or the original leaves the others as they were.
    reinterpret_cast<double *>(slot(3)->orvptr)[0] = -7;
    values[1] = -8;
    EXPECT_EQ(reinterpret_cast<double *>(slot(5)->orvptr)[0], 1.0);
    EXPECT_EQ(reinterpret_cast<double *>(slot(5)->orvptr)[1], 1.0 + 1e-12);
    EXPECT_EQ(reinterpret_cast<double *>(panel->clipboardImage->orvptr)[1], 1.0 + 1e-12);
}

TEST_F(FileCommandsTest, TheWorkbenchLoadsFilesNamedOnItsCommandLineIntoTheFirstEightSlots) {
    const QString program = QCoreApplication::applicationDirPath() + "/tamotool";
    if (!QFileInfo(program).isExecutable()) GTEST_SKIP() << "no workbench at " << program;
    // A point file (the plotter announces itself on standard output), then
    // eight pictures: the last one finds every slot taken.
    writeBytes(path("first.Tamob"), "# 2\n1 1\n3 4\n");
    QStringList files{path("first.Tamob")};
    for (int i = 1; i <= 8; ++i) {
        files << path(QString("pic%1.png").arg(i));
        writePng(files.last(), 2, 2, [i](int, int) { return qRgb(i, i, i); });
    }
    QProcess workbench;
    workbench.start(program, files);
    QByteArray out, err;
    guitest::waitUntil(
        [&] {
            workbench.waitForReadyRead(50);
            out += workbench.readAllStandardOutput();
            err += workbench.readAllStandardError();
            return err.contains("not loading") && out.contains("plotcontour");
        },
        20000);
    EXPECT_EQ(workbench.state(), QProcess::Running) << err.constData();
    workbench.kill();
    workbench.waitForFinished();
    EXPECT_TRUE(out.contains("plotcontour:read inputimage")) << out.constData();
    EXPECT_TRUE(err.contains("tamotool: all eight slots are taken; not loading " +
                             QFile::encodeName(files.last())))
        << err.constData();
    EXPECT_FALSE(err.contains("pic7.png")) << err.constData();
}

TEST_F(FileCommandsTest, FilesFromTheCommandLineOrTheDesktopStartTheirOwnConsoleBlock) {
    // A picture, then a TIFF: the TIFF's type note belongs on its own
    // "Opening" line, not after the picture's statistics.
    const QString png = path("pic.png");
    writePng(png, 2, 2, [](int, int) { return qRgb(1, 2, 3); });
    const QString tif = QString::fromLocal8Bit(TAMO_SAMPLES_DIR) + "/u16_grey.tif";
    auto answers = answerInTurn({{}});
    tool->handleFileByPath(png, 0);
    tool->handleFileByPath(tif, 1);
    guitest::cancelPendingAnswers();
    EXPECT_EQ(answers->text(0), QString());
    EXPECT_TRUE(console().endsWith("\nOpening " + png +
                                   "\nImage has 3 frames and 2 rows and 2 Columns\n"
                                   "max = [1 2 3], min = [1 2 3], Mean = [1 2 3], "
                                   "StdDev = [0 0 0]\nOpening " +
                                   tif +
                                   " --- u16bit\n\n\nImage has 1 frame and 5 rows"
                                   " and 6 Columns\nmax = 65535 min = 0 Mean = 32756.3 "
                                   "StdDev = 19554"))
        << console();
}

TEST_F(FileCommandsTest, TiffAndNpyFilesComeInExactAndSaveAsKeepsTheChosenType) {
    const QString samples = QString::fromLocal8Bit(TAMO_SAMPLES_DIR);
    // 16-bit values keep their low bits; the summary names the file's type.
    ASSERT_EQ(load(samples + "/u16_grey.tif", 1), QString());
    EXPECT_EQ(slot(1)->dtype, TAMO_32FLT);
    EXPECT_EQ(Tamofgp(slot(1), 0, 1), 2259.0);
    EXPECT_EQ(Tamofgp(slot(1), 4, 5), 65535.0);
    EXPECT_TRUE(
        console().endsWith(" --- u16bit\n\n\nImage has 1 frame and 5 rows and 6 Columns\n"
                           "max = 65535 min = 0 Mean = 32756.3 StdDev = 19554"))
        << console();
    ASSERT_EQ(load(samples + "/u16_stack.tif", 1), QString());
    EXPECT_EQ(shape(slot(1)), std::vector<int>({4, 3, 5}));
    EXPECT_TRUE(
        console().endsWith(" --- u16bit\n\nImage has 5 frames and 3 rows and 4 Columns\n"
                           "max = [77 13077 26077], min = [0 13000 26000], "
                           "Mean = [38.5 13038.5 26038.5], StdDev = [24.1644 24.1644 24.1644]"))
        << console();

    // Save As: TIFF and .npy in the type asked for, then read back exactly.
    select("output", 1);
    auto answers = saveAs(path("stack.tif"), "u16bit");
    EXPECT_EQ(answers->text(1), QString("TIFF data type:"));
    EXPECT_EQ(answers->text(2), QString());
    saveAs(path("stack.npy"), "");
    for (const char *name : {"stack.tif", "stack.npy"}) {
        SCOPED_TRACE(name);
        std::string reason;
        const std::string file = QFile::encodeName(path(name)).toStdString();
        tamo::RecordPtr back = frontend::isTiffName(file) ? frontend::readTiff(file, reason)
                                                          : frontend::readNpy(file, reason);
        ASSERT_TRUE(back) << reason;
        EXPECT_EQ(back->dtype, frontend::isTiffName(file) ? TAMO_U16BIT : TAMO_32FLT);
        EXPECT_EQ(shape(back.get()), std::vector<int>({4, 3, 5}));
        EXPECT_EQ(Tamofgp3d(back.get(), 4, 2, 3), 65535.0);
    }
    // A type the format cannot hold: a message, and the old file stays.
    EXPECT_EQ(saveAs(path("stack.tif"), "32cmp")->text(2),
              QString("A 32flt image cannot be saved as 32cmp."));
    std::string reason;
    EXPECT_TRUE(frontend::readTiff(QFile::encodeName(path("stack.tif")).toStdString(), reason));

    // Damaged files leave the slot as it was.
    TAMOHDR *kept = slot(1);
    writeBytes(path("cut.npy"), QByteArray("\x93NUMPY\x01\x00\xff\x00", 10));
    writeBytes(path("text.tiff"), "not a tiff");
    for (const char *name : {"cut.npy", "text.tiff"}) {
        const QString message = load(path(name), 1);
        EXPECT_TRUE(message.startsWith("Cannot read " + path(name) + ": ")) << message;
        EXPECT_EQ(slot(1), kept);
    }
}
