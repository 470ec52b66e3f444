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

#include "history.h"
#include "tamo++.h"
#include "notices.h"
#include "npyio.h"
#include "pictures.h"
#include "pngread.h"
#include "records.h"
#include "session.h"
#include "statistics.h"
#include "tamoio.h"
#include "tamoops.h"
#include "tamotool.h"
#include "tamotoolchildwindow.h"
#include "tiffimage.h"

namespace {

using frontend::FrameStats;

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

QString typeNameOf(const TAMOHDR *img) {
    return QString::fromLatin1(img->orvdt,
                               static_cast<int>(strnlen(img->orvdt, sizeof img->orvdt)));
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
    tamo::RecordPtr copy = frontend::createLike(img, img->orvdt);
    if (!copy || !copyValues(img, copy.get())) return nullptr;
    return copy.release();
}

// The record read from a file, converted to "float"; null with the reason
// when its type has no conversion.
TAMOHDR *toFloat(TAMOHDR *img, QString &reason) {
    tamo::RecordPtr converted = frontend::createLike(img, "float");
    if (!converted) {
        reason = frontend::readFailureReason(Tamoerr);
        return nullptr;
    }
    // A new record of tens of megabytes is written through at once.
    frontend::adviseHugePages(converted.get());
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
        reason = frontend::readFailureReason(Tamoerr);
        return nullptr;
    }
    typeName = typeNameOf(read.get());
    return toFloat(read.get(), reason);
}

// TIFF and .npy files: read with their exact values in the file's own type
// (remembered for the summary), then converted to "float" like every read.
TAMOHDR *readArrayFile(const QString &path, QString &reason, QString &typeName) {
    const std::string local = QFile::encodeName(path).toStdString();
    std::string why;
    tamo::RecordPtr read = frontend::isTiffName(local) ? frontend::readTiff(local, why)
                                                       : frontend::readNpy(local, why);
    if (!read) {
        reason = QString::fromLocal8Bit(why.c_str());
        return nullptr;
    }
    typeName = typeNameOf(read.get());
    return toFloat(read.get(), reason);
}

bool isArrayFileName(const QString &path) {
    const std::string local = QFile::encodeName(path).toStdString();
    return frontend::isTiffName(local) || frontend::isNpyName(local);
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
                reason = frontend::readFailureReason(Tamoerr);
                break;
        }
        return nullptr;
    }
    return toFloat(picture.get(), reason);
}

// Any other file, through the toolkit's reader: a three-frame "float" record
// of red, green and blue, alpha ignored, with the statistics of the three
// frames gathered in the same pass over the picture.
TAMOHDR *readRaster(const QString &path, QString &reason, FrameStats *stats) {
    // PNG files go straight into the record, at their full depth.
    tamo::RecordPtr png;
    std::string pngReason;
    if (frontend::readPng(QFile::encodeName(path).toStdString(), *Tamotype("float"), png, pngReason,
                          stats)) {
        if (!png) reason = QString::fromStdString(pngReason);
        return png.release();
    }
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        reason = reader.errorString();
        return nullptr;
    }
    Tamoerr = 0;
    tamo::RecordPtr img = frontend::recordFromPicture(image, *Tamotype("float"), stats);
    if (!img) {
        reason = frontend::readFailureReason(Tamoerr);
        return nullptr;
    }
    return img.release();
}

// A statistic as the console shows it: in single precision, as the "float"
// record holds its values.
QString shown(double value) {
    return QString::number(static_cast<float>(value));
}

QString bracketed(const FrameStats *stats, int n, double FrameStats::*field) {
    QStringList values;
    for (int k = 0; k < n; ++k) values << shown(stats[k].*field);
    return "[" + values.join(' ') + "]";
}

