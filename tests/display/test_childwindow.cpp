// The image window: its start state, the display controls and what each
// redraw shows, zoom, reset and overlays.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QSlider>
#include <QSpinBox>
#include <QToolBar>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "guitest.h"
#include "tamotoolchildwindow.h"
#include "windowtest.h"

namespace {

// The picture a redraw must give, worked out pixel by pixel with TamoBound
// from the working record; columns past the record repeat its last one.
QImage expectedRedraw(TAMOHDR *work, int width, int red, int green, int blue, int level,
                      int window) {
    float hi = static_cast<float>(level + window);
    const float lo = static_cast<float>(level);
    if (hi - lo == 0) hi = static_cast<float>(static_cast<double>(hi) + 0.0001);
    const bool colour = work->orvndim == 3;
    const int frames = colour ? Tamodimen(work, 2) : 1;
    const int offsets[3] = {red, green, blue};
    QImage image(width, Tamonr(work), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < width; ++x) {
            const int col = std::min(x, Tamonc(work) - 1);
            int out[3];
            for (int c = 0; c < 3; ++c) {
                const double v = Tamofgp3d(work, frames >= 3 ? c : 0, y, col);
                const double t = TamotoolChildWindow::TamoBound(0, v + offsets[c], 255);
                out[c] = static_cast<int>(
                    TamotoolChildWindow::TamoBound(0, (t - lo) * 255 / (hi - lo), 255));
            }
            image.setPixel(x, y,
                           colour ? qRgb(out[0], out[1], out[2]) : qRgb(out[0], out[0], out[0]));
        }
    return image;
}

// Frame `frame` of the working record in grey: integer parts of its values.
QImage greyFrame(TAMOHDR *work, int frame, int width) {
    QImage image(width, Tamonr(work), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < width; ++x) {
            const int v = int(Tamofgp3d(work, frame, y, std::min(x, Tamonc(work) - 1)));
            image.setPixel(x, y, qRgb(v, v, v));
        }
    return image;
}

// A record of random values in lo..hi.
TAMOHDR *randomImage(int cols, int rows, int frames, float lo, float hi, unsigned seed = 7) {
    TAMOHDR *img = guitest::makeImage(cols, rows, frames);
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(lo, hi);
    float *data = reinterpret_cast<float *>(img->orvptr);
    for (int i = 0; i < cols * rows * std::max(frames, 1); ++i) data[i] = dist(gen);
    return img;
}

}  // namespace

TEST_F(WindowTest, GreyWindowStartsWithTheDescribedControls) {
    // 18 columns of 0..1000: 0 at (0, 0), 1000 at the last pixel.
    TAMOHDR *img = guitest::makeImage(18, 5);
    for (int i = 0; i < 90; ++i) reinterpret_cast<float *>(img->orvptr)[i] = i * 1000.0f / 89;
    TamotoolChildWindow *w = view(3, img);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->windowTitle(), "3:scan.tamo");
    EXPECT_EQ(w->dataMin, 0.0f);
    EXPECT_EQ(w->dataMax, 1000.0f);
    ASSERT_EQ(w->workImage->orvndim, 2);
    EXPECT_EQ(w->workImage->dtype, TAMO_32FLT);
    EXPECT_EQ(Tamofgp(w->workImage, 0, 0), 0.0);
    EXPECT_EQ(Tamofgp(w->workImage, 4, 17), 255.0);
    EXPECT_NEAR(Tamofgp(w->workImage, 2, 4), 40 * 255.0 / 89, 1e-4);

    for (const char *name : {"warm", "cool", "red", "green", "blue"})
        EXPECT_FALSE(slider(w, name)->isEnabled() || spin(w, name)->isEnabled()) << name;
    EXPECT_TRUE(slider(w, "bright")->isEnabled());
    QSpinBox *frame = child<QSpinBox>(w, "frameSpin");
    EXPECT_FALSE(frame->isEnabled());
    EXPECT_EQ(frame->maximum(), 0);
    EXPECT_TRUE(child<QCheckBox>(w, "colorCheck")->isChecked());
    EXPECT_EQ(slider(w, "window")->value(), 128);
    EXPECT_EQ(spin(w, "window")->value(), 255);
    EXPECT_EQ(slider(w, "level")->maximum(), 127);
    EXPECT_EQ(w->size(), QSize(18 + 330, 320));
    QStringList texts;
    for (QAction *action : child<QToolBar>(w, "editToolBar")->actions()) texts << action->text();
    EXPECT_EQ(texts, QStringList({"Profiler OFF", "Histogram Off", "DrawOverlay Off", "Reset",
                                  "Save", "SaveWorkingImage"}));

    // The picture is widened to 20 columns; the label has its size.
    EXPECT_EQ(shown(w).size(), QSize(20, 5));
    EXPECT_EQ(child<QLabel>(w, "imageLabel")->size(), QSize(20, 5));

    // A wide buffer opens at a fixed size.
    TamotoolChildWindow *wide = view(4, guitest::makeImage(1030, 2));
    EXPECT_EQ(wide->size(), QSize(1280, 320));
}

