// The image window's mouse tools and save commands: clicks read out and
// remembered, profile and histogram plots of a stroke, overlay strokes, Save
// and SaveWorkingImage.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSlider>
#include <QWheelEvent>

#include <cmath>
#include <vector>

#include <qcustomplot.h>

#include "guitest.h"
#include "plotmainwindow.h"
#include "tempdir.h"
#include "testrecords.h"
#include "windowinput.h"
#include "windowtest.h"

namespace {

using guitest::ImageOwner;
using guitest::makeImage;

class MouseToolTest : public WindowTest {
protected:
    static QLabel *label(TamotoolChildWindow *w) { return child<QLabel>(w, "imageLabel"); }
    QString console() const { return find<QPlainTextEdit>("console")->toPlainText(); }
    // What the console gained while f ran.
    template <class F>
    QString consoleAdded(F &&f) {
        const int before = console().size();
        testing::internal::CaptureStdout();
        f();
        testing::internal::GetCapturedStdout();
        return console().mid(before);
    }
    // What a click at label position `at` adds to the console.
    QString click(TamotoolChildWindow *w, QPoint at) {
        return consoleAdded([&] { guitest::stroke(label(w), {at}); });
    }
    // A stroke along row `row` over columns first .. first + count - 1.
    static QVector<QPoint> along(int row, int first, int count) {
        QVector<QPoint> points;
        for (int x = first; x < first + count; ++x) points << QPoint(x, row);
        return points;
    }
    void drag(TamotoolChildWindow *w, const QVector<QPoint> &points) {
        testing::internal::CaptureStdout();
        guitest::stroke(label(w), points);
        testing::internal::GetCapturedStdout();
    }
    static QList<MainWindow *> plots(TamotoolChildWindow *w) {
        return w->findChildren<MainWindow *>(QString(), Qt::FindDirectChildrenOnly);
    }
    static std::vector<double> curve(MainWindow *plot, int graph, bool keys = false) {
        std::vector<double> points;
        const auto data = plot->customPlot->graph(graph)->data();
        for (auto it = data->constBegin(); it != data->constEnd(); ++it)
            points.push_back(keys ? it->key : it->value);
        return points;
    }
};

float &at(TAMOHDR *img, int frame, int row, int col) {
    return reinterpret_cast<float *>(img->orvptr)[(frame * Tamonr(img) + row) * Tamonc(img) + col];
}

}  // namespace

TEST_F(MouseToolTest, ClicksAreReadOutAndRememberedForCrop) {
    // 40 x 50 values 0..100 (a few 50s between): 12.5 at row 3, column 4.
    TAMOHDR *grey = makeImage(40, 50);
    for (int k = 0; k < 2000; ++k) reinterpret_cast<float *>(grey->orvptr)[k] = 50;
    at(grey, 0, 0, 0) = 0;
    at(grey, 0, 49, 39) = 100;
    at(grey, 0, 3, 4) = 12.5f;
    TamotoolChildWindow *w = view(1, grey);
    w->reset();

    EXPECT_EQ(click(w, {4, 3}),
              "\nModified: [3 , 4] \t  [Bright = 12.5]\nOriginal: [3 , 4] \t  [Bright = 12.5]");
    // At zoom 20 a picture pixel covers two label pixels.
    slider(w, "zoom")->setValue(20);
    click(w, {21, 41});
    slider(w, "zoom")->setValue(0);
    click(w, {30, 40});
    EXPECT_EQ(std::vector<int>({tool->clickX1, tool->clickY1, tool->clickX2, tool->clickY2}),
              std::vector<int>({10, 20, 30, 40}));
    // Past the image nothing is kept or told.
    EXPECT_EQ(click(w, {40, 10}), "");
    EXPECT_EQ(tool->clickX2, 30);

    // Crop takes the rectangle of the two clicks.
    setMode(1);
    select("input1", 1);
    select("output", 2);
    press("exponentButton");
    ASSERT_NE(slot(2), nullptr);
    EXPECT_EQ(guitest::shape(slot(2)), std::vector<int>({20, 20}));

    // A colour buffer reads out its three channels and the overlay frame.
    TAMOHDR *colour = makeImage(4, 3, 3);  // 0..35
    w = view(3, colour);
    w->reset();
    EXPECT_EQ(click(w, {2, 1}),
              "\nModified: [1 , 2] \t  [Bright = 20.494]\t  [R =   6.00 , G =  18.00 , B =  30.00]"
              "\nOriginal: [1 , 2] \t  [Bright = 20.494]\t  [R =   6.00 , G =  18.00 , B =  30.00 "
              "o=  0.00]");
}

