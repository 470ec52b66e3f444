// Pictures of a colour and a grey image window, and of a colour window beside
// the profile plot of a stroke across it, as the offscreen platform draws
// them. With TAMO_SCREENSHOT_DIR set they are saved there as
// image-window-colour.png, image-window-grey.png and image-window-profile.png
// (the README's pictures are made this way); TAMO_SCREENSHOT_COLOUR and
// TAMO_SCREENSHOT_GREY may name raster files to show instead of the built-in
// patterns.
#include <QImage>
#include <QAction>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QSet>
#include <QSlider>
#include <QToolBar>

#include <cmath>

#include "guitest.h"
#include "plotmainwindow.h"
#include "tamotoolchildwindow.h"
#include "windowinput.h"

namespace {

// A record of the picture in `file` (3 frames red, green, blue, or one grey
// plane), or of a built-in pattern when there is no such file.
TAMOHDR *pictureRecord(const QString &file, bool colour) {
    QImage image;
    if (!file.isEmpty()) image.load(file);
    if (image.isNull()) {
        image = QImage(320, 240, QImage::Format_RGB32);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                image.setPixel(
                    x, y,
                    qRgb(x * 255 / 319, int(128 + 100 * std::sin(x / 25.0) * std::cos(y / 20.0)),
                         y * 255 / 239));
    }
    TAMOHDR *img = guitest::makeImage(image.width(), image.height(), colour ? 3 : 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (colour) {
                Tamofpp3d(img, 0, y, x, qRed(p));
                Tamofpp3d(img, 1, y, x, qGreen(p));
                Tamofpp3d(img, 2, y, x, qBlue(p));
            } else {
                Tamofpp(img, y, x, qGray(p));
            }
        }
    return img;
}

// The colours of a picture, sampled every third pixel.
int colourCount(const QImage &picture) {
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 3)
        for (int x = 0; x < picture.width(); x += 3) colours.insert(picture.pixel(x, y));
    return colours.size();
}

// The window drawn at a size that shows all of its picture (a large picture
// shrunk by the zoom to about 512 columns).
QImage grabFitted(TamotoolChildWindow *window, int columns) {
    if (columns > 560)
        window->findChild<QSlider *>("zoomSlider")
            ->setValue(-static_cast<int>(std::lround(100.0 * (1.0 - 512.0 / columns))));
    guitest::waitUntil([] { return false; }, 100);
    const QSize label = window->findChild<QLabel *>("imageLabel")->size();
    const QWidget *view = window->findChild<QScrollArea *>("scrollArea")->viewport();
    const QSize around = window->size() - view->size();
    const int bar = window->findChild<QToolBar *>("editToolBar")->sizeHint().width();
    // The offscreen screen is 800 pixels wide and would hold a shown window
    // to it; a hidden one draws at any size.
    window->hide();
    window->resize(std::max(label.width() + around.width(), bar),
                   std::max(label.height() + around.height(), 320));
    guitest::waitUntil([] { return false; }, 100);
    return window->grab().toImage();
}

}  // namespace

TEST_F(PanelTest, ImageWindowsDrawTheirPictureAndControls) {
    const QString dir = qEnvironmentVariable("TAMO_SCREENSHOT_DIR");
    struct Shot {
        const char *name;
        const char *source;
        bool colour;
        int slot;
    };
    for (const Shot &shot : {Shot{"image-window-colour.png", "TAMO_SCREENSHOT_COLOUR", true, 0},
                             Shot{"image-window-grey.png", "TAMO_SCREENSHOT_GREY", false, 1}}) {
        SCOPED_TRACE(shot.name);
        slot(shot.slot) = pictureRecord(qEnvironmentVariable(shot.source), shot.colour);
        tool->imageNames[shot.slot] = shot.colour ? "face.png" : "ascent.png";
        select("output", shot.slot);
        testing::internal::CaptureStdout();
        QMetaObject::invokeMethod(panel, "view");
        testing::internal::GetCapturedStdout();
        TamotoolChildWindow *window = panel->childWindows[shot.slot];
        ASSERT_NE(window, nullptr);

        const QImage picture = grabFitted(window, Tamonc(slot(shot.slot)));
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(picture.size(), window->size() * picture.devicePixelRatio());
        EXPECT_GT(colourCount(picture), 50);
        if (!dir.isEmpty()) EXPECT_TRUE(picture.save(dir + "/" + shot.name));
    }
}

TEST_F(PanelTest, ImageWindowBesideTheProfileOfAStroke) {
    slot(0) = pictureRecord(qEnvironmentVariable("TAMO_SCREENSHOT_COLOUR"), true);
    tool->imageNames[0] = "face.png";
    select("output", 0);
    testing::internal::CaptureStdout();
    QMetaObject::invokeMethod(panel, "view");
    TamotoolChildWindow *window = panel->childWindows[0];
    ASSERT_NE(window, nullptr);
    window->reset();
    window->findChild<QAction *>("profileAct")->trigger();
    // A stroke across the middle of the picture, at the zoom that fits it.
    const int columns = Tamonc(slot(0)), rows = Tamonr(slot(0));
    const double scale = columns > 560 ? 512.0 / columns : 1.0;
    QVector<QPoint> points;
    for (int x = columns / 10; x < columns * 9 / 10; ++x)
        points << QPoint(static_cast<int>(x * scale), static_cast<int>(rows / 2 * scale));
    grabFitted(window, columns);
    guitest::stroke(window->findChild<QLabel *>("imageLabel"), points);
    testing::internal::GetCapturedStdout();
    const QList<MainWindow *> plots = window->findChildren<MainWindow *>();
    ASSERT_EQ(plots.size(), 1);

    const QImage image = grabFitted(window, columns);
    MainWindow *plot = plots[0];
    plot->hide();
    plot->resize(560, image.height());
    guitest::waitUntil([] { return false; }, 100);
    const QImage graph = plot->grab().toImage();
    QImage both(image.width() + graph.width(), std::max(image.height(), graph.height()),
                QImage::Format_RGB32);
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawImage(0, 0, image);
    painter.drawImage(image.width(), 0, graph);
    painter.end();
    EXPECT_GT(colourCount(both), 50);
    const QString dir = qEnvironmentVariable("TAMO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) EXPECT_TRUE(both.save(dir + "/image-window-profile.png"));
}