TEST_F(WindowTest, ColourWindowsShowFramesZeroToTwo) {
    TamotoolChildWindow *w = view(1, randomImage(6, 4, 3, -5, 40));
    EXPECT_EQ(opened, "scale = 1.000000\n");
    for (const char *name : {"bright", "warm", "cool", "red", "green", "blue"})
        EXPECT_TRUE(slider(w, name)->isEnabled()) << name;
    EXPECT_EQ(child<QSpinBox>(w, "frameSpin")->maximum(), 2);
    EXPECT_EQ(shown(w), expectedRedraw(w->workImage, 8, 0, 0, 0, 0, 255));

    // Five frames: frames 0..2 in colour; without "Color" one frame in grey,
    // until any slider redraws in colour again.
    w = view(2, randomImage(5, 3, 5, 0, 1000, 11));
    QSpinBox *frame = child<QSpinBox>(w, "frameSpin");
    EXPECT_EQ(frame->maximum(), 4);
    EXPECT_EQ(shown(w), expectedRedraw(w->workImage, 8, 0, 0, 0, 0, 255));
    child<QCheckBox>(w, "colorCheck")->setChecked(false);
    EXPECT_TRUE(frame->isEnabled());
    EXPECT_EQ(shown(w), greyFrame(w->workImage, 0, 8));
    frame->setValue(3);
    EXPECT_EQ(w->currentFrame, 3);
    EXPECT_EQ(shown(w), greyFrame(w->workImage, 3, 8));
    slider(w, "bright")->setValue(10);
    EXPECT_EQ(shown(w), expectedRedraw(w->workImage, 8, 10, 10, 10, 0, 128));
    child<QCheckBox>(w, "colorCheck")->setChecked(true);
    EXPECT_FALSE(frame->isEnabled());

    // Two frames: frame 0 feeds every channel, so offsets still tint it.
    w = view(4, randomImage(4, 4, 2, 0, 10, 5));
    const QImage start = shown(w);
    EXPECT_EQ(start, greyFrame(w->workImage, 0, 4));
    w->changeRGB(20, 0, -20);
    EXPECT_EQ(shown(w), expectedRedraw(w->workImage, 4, 20, 0, -20, 0, 128));
    EXPECT_NE(qRed(shown(w).pixel(1, 1)), qBlue(shown(w).pixel(1, 1)));
}

TEST_F(WindowTest, LevelRangeFollowsTheWindowInDataUnits) {
    TAMOHDR *img = guitest::makeImage(11, 1);
    for (int i = 0; i < 11; ++i) reinterpret_cast<float *>(img->orvptr)[i] = i * 100.0f;
    TamotoolChildWindow *w = view(0, img);
    slider(w, "window")->setValue(100);
    EXPECT_EQ(spin(w, "window")->value(), 100);
    EXPECT_EQ(slider(w, "level")->minimum(), 0);
    EXPECT_EQ(slider(w, "level")->maximum(), 900);
    EXPECT_EQ(spin(w, "level")->minimum(), 0);
    EXPECT_EQ(spin(w, "level")->maximum(), 900);
    // The spin box drives the slider back.
    spin(w, "window")->setValue(40);
    EXPECT_EQ(slider(w, "window")->value(), 40);
    EXPECT_EQ(slider(w, "level")->maximum(), 960);
}