// The console summary of a freshly loaded record with the statistics of its
// `planes` planes; `fileType` is the data type of an own-format, TIFF or
// .npy file, empty otherwise. Own-format files name it for 3-D records only,
// TIFF and .npy files (`alwaysNameType`) for every record.
QString summarize(const TAMOHDR *img, const FrameStats *stats, int planes, const QString &fileType,
                  bool alwaysNameType) {
    const int ndim = img->orvndim;
    const int cols = img->orvdim[0].dlen;
    const int rows = ndim >= 2 ? img->orvdim[1].dlen : 1;
    QString text;
    if (alwaysNameType && ndim != 3 && !fileType.isEmpty()) text += " --- " + fileType + "\n";
    if (ndim == 3) {
        const int frames = img->orvdim[2].dlen;
        if (!fileType.isEmpty()) text += " --- " + fileType + "\n";
        text += "\nImage has " + QString::number(frames);
        text += (frames == 1 ? " frame and " : " frames and ") + QString::number(rows);
        text += " rows and " + QString::number(cols) + " Columns\n";
        text += "max = " + bracketed(stats, planes, &FrameStats::max) + ", ";
        text += "min = " + bracketed(stats, planes, &FrameStats::min) + ", ";
        text += "Mean = " + bracketed(stats, planes, &FrameStats::mean) + ", ";
        text += "StdDev = " + bracketed(stats, planes, &FrameStats::sd);
    } else {
        text += "\n\nImage has " + QString::number(1);
        text += " frame and " + QString::number(rows);
        text += " rows and " + QString::number(cols) + " Columns\n";
        text += "max = " + shown(stats[0].max) + " min = " + shown(stats[0].min);
        text += " Mean = " + shown(stats[0].mean) + " StdDev = " + shown(stats[0].sd);
    }
    return text;
}

// Writes img, converted to `type`, so that a failed save leaves an existing
// file as it was. Returns an empty text when written, else the message for
// the user.
QString writeOwnFormat(TAMOHDR *img, const QString &name, const char *type) {
    tamo::RecordPtr out = frontend::createLike(img, type);
    if (!out) return kWriteFailed;
    if (!copyValues(img, out.get()))
        return QString("A %1 image cannot be saved as %2.")
            .arg(typeNameOf(img), typeNameOf(out.get()));
    const std::string reason =
        frontend::writeOwnFormatFile(out.get(), name.toLocal8Bit().toStdString());
    if (reason.empty()) return QString();
    std::fprintf(stderr, "SaveAs: %s\n", reason.c_str());
    return kWriteFailed;
}

// Writes img, converted to `type`, as a TIFF (uncompressed) or .npy file;
// an existing file is replaced only by a complete one. Returns an empty text
// when written, else the message for the user.
QString writeArrayFile(TAMOHDR *img, const QString &name, const char *type) {
    tamo::RecordPtr out = frontend::createLike(img, type);
    if (!out) return kWriteFailed;
    if (!copyValues(img, out.get()))
        return QString("A %1 image cannot be saved as %2.")
            .arg(typeNameOf(img), typeNameOf(out.get()));
    const std::string local = QFile::encodeName(name).toStdString();
    const std::string reason = frontend::isTiffName(local)
                                   ? frontend::writeTiff(out.get(), local, false)
                                   : frontend::writeNpy(out.get(), local);
    if (reason.empty()) return QString();
    return QString(kWriteFailed) + ": " + QString::fromLocal8Bit(reason.c_str());
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
    readAsCommand("ReRead", path, getRadioButtonStatus(OUTPUT));
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
        tr("Images (*.png *.xpm *.jpg *.TAMO *.tamo *.Tamo *.tam *.Tam *.orv *.ORV)"
           ";;TIFF images (*.tif *.tiff);;NumPy arrays (*.npy)"));
    if (name.isEmpty()) return false;

    QString failure;
    bool finished = false;
    const bool arrayFile = isArrayFileName(name);
    if (arrayFile || isOwnFormatSuffix(QFileInfo(name).suffix())) {
        // Own-format, TIFF and .npy files keep the values in a type of the
        // user's choice.
        bool ok = false;
        const QString label = !arrayFile ? tr("TAMO data type:")
                              : frontend::isTiffName(QFile::encodeName(name).toStdString())
                                  ? tr("TIFF data type:")
                                  : tr("NumPy data type:");
        // A complex slot is offered its own type: "float" would keep only
        // the real parts.
        const QString offered = img->dtype == TAMO_32CMP ? typeNameOf(img) : QString("float");
        QString type = QInputDialog::getText(this, tr("QInputDialog::getText()"), label,
                                             QLineEdit::Normal, offered, &ok);
        if (!ok) return false;
        if (type.isEmpty()) type = offered;
        const QByteArray typeName = type.toUtf8();
        if (typeName.size() > 15 || !Tamotype(typeName.constData())) {
            showModalMessage(unknownTypeMessage(type));
            return false;
        }
        finished = runCommand("SaveAs", [&] {
            failure = arrayFile ? writeArrayFile(img, name, typeName.constData())
                                : writeOwnFormat(img, name, typeName.constData());
        });
    } else {
        addConsoleOutput("\nsaving ");
        // A record shown one frame at a time is saved as the frame its window shows.
        int frame = childWindows[o] ? childWindows[o]->currentFrame : 0;
        const int frames = img->orvndim == 3 ? img->orvdim[2].dlen : 1;
        frame = std::max(0, std::min(frame, frames - 1));
        finished =
            runCommand("SaveAs", [&] { failure = writeRaster(converter, img, frame, name); });
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
    session_->copied(o);
    pasteAct->setEnabled(true);
}
void TamotoolMainWindow::paste() {
    if (!clipboardImage) {
        showModalMessage("Nothing to paste");
        return;
    }
    const int o = getRadioButtonStatus(OUTPUT);
    if (!gTamotool || o < 0) return;
    submitCommand("Paste", [this, o] {
        // The slot gives up its image only once the copy exists; the
        // clipboard keeps its record for further pastes.
        TAMOHDR *copy = duplicate(clipboardImage);
        if (!copy) {
            showModalMessage("There is not enough memory to paste the image.");
            return;
        }
        destroyChildWindow(o);
        storeInSlot(o, copy);
        recordTamo({"cp", "{CLIP}", QString("{OUT:%1}").arg(o)});
    });
    updateAccessability();
}

