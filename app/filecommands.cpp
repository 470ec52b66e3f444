// File and clipboard commands of the control panel.
#include "tamotoolmainwindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSaveFile>
#include <QStringList>
#include <QTimer>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "tamo++.h"
#include "notices.h"
#include "tamoio.h"
#include "tamoops.h"
#include "tamotool.h"
#include "tamotoolchildwindow.h"

namespace {

// Read remembers the path of the file it loaded here, so that ReRead works in
// the next run as well.
QString logFilePath() {
    return QDir::homePath() + "/com_TAMO_Tamotool.txt";
}

const char kLogNote[] = "Cannot open log file. ReRead will not work.";
const char kWriteFailed[] = "output of file to disk failed";

struct FileCloser {
    void operator()(FILE *fp) const { std::fclose(fp); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Point files are recognised by the last five letters of the name.
bool isPointFileName(const QString &path) {
    return path.endsWith(QLatin1String("Tamob"));
}

// Loading looks only at the end of the whole path; no dot is needed.
bool isOwnFormatName(const QString &path) {
    for (const char *ending : {"TAMO", "Tamo", "tamo", "orv", "ORV", "tam", "Tam", "TAM"}) {
        if (path.endsWith(QLatin1String(ending))) return true;
    }
    return false;
}

// Saving compares the suffix after the last dot; "TAM" is not among these, so
// such names go to the raster writer.
bool isOwnFormatSuffix(const QString &suffix) {
    for (const char *own : {"TAMO", "Tamo", "tamo", "orv", "ORV", "Tam", "tam"}) {
        if (suffix == QLatin1String(own)) return true;
    }
    return false;
}

QString systemReason(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// What the reader's error number says about an own-format file: the
// library's text, put in terms of a file for a bad header and damaged data.
QString readerReason(int err) {
    switch (err) {
        case TAMO_EHEADER:
            return "it is not an image file of this format, or its header is damaged";
        case TAMO_EIO:
            return "its data are damaged or cut short";
        default:
            break;
    }
    if (const char *text = Tamoerrtext(err)) return text;
    return QString("the image library refused it (error %1)").arg(err);
}

QString typeNameOf(const TAMOHDR *img) {
    return QString::fromLatin1(img->orvdt,
                               static_cast<int>(strnlen(img->orvdt, sizeof img->orvdt)));
}

// A new zero-filled record of `type` with src's dimension list; null when the
// library cannot make one.
tamo::RecordPtr createLike(TAMOHDR *src, const char *type) {
    tamo::CArray<int> dims(Tamosiz(src));
    if (!dims) return nullptr;
    // The element size matters only for "struct" records.
    return tamo::RecordPtr(Tamocreate(type, dims.get(), 11, src->orvbpd));
}

// Copies src's values into dst of the same dimensions. Records of the same
// type are copied byte for byte, which keeps every type (complex, interleaved,
// double precision) exact; other pairs are converted. False when the library
// cannot convert between the two types.
bool copyValues(TAMOHDR *src, TAMOHDR *dst) {
    if (src->dtype == dst->dtype) {
        const int bytes = Tamodimen(src, -2);
        if (bytes <= 0 || bytes != Tamodimen(dst, -2)) return false;
        std::memcpy(dst->orvptr, src->orvptr, static_cast<std::size_t>(bytes));
        return true;
    }
    return Tamoany2any(src, dst) == 0;
}

// An exact copy of img (its type and dimensions); null without memory.
TAMOHDR *duplicate(TAMOHDR *img) {
    tamo::RecordPtr copy = createLike(img, img->orvdt);
    if (!copy || !copyValues(img, copy.get())) return nullptr;
    return copy.release();
}

// A new record of tens of megabytes is written through at once after loading.
// Asking for huge pages for it turns tens of thousands of page faults (a good
// part of the load time) into a few hundred. Only a hint: the kernel may
// decline, and the memory is the same either way.
void adviseHugePages(TAMOHDR *img) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t(1) << 21;
    const auto data = reinterpret_cast<std::uintptr_t>(img->orvptr);
    const std::uintptr_t begin = (data + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end =
        (data + static_cast<std::uintptr_t>(Tamodimen(img, -2))) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)img;
#endif
}

// The record read from a file, converted to "float"; null with the reason
// when its type has no conversion.
TAMOHDR *toFloat(TAMOHDR *img, QString &reason) {
    tamo::RecordPtr converted = createLike(img, "float");
    if (!converted) {
        reason = readerReason(Tamoerr);
        return nullptr;
    }
    adviseHugePages(converted.get());
    if (!copyValues(img, converted.get())) {
        reason = QString("its data type %1 cannot be converted to float").arg(typeNameOf(img));
        return nullptr;
    }
    return converted.release();
}

// Own-format file. The stream is opened here rather than by name through the
// library, whose name expansion would rewrite "$" and a leading "~" in a path
// the user picked and limits names to 511 characters.
TAMOHDR *readOwnFormat(const QByteArray &path, QString &reason, QString &typeName) {
    errno = 0;
    FilePtr file(std::fopen(path.constData(), "rb"));
    if (!file) {
        reason = systemReason(errno);
        return nullptr;
    }
    Tamoerr = 0;
    tamo::RecordPtr read(TamoRdImg(file.get(), 0));
    file.reset();
    if (!read) {
        reason = readerReason(Tamoerr);
        return nullptr;
    }
    typeName = typeNameOf(read.get());
    return toFloat(read.get(), reason);
}

// Point file, plotted at scale 1 into a colour picture.
TAMOHDR *readPointFile(const QByteArray &path, QString &reason) {
    // The plotter treats a file it cannot open as fatal; finding out first
    // gives the user the system's reason.
    errno = 0;
    if (!FilePtr(std::fopen(path.constData(), "r"))) {
        reason = systemReason(errno);
        return nullptr;
    }
    Tamoerr = 0;
    tamo::RecordPtr picture;
    try {
        picture.reset(Tamoplotcontour(path.constData(), 0, 0, 0, 1.0f));
    } catch (const TamoFatal &) {
        reason = "it cannot be opened";
        return nullptr;
    }
    if (!picture) {
        switch (Tamoerr) {
            case TAMO_EIO:
                reason = "it holds no points";
                break;
            case TAMO_EDIMS:
                reason = "its points span no usable picture size";
                break;
            default:
                reason = readerReason(Tamoerr);
                break;
        }
        return nullptr;
    }
    return toFloat(picture.get(), reason);
}

// Maximum, minimum, mean and standard deviation of one frame (or plane).
struct PlaneStats {
    float max, min, mean, sd;
};

// Statistics of K planes of p values in two passes. The sums are kept in
// double precision: single-precision sums over a few million pixels lose
// whole units and would, for instance, give a constant frame a non-zero
// deviation. The planes are walked side by side so that their independent
// sums overlap in the processor.
template <int K>
void planeStats(const float *const *planes, long long p, PlaneStats *out) {
    float mx[K], mn[K];
    double sum[K], mean[K], dev[K];
    for (int k = 0; k < K; ++k) {
        mx[k] = -std::numeric_limits<float>::infinity();
        mn[k] = std::numeric_limits<float>::infinity();
        sum[k] = 0.0;
        dev[k] = 0.0;
    }
    for (long long i = 0; i < p; ++i) {
        for (int k = 0; k < K; ++k) {
            const float v = planes[k][i];
            if (v > mx[k]) mx[k] = v;
            if (v < mn[k]) mn[k] = v;
            sum[k] += v;
        }
    }
    for (int k = 0; k < K; ++k) mean[k] = sum[k] / p;
    for (long long i = 0; i < p; ++i) {
        for (int k = 0; k < K; ++k) {
            const double d = planes[k][i] - mean[k];
            dev[k] += d * d;
        }
    }
    for (int k = 0; k < K; ++k) {
        out[k] = {mx[k], mn[k], static_cast<float>(mean[k]),
                  static_cast<float>(std::sqrt(dev[k] / p))};
    }
}

// Statistics of every plane of a "float" record: frames 0, 1 and 2 of a
// three-dimensional one (or as many as it has), else its first plane.
// Returns the number of planes filled.
int recordStats(TAMOHDR *img, PlaneStats *stats) {
    const int ndim = img->orvndim;
    const long long p =
        static_cast<long long>(img->orvdim[0].dlen) * (ndim >= 2 ? img->orvdim[1].dlen : 1);
    const int planes = ndim == 3 ? std::min(img->orvdim[2].dlen, 3) : 1;
    const float *base = tamo::pixels<float>(img);
    const float *first[3] = {base, base + p, base + 2 * p};
    switch (planes) {
        case 1:
            planeStats<1>(first, p, stats);
            break;
        case 2:
            planeStats<2>(first, p, stats);
            break;
        default:
            planeStats<3>(first, p, stats);
            break;
    }
    return planes;
}

// Statistics of p 8-bit values from their exact integer sums: the mean is
// sum / p, the variance (p * squares - sum^2) / p^2.
PlaneStats channelStats(unsigned maxValue, unsigned minValue, uint64_t sum, uint64_t squares,
                        long long p) {
    if (p <= 0) return {0.0f, 0.0f, 0.0f, 0.0f};
    const unsigned __int128 spread =
        static_cast<unsigned __int128>(squares) * static_cast<uint64_t>(p) -
        static_cast<unsigned __int128>(sum) * sum;
    const double variance = static_cast<double>(spread) / (static_cast<double>(p) * p);
    return {static_cast<float>(maxValue), static_cast<float>(minValue),
            static_cast<float>(static_cast<double>(sum) / p),
            static_cast<float>(std::sqrt(variance))};
}

// Any other file, through the toolkit's reader: a three-frame "float" record
// of red, green and blue, alpha ignored. The statistics of the three frames
// are gathered in the same pass over the picture.
TAMOHDR *readRaster(const QString &path, QString &reason, PlaneStats *stats) {
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull()) {
        reason = reader.errorString();
        return nullptr;
    }
    // One conversion to 32-bit pixels, then whole scan lines. Non-premultiplied
    // ARGB keeps the colour values that QImage::pixel reports.
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width(), height = image.height();
    int dims[4] = {3, width, height, 3};
    Tamoerr = 0;
    tamo::RecordPtr img(Tamocreate("float", dims, 11, 0));
    if (!img) {
        reason = readerReason(Tamoerr);
        return nullptr;
    }
    adviseHugePages(img.get());
    const std::ptrdiff_t plane = static_cast<std::ptrdiff_t>(width) * height;
    float *red = tamo::pixels<float>(img.get());
    uint64_t sumR = 0, sumG = 0, sumB = 0, sqR = 0, sqG = 0, sqB = 0;
    unsigned maxR = 0, maxG = 0, maxB = 0, minR = 255, minG = 255, minB = 255;
    for (int y = 0; y < height; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        float *r = red + static_cast<std::ptrdiff_t>(y) * width;
        float *g = r + plane;
        float *b = g + plane;
        for (int x = 0; x < width; ++x) {
            const QRgb v = line[x];
            const unsigned cr = (v >> 16) & 0xff, cg = (v >> 8) & 0xff, cb = v & 0xff;
            r[x] = static_cast<float>(cr);
            g[x] = static_cast<float>(cg);
            b[x] = static_cast<float>(cb);
            sumR += cr;
            sumG += cg;
            sumB += cb;
            sqR += cr * cr;
            sqG += cg * cg;
            sqB += cb * cb;
            maxR = std::max(maxR, cr);
            maxG = std::max(maxG, cg);
            maxB = std::max(maxB, cb);
            minR = std::min(minR, cr);
            minG = std::min(minG, cg);
            minB = std::min(minB, cb);
        }
    }
    stats[0] = channelStats(maxR, minR, sumR, sqR, plane);
    stats[1] = channelStats(maxG, minG, sumG, sqG, plane);
    stats[2] = channelStats(maxB, minB, sumB, sqB, plane);
    return img.release();
}

QString bracketed(const PlaneStats *stats, int n, float PlaneStats::*field) {
    QStringList values;
    for (int k = 0; k < n; ++k) values << QString::number(stats[k].*field);
    return "[" + values.join(' ') + "]";
}

// The console summary of a freshly loaded record with the statistics of its
// `planes` planes; `ownType` is the data type of an own-format file, empty
// otherwise.
QString summarize(const TAMOHDR *img, const PlaneStats *stats, int planes, const QString &ownType) {
    const int ndim = img->orvndim;
    const int cols = img->orvdim[0].dlen;
    const int rows = ndim >= 2 ? img->orvdim[1].dlen : 1;
    QString text;
    if (ndim == 3) {
        const int frames = img->orvdim[2].dlen;
        if (!ownType.isEmpty()) text += " --- " + ownType + "\n";
        text += "\nImage has " + QString::number(frames);
        text += (frames == 1 ? " frame and " : " frames and ") + QString::number(rows);
        text += " rows and " + QString::number(cols) + " Columns\n";
        text += "max = " + bracketed(stats, planes, &PlaneStats::max) + ", ";
        text += "min = " + bracketed(stats, planes, &PlaneStats::min) + ", ";
        text += "Mean = " + bracketed(stats, planes, &PlaneStats::mean) + ", ";
        text += "StdDev = " + bracketed(stats, planes, &PlaneStats::sd);
    } else {
        text += "\n\nImage has " + QString::number(1);
        text += " frame and " + QString::number(rows);
        text += " rows and " + QString::number(cols) + " Columns\n";
        text +=
            "max = " + QString::number(stats[0].max) + " min = " + QString::number(stats[0].min);
        text += " Mean = " + QString::number(stats[0].mean) +
                " StdDev = " + QString::number(stats[0].sd);
    }
    return text;
}

// Writes img through a temporary file beside `name` that replaces it only once
// it is complete, so a failed save leaves an existing file as it was. Returns
// an empty text when written, else the message for the user.
QString writeOwnFormat(TAMOHDR *img, const QString &name, const char *type) {
    tamo::RecordPtr out = createLike(img, type);
    if (!out) return kWriteFailed;
    if (!copyValues(img, out.get()))
        return QString("A %1 image cannot be saved as %2.")
            .arg(typeNameOf(img), typeNameOf(out.get()));
    // Small images are stored uncompressed, as the library's named-file writer does.
    if (tamo::elementCount(out.get()) < 512) out->orvcomp = 0;

    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "SaveAs: %s\n", qUtf8Printable(file.errorString()));
        return kWriteFailed;
    }
    const int fd = ::dup(file.handle());
    FilePtr stream(fd >= 0 ? ::fdopen(fd, "wb") : nullptr);
    if (!stream) {
        if (fd >= 0) ::close(fd);
        return kWriteFailed;
    }
    const int written = TamoWrImg(out.get(), stream.get(), 0);
    // Buffered bytes that cannot be flushed are a failed write as well.
    errno = 0;
    const bool closed = std::fclose(stream.release()) == 0;
    if (!closed) std::fprintf(stderr, "SaveAs: %s\n", std::strerror(errno));
    if (written != -1 || !closed) {
        file.cancelWriting();
        return kWriteFailed;
    }
    if (!file.commit()) {
        std::fprintf(stderr, "SaveAs: %s\n", qUtf8Printable(file.errorString()));
        return kWriteFailed;
    }
    return QString();
}