TEST_F(WindowTest, WindowZeroThresholdsAtTheLevel) {
    // 0..255 maps onto itself, so the working values are the pixel values.
    TamotoolChildWindow *w = view(0, guitest::makeImage(16, 16));
    slider(w, "window")->setValue(0);
    slider(w, "level")->setValue(100);
    const QImage picture = shown(w);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(qRed(picture.pixel(v % 16, v / 16)), v > 100 ? 255 : 0) << v;
}

TEST_F(WindowTest, DisplayOffsetsFeedTheRgbSliders) {
    TamotoolChildWindow *w = view(5, randomImage(7, 5, 3, 0, 1, 3));
    slider(w, "bright")->setValue(20);
    slider(w, "warm")->setValue(10);
    EXPECT_EQ(slider(w, "red")->value(), 30);
    EXPECT_EQ(slider(w, "green")->value(), 30);
    EXPECT_EQ(slider(w, "blue")->value(), 20);
    EXPECT_EQ(spin(w, "blue")->value(), 20);
    EXPECT_EQ(w->lastOffsets[0], 30);
    EXPECT_EQ(w->lastOffsets[2], 20);
    EXPECT_EQ(shown(w), expectedRedraw(w->workImage, 8, 30, 30, 20, 0, 128));
    slider(w, "cool")->setValue(-50);
    EXPECT_EQ(slider(w, "blue")->value(), -30);
    EXPECT_EQ(shown(w), expectedRedraw(w->workImage, 8, 30, 30, -30, 0, 128));

    // The RGB sliders take the other two channels from the Display group.
    w->reset();
    slider(w, "green")->setValue(50);
    EXPECT_EQ(std::vector<int>(w->lastOffsets, w->lastOffsets + 3), std::vector<int>({0, 50, 0}));
    slider(w, "red")->setValue(40);
    EXPECT_EQ(std::vector<int>(w->lastOffsets, w->lastOffsets + 3), std::vector<int>({40, 0, 0}));
    EXPECT_EQ(shown(w), expectedRedraw(w->workImage, 8, 40, 0, 0, 0, 255));
    spin(w, "blue")->setValue(-60);
    EXPECT_EQ(slider(w, "blue")->value(), -60);
    EXPECT_EQ(std::vector<int>(w->lastOffsets, w->lastOffsets + 3), std::vector<int>({0, 0, -60}));
}

TEST_F(WindowTest, RedrawsFollowTheFormulaForEveryContrast) {
    // Values beyond the working range, NaN and every kind of contrast,
    // through the widened picture's extra columns.
    for (int frames : {3, 0}) {
        SCOPED_TRACE(frames);
        TamotoolChildWindow *w = view(6, randomImage(37, 9, frames, -100, 1100, 17));
        const int width = 40;
        float *work = reinterpret_cast<float *>(w->workImage->orvptr);
        work[3] = std::numeric_limits<float>::quiet_NaN();
        work[4] = 300.0f;
        work[5] = -20.0f;
        for (int level : {0, 17, 100, 250})
            for (int window : {0, 1, 3, 128, 255}) {
                SCOPED_TRACE(testing::Message() << level << " " << window);
                // Level and Window as the sliders would hold them.
                slider(w, "window")->setValue(window);
                slider(w, "level")->setValue(level);
                ASSERT_EQ(slider(w, "level")->value(), level);
                w->changeRGB(-37, 90, 255);
                ASSERT_EQ(shown(w),
                          expectedRedraw(w->workImage, width, -37, 90, 255, level, window));
            }
        // A redraw asked again with the same values still repaints whatever
        // was drawn over the picture since.
        const QImage redrawn = shown(w);
        w->picture->setPixel(0, 0, 0xFF123456u);
        w->showPicture();
        w->changeRGB(-37, 90, 255);
        EXPECT_EQ(shown(w), redrawn);
        child<QLabel>(w, "imageLabel")->setPixmap(QPixmap(width, 9));
        w->changeRGB(-37, 90, 255);
        EXPECT_EQ(shown(w), redrawn);
        // A frame shown alone keeps the widened columns filled too.
        w->NewFrame(0);
        const QImage picture = shown(w);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 37; x < width; ++x) ASSERT_EQ(picture.pixel(x, y), picture.pixel(36, y));
    }
}

