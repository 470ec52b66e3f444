// The image window's mouse tools (click readout and memory, profile,
// histogram, overlay drawing) and its two save commands.
#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSaveFile>
#include <QSlider>
#include <QStringList>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "notices.h"
#include "plotmainwindow.h"
#include "records.h"
#include "shownvalues.h"
#include "tamo++.h"
#include "tamotool.h"
#include "tamotoolchildwindow.h"
#include "windowhost.h"

namespace {

using tamo::columnsOf;
using tamo::framesOf;
using tamo::rowsOf;

const char kWriteFailed[] = "output of file to disk failed";
const int kHistogramBins = 52;

// Own-format names of SaveWorkingImage, compared exactly; any other suffix
// (".tamo" among them) is a picture format for the toolkit.
bool isOwnFormatSuffix(const QString &suffix) {
    for (const char *own : {"TAMO", "Tamo", "ORV", "orv", "tam", "Tam"})
        if (suffix == QLatin1String(own)) return true;
    return false;
}

// Why a picture of `frames` frames cannot be saved as data type `type`;
// empty when it can.
QString typeRefusal(const QString &type, int frames) {
    const QByteArray name = type.toUtf8();
    const TAMODTYPE *known = name.size() <= 15 ? Tamotype(name.constData()) : nullptr;
    if (!known) {
        QStringList names;
        for (int i = 0; i < std::min(Tamo_Ntyp, tamo::typeTableSize()); ++i)
            names << QString::fromLatin1(Tamo_Dtyp[i].name);
        return QString("\"%1\" is not a data type. Valid types: %2.").arg(type, names.join(", "));
    }
    // An interleaved type holds its channels as the frames of a pixel.
    int channels = 0;
    tamo::visitScalar(known->code,
                      [&](auto, tamo::ElemLayout layout) { channels = layout.channels; });
    if (channels == 0 || (channels > 1 && channels != frames))
        return QString("A picture of %1 frames cannot be saved as %2.").arg(frames).arg(type);
    return QString();
}

// Writes img in the own format so that a failed write leaves an existing
// file as it was. False, with the reason on standard error, when it cannot.
bool writeOwnFormat(TAMOHDR *img, const QString &name) {
    const std::string reason = frontend::writeOwnFormatFile(img, name.toLocal8Bit().toStdString());
    if (reason.empty()) return true;
    std::fprintf(stderr, "SaveWorkingImage: %s\n", reason.c_str());
    return false;
}

// Writes image in the picture format its name's suffix names, replacing the
// file only once the picture is complete. False when the toolkit has no
// writer for the suffix or the file cannot be written.
bool writePicture(const QImage &image, const QString &name) {
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, QFileInfo(name).suffix().toLower().toLatin1());
    if (!writer.write(image)) {
        std::fprintf(stderr, "SaveWorkingImage: %s\n", qUtf8Printable(writer.errorString()));
        return false;
    }
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded) != encoded.size() ||
        !file.commit()) {
        std::fprintf(stderr, "SaveWorkingImage: %s\n", qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

}  // namespace

// ---- Displayed values -----------------------------------------------------------------

double TamotoolChildWindow::displayed(double v, int offset, float hi, float lo) {
    return frontend::displayedValue(v, offset, hi, lo);
}

double TamotoolChildWindow::displayedChannel(int c, int row, int column, float hi, float lo) const {
    const QSlider *offsets[3] = {redSlider, greenSlider, blueSlider};
    const double v = Tamofgp3d(workImage, channelFrame(c), row, column);
    return displayed(v, offsets[c]->value(), hi, lo);
}

// ---- Tool switches ----------------------------------------------------------------------

void TamotoolChildWindow::profile() {
    profileOn = !profileOn;
    profileAct->setIconText(profileOn ? "Profiler ON" : "Profiler OFF");
}

void TamotoolChildWindow::histogram() {
    histogramOn = !histogramOn;
    histogramAct->setIconText(histogramOn ? "Histogram ON" : "Histogram OFF");
}

// ---- Mouse ------------------------------------------------------------------------------

int TamotoolChildWindow::registeredSlot() const {
    return controlPanel
               ? controlPanel->getIndexFromChildPtr(const_cast<TamotoolChildWindow *>(this))
               : -1;
}

bool TamotoolChildWindow::pixelUnder(const QMouseEvent *event, int slot, int &column,
                                     int &row) const {
    const QPointF screen = event->screenPos();
    const QPoint global(static_cast<int>(std::lround(screen.x())),
                        static_cast<int>(std::lround(screen.y())));
    // Only the picture's visible part counts: a press on the dock or the tool
    // bar is not one on the picture behind it.
    const QWidget *viewport = scrollArea->viewport();
    if (!viewport->rect().contains(viewport->mapFromGlobal(global))) return false;
    const QPoint at = imageLabel->mapFromGlobal(global);
    const double scale = getScaleFromZoom(zoomSlider->value());
    column = static_cast<int>(at.x() / scale);
    row = static_cast<int>(at.y() / scale);
    TAMOHDR *buffer = gTamotool && slot >= 0 && slot < 8 ? gTamotool->images[slot] : nullptr;
    if (!buffer || !workImage || columnsOf(buffer) != columnsOf(workImage) ||
        rowsOf(buffer) != rowsOf(workImage))
        return false;
    return column >= 0 && column < columnsOf(buffer) && row >= 0 && row < rowsOf(buffer);
}

void TamotoolChildWindow::mousePressEvent(QMouseEvent *event) {
    if (event->modifiers() & Qt::ShiftModifier) RemoveOverlay();
    // A stroke of the profile tool starts a new trail; the histogram tool
    // alone gathers strokes.
    if (profileOn) {
        trailX.clear();
        trailY.clear();
    }
}

void TamotoolChildWindow::mouseMoveEvent(QMouseEvent *event) {
    if (!profileOn && !histogramOn && !drawOverlayOn) return;
    const int slot = registeredSlot();
    int column, row;
    if (slot < 0 || !pixelUnder(event, slot, column, row)) return;

    // The trail shows in red on the pixel under the mouse.
    if (column < picture->width() && row < picture->height()) {
        beginDrawing();
        picture->setPixel(column, row, 0xFFFF0000u);
        showPicture();
    }
    trailX.append(column);
    trailY.append(row);
    if (drawOverlayOn && workImage->orvndim == 3 && framesOf(workImage) >= 4)
        Tamofpp3d(workImage, 3, row, column, 255);
}

void TamotoolChildWindow::mouseReleaseEvent(QMouseEvent *event) {
    const int slot = registeredSlot();
    if (slot < 0) return;
    std::printf("%f ", getScaleFromZoom(zoomSlider->value()));
    std::fflush(stdout);
    int column, row;
    if (!pixelUnder(event, slot, column, row)) return;

    gTamotool->clickX1 = gTamotool->clickX2;
    gTamotool->clickY1 = gTamotool->clickY2;
    gTamotool->clickX2 = column;
    gTamotool->clickY2 = row;

    if ((profileOn || histogramOn) && !trailX.isEmpty() && !trailY.isEmpty()) {
        if (profileOn) plotProfile();
        if (histogramOn) plotHistogram();
    }
    readOut(gTamotool->images[slot], row, column);
}

void TamotoolChildWindow::plotProfile() {
    float hi, lo;
    contrastBounds(hi, lo);
    QVector<double> curves[3];
    const int n = std::min(trailX.size(), trailY.size());
    for (int k = 0; k < n; ++k)
        for (int c = 0; c < 3; ++c)
            curves[c].append((dataMax - dataMin) *
                             displayedChannel(c, trailY[k], trailX[k], hi, lo) / 255);
    auto *plot = new MainWindow(this);
    plot->plotData(curves[0], curves[1], curves[2], PLOT_PROFILE);
    plot->show();
}

void TamotoolChildWindow::plotHistogram() {
    float hi, lo;
    contrastBounds(hi, lo);
    QVector<double> bins[3];
    for (QVector<double> &channel : bins) channel.fill(0.0, kHistogramBins);
    const int n = std::min(trailX.size(), trailY.size());
    for (int k = 0; k < n; ++k)
        for (int c = 0; c < 3; ++c) {
            const int bin = static_cast<int>(displayedChannel(c, trailY[k], trailX[k], hi, lo) / 5);
            bins[c][std::clamp(bin, 0, kHistogramBins - 1)] += 1;
        }
    auto *plot = new MainWindow(this);
    plot->plotData(bins[0], bins[1], bins[2], PLOT_HISTOGRAM);
    plot->show();
}

void TamotoolChildWindow::readOut(TAMOHDR *buffer, int row, int column) {
    float hi, lo;
    contrastBounds(hi, lo);
    const float span = dataMax - dataMin;
    const int bufferFrames = framesOf(buffer);
    if (buffer->orvndim == 3 && (bufferFrames == 3 || bufferFrames == 4)) {
        float shown[3];
        for (int c = 0; c < 3; ++c)
            shown[c] =
                static_cast<float>(displayedChannel(c, row, column, hi, lo)) * span / 255 + dataMin;
        const float modified =
            std::sqrt((shown[0] * shown[0] + shown[1] * shown[1] + shown[2] * shown[2]) / 3);
        controlPanel->addConsoleOutput(QString::asprintf(
            "\nModified: [%d , %d] \t  [Bright = %6.3f]\t  [R = %6.2f , G = %6.2f , B = %6.2f]",
            row, column, modified, shown[0], shown[1], shown[2]));

        float original[3];
        for (int c = 0; c < 3; ++c)
            original[c] = static_cast<float>(Tamofgp3d(buffer, c, row, column));
        const float overlay =
            framesOf(workImage) == 4 ? static_cast<float>(Tamofgp3d(workImage, 3, row, column)) : 0;
        const float bright = std::sqrt(
            (original[0] * original[0] + original[1] * original[1] + original[2] * original[2]) /
            3);
        controlPanel->addConsoleOutput(QString::asprintf(
            "\nOriginal: [%d , %d] \t  [Bright = %6.3f]\t  [R = %6.2f , G = %6.2f , B = %6.2f "
            "o=%6.2f]",
            row, column, bright, original[0], original[1], original[2], overlay));
        return;
    }

    // One plane: frame 0 under the Bright offset.
    const double v = Tamofgp3d(workImage, 0, row, column);
    const float d = static_cast<float>(displayed(v, brightSlider->value(), hi, lo));
    const float modified = dataMin + d * span / 255;
    const float original = static_cast<float>(Tamofgp(buffer, row, column));
    controlPanel->addConsoleOutput(QString("\nModified: [%1 , %2] \t  [Bright = %3]")
                                       .arg(row)
                                       .arg(column)
                                       .arg(modified, 0, 'g', 6));
    controlPanel->addConsoleOutput(QString("\nOriginal: [%1 , %2] \t  [Bright = %3]")
                                       .arg(row)
                                       .arg(column)
                                       .arg(original, 0, 'g', 6));
}

// ---- Save -------------------------------------------------------------------------------

void TamotoolChildWindow::save() {
    const int slot = registeredSlot();
    TAMOHDR *buffer = gTamotool && slot >= 0 ? gTamotool->images[slot] : nullptr;
    if (!buffer || !workImage || columnsOf(buffer) != columnsOf(workImage) ||
        rowsOf(buffer) != rowsOf(workImage))
        return;
    frontend::ShownSettings shown;
    shown.level = levelSlider->value();
    shown.window = windowSlider->value();
    shown.bright = brightSlider->value();
    shown.red = redSlider->value();
    shown.green = greenSlider->value();
    shown.blue = blueSlider->value();
    const int planes =
        workImage->orvndim == 3 ? std::min({3, framesOf(buffer), framesOf(workImage)}) : 1;
    // Worked out now, written by the command into the slot's own record.
    std::shared_ptr<TAMOHDR> values(
        frontend::savedValues(workImage, planes, dataMin, dataMax, shown).release(),
        [](TAMOHDR *img) { Tamofree(img, 7); });
    if (!values) {
        showModalMessage("There is not enough memory to save the image.");
        return;
    }
    // The tool repeats it from the slot's image while the window still shows
    // what the slot holds.
    const QStringList line = {"tamo",
                              "convert",
                              QString("{IN:%1}").arg(slot),
                              QString("{OUT:%1}").arg(slot),
                              "--saved-view",
                              QString("%1,%2,%3,%4,%5,%6")
                                  .arg(shown.level)
                                  .arg(shown.window)
                                  .arg(shown.bright)
                                  .arg(shown.red)
                                  .arg(shown.green)
                                  .arg(shown.blue)};
    // A command of its own, undone like any other; this window keeps its
    // working copy and picture.
    WindowHost *host = controlPanel;
    std::shared_ptr<bool> stale = stale_;
    host->submitCommand("Save", [host, slot, buffer, values, stale, line] {
        // Another image given to the slot meanwhile is not this one's to change.
        if (!gTamotool || gTamotool->images[slot] != buffer) return;
        if (!*stale) host->recordTamo(line);
        gTamotool->changePixels(slot, [&](TAMOHDR *img) {
            const int frames = framesOf(values.get());
            for (int c = 0; c < frames; ++c)
                for (int j = 0; j < rowsOf(img); ++j)
                    for (int i = 0; i < columnsOf(img); ++i)
                        Tamofpp3d(img, c, j, i, Tamofgp3d(values.get(), c, j, i));
        });
    });
}

QImage TamotoolChildWindow::shownImage() const {
    if (!workImage) return *picture;
    return picture->copy(0, 0, std::min(columnsOf(workImage), picture->width()),
                         std::min(rowsOf(workImage), picture->height()));
}

void TamotoolChildWindow::saveBuffer() {
    const QString name = QFileDialog::getSaveFileName(
        this, tr("SaveAs File"), QDir::homePath(),
        tr("Images (*.png *.xpm *.jpg *.TAMO *.Tamo *.Tam *.tam *.orv *.ORV)"));
    if (name.isEmpty()) return;
    const QImage image = shownImage();

    if (!isOwnFormatSuffix(QFileInfo(name).suffix())) {
        if (!writePicture(image, name)) showModalMessage(kWriteFailed);
        return;
    }

    bool ok = false;
    QString type = QInputDialog::getText(this, tr("QInputDialog::getText()"), tr("TAMO data type:"),
                                         QLineEdit::Normal, "float", &ok);
    if (!ok) return;
    if (type.isEmpty()) type = "float";
    // Red, green and blue of what is shown, and the overlay marks of a
    // fourth working frame; a grey window gives three frames as well.
    const bool hasWork3d = workImage && workImage->orvndim == 3;
    const int frames = hasWork3d ? std::max(3, framesOf(workImage)) : 3;
    const QString refusal = typeRefusal(type, frames);
    if (!refusal.isEmpty()) {
        showModalMessage(refusal);
        return;
    }
    const int dims[4] = {3, image.width(), image.height(), frames};
    tamo::RecordPtr out(Tamocreate(type.toUtf8().constData(), dims, TAMO_CREATE_ZEROED, 0));
    if (!out) {
        showModalMessage(kWriteFailed);
        return;
    }
    const bool overlay = hasWork3d && framesOf(workImage) == 4;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            Tamofpp3d(out.get(), 0, y, x, qRed(pixel));
            Tamofpp3d(out.get(), 1, y, x, qGreen(pixel));
            Tamofpp3d(out.get(), 2, y, x, qBlue(pixel));
            if (overlay) Tamofpp3d(out.get(), 3, y, x, Tamofgp3d(workImage, 3, y, x));
        }
    }
    if (!writeOwnFormat(out.get(), name)) showModalMessage(kWriteFailed);
}