// Writes the picture the converter makes of img (frame `frame` of a record
// shown one frame at a time) in the raster format named by the suffix, through
// a temporary file as above.
QString writeRaster(Tamo2Qt &converter, TAMOHDR *img, int frame, const QString &name) {
    std::unique_ptr<QImage> picture(converter.toQImage(img, 0, frame));
    if (!picture || picture->isNull()) return kWriteFailed;
    // Display pictures are widened to a multiple of four columns; the file
    // keeps the image's own width.
    const int cols = img->orvdim[0].dlen;
    const QImage image =
        picture->width() > cols ? picture->copy(0, 0, cols, picture->height()) : *picture;

    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return QString(kWriteFailed) + ": " + file.errorString();
    QImageWriter writer(&file, QFileInfo(name).suffix().toLower().toLatin1());
    if (!writer.write(image)) {
        file.cancelWriting();
        return QString(kWriteFailed) + ": " + writer.errorString();
    }
    if (!file.commit()) return QString(kWriteFailed) + ": " + file.errorString();
    return QString();
}

QString unknownTypeMessage(const QString &type) {
    QStringList names;
    for (int i = 0; i < std::min(Tamo_Ntyp, tamo::typeTableSize()); ++i)
        names << QString::fromLatin1(Tamo_Dtyp[i].name);
    return QString("\"%1\" is not a data type. Valid types: %2.").arg(type, names.join(", "));
}

}  // namespace