TEST_F(WindowTest, RedrawsAreExactAtEveryStepOfTheStretch) {
    // For whole Level and Window settings the redraw finds each displayed
    // value without dividing; the values where the division's result
    // crosses a whole number, and the floats next to them, are where such a
    // shortcut would go wrong. Each channel gets the steps of its own offset,
    // along with values that round or clamp: tiny ones of either sign, -0,
    // the infinities, NaN and values far outside 0..255.
    TamotoolChildWindow *w = view(5, randomImage(64, 40, 3, 0, 1000, 23));
    float *work = reinterpret_cast<float *>(w->workImage->orvptr);
    const int plane = 64 * 40;
    const struct {
        int level, window, red, green, blue;
    } cases[] = {{0, 128, 0, 0, 0},     {0, 255, 30, 30, 20}, {0, 1, -7, 0, 255},
                 {17, 3, 90, -37, 255}, {127, 200, 5, 0, -5}, {100, 255, -255, 510, -510},
                 {1, 77, 1, 2, 3},      {250, 5, 0, 255, 254}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.level << " " << c.window << " " << c.red << " "
                                        << c.green << " " << c.blue);
        const int offsets[3] = {c.red, c.green, c.blue};
        for (int ch = 0; ch < 3; ++ch) {
            std::vector<float> values = {0.0f,
                                         -0.0f,
                                         1e-30f,
                                         -1e-30f,
                                         1e-5f,
                                         -1e-5f,
                                         1e-40f,
                                         255.0f,
                                         254.999f,
                                         -3.5f,
                                         1e7f,
                                         -1e7f,
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::quiet_NaN()};
            // v with 255 (v + offset - level) = k * window, and its
            // neighbours.
            for (int k = -1; k <= 256; ++k) {
                const float step =
                    static_cast<float>(k * c.window / 255.0 - (offsets[ch] - c.level));
                values.push_back(step);
                values.push_back(std::nextafter(step, -INFINITY));
                values.push_back(std::nextafter(step, INFINITY));
            }
            ASSERT_LE(values.size(), static_cast<size_t>(plane));
            float *frame = work + ch * plane;
            for (int i = 0; i < plane; ++i) frame[i] = values[i % values.size()];
        }
        slider(w, "window")->setValue(c.window);
        slider(w, "level")->setValue(c.level);
        ASSERT_EQ(slider(w, "level")->value(), c.level);
        w->changeRGB(c.red, c.green, c.blue);
        ASSERT_EQ(shown(w),
                  expectedRedraw(w->workImage, 64, c.red, c.green, c.blue, c.level, c.window));
    }
}

TEST_F(WindowTest, ZoomResizesTheLabel) {
    TamotoolChildWindow *w = view(0, guitest::makeImage(20, 10));
    QLabel *label = child<QLabel>(w, "imageLabel");
    slider(w, "zoom")->setValue(20);
    EXPECT_EQ(label->size(), QSize(40, 20));
    slider(w, "zoom")->setValue(-50);
    EXPECT_EQ(label->size(), QSize(10, 5));
    slider(w, "zoom")->setValue(5);  // 1.25: 25 x 12.5, halves away from zero
    EXPECT_EQ(label->size(), QSize(25, 13));
    // Below -95 the scale is held at 0.05.
    slider(w, "zoom")->setValue(-200);
    EXPECT_EQ(label->size(), QSize(1, 1));
    EXPECT_DOUBLE_EQ(TamotoolChildWindow::getScaleFromZoom(255), 13.75);
    EXPECT_NEAR(TamotoolChildWindow::getScaleFromZoom(-95), 0.05, 1e-12);
    EXPECT_EQ(TamotoolChildWindow::getScaleFromZoom(-255),
              TamotoolChildWindow::getScaleFromZoom(-95));
    EXPECT_DOUBLE_EQ(TamotoolChildWindow::getScaleFromZoom(0), 1.0);
    // The picture itself keeps its size.
    EXPECT_EQ(shown(w).size(), QSize(20, 10));
}