TEST_F(MouseToolTest, ProfileToolPlotsEachStroke) {
    // 50 x 12 x 3 values -100..1699: after Reset a profile value is the
    // buffer's value less its minimum.
    TamotoolChildWindow *w = view(2, makeImage(50, 12, 3, -100.0f));
    w->reset();
    child<QAction>(w, "profileAct")->trigger();
    EXPECT_EQ(child<QAction>(w, "profileAct")->iconText(), "Profiler ON");

    drag(w, along(10, 5, 40));
    ASSERT_EQ(plots(w).size(), 1);
    MainWindow *plot = plots(w)[0];
    EXPECT_TRUE(plot->isVisible());
    QCustomPlot *p = plot->customPlot;
    ASSERT_EQ(p->graphCount(), 3);
    std::vector<double> x(40);
    for (int k = 0; k < 40; ++k) x[k] = k;
    const QColor colours[3] = {Qt::red, Qt::green, Qt::blue};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(curve(plot, c, true), x);
        const std::vector<double> values = curve(plot, c);
        ASSERT_EQ(values.size(), 40u);
        for (int k = 0; k < 40; ++k) EXPECT_NEAR(values[k], c * 600 + 505 + k, 1e-3) << c << k;
        EXPECT_EQ(p->graph(c)->pen().color(), colours[c]);
        EXPECT_EQ(p->graph(c)->brush().color().rgba(), (colours[c].rgba() & 0xFFFFFFu) | 20u << 24);
    }
    EXPECT_EQ(p->xAxis->label(), "Data points");
    EXPECT_EQ(p->yAxis->label(), "RGB");
    EXPECT_EQ(p->xAxis->range(), QCPRange(0, 39));
    EXPECT_NEAR(p->yAxis->range().lower, 505, 1e-3);
    EXPECT_NEAR(p->yAxis->range().upper, 1744, 1e-3);
    EXPECT_TRUE(p->xAxis2->visible() && p->yAxis2->visible());
    EXPECT_FALSE(p->xAxis2->tickLabels() || p->yAxis2->tickLabels());
    EXPECT_EQ(int(p->interactions()), 11);

    // The next press starts a new trail.
    drag(w, along(2, 0, 7));
    ASSERT_EQ(plots(w).size(), 2);
    EXPECT_EQ(curve(plots(w)[1], 0).size(), 7u);
    EXPECT_NEAR(curve(plots(w)[1], 2)[6], 1200 + 100 + 6, 1e-3);

    // Off, a stroke plots nothing; a plot window closed only hides.
    child<QAction>(w, "profileAct")->trigger();
    drag(w, along(3, 0, 5));
    EXPECT_EQ(plots(w).size(), 2);
    QPointer<MainWindow> closed = plots(w)[0];
    closed->close();
    EXPECT_TRUE(closed && !closed->isVisible());
    delete w;
    EXPECT_TRUE(closed.isNull());
}

TEST_F(MouseToolTest, HistogramToolCountsDisplayedValuesAcrossStrokes) {
    // Working values equal the buffer's (it spans 0..255): row 0 of the
    // three frames holds red 255, 4.9, 25, 24.9, green 0, blue 100.
    TAMOHDR *img = makeImage(4, 2, 3);
    std::fill_n(reinterpret_cast<float *>(img->orvptr), 24, 0.0f);
    const float red[4] = {255, 4.9f, 25, 24.9f};
    for (int x = 0; x < 4; ++x) {
        at(img, 0, 0, x) = red[x];
        at(img, 2, 0, x) = 100;
    }
    TamotoolChildWindow *w = view(4, img);
    w->reset();
    child<QAction>(w, "histogramAct")->trigger();
    EXPECT_EQ(child<QAction>(w, "histogramAct")->iconText(), "Histogram ON");

    auto bins = [](std::initializer_list<std::pair<int, double>> counts) {
        std::vector<double> b(52, 0.0);
        for (const auto &[bin, n] : counts) b[bin] = n;
        return b;
    };
    drag(w, along(0, 0, 4));
    ASSERT_EQ(plots(w).size(), 1);
    MainWindow *first = plots(w)[0];
    EXPECT_EQ(curve(first, 0), bins({{51, 1}, {0, 1}, {5, 1}, {4, 1}}));
    EXPECT_EQ(curve(first, 1), bins({{0, 4}}));
    EXPECT_EQ(curve(first, 2), bins({{20, 4}}));
    EXPECT_EQ(first->customPlot->xAxis->label(), "Histogram Bins");
    EXPECT_EQ(first->customPlot->yAxis->label(), "Repititions");
    EXPECT_EQ(first->customPlot->xAxis->range(), QCPRange(0, 51));

    // Without the profile tool a second stroke adds to the first.
    drag(w, along(0, 0, 2));
    ASSERT_EQ(plots(w).size(), 2);
    EXPECT_EQ(curve(plots(w)[1], 0), bins({{51, 2}, {0, 2}, {5, 1}, {4, 1}}));
    EXPECT_EQ(curve(plots(w)[1], 1), bins({{0, 6}}));
}