void TamotoolMainWindow::open() {
    const QString start =
        lastOpenPath.isEmpty() ? QDir::homePath() : QFile::decodeName(lastOpenPath);
    const QString path = QFileDialog::getOpenFileName(this, tr("Open File"), start);
    if (path.isEmpty()) {
        showModalMessage("cannot open file");
        return;
    }
    addConsoleOutput("\nOpening " + path);
    handleFileByPath(path, getRadioButtonStatus(OUTPUT));

    QFile log(logFilePath());
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        log.write(lastOpenPath) != lastOpenPath.size()) {
        showTimedNote(kLogNote);
    }
    updateAccessability();
}
void TamotoolMainWindow::reopen() {
    QByteArray target = reReadPath;
    if (target.isEmpty()) {
        QFile log(logFilePath());
        if (!log.open(QIODevice::ReadOnly)) {
            showTimedNote(kLogNote);
            return;
        }
        target = log.readLine();
        while (target.endsWith('\n') || target.endsWith('\r')) target.chop(1);
        if (target.isEmpty()) {
            showTimedNote(kLogNote);
            return;
        }
    }
    const QString path = QFile::decodeName(target);
    addConsoleOutput("\nOpening " + path);
    handleFileByPath(path, getRadioButtonStatus(OUTPUT));
}