TEST_F(WindowTest, ResetRestoresThePlainStretch) {
    TamotoolChildWindow *w = view(2, randomImage(8, 6, 3, 0, 50, 23));
    const QImage start = shown(w);
    slider(w, "bright")->setValue(40);
    slider(w, "red")->setValue(-70);
    slider(w, "window")->setValue(30);
    slider(w, "level")->setValue(10);
    slider(w, "zoom")->setValue(20);
    ASSERT_NE(shown(w), start);
    child<QAction>(w, "resetAct")->trigger();
    for (const char *name : {"bright", "warm", "cool", "red", "green", "blue", "level"})
        EXPECT_EQ(slider(w, name)->value(), 0) << name;
    EXPECT_EQ(slider(w, "window")->value(), 255);
    EXPECT_EQ(spin(w, "window")->value(), 255);
    EXPECT_EQ(slider(w, "zoom")->value(), 20);
    EXPECT_EQ(shown(w), start);
}

TEST_F(WindowTest, OverlayFrameGrowsAndIsRemoved) {
    TAMOHDR *img = guitest::makeImage(4, 3, 3);  // 0..35
    Tamofpp3d(img, 0, 2, 3, 32.0);               // a bright red value
    TamotoolChildWindow *w = view(3, img);
    const std::vector<float> before(reinterpret_cast<float *>(w->workImage->orvptr),
                                    reinterpret_cast<float *>(w->workImage->orvptr) + 36);
    testing::internal::CaptureStdout();
    child<QAction>(w, "drawOverlayAct")->trigger();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("drawOverlay:creating a 4 frame image"), std::string::npos) << out;
    ASSERT_EQ(Tamodimen(w->workImage, 2), 4);
    const float *work = reinterpret_cast<float *>(w->workImage->orvptr);
    EXPECT_EQ(std::vector<float>(work, work + 36), before);
    for (int i = 36; i < 48; ++i) EXPECT_EQ(work[i], 0.0f);
    EXPECT_TRUE(w->drawOverlayOn);
    EXPECT_EQ(child<QAction>(w, "drawOverlayAct")->iconText(), "DrawOverlay ON");
    EXPECT_TRUE(child<QCheckBox>(w, "overlayCheck")->isChecked());
    EXPECT_EQ(child<QSpinBox>(w, "frameSpin")->maximum(), 3);

    // Marks show red where the red channel is dark, dark red where it is
    // bright; other pixels stay as they were.
    const QImage plain = shown(w);
    Tamofpp3d(w->workImage, 3, 0, 1, 255);  // red 1 * 255 / 35 = 7: pure red
    Tamofpp3d(w->workImage, 3, 2, 3, 255);  // red 32 * 255 / 35 = 233: 255 - 233 = 22
    w->NewImage();
    QImage marked = shown(w);
    EXPECT_EQ(marked.pixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(marked.pixel(3, 2), qRgb(22, 0, 0));
    marked.setPixel(1, 0, plain.pixel(1, 0));
    marked.setPixel(3, 2, plain.pixel(3, 2));
    EXPECT_EQ(marked, plain);

    // Shift + press removes the overlay.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::ShiftModifier);
    QApplication::sendEvent(w, &press);
    ASSERT_EQ(Tamodimen(w->workImage, 2), 3);
    work = reinterpret_cast<float *>(w->workImage->orvptr);
    EXPECT_EQ(std::vector<float>(work, work + 36), before);
    EXPECT_FALSE(w->drawOverlayOn);
    EXPECT_EQ(child<QAction>(w, "drawOverlayAct")->iconText(), "DrawOverlay OFF");
    EXPECT_EQ(child<QSpinBox>(w, "frameSpin")->maximum(), 2);
    EXPECT_TRUE(child<QCheckBox>(w, "overlayCheck")->isChecked());
    EXPECT_EQ(shown(w), plain);
    // Without a drawn overlay there is nothing to remove.
    w->RemoveOverlay();
    EXPECT_EQ(Tamodimen(w->workImage, 2), 3);

    // A 2-D window refuses.
    TamotoolChildWindow *flat = view(4, guitest::makeImage(4, 4));
    auto seen = guitest::answerNextDialog();
    child<QAction>(flat, "drawOverlayAct")->trigger();
    EXPECT_EQ(seen->text, "Cannot overlay a 2D image, must be 3D or more");
    EXPECT_FALSE(flat->drawOverlayOn);
    EXPECT_EQ(flat->workImage->orvndim, 2);
}

