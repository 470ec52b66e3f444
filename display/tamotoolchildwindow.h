// An image window: shows one user slot's picture with a dock of display
// controls (frame, colour, overlay, brightness and colour offsets, zoom,
// level and window) and a tool bar of mouse tools, reset and save commands.
#pragma once

#include <QMainWindow>
#include <QVector>

#include <memory>

#include "tamo++.h"

class QAction;
class QCheckBox;
class QCloseEvent;
class QDockWidget;
class QGridLayout;
class QGroupBox;
class QImage;
class QLabel;
class QMouseEvent;
class QScrollArea;
class QSlider;
class QSpinBox;
class QToolBar;
class WindowHost;

class TamotoolChildWindow : public QMainWindow {
    Q_OBJECT

public:
    // parent: the control panel; picture: the slot's converted picture
    // (ownership passes to the window); slot: the user slot 0..7 shown. The
    // window shows itself; its title follows the slot's name. An empty slot
    // gives a window of the picture alone whose controls change nothing.
    TamotoolChildWindow(QWidget *parent, QImage *picture, int slot);
    // Emits destroying(), through which the control panel's table forgets
    // the window, and releases workImage and the picture.
    ~TamotoolChildWindow() override;

    // Maps `in` linearly onto lo..hi into the "float" record `out` of the
    // same element count: its smallest value goes to lo, its largest to hi
    // (single precision; NaN values take no part in the range). A constant
    // `in` gives zeros. Records of another type are converted to float first.
    // *max and *min receive the range (-1.0e8 and 1.0e8 when no value was
    // compared). Returns 0; -1 when `in` is null or has no values to
    // convert; -2 when `out` is null, not "32flt" or of another size; -3
    // when lo > hi. Nothing is written on failure.
    static int BrScale(TAMOHDR *in, TAMOHDR *out, float hi, float lo, float *max, float *min);
    // lo when lo > v, otherwise the smaller of hi and v.
    static double TamoBound(double lo, double v, double hi);
    // Label scale of a Zoom value: 1 + z / 20 above 0, 1 + z / 100 below;
    // values below -95 are held at -95 (scale 0.05).
    static double getScaleFromZoom(int z);

    // Offsets from the Display group: red = green = Bright + Warm,
    // blue = Bright + Cool.
    void getRGB(int &red, int &green, int &blue);
    // Redraws the picture from workImage with the channel offsets and the
    // Level/Window contrast stretch, and remembers the offsets in lastOffsets.
    void changeRGB(int red, int green, int blue);

    // The label always shows `picture`: whatever draws into the window calls
    // beginDrawing(), draws into `picture` and then calls showPicture().
    // beginDrawing takes the picture back from the label, which otherwise
    // shares its pixels, so that drawing does not copy the whole picture.
    void beginDrawing();
    void showPicture();

    // "float" copy of the slot's values mapped onto 0..255 (2-D or 3-D as
    // the slot; a fourth frame holds an overlay while one is drawn).
    TAMOHDR *workImage;
    // Largest and smallest value of the slot's record when the window was
    // built.
    float dataMax;
    float dataMin;
    // Frame last shown (read by Save As for raster files).
    int currentFrame;
    bool profileOn;
    bool histogramOn;
    bool drawOverlayOn;
    // Columns and rows of the mouse trail.
    QVector<int> trailX;
    QVector<int> trailY;
    // Red, green and blue offsets of the last redraw.
    int lastOffsets[3];
    // What the label shows, at the size of the converted picture (up to
    // three columns wider than workImage); owned by the window.
    QImage *picture;
    // The control panel, as far as an image window needs it.
    WindowHost *controlPanel;

signals:
    // Emitted by the destructor, however the window goes (closed, or deleted
    // by the control panel).
    void destroying(const TamotoolChildWindow *window);

public slots:
    void bright(int value);
    void warm(int value);
    void cool(int value);
    void changeR(int value);
    void changeG(int value);
    void changeB(int value);
    void zoom(int value);
    void level();
    void window();
    void profile();
    void drawOverlay();
    void histogram();
    void saveBuffer();
    void save();
    void reset();
    void NewFrame(int frame);
    void NewImage();
    void checkIt();
    void overlayIt();
    void RemoveOverlay();

protected:
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void createActions();
    void createToolBar();
    void addLayoutElements();