TEST_F(MouseToolTest, OverlayStrokesMarkTheFourthFrameUntilShiftPress) {
    TamotoolChildWindow *w = view(5, makeImage(10, 6, 3));
    testing::internal::CaptureStdout();
    child<QAction>(w, "drawOverlayAct")->trigger();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(Tamodimen(w->workImage, 2), 4);

    // At zoom 20 a stroke over label columns 4..9 of row 6 marks picture
    // row 3, columns 2..4, in the frame and on the picture.
    slider(w, "zoom")->setValue(20);
    drag(w, along(6, 4, 6));
    slider(w, "zoom")->setValue(0);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 10; ++col)
            EXPECT_EQ(Tamofgp3d(w->workImage, 3, row, col),
                      row == 3 && col >= 2 && col <= 4 ? 255.0 : 0.0)
                << row << " " << col;
    EXPECT_EQ(shown(w).pixel(3, 3), 0xFFFF0000u);
    EXPECT_EQ(w->trailX, QVector<int>({2, 2, 3, 3, 4, 4}));
    EXPECT_TRUE(click(w, {3, 3}).endsWith(" o=255.00]"));

    // Shift + press takes the overlay away.
    testsupport::stdoutOf([&] {
        guitest::mouseAt(label(w), QEvent::MouseButtonPress, {1, 1}, Qt::ShiftModifier);
    });
    EXPECT_EQ(Tamodimen(w->workImage, 2), 3);
    EXPECT_FALSE(w->drawOverlayOn);
    EXPECT_EQ(child<QAction>(w, "drawOverlayAct")->iconText(), "DrawOverlay OFF");
}

TEST_F(MouseToolTest, SaveWritesTheShownSettingsIntoTheBuffer) {
    // Bright + 10 raises every value by 10/255 of the range, up to its top.
    for (int frames : {3, 0}) {
        SCOPED_TRACE(frames);
        // -100, -80, ...: the range reaches below 0 and spans more than 255,
        // so that Reset leaves Level at 0.
        ImageOwner before(makeImage(6, 4, frames));
        float *values = reinterpret_cast<float *>(before.img->orvptr);
        for (int k = 0; k < 24 * std::max(frames, 1); ++k) values[k] = 20.0f * k - 100;
        TamotoolChildWindow *w = view(1, guitest::copyImage(before));
        const double top = w->dataMax, span = w->dataMax - w->dataMin;
        w->reset();
        slider(w, "bright")->setValue(10);
        TAMOHDR *const record = slot(1);
        const QImage picture = shown(w);
        child<QAction>(w, "saveAct")->trigger();
        EXPECT_EQ(slot(1), record) << "Save writes into the slot's own record";
        EXPECT_TRUE(guitest::floatsNear(
            slot(1), [&](int k) { return std::min(values[k] + 10 * span / 255, top); }));
        EXPECT_EQ(Tamofgp3d(slot(1), frames ? 2 : 0, 3, 5), top);
        // The window keeps its picture; the change is a step of the history
        // and of the recorded session, and Undo brings the values back.
        EXPECT_EQ(shown(w), picture);
        auto *undo = panel->findChild<QAction *>("undoAct");
        EXPECT_EQ(undo->text(), "Undo Save");
        EXPECT_TRUE(panel->sessionScript().contains("Save into slot 1"));
        undo->trigger();
        EXPECT_TRUE(guitest::sameImage(slot(1), before));
    }
}

