// The image window: construction, display controls, redraws, zoom, overlays
// and destruction. Mouse tools and saving are in childwindowtools.cpp.
#include "tamotoolchildwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDockWidget>
#include <QGridLayout>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tamo++.h"
#include "notices.h"
#include "records.h"
#include "shownvalues.h"
#include "tamo2qt.h"
#include "tamotool.h"
#include "windowhost.h"

namespace {

using tamo::columnsOf;
using tamo::framesOf;
using tamo::rowsOf;

long long planeOf(const TAMOHDR *img) {
    return static_cast<long long>(columnsOf(img)) * rowsOf(img);
}

// A data value as a slider bound: truncated, held to the int range, NaN 0.
int sliderBound(double v) {
    if (!(v == v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

// The 8-bit value NewImage and NewFrame show for a working value: its integer
// part taken to 8 bits (NaN and huge values give 0 instead of undefined
// behaviour).
inline uint32_t byteOf(float v) {
    return static_cast<uint32_t>(tamo::truncToInt32(v)) & 0xFFu;
}

// The displayed 8-bit value of working value v under a channel offset and the
// contrast stretch lo .. lo + range:
//   t = TamoBound(0, v + offset, 255),
//   out = TamoBound(0, (t - lo) * 255 / range, 255), truncated.
// Written without calls so that the row loops below vectorise. Each clamp
// takes the smaller, then the larger value; for every input that is
// TamoBound's result (NaN becomes 255) up to the sign of a zero, which the
// truncation drops.
// Every step is one IEEE double operation (no multiply-add), so the result is
// the same on every instruction set.
#if defined(__GNUC__)
#define TAMO_INLINE inline __attribute__((always_inline))
#else
#define TAMO_INLINE inline
#endif

TAMO_INLINE uint32_t displayValue(float v, double offset, double lo, double range) {
    double t = static_cast<double>(v) + offset;
    t = t < 255.0 ? t : 255.0;
    t = t > 0.0 ? t : 0.0;
    double s = (t - lo) * 255.0 / range;
    s = s < 255.0 ? s : 255.0;
    s = s > 0.0 ? s : 0.0;
    return static_cast<uint32_t>(static_cast<int>(s));
}

// One row of a redraw: red, green and blue from three planes, or grey from
// one.
struct RowJob {
    const float *red;
    const float *green;
    const float *blue;
    int n;
    double offset[3];
    double lo;
    double range;
    uint32_t *line;
};

// A redraw of a large picture is what a slider drag waits for; the vector
// clones cut it several times.
TAMO_TARGET_CLONES_AVX512 void colourRow(const RowJob &job) {
    const float *r = job.red;
    const float *g = job.green;
    const float *b = job.blue;
    uint32_t *__restrict line = job.line;
    const double o0 = job.offset[0], o1 = job.offset[1], o2 = job.offset[2];
    const double lo = job.lo, range = job.range;
    const int n = job.n;
    for (int x = 0; x < n; ++x)
        line[x] = 0xFF000000u | displayValue(r[x], o0, lo, range) << 16 |
                  displayValue(g[x], o1, lo, range) << 8 | displayValue(b[x], o2, lo, range);
}

TAMO_TARGET_CLONES_AVX512 void greyRow(const RowJob &job) {
    const float *v = job.red;
    uint32_t *__restrict line = job.line;
    const double o = job.offset[0], lo = job.lo, range = job.range;
    const int n = job.n;
    for (int x = 0; x < n; ++x)
        line[x] = 0xFF000000u | displayValue(v[x], o, lo, range) * 0x010101u;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(TAMO_PORTABLE)
#define TAMO_WINDOW_ROWS 1

// The selects and comparisons of the loops below vectorise only when
// comparisons may be assumed not to trap; no result depends on
// floating-point exception flags.
#pragma GCC push_options
#pragma GCC optimize("no-trapping-math")

// Whole contrast settings (a Window of 1..255 and a Level of 0..255, as the
// sliders give them) with whole offsets allow an exact shortcut on machines
// with AVX-512 and fused multiply-adds. For t = v + offset held to 0..255
// the double-precision steps above give
//   floor(255 (t - lo) / range), held to 0..255,
// the floor of the exact quotient: t - lo and its product with 255 are exact
// in double precision, and a quotient just below a whole number lies at
// least 2^-37 / 255 from it, far more than half a unit in the last place, so
// it never rounds up to it. A tiny v (below 2^-14) cannot move t across a
// step. With n = offset - lo, k = floor(255 (v + n) / range) is found from a
// single-precision estimate corrected by the signs of
// 255 v + 255 n - k * range and 255 v + 255 n - (k + 1) * range, which a
// fused multiply-add gets exactly (it rounds once, and the whole part is
// exact in single precision). The one value this misses is a negative v
// within 2^-14 of zero, where v + offset may round up to a whole number
// first; the row loops report meeting one and the row is drawn again by the
// double-precision loops.
struct ChannelStretch {
    float top, bottom;  // the values v + offset holds at 255 and at 0
    float n;            // offset - lo
    float base;         // 255 n
    float scale;        // 255 / range, for the estimate
    float window;       // range
};

ChannelStretch channelStretch(int offset, int lo, int window) {
    const float n = static_cast<float>(offset - lo);
    return ChannelStretch{
        static_cast<float>(255 - offset),    static_cast<float>(-offset), n, 255.0f * n,
        255.0f / static_cast<float>(window), static_cast<float>(window)};
}

TAMO_INLINE uint32_t windowValue(float v, const ChannelStretch &c) {
    float x = v < c.top ? v : c.top;  // NaN too
    x = x > c.bottom ? x : c.bottom;
    const float estimate = (x + c.n) * c.scale;  // |estimate| <= 65025
    int k = static_cast<int>(estimate);
    k -= static_cast<int>(static_cast<float>(k) > estimate);
    const float rest = c.base - static_cast<float>(k) * c.window;  // whole, exact
    k -= static_cast<int>(__builtin_fmaf(x, 255.0f, rest) < 0.0f);
    k += static_cast<int>(__builtin_fmaf(x, 255.0f, rest - c.window) >= 0.0f);
    k = k < 255 ? k : 255;
    return static_cast<uint32_t>(k > 0 ? k : 0);
}

TAMO_INLINE int nearNegativeZero(float v) {
    return static_cast<int>(v < 0.0f) & static_cast<int>(v > -0x1p-14f);
}

struct WindowJob {
    const float *red;
    const float *green;
    const float *blue;
    int n;
    ChannelStretch channel[3];
    uint32_t *line;
};

__attribute__((target("avx512f,fma"))) bool windowColourRow(const WindowJob &job) {
    const float *r = job.red;
    const float *g = job.green;
    const float *b = job.blue;
    uint32_t *__restrict line = job.line;
    const ChannelStretch c0 = job.channel[0], c1 = job.channel[1], c2 = job.channel[2];
    const int n = job.n;
    int doubtful = 0;
    for (int x = 0; x < n; ++x) {
        doubtful |= nearNegativeZero(r[x]) | nearNegativeZero(g[x]) | nearNegativeZero(b[x]);
        line[x] = 0xFF000000u | windowValue(r[x], c0) << 16 | windowValue(g[x], c1) << 8 |
                  windowValue(b[x], c2);
    }
    return doubtful == 0;
}

__attribute__((target("avx512f,fma"))) bool windowGreyRow(const WindowJob &job) {
    const float *v = job.red;
    uint32_t *__restrict line = job.line;
    const ChannelStretch c = job.channel[0];
    const int n = job.n;
    int doubtful = 0;
    for (int x = 0; x < n; ++x) {
        doubtful |= nearNegativeZero(v[x]);
        line[x] = 0xFF000000u | windowValue(v[x], c) * 0x010101u;
    }
    return doubtful == 0;
}

#pragma GCC pop_options

bool windowRowsHere() {
    static const bool here = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma");
    return here;
}
#endif

// A new zero-filled "float" record of img's columns and rows with `frames`
// frames holding img's first min(frames, img's frames) frames.
tamo::RecordPtr withFrames(TAMOHDR *img, int frames) {
    const int dims[4] = {3, columnsOf(img), rowsOf(img), frames};
    tamo::RecordPtr copy(Tamocreate("float", dims, TAMO_CREATE_ZEROED, 0));
    if (!copy) return nullptr;
    const long long kept = planeOf(img) * std::min(frames, framesOf(img));
    std::memcpy(copy->orvptr, img->orvptr, sizeof(float) * kept);
    return copy;
}

QFont smallFont(QFont font) {
    font.setPointSize(10);
    return font;
}

}  // namespace

TamotoolChildWindow::TamotoolChildWindow(QWidget *parent, QImage *picture_, int slot)
    : QMainWindow(parent),
      workImage(nullptr),
      dataMax(0.0f),
      dataMin(0.0f),
      currentFrame(0),
      profileOn(false),
      histogramOn(false),
      drawOverlayOn(false),
      lastOffsets{0, 0, 0},
      picture(picture_ ? picture_ : new QImage),
      controlPanel(dynamic_cast<WindowHost *>(parent)),
      lastRedraw{},
      lastRedrawValid(false),
      pictureOwner(picture) {
    if (!controlPanel && gTamotool) controlPanel = gTamotool->windowHost;
    // The table entry goes with the window, however it goes; a panel that
    // has gone first takes the connection with it.
    if (auto *panel = dynamic_cast<QObject *>(controlPanel)) {
        WindowHost *host = controlPanel;
        connect(this, &TamotoolChildWindow::destroying, panel,
                [host](const TamotoolChildWindow *window) {
                    host->updateChildPtr(window, CHILD_REMOVE);
                });
    }
    // A new name of the slot (a script's result, say) shows in the title; a
    // change of its image leaves the working copy behind.
    if (gTamotool)
        connect(&gTamotool->notifier(), &SlotNotifier::slotChanged, this,
                [this, slot](int changed, int changes) {
                    if (changed != slot) return;
                    if (changes & kNameChanged) setWindowTitle(titleOf(slot));
                    if (changes & (kRecordChanged | kPixelsChanged)) *stale_ = true;
                });

    const bool validSlot = gTamotool && slot >= 0 && slot < 8;
    TAMOHDR *buffer = validSlot ? gTamotool->images[slot] : nullptr;
    if (buffer) {
        setWorkImage(frontend::createLike(buffer, "float"));
        if (workImage) BrScale(buffer, workImage, 255, 0, &dataMax, &dataMin);
    }

    setWindowTitle(titleOf(slot));

    imageLabel = new QLabel;
    imageLabel->setObjectName("imageLabel");
    imageLabel->setBackgroundRole(QPalette::Base);
    imageLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    imageLabel->setScaledContents(true);
    scrollArea = new QScrollArea;
    scrollArea->setObjectName("scrollArea");
    scrollArea->setBackgroundRole(QPalette::Dark);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setWidget(imageLabel);
    setCentralWidget(scrollArea);

    dock = new QDockWidget(tr("Operations"), this);
    dock->setObjectName("dock");
    dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    auto *groups = new QGroupBox;
    auto *groupsLayout = new QVBoxLayout(groups);
    displayBox = new QGroupBox(tr("Display"));
    rgbBox = new QGroupBox(tr("RGB"));
    editBox = new QGroupBox(tr("Edit"));
    displayBox->setObjectName("displayBox");
    rgbBox->setObjectName("rgbBox");
    editBox->setObjectName("editBox");
    groupsLayout->addWidget(displayBox);
    groupsLayout->addWidget(rgbBox);
    groupsLayout->addWidget(editBox);
    dock->setWidget(groups);
    addDockWidget(Qt::RightDockWidgetArea, dock, Qt::Vertical);

    createActions();
    createToolBar();
    addLayoutElements();

    const bool is3d = workImage && workImage->orvndim == 3;
    if (!is3d) {
        setPairEnabled(warmSlider, warmSpin, false);
        setPairEnabled(coolSlider, coolSpin, false);
        setPairEnabled(redSlider, redSpin, false);
        setPairEnabled(greenSlider, greenSpin, false);
        setPairEnabled(blueSlider, blueSpin, false);
    }
    frameSpin->setRange(0, is3d ? framesOf(workImage) - 1 : 0);

    const int columns = buffer ? columnsOf(buffer) : picture->width();
    resize(columns > 1024 ? 1280 : columns + 330, 320);

    showPicture();
    imageLabel->resize(picture->size());

    NewImage();
    show();
}

TamotoolChildWindow::~TamotoolChildWindow() {
    hide();
    QWidget *central = takeCentralWidget();
    if (central == scrollArea) {
        delete scrollArea->takeWidget();
        delete scrollArea;
    } else {
        delete central;
    }
    imageLabel = nullptr;
    scrollArea = nullptr;
    emit destroying(this);
    // The owners release the picture and the working copy.
}

QString TamotoolChildWindow::titleOf(int slot) const {
    const bool validSlot = gTamotool && slot >= 0 && slot < 8;
    return QString("%1:%2").arg(slot).arg(validSlot ? gTamotool->imageNames[slot] : "");
}

void TamotoolChildWindow::setWorkImage(tamo::RecordPtr img) {
    workOwner = std::move(img);
    workImage = workOwner.get();
}

// ---- Mapping onto 0..255 -------------------------------------------------------------

int TamotoolChildWindow::BrScale(TAMOHDR *in, TAMOHDR *out, float hi, float lo, float *max,
                                 float *min) {
    return frontend::brScale(in, out, hi, lo, max, min);
}

double TamotoolChildWindow::TamoBound(double lo, double v, double hi) {
    return frontend::boundValue(lo, v, hi);
}

double TamotoolChildWindow::getScaleFromZoom(int z) {
    // Below -95 the label would shrink to nothing (and below -100 to a
    // negative size).
    z = std::max(z, -95);
    if (z > 0) return 1.0 + z / 20.0;
    if (z < 0) return 1.0 + z / 100.0;
    return 1.0;
}

// ---- Redraws --------------------------------------------------------------------------

void TamotoolChildWindow::beginDrawing() {
    imageLabel->clear();
}

void TamotoolChildWindow::showPicture() {
    imageLabel->setPixmap(QPixmap::fromImage(*picture));
}

int TamotoolChildWindow::channelFrame(int c) const {
    return framesOf(workImage) >= 3 ? c : 0;
}

void TamotoolChildWindow::repeatLastColumn() {
    if (!workImage) return;
    const int cols = columnsOf(workImage);
    const int width = picture->width();
    if (cols <= 0 || cols >= width) return;
    const int height = std::min(rowsOf(workImage), picture->height());
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<uint32_t *>(picture->scanLine(y));
        std::fill(line + cols, line + width, line[cols - 1]);
    }
}

void TamotoolChildWindow::getRGB(int &red, int &green, int &blue) {
    red = brightSlider->value() + warmSlider->value();
    green = red;
    blue = brightSlider->value() + coolSlider->value();
}

void TamotoolChildWindow::contrastBounds(float &hi, float &lo) const {
    frontend::contrastBounds(levelSlider->value(), windowSlider->value(), hi, lo);
}

void TamotoolChildWindow::changeRGB(int red, int green, int blue) {
    const int level = levelSlider->value();
    const int windowWidth = windowSlider->value();
    float hi, lo;
    contrastBounds(hi, lo);
    lastOffsets[0] = red;
    lastOffsets[1] = green;
    lastOffsets[2] = blue;
    if (!workImage || picture->isNull() || picture->depth() != 32) return;

    RedrawKey key{red,
                  green,
                  blue,
                  level,
                  windowWidth,
                  picture->cacheKey(),
                  imageLabel->pixmap(Qt::ReturnByValue).cacheKey(),
                  workImage};
    if (lastRedrawValid && key == lastRedraw) return;

    const int cols = columnsOf(workImage);
    const int width = std::min(cols, picture->width());
    const int height = std::min(rowsOf(workImage), picture->height());
    const long long plane = planeOf(workImage);
    const float *data = tamo::pixels<float>(workImage);
    const bool colour = workImage->orvndim == 3;
    const double lower = lo;
    const double range = static_cast<double>(hi - lo);

    beginDrawing();
    void (*const drawRow)(const RowJob &) = colour ? colourRow : greyRow;
    RowJob job{nullptr, nullptr, nullptr, width, {double(red), double(green), double(blue)},
               lower,   range,   nullptr};
#ifdef TAMO_WINDOW_ROWS
    // Whole contrast settings and offsets of the sliders' size take the
    // exact shortcut.
    constexpr int kOffsetBound = 1024;
    const bool whole = windowRowsHere() && range == std::trunc(range) && range >= 1.0 &&
                       range <= 255.0 && lower == std::trunc(lower) && lower >= 0.0 &&
                       lower <= 255.0 && std::abs(red) <= kOffsetBound &&
                       std::abs(green) <= kOffsetBound && std::abs(blue) <= kOffsetBound;
    bool (*const drawWindowRow)(const WindowJob &) = colour ? windowColourRow : windowGreyRow;
    WindowJob windowJob{nullptr, nullptr, nullptr, width, {}, nullptr};
    if (whole) {
        const int offsets[3] = {red, green, blue};
        for (int c = 0; c < 3; ++c)
            windowJob.channel[c] =
                channelStretch(offsets[c], static_cast<int>(lower), static_cast<int>(range));
    }
#endif
    for (int y = 0; y < height; ++y) {
        const long long rowStart = static_cast<long long>(y) * cols;
        job.red = data + channelFrame(0) * plane + rowStart;
        job.green = data + channelFrame(1) * plane + rowStart;
        job.blue = data + channelFrame(2) * plane + rowStart;
        job.line = reinterpret_cast<uint32_t *>(picture->scanLine(y));
#ifdef TAMO_WINDOW_ROWS
        if (whole) {
            windowJob.red = job.red;
            windowJob.green = job.green;
            windowJob.blue = job.blue;
            windowJob.line = job.line;
            if (drawWindowRow(windowJob)) continue;
        }
#endif
        drawRow(job);
    }
    repeatLastColumn();
    showPicture();
    lastRedraw = key;
    lastRedraw.pictureKey = picture->cacheKey();
    lastRedraw.shownKey = imageLabel->pixmap(Qt::ReturnByValue).cacheKey();
    lastRedrawValid = true;
}

void TamotoolChildWindow::NewFrame(int frame) {
    if (workImage && !picture->isNull() && picture->depth() == 32) {
        const int cols = columnsOf(workImage);
        const int width = std::min(cols, picture->width());
        const int height = std::min(rowsOf(workImage), picture->height());
        const int f = std::clamp(frame, 0, framesOf(workImage) - 1);
        const float *data = tamo::pixels<float>(workImage) + f * planeOf(workImage);
        beginDrawing();
        for (int y = 0; y < height; ++y) {
            const float *src = data + static_cast<long long>(y) * cols;
            auto *line = reinterpret_cast<uint32_t *>(picture->scanLine(y));
            for (int x = 0; x < width; ++x) line[x] = 0xFF000000u | byteOf(src[x]) * 0x010101u;
        }
        repeatLastColumn();
    }
    showPicture();
    currentFrame = frameSpin->value();
}

void TamotoolChildWindow::NewImage() {
    if (workImage && workImage->orvndim == 3 && !picture->isNull() && picture->depth() == 32) {
        const double scale = getScaleFromZoom(zoomSlider->value());
        std::printf("scale = %f\n", scale);
        std::fflush(stdout);
        const int cols = columnsOf(workImage);
        const int rows = rowsOf(workImage);
        const long long plane = planeOf(workImage);
        const float *data = tamo::pixels<float>(workImage);
        const float *red = data + channelFrame(0) * plane;
        const float *green = data + channelFrame(1) * plane;
        const float *blue = data + channelFrame(2) * plane;
        const int width = picture->width();
        const int height = picture->height();
        beginDrawing();

        if (framesOf(workImage) == 4 && overlayCheck->isChecked()) {
            // Marks of frame 3 in red over what is shown (dark red over
            // bright pixels); the rest of the picture stays as it is. Marks
            // are kept at the image pixel they were drawn on, so they stay in
            // place at any zoom.
            const float *marks = data + 3 * plane;
            for (int i = 0; i < std::min(rows, height); ++i) {
                for (int j = 0; j < std::min(cols, width); ++j) {
                    const long long k = static_cast<long long>(i) * cols + j;
                    if (marks[k] == 0.0f) continue;
                    const int e = tamo::truncToInt32(red[k]);
                    const uint32_t mark =
                        e <= 128 ? 0xFFFF0000u : 0xFF000000u | ((255u - e) & 0xFFu) << 16;
                    reinterpret_cast<uint32_t *>(picture->scanLine(i))[j] = mark;
                }
            }
        } else {
            const int used = std::min(cols, width);
            for (int i = 0; i < std::min(rows, height); ++i) {
                const long long start = static_cast<long long>(i) * cols;
                auto *line = reinterpret_cast<uint32_t *>(picture->scanLine(i));
                for (int j = 0; j < used; ++j)
                    line[j] = 0xFF000000u | byteOf(red[start + j]) << 16 |
                              byteOf(green[start + j]) << 8 | byteOf(blue[start + j]);
            }
        }
        repeatLastColumn();
    }
    showPicture();
    currentFrame = frameSpin->value();
}

// ---- Control handlers -----------------------------------------------------------------

void TamotoolChildWindow::bright(int) {
    int red, green, blue;
    getRGB(red, green, blue);
    changeRGB(red, green, blue);
    redSlider->setValue(lastOffsets[0]);
    greenSlider->setValue(lastOffsets[1]);
    blueSlider->setValue(lastOffsets[2]);
}

void TamotoolChildWindow::warm(int value) {
    bright(value);
}

void TamotoolChildWindow::cool(int value) {
    bright(value);
}

void TamotoolChildWindow::changeR(int value) {
    changeRGB(value, brightSlider->value() + warmSlider->value(),
              brightSlider->value() + coolSlider->value());
}

void TamotoolChildWindow::changeG(int value) {
    changeRGB(brightSlider->value() + warmSlider->value(), value,
              brightSlider->value() + coolSlider->value());
}

void TamotoolChildWindow::changeB(int value) {
    const int warmOffset = brightSlider->value() + warmSlider->value();
    changeRGB(warmOffset, warmOffset, value);
}

void TamotoolChildWindow::zoom(int value) {
    const double scale = getScaleFromZoom(value);
    const QSize size = picture->size();
    imageLabel->resize(static_cast<int>(std::lround(size.width() * scale)),
                       static_cast<int>(std::lround(size.height() * scale)));
}

void TamotoolChildWindow::level() {
    changeRGB(redSlider->value(), greenSlider->value(), blueSlider->value());
}

void TamotoolChildWindow::window() {
    const int windowWidth = windowSlider->value();
    // The Level range is in the buffer's data units.
    levelSlider->setMaximum(sliderBound(dataMax));
    levelSlider->setMinimum(sliderBound(dataMin));
    const int top = sliderBound(dataMax - windowWidth);
    levelSlider->setRange(sliderBound(dataMin), top);
    levelSpin->setRange(sliderBound(dataMin), top);
    changeRGB(redSlider->value(), greenSlider->value(), blueSlider->value());
}

void TamotoolChildWindow::reset() {
    brightSlider->setValue(0);
    warmSlider->setValue(0);
    coolSlider->setValue(0);
    redSlider->setValue(0);
    greenSlider->setValue(0);
    blueSlider->setValue(0);
    // Through 254, so that window() runs even when the slider stood at 255.
    windowSlider->setValue(254);
    windowSlider->setValue(255);
    levelSlider->setValue(0);
}

void TamotoolChildWindow::checkIt() {
    if (colorCheck->isChecked()) {
        frameSpin->setEnabled(false);
        reset();
    } else {
        frameSpin->setEnabled(true);
        NewFrame(frameSpin->value());
    }
}

// ---- Overlays -------------------------------------------------------------------------

void TamotoolChildWindow::overlayIt() {
    NewImage();
}

void TamotoolChildWindow::drawOverlay() {
    if (drawOverlayOn) {
        drawOverlayOn = false;
        drawOverlayAct->setIconText("DrawOverlay OFF");
    } else {
        drawOverlayOn = true;
        drawOverlayAct->setIconText("DrawOverlay ON");
        overlayCheck->setChecked(true);
    }

    if (!workImage || workImage->orvndim != 3) {
        showModalMessage("Cannot overlay a 2D image, must be 3D or more");
        drawOverlayOn = false;
        return;
    }
    if (framesOf(workImage) != 3) return;
    std::printf("drawOverlay:creating a 4 frame image\n");
    std::fflush(stdout);
    tamo::RecordPtr extended = withFrames(workImage, 4);
    if (!extended) return;
    setWorkImage(std::move(extended));
    frameSpin->setMaximum(3);
}

void TamotoolChildWindow::RemoveOverlay() {
    if (!workImage || workImage->orvndim != 3 || framesOf(workImage) != 4 || !drawOverlayOn) return;
    tamo::RecordPtr plain = withFrames(workImage, 3);
    if (!plain) return;
    drawOverlayOn = false;
    setWorkImage(std::move(plain));
    NewImage();
    drawOverlayAct->setIconText("DrawOverlay OFF");
    frameSpin->setMaximum(2);
}

// ---- Window structure ------------------------------------------------------------------

void TamotoolChildWindow::createActions() {
    profileAct = new QAction(tr("Profiler OFF"), this);
    profileAct->setObjectName("profileAct");
    connect(profileAct, &QAction::triggered, this, &TamotoolChildWindow::profile);
    histogramAct = new QAction(tr("Histogram Off"), this);
    histogramAct->setObjectName("histogramAct");
    connect(histogramAct, &QAction::triggered, this, &TamotoolChildWindow::histogram);
    drawOverlayAct = new QAction(tr("DrawOverlay Off"), this);
    drawOverlayAct->setObjectName("drawOverlayAct");
    connect(drawOverlayAct, &QAction::triggered, this, &TamotoolChildWindow::drawOverlay);
    resetAct = new QAction(tr("Reset"), this);
    resetAct->setObjectName("resetAct");
    connect(resetAct, &QAction::triggered, this, &TamotoolChildWindow::reset);
    saveAct = new QAction(tr("Save"), this);
    saveAct->setObjectName("saveAct");
    connect(saveAct, &QAction::triggered, this, &TamotoolChildWindow::save);
    saveBufferAct = new QAction(tr("SaveWorkingImage"), this);
    saveBufferAct->setObjectName("saveBufferAct");
    connect(saveBufferAct, &QAction::triggered, this, &TamotoolChildWindow::saveBuffer);
}

void TamotoolChildWindow::createToolBar() {
    editToolBar = addToolBar(tr("Edit"));
    editToolBar->setObjectName("editToolBar");
    for (QAction *action :
         {profileAct, histogramAct, drawOverlayAct, resetAct, saveAct, saveBufferAct})
        editToolBar->addAction(action);
}

void TamotoolChildWindow::addSliderRow(QGridLayout *grid, int row, const QString &label,
                                       QSlider *&slider, QSpinBox *&spin, int min, int max,
                                       int sliderStep, int value, int spinValue, const char *name) {
    auto *text = new QLabel(label);
    text->setFont(smallFont(text->font()));
    slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(QString(name) + "Slider");
    slider->setRange(min, max);
    slider->setSingleStep(sliderStep);
    slider->setValue(value);
    spin = new QSpinBox;
    spin->setObjectName(QString(name) + "Spin");
    spin->setFont(smallFont(spin->font()));
    spin->setRange(min, max);
    spin->setSingleStep(10);
    spin->setValue(spinValue);
    spin->setMaximumWidth(45);
    grid->addWidget(text, row, 0);
    grid->addWidget(slider, row, 2, 1, 7);
    grid->addWidget(spin, row, 9);
    connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
    connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), slider, &QSlider::setValue);
}

void TamotoolChildWindow::setPairEnabled(QSlider *slider, QSpinBox *spin, bool enabled) {
    slider->setEnabled(enabled);
    spin->setEnabled(enabled);
}

void TamotoolChildWindow::addLayoutElements() {
    auto *displayGrid = new QGridLayout(displayBox);
    auto *frameLabel = new QLabel("Frame No");
    frameLabel->setFont(smallFont(frameLabel->font()));
    frameSpin = new QSpinBox;
    frameSpin->setObjectName("frameSpin");
    frameSpin->setFont(smallFont(frameSpin->font()));
    frameSpin->setRange(0, 200);
    frameSpin->setSingleStep(1);
    frameSpin->setValue(0);
    frameSpin->setEnabled(false);
    frameSpin->setToolTip(tr("Select frame to be displayed (if not displaying color)"));
    colorCheck = new QCheckBox("Color");
    colorCheck->setObjectName("colorCheck");
    colorCheck->setChecked(true);
    colorCheck->setToolTip(
        tr("If checked, 3 frame images will be displayed as color\n else as a set of frames."));
    overlayCheck = new QCheckBox("Overlay");
    overlayCheck->setObjectName("overlayCheck");
    overlayCheck->setChecked(false);
    overlayCheck->setToolTip(tr("If checked, the 4th frame will be overlayed."));
    displayGrid->addWidget(frameLabel, 0, 0);
    displayGrid->addWidget(frameSpin, 0, 2);
    displayGrid->addWidget(colorCheck, 0, 5);
    displayGrid->addWidget(overlayCheck, 0, 7);
    addSliderRow(displayGrid, 1, "Bright", brightSlider, brightSpin, -255, 255, 10, 0, 0, "bright");
    addSliderRow(displayGrid, 2, "Warm", warmSlider, warmSpin, -255, 255, 10, 0, 0, "warm");
    addSliderRow(displayGrid, 3, "Cool", coolSlider, coolSpin, -255, 255, 10, 0, 0, "cool");

    auto *rgbGrid = new QGridLayout(rgbBox);
    addSliderRow(rgbGrid, 0, "Red", redSlider, redSpin, -255, 255, 10, 0, 0, "red");
    addSliderRow(rgbGrid, 1, "Green", greenSlider, greenSpin, -255, 255, 1, 0, 0, "green");
    addSliderRow(rgbGrid, 2, "Blue", blueSlider, blueSpin, -255, 255, 1, 0, 0, "blue");

    auto *editGrid = new QGridLayout(editBox);
    addSliderRow(editGrid, 0, "Zoom", zoomSlider, zoomSpin, -255, 255, 10, 0, 0, "zoom");
    addSliderRow(editGrid, 1, "contrLevel", levelSlider, levelSpin, 0, 127, 10, 0, 0, "level");
    // The Window slider starts at 128 while its spin box shows 255; they
    // agree from the first change of either.
    addSliderRow(editGrid, 2, "contrWindow", windowSlider, windowSpin, 0, 255, 10, 128, 255,
                 "window");
    levelSlider->setRange(0, 255 - windowSlider->value());
    levelSpin->setRange(0, 255 - windowSlider->value());

    connect(brightSlider, &QSlider::valueChanged, this, &TamotoolChildWindow::bright);
    connect(warmSlider, &QSlider::valueChanged, this, &TamotoolChildWindow::warm);
    connect(coolSlider, &QSlider::valueChanged, this, &TamotoolChildWindow::cool);
    connect(redSlider, &QSlider::valueChanged, this, &TamotoolChildWindow::changeR);
    connect(greenSpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TamotoolChildWindow::changeG);
    connect(blueSpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TamotoolChildWindow::changeB);
    connect(frameSpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TamotoolChildWindow::NewFrame);
    connect(zoomSlider, &QSlider::valueChanged, this, &TamotoolChildWindow::zoom);
    connect(levelSlider, &QSlider::valueChanged, this, &TamotoolChildWindow::level);
    connect(windowSlider, &QSlider::valueChanged, this, &TamotoolChildWindow::window);
    connect(colorCheck, &QCheckBox::stateChanged, this, &TamotoolChildWindow::checkIt);
    connect(overlayCheck, &QCheckBox::stateChanged, this, &TamotoolChildWindow::overlayIt);
}

void TamotoolChildWindow::closeEvent(QCloseEvent *event) {
    event->accept();
}