    // A labelled slider with its spin box on `row` of `grid`, each driving
    // the other.
    void addSliderRow(QGridLayout *grid, int row, const QString &label, QSlider *&slider,
                      QSpinBox *&spin, int min, int max, int sliderStep, int value, int spinValue,
                      const char *name);
    // Enables or disables a slider together with its spin box.
    static void setPairEnabled(QSlider *slider, QSpinBox *spin, bool enabled);
    // Columns of picture past workImage's repeat its last column.
    void repeatLastColumn();
    // Frame of workImage feeding channel c: c itself, or 0 for a record of
    // fewer than three frames.
    int channelFrame(int c) const;
    // Contrast stretch of the Level and Window sliders: displayed values run
    // from lo (0) to hi (255); a zero window becomes a threshold at the level.
    void contrastBounds(float &hi, float &lo) const;
    // Displayed value 0..255 (not truncated) of working value v under channel
    // offset `offset` and the stretch lo..hi.
    static double displayed(double v, int offset, float hi, float lo);
    // Displayed value of channel c (0 red, 1 green, 2 blue) at (row, column):
    // its working frame under the channel's RGB slider offset.
    double displayedChannel(int c, int row, int column, float hi, float lo) const;

    // The user slot this window is registered for in the control panel's
    // table, -1 when it is not.
    int registeredSlot() const;
    // The picture pixel under the mouse of `event`: true when it lies in the
    // image of user slot `slot`.
    bool pixelUnder(const QMouseEvent *event, int slot, int &column, int &row) const;
    // Plot windows of the trail's displayed values and of their histogram.
    void plotProfile();
    void plotHistogram();
    // The values at (row, column) of the buffer and as displayed, to the
    // control panel's console.
    void readOut(TAMOHDR *buffer, int row, int column);
    // The picture shown, at the image's own size (the picture may be wider).
    QImage shownImage() const;
    // "slot:name" of the slot shown.
    QString titleOf(int slot) const;
    // Set once the slot's record or values have changed since the window
    // made its working copy: a Save then writes what no file of the slot's
    // image repeats.
    std::shared_ptr<bool> stale_ = std::make_shared<bool>(false);

    // Parameters and picture state of the last redraw, so that a redraw
    // asked again with the same values onto an unchanged picture is skipped
    // (a Bright change asks three times more through the RGB sliders).
    struct RedrawKey {
        int red, green, blue, level, window;
        qint64 pictureKey;
        qint64 shownKey;
        const TAMOHDR *work;
        bool operator==(const RedrawKey &o) const {
            return red == o.red && green == o.green && blue == o.blue && level == o.level &&
                   window == o.window && pictureKey == o.pictureKey && shownKey == o.shownKey &&
                   work == o.work;
        }
    };
    RedrawKey lastRedraw;
    bool lastRedrawValid;

    // Owners of picture and workImage, which always equal their pointers;
    // setWorkImage replaces the working copy.
    std::unique_ptr<QImage> pictureOwner;
    tamo::RecordPtr workOwner;
    void setWorkImage(tamo::RecordPtr img);

    QScrollArea *scrollArea;
    QLabel *imageLabel;
    QDockWidget *dock;
    QGroupBox *displayBox;
    QGroupBox *rgbBox;
    QGroupBox *editBox;

    QSpinBox *frameSpin;
    QCheckBox *colorCheck;
    QCheckBox *overlayCheck;
    QSlider *brightSlider;
    QSpinBox *brightSpin;
    QSlider *warmSlider;
    QSpinBox *warmSpin;
    QSlider *coolSlider;
    QSpinBox *coolSpin;
    QSlider *redSlider;
    QSpinBox *redSpin;
    QSlider *greenSlider;
    QSpinBox *greenSpin;
    QSlider *blueSlider;
    QSpinBox *blueSpin;
    QSlider *zoomSlider;
    QSpinBox *zoomSpin;
    QSlider *levelSlider;
    QSpinBox *levelSpin;
    QSlider *windowSlider;
    QSpinBox *windowSpin;

    QToolBar *editToolBar;
    QAction *profileAct;
    QAction *histogramAct;
    QAction *drawOverlayAct;
    QAction *resetAct;
    QAction *saveAct;
    QAction *saveBufferAct;
};