// Save and Archive are placeholders in the menu; they write nothing.
bool TamotoolMainWindow::save() {
    return false;
}

bool TamotoolMainWindow::archive() {
    return false;
}

bool TamotoolMainWindow::saveAs() {
    const int o = getRadioButtonStatus(OUTPUT);
    TAMOHDR *img = gTamotool && o >= 0 ? gTamotool->images[o] : nullptr;
    if (!img) {
        showModalMessage("No image has been stored in the buffer.");
        return false;
    }
    const QString name = QFileDialog::getSaveFileName(
        this, tr("SaveAs File"), QDir::homePath(),
        tr("Images (*.png *.xpm *.jpg *.TAMO *.tamo *.Tamo *.tam *.Tam *.orv *.ORV)"));
    if (name.isEmpty()) return false;

    QString failure;
    bool finished = false;
    if (!isOwnFormatSuffix(QFileInfo(name).suffix())) {
        addConsoleOutput("\nsaving ");
        // A record shown one frame at a time is saved as the frame its window shows.
        int frame = childWindows[o] ? childWindows[o]->currentFrame : 0;
        const int frames = img->orvndim == 3 ? img->orvdim[2].dlen : 1;
        frame = std::max(0, std::min(frame, frames - 1));
        finished =
            runCommand("SaveAs", [&] { failure = writeRaster(converter, img, frame, name); });
    } else {
        bool ok = false;
        QString type =
            QInputDialog::getText(this, tr("QInputDialog::getText()"), tr("TAMO data type:"),
                                  QLineEdit::Normal, "float", &ok);
        if (!ok) return false;
        if (type.isEmpty()) type = "float";
        const QByteArray typeName = type.toUtf8();
        if (typeName.size() > 15 || !Tamotype(typeName.constData())) {
            showModalMessage(unknownTypeMessage(type));
            return false;
        }
        finished = runCommand("SaveAs",
                              [&] { failure = writeOwnFormat(img, name, typeName.constData()); });
    }
    if (!failure.isEmpty()) showModalMessage(failure);
    return finished && failure.isEmpty();
}