TEST_F(MouseToolTest, SaveWorkingImageWritesThePictureShown) {
    testsupport::TempDir dir;
    auto file = [&](const char *name) { return QString::fromStdString(dir.file(name)); };
    struct Case {
        const char *name;
        int frames;        // of the buffer: 0 for a grey one
        bool overlay;      // an overlay is drawn first
        const char *type;  // answer to the data type question; null: no question
        const char *message;
        int savedFrames;  // of an own-format file; 0: a PNG; -1: nothing written
    };
    const Case cases[] = {
        {"shot.png", 3, false, nullptr, nullptr, 0},
        {"shot.TAMO", 3, false, "", nullptr, 3},
        {"grey.orv", 0, false, "u8bit", nullptr, 3},
        {"marks.Tam", 3, true, "float", nullptr, 4},
        {"bogus.tam", 3, false, "bogus", "\"bogus\" is not a data type.", -1},
        {"long.ORV", 3, false, "u8bit_and_more_bits", "\"u8bit_and_more_bits\" is not", -1},
        {"mixed.Tamo", 3, true, "Su8bit3", "A picture of 4 frames cannot be saved as Su8bit3.", -1},
        {"keep.tamo", 3, false, nullptr, "output of file to disk failed", -1},
    };
    QFile kept(file("keep.tamo"));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly) && kept.write("old") == 3);
    kept.close();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TamotoolChildWindow *w = view(6, makeImage(6, 4, c.frames, 3.0f));
        slider(w, "bright")->setValue(40);
        if (c.overlay) {
            testing::internal::CaptureStdout();
            child<QAction>(w, "drawOverlayAct")->trigger();
            testing::internal::GetCapturedStdout();
            drag(w, along(1, 2, 2));
        }
        // The picture is two columns wider than the image; the file is not.
        const QImage picture = shown(w).copy(0, 0, 6, 4);
        // The question whether to replace an existing file is answered by
        // the file dialog's own action.
        QList<guitest::DialogAction> answers{guitest::chooseFile(file(c.name))};
        if (c.type) answers << guitest::enterValue(QString(c.type));
        guitest::DialogScript script(answers);
        child<QAction>(w, "saveBufferAct")->trigger();
        const QStringList texts = script.texts();
        ASSERT_EQ(texts.size(), 1 + (c.type != nullptr) + (c.message != nullptr))
            << texts.join("|");
        if (c.message) EXPECT_TRUE(texts.last().startsWith(c.message)) << texts.last();
        if (c.savedFrames < 0) continue;
        if (c.savedFrames == 0) {
            QImageReader reader(file(c.name));
            EXPECT_EQ(reader.format(), "png");
            EXPECT_EQ(reader.read().convertToFormat(QImage::Format_RGB32), picture);
            continue;
        }
        tamo::RecordPtr saved = testsupport::readOwnFormat(dir.file(c.name));
        ASSERT_TRUE(saved);
        EXPECT_EQ(guitest::shape(saved.get()), std::vector<int>({6, 4, c.savedFrames}));
        EXPECT_EQ(saved->dtype, Tamotype(*c.type ? c.type : "float")->code);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                const QRgb p = picture.pixel(x, y);
                ASSERT_EQ(Tamofgp3d(saved.get(), 0, y, x), qRed(p)) << x << " " << y;
                ASSERT_EQ(Tamofgp3d(saved.get(), 1, y, x), qGreen(p));
                ASSERT_EQ(Tamofgp3d(saved.get(), 2, y, x), qBlue(p));
                if (c.overlay)
                    ASSERT_EQ(Tamofgp3d(saved.get(), 3, y, x),
                              y == 1 && (x == 2 || x == 3) ? 255 : 0);
            }
    }
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old");
    // Only the files written are there: no temporary ones are left.
    QStringList left = QDir(QString::fromStdString(dir.path())).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, QStringList({"grey.orv", "keep.tamo", "marks.Tam", "shot.TAMO", "shot.png"}));
}

TEST_F(MouseToolTest, PlotWindowFollowsTheUserAndSavesAPng) {
    MainWindow plot(panel);
    QVector<double> ramp(20), zero(20, 0.0);
    for (int k = 0; k < 20; ++k) ramp[k] = 3 * k;
    plot.plotData(ramp, zero, ramp, PLOT_PROFILE);
    plot.show();
    QCustomPlot *p = plot.customPlot;
    EXPECT_EQ(p->yAxis->range(), QCPRange(0, 57));

    // Wheel-zooming moves the frame axes with the others.
    const QPoint middle = p->axisRect()->rect().center();
    QWheelEvent wheel(QPointF(middle), QPointF(p->mapToGlobal(middle)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(p, &wheel);
    EXPECT_LT(p->yAxis->range().size(), 57);
    EXPECT_EQ(p->xAxis2->range(), p->xAxis->range());
    EXPECT_EQ(p->yAxis2->range(), p->yAxis->range());

    // The context menu saves the plot as PNG; a name without suffix gets
    // ".png"; a folder that does not exist is told.
    testsupport::TempDir dir;
    const QString base = QString::fromStdString(dir.file("plot"));
    emit p->customContextMenuRequested(middle);
    QPointer<QMenu> menu = plot.findChild<QMenu *>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    {
        guitest::DialogScript script({guitest::chooseFile(base)});
        menu->actions()[0]->trigger();
    }
    if (menu) menu->close();
    QImage saved(base + ".png");
    EXPECT_EQ(saved.size(), p->size());
    guitest::DialogScript failing({guitest::chooseFile(base + "/none/plot.png")});
    plot.savePlotAsPng();
    EXPECT_EQ(failing.texts().value(1), "output of file to disk failed");
}