TEST_F(WindowTest, BrScaleMapsAnyRecordOntoTheRange) {
    using W = TamotoolChildWindow;
    const int dims[] = {2, 3, 2};
    TAMOHDR *out = Tamocreate("float", dims, 11, 0);
    float max = 0, min = 0;

    // Data wholly above 1e8 still get their own range.
    TAMOHDR *big = guitest::makeImage(3, 2);
    for (int i = 0; i < 6; ++i) reinterpret_cast<float *>(big->orvptr)[i] = 2e8f + i * 2e7f;
    EXPECT_EQ(W::BrScale(big, out, 255, 0, &max, &min), 0);
    EXPECT_EQ(min, 2e8f);
    EXPECT_EQ(max, 3e8f);
    EXPECT_EQ(Tamofgp(out, 0, 0), 0.0);
    EXPECT_EQ(Tamofgp(out, 1, 2), 255.0);
    EXPECT_NEAR(Tamofgp(out, 0, 1), 51.0, 1e-4);

    // Other types are converted first; NaN takes no part; lo..hi is honoured.
    TAMOHDR *shorts = guitest::makeImage(3, 2, 0, -3.0f, "16bit");  // -3..2
    EXPECT_EQ(W::BrScale(shorts, out, 10, -10, &max, &min), 0);
    EXPECT_EQ(min, -3.0f);
    EXPECT_EQ(max, 2.0f);
    EXPECT_EQ(Tamofgp(out, 0, 0), -10.0);
    EXPECT_EQ(Tamofgp(out, 1, 2), 10.0);
    reinterpret_cast<float *>(big->orvptr)[0] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(W::BrScale(big, out, 255, 0, &max, &min), 0);
    EXPECT_EQ(min, 2.2e8f);

    // Constant data give zeros; refusals leave out alone.
    TAMOHDR *constant = guitest::makeImage(3, 2, 0, 4.0f, "u8bit");
    for (int i = 0; i < 6; ++i) Tamofpp(constant, i / 3, i % 3, 4.0);
    EXPECT_EQ(W::BrScale(constant, out, 255, 0, &max, &min), 0);
    EXPECT_EQ(Tamofgp(out, 1, 1), 0.0);
    Tamofpp(out, 1, 1, 7.0);
    TAMOHDR *small = guitest::makeImage(2, 2);
    EXPECT_EQ(W::BrScale(nullptr, out, 255, 0, &max, &min), -1);
    EXPECT_EQ(W::BrScale(big, constant, 255, 0, &max, &min), -2);
    EXPECT_EQ(W::BrScale(big, small, 255, 0, &max, &min), -2);
    EXPECT_EQ(W::BrScale(big, out, 0, 255, &max, &min), -3);
    EXPECT_EQ(Tamofgp(out, 1, 1), 7.0);
    for (TAMOHDR *img : {out, big, shorts, constant, small}) Tamofree(img, 7);
}