void TamotoolMainWindow::view() {
    const int o = getRadioButtonStatus(OUTPUT);
    destroyChildWindow(o);
    TAMOHDR *img = gTamotool && o >= 0 ? gTamotool->images[o] : nullptr;
    if (!img) return;
    if (img->dtype == TAMO_32CMP) {
        showModalMessage("Complex images cannot be viewed. Use complex pull down");
        return;
    }
    runCommand("View", [&] {
        QImage *picture = converter.toQImage(img, 0, 0);
        if (!picture) {
            showModalMessage("This image has no picture to show.");
            return;
        }
        auto *window = new TamotoolChildWindow(this, picture, o);
        window->setAttribute(Qt::WA_DeleteOnClose);
        updateChildPtr(window, CHILD_ADD);
    });
}
void TamotoolMainWindow::copy() {
    const int o = getRadioButtonStatus(OUTPUT);
    TAMOHDR *img = gTamotool && o >= 0 ? gTamotool->images[o] : nullptr;
    if (!img) {
        showModalMessage("Image Empty");
        return;
    }
    // The former clipboard is kept until its replacement exists.
    TAMOHDR *copy = duplicate(img);
    if (!copy) {
        showModalMessage("There is not enough memory to copy the image.");
        return;
    }
    if (clipboardImage) Tamofree(clipboardImage, 7);
    clipboardImage = copy;
    pasteAct->setEnabled(true);
}
void TamotoolMainWindow::paste() {
    if (!clipboardImage) {
        showModalMessage("Nothing to paste");
        return;
    }
    const int o = getRadioButtonStatus(OUTPUT);
    if (!gTamotool || o < 0) return;
    // The slot gives up its image only once the copy exists; the clipboard
    // keeps its record for further pastes.
    TAMOHDR *copy = duplicate(clipboardImage);
    if (!copy) {
        showModalMessage("There is not enough memory to paste the image.");
        updateAccessability();
        return;
    }
    destroyChildWindow(o);
    storeInSlot(o, copy);
    updateAccessability();
}

