// Pictures of a colour and a grey image window as the offscreen platform
// draws them. With TAMO_SCREENSHOT_DIR set they are saved there as
// image-window-colour.png and image-window-grey.png (the README's pictures are
// made this way); TAMO_SCREENSHOT_COLOUR and TAMO_SCREENSHOT_GREY may name
// raster files to show instead of the built-in patterns.
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QSet>
#include <QSlider>
#include <QToolBar>

#include <cmath>

#include "guitest.h"
#include "tamotoolchildwindow.h"

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
                image.setPixel(x, y, qRgb(x * 255 / 319, (x * y) % 256, y * 255 / 239));
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

        // Shrink a large picture so that all of it shows, and fit the window
        // around it.
        const int columns = Tamonc(slot(shot.slot));
        if (columns > 560)
            window->findChild<QSlider *>("zoomSlider")
                ->setValue(-static_cast<int>(std::lround(100.0 * (1.0 - 512.0 / columns))));
        guitest::waitUntil([] { return false; }, 100);
        const QSize label = window->findChild<QLabel *>("imageLabel")->size();
        const QWidget *view = window->findChild<QScrollArea *>("scrollArea")->viewport();
        const QSize around = window->size() - view->size();
        const int bar = window->findChild<QToolBar *>("editToolBar")->sizeHint().width();
        // The offscreen screen is 800 pixels wide and would hold a shown
        // window to it; a hidden one draws at any size.
        window->hide();
        window->resize(std::max(label.width() + around.width(), bar),
                       std::max(label.height() + around.height(), 320));
        guitest::waitUntil([] { return false; }, 100);

        const QImage picture = window->grab().toImage();
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(picture.size(), window->size() * picture.devicePixelRatio());
        QSet<QRgb> colours;
        for (int y = 0; y < picture.height(); y += 3)
            for (int x = 0; x < picture.width(); x += 3) colours.insert(picture.pixel(x, y));
        EXPECT_GT(colours.size(), 50);
        if (!dir.isEmpty()) EXPECT_TRUE(picture.save(dir + "/" + shot.name));
    }
}
