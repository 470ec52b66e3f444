// Pictures of the control panel and of a command's result as the offscreen
// platform draws them. With TAMO_SCREENSHOT set to a file name the panel is
// also saved there; with TAMO_SCREENSHOT_RESULT, the image window showing a
// pseudo-coloured labelling made through the panel's buttons; with
// TAMO_SCREENSHOT_FFT, the image window showing the logarithm of a Fourier
// magnitude (the README's and the guide's pictures are made this way).
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QSet>

#include <cmath>

#include "guitest.h"
#include "tamotoolchildwindow.h"

// Views the chosen output slot through the panel (its summary goes to the
// captured standard output, which is dropped), fits the window to the
// picture and grabs it; a null image when no window opened.
static QImage viewedPicture(TamotoolMainWindow *panel, int slot) {
    QMetaObject::invokeMethod(panel, "view");
    testing::internal::GetCapturedStdout();
    guitest::closeMessageBoxes();
    TamotoolChildWindow *window = panel->childWindows[slot];
    if (!window) {
        ADD_FAILURE() << "no window for slot " << slot;
        return QImage();
    }
    guitest::settle(100);
    const QSize label = window->findChild<QLabel *>("imageLabel")->size();
    const QWidget *view = window->findChild<QScrollArea *>("scrollArea")->viewport();
    window->hide();
    window->resize(label + window->size() - view->size());
    guitest::settle(100);
    return window->grab().toImage();
}

TEST_F(PanelTest, ControlPanelDrawsItsWholeCatalogue) {
    put(0, guitest::makeImage(8, 8));
    QMetaObject::invokeMethod(panel, "updateAccessability");
    panel->resize(panel->minimumSizeHint().expandedTo(QSize(900, 560)));
    guitest::waitUntil([] { return false; }, 100);

    const QImage picture = panel->grab().toImage();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), panel->size() * picture.devicePixelRatio());
    // Text and frames give many distinct colours; a blank picture gives one.
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 3)
        for (int x = 0; x < picture.width(); x += 3) colours.insert(picture.pixel(x, y));
    EXPECT_GT(colours.size(), 10);

    const QString target = qEnvironmentVariable("TAMO_SCREENSHOT");
    if (!target.isEmpty()) EXPECT_TRUE(picture.save(target));
}

TEST_F(PanelTest, LabelledRegionsInRandomColoursInAnImageWindow) {
    // Discs of different brightness on a dark background: CCL labels each,
    // CMap 6 gives every label its own colour, View shows the result.
    const int cols = 320, rows = 240;
    TAMOHDR *discs = put(0, guitest::makeImage(cols, rows));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) Tamofpp(discs, y, x, 0.0);
    for (int i = 0; i < 24; ++i) {
        const int cx = 25 + (i % 6) * 54, cy = 30 + (i / 6) * 60, radius = 10 + (i * 7) % 15;
        for (int y = cy - radius; y <= cy + radius; ++y)
            for (int x = cx - radius; x <= cx + radius; ++x)
                if (x >= 0 && y >= 0 && x < cols && y < rows &&
                    (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
                    Tamofpp(discs, y, x, 60.0 + 8 * i);
    }
    select("output", 1);
    testing::internal::CaptureStdout();
    {
        guitest::DialogScript script({guitest::acceptDialog()});
        press("cclButton");
    }
    select("input1", 1);
    select("output", 2);
    {
        guitest::DialogScript script({guitest::enterValue(6)});
        press("pseudoButton");
    }
    const QImage picture = viewedPicture(panel, 2);
    ASSERT_FALSE(picture.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 2)
        for (int x = 0; x < picture.width(); x += 2) colours.insert(picture.pixel(x, y));
    EXPECT_GT(colours.size(), 20);
    const QString target = qEnvironmentVariable("TAMO_SCREENSHOT_RESULT");
    if (!target.isEmpty()) EXPECT_TRUE(picture.save(target));
}

TEST_F(PanelTest, LogarithmOfAFourierMagnitudeInAnImageWindow) {
    // A tilted bar, its pixels multiplied by (-1)^(row + column) so that the
    // zero frequency lands in the middle of the transform. FFT, the complex
    // magnitude and Ln then run through the panel, and View shows slot 3.
    const int n = 256;
    TAMOHDR *bar = put(0, guitest::makeImage(n, n));
    const double c = std::cos(0.5), s = std::sin(0.5);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double u = (x - n / 2) * c + (y - n / 2) * s,
                         v = -(x - n / 2) * s + (y - n / 2) * c;
            const bool inside = std::abs(u) < 40 && std::abs(v) < 8;
            Tamofpp(bar, y, x, inside ? ((x + y) % 2 ? -100.0 : 100.0) : 0.0);
        }
    testing::internal::CaptureStdout();
    select("output", 1);
    trigger("fftAct");
    ASSERT_NE(slot(1), nullptr);
    EXPECT_EQ(slot(1)->dtype, TAMO_32CMP);
    select("input1", 1);
    select("output", 2);
    trigger("c2magAct");
    select("input1", 2);
    select("output", 3);
    press("natlogButton");
    // The middle holds the bar's sum, the largest magnitude; the corners the
    // highest frequencies, far smaller.
    ASSERT_NE(slot(3), nullptr);
    EXPECT_NEAR(Tamofgp(slot(3), n / 2, n / 2), std::log(100.0 * 80 * 16), 0.1);
    EXPECT_LT(Tamofgp(slot(3), 0, 0), Tamofgp(slot(3), n / 2, n / 2) - 2);
    const QImage picture = viewedPicture(panel, 3);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), n);
    const QString target = qEnvironmentVariable("TAMO_SCREENSHOT_FFT");
    if (!target.isEmpty()) EXPECT_TRUE(picture.save(target));
}