void TamotoolMainWindow::handleFileByPath(QString path, int slot) {
    const QByteArray local = QFile::encodeName(path);
    fileName = QFileInfo(path).fileName();
    lastOpenPath = local;
    reReadPath = local;
    if (!gTamotool || slot < 0 || slot >= 8) return;

    QString reason, ownType;
    tamo::RecordPtr loaded;
    PlaneStats stats[3];
    int planes = 0;
    try {
        if (QFileInfo(path).isDir()) {
            reason = "it is a directory";
        } else if (isPointFileName(path)) {
            loaded.reset(readPointFile(local, reason));
            if (loaded) showTimedNote("Boundary file");
        } else if (isOwnFormatName(path)) {
            loaded.reset(readOwnFormat(local, reason, ownType));
            if (loaded) showTimedNote("Tamo image");
        } else {
            showTimedNote("non TAMO");
            loaded.reset(readRaster(path, reason, stats));
            planes = 3;
        }
    } catch (const TamoFatal &) {
        loaded.reset();
        reason = "the image library stopped reading it";
    } catch (const std::bad_alloc &) {
        loaded.reset();
        reason = "there is not enough memory";
    }
    // A failed read leaves the slot with what it had.
    if (!loaded) {
        showModalMessage(QString("Cannot read %1: %2").arg(path, reason));
        updateAccessability();
        return;
    }

    TAMOHDR *img = loaded.release();
    destroyChildWindow(slot);
    storeInSlot(slot, img);
    gTamotool->imageNames[slot] = fileName;
    if (planes == 0) planes = recordStats(img, stats);
    // labelCount takes the largest value of frame 0.
    const long long p = tamo::elementCount(img) / (img->orvndim == 3 ? img->orvdim[2].dlen : 1);
    gTamotool->labelCount = p == 0 ? -1000000 : tamo::truncToInt32(stats[0].max);
    addConsoleOutput(summarize(img, stats, planes, ownType));
    updateAccessability();
}