void TamotoolMainWindow::handleFileByPath(QString path, int slot) {
    readAsCommand("Read", path, slot);
}

void TamotoolMainWindow::openFromOutside(const QString &path, int slot) {
    // The "Opening" line comes with the read itself, so that a file that waits
    // for a running command has its whole block (and its type note) together.
    submitCommand("Read", [this, path, slot] {
        addConsoleOutput("\nOpening " + path);
        loadFile(path, slot);
    });
}

void TamotoolMainWindow::readAsCommand(const QString &name, const QString &path, int slot) {
    // A file that arrives while a command runs (an open request from the
    // desktop) is read once that command has ended, as a command of its own.
    submitCommand(name, [this, path, slot] { loadFile(path, slot); });
}

void TamotoolMainWindow::loadFile(const QString &path, int slot) {
    const QByteArray local = QFile::encodeName(path);
    fileName = QFileInfo(path).fileName();
    lastOpenPath = local;
    reReadPath = local;
    if (!gTamotool || slot < 0 || slot >= 8) return;

    QString reason, ownType;
    tamo::RecordPtr loaded;
    FrameStats stats[3];
    int planes = 0;
    bool arrayFile = false;
    try {
        if (QFileInfo(path).isDir()) {
            reason = "it is a directory";
        } else if (isPointFileName(path)) {
            loaded.reset(readPointFile(local, reason));
            if (loaded) showTimedNote("Boundary file");
        } else if (frontend::isOwnFormatName(path)) {
            loaded.reset(readOwnFormat(local, reason, ownType));
            if (loaded) showTimedNote("Tamo image");
        } else if (isArrayFileName(path)) {
            showTimedNote("non TAMO");
            loaded.reset(readArrayFile(path, reason, ownType));
            arrayFile = true;
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
    gTamotool->setImageName(slot, fileName);
    // The tool reads pictures, point files and own-format files as Read
    // does; all but pictures become "float" here.
    {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        QStringList words = {"tamo", "convert", absolute, QString("{OUT:%1}").arg(slot)};
        if (frontend::isOwnFormatName(path) || arrayFile || isPointFileName(path))
            words << "--type"
                  << "float";
        recordTamo(words);
        if (trace_) trace_->inputPath = absolute;
    }
    if (planes == 0) {
        // Frames 0, 1 and 2 of a three-dimensional record, else its plane.
        const std::vector<FrameStats> all = frontend::frameStatistics(img, 3);
        std::copy(all.begin(), all.end(), stats);
        planes = static_cast<int>(all.size());
    }
    // labelCount takes the largest value of frame 0.
    const long long p = tamo::elementCount(img) / (img->orvndim == 3 ? img->orvdim[2].dlen : 1);
    gTamotool->labelCount = p == 0 ? -1000000 : tamo::truncToInt32(stats[0].max);
    addConsoleOutput(summarize(img, stats, planes, ownType, arrayFile));
    updateAccessability();
}
