// The subcommand table, argument parsing and the image file helpers of the
// tamo tool.
#include <unistd.h>
#include <QBuffer>
#include <QByteArray>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "atomicfile.h"
#include "cli.h"
#include "npyio.h"
#include "pictures.h"
#include "pngread.h"
#include "records.h"
#include "tiffimage.h"

namespace cli {

namespace {

thread_local Host *currentHost = nullptr;

std::vector<Command> &table() {
    static std::vector<Command> commands;
    return commands;
}

bool contains(const std::vector<std::string> &list, const std::string &name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// A lone "-" (a standard stream) or a negative number is an argument, not an
// option.
bool looksLikeOption(const std::string &arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    char c = arg[1];
    return !(std::isdigit(static_cast<unsigned char>(c)) || c == '.');
}

std::string quoted(const std::string &path) {
    return "'" + path + "'";
}

std::string errnoText() {
    return errno ? std::strerror(errno) : "unknown error";
}

// Writes n bytes to a descriptor; false with errno set when they do not all
// get there.
bool writeAll(int fd, const char *data, std::size_t n) {
    while (n > 0) {
        const ssize_t put = write(fd, data, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        data += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

// ---- Raster files ------------------------------------------------------------

// Element layout of a type for the raster paths: 1 planar scalar, 3 or 4
// interleaved channels; complex elements get their real part.
struct Layout {
    int channels = 1;
    bool complex = false;
};

// One byte from a pixel value: clamped to 0..255 and rounded to nearest, so
// integral values (such as those read from a picture) come back unchanged.
inline uchar toByte(double v) {
    if (!(v > 0)) return 0;  // also NaN
    if (v >= 255) return 255;
    return static_cast<uchar>(std::lround(v));
}

QImage pictureFromRecord(const TAMOHDR *img) {
    const int ndim = img->orvndim;
    const int w = img->orvdim[0].dlen;
    const int h = ndim >= 2 ? img->orvdim[1].dlen : 1;
    const int frames = ndim >= 3 ? img->orvdim[2].dlen : 1;
    QImage picture;
    bool typed = tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout lay) {
        using T = typename decltype(tag)::type;
        const T *in = tamo::pixels<T>(img);
        const std::size_t plane = std::size_t(w) * h;
        const int step = lay.complex ? 2 : 1;
        const bool interleaved = lay.channels > 1;
        if (interleaved ? frames != lay.channels : (frames != 1 && frames != 3))
            throw Failure("cannot write " + std::to_string(frames) +
                          " frames as a picture (1 or 3 are needed)");
        const bool colour = interleaved || frames == 3;
        picture = QImage(w, h, colour ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
        if (picture.isNull()) throw Failure("cannot make a picture of this size");
        for (int r = 0; r < h; ++r) {
            uchar *line = picture.scanLine(r);
            for (int c = 0; c < w; ++c) {
                const std::size_t at = std::size_t(r) * w + c;
                if (!colour) {
                    line[c] = toByte(double(in[at * step]));
                } else if (interleaved) {
                    const T *px = in + at * lay.channels;
                    reinterpret_cast<QRgb *>(line)[c] =
                        qRgb(toByte(double(px[0])), toByte(double(px[1])), toByte(double(px[2])));
                } else {
                    reinterpret_cast<QRgb *>(line)[c] =
                        qRgb(toByte(double(in[at * step])), toByte(double(in[(plane + at) * step])),
                             toByte(double(in[(2 * plane + at) * step])));
                }
            }
        }
    });
    if (!typed) throw Failure("cannot write a \"struct\" image as a picture");
    return picture;
}

}  // namespace

// ---- Table ---------------------------------------------------------------------

Registrar::Registrar(Command command) {
    auto &commands = table();
    auto at = std::lower_bound(
        commands.begin(), commands.end(), command,
        [](const Command &a, const Command &b) { return std::strcmp(a.name, b.name) < 0; });
    if (at != commands.end() && std::strcmp(at->name, command.name) == 0) {
        // Two sources claiming one name is a build mistake; refuse to guess.
        std::fprintf(stderr, "tamo: command '%s' is defined twice\n", command.name);
        std::abort();
    }
    commands.insert(at, std::move(command));
}

const std::vector<Command> &commands() {
    return table();
}

const Command *findCommand(const std::string &name) {
    for (const Command &c : table())
        if (name == c.name) return &c;
    return nullptr;
}

// ---- Options -------------------------------------------------------------------

Options parseOptions(const Command &command, const std::vector<std::string> &args) {
    Options opts;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || !looksLikeOption(arg)) {
            opts.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
        std::string value;
        bool inlineValue = false;
        if (auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            inlineValue = true;
        } else if (arg[1] != '-' && name.size() > 1 &&
                   contains(command.valued, name.substr(0, 1))) {
            // A one-letter option with its value attached, as in "-j4".
            value = name.substr(1);
            name.resize(1);
            inlineValue = true;
        }
        if (contains(command.valued, name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) throw UsageError("option --" + name + " needs a value");
                value = args[++i];
            }
            opts.values[name] = value;
        } else if (contains(command.switches, name) && !inlineValue) {
            opts.flags.insert(name);
        } else {
            throw UsageError("unknown option '" + arg + "'");
        }
    }
    return opts;
}

std::string Options::text(const std::string &name, const std::string &fallback) const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
}

double Options::number(const std::string &name, double fallback) const {
    auto it = values.find(name);
    if (it == values.end()) return fallback;
    const char *s = it->second.c_str();
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(s, &end);
    if (end == s || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw UsageError("option --" + name + " needs a number, not '" + it->second + "'");
    return v;
}

float Options::real(const std::string &name, float fallback) const {
    const double v = number(name, fallback);
    const float f = static_cast<float>(v);
    if (std::isinf(f) || (f == 0.0f && v != 0.0))
        throw UsageError("option --" + name + " needs a number within the range of a float, not '" +
                         text(name, "") + "'");
    return f;
}

int Options::integer(const std::string &name, int fallback) const {
    auto it = values.find(name);
    if (it == values.end()) return fallback;
    const char *s = it->second.c_str();
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (end == s || *end != '\0' || errno == ERANGE || v < std::numeric_limits<int>::min() ||
        v > std::numeric_limits<int>::max())
        throw UsageError("option --" + name + " needs an integer, not '" + it->second + "'");
    return static_cast<int>(v);
}

const std::string &Options::arg(std::size_t i, const char *what) const {
    if (i >= positional.size()) throw UsageError(std::string("missing argument ") + what);
    return positional[i];
}

// ---- Image files ---------------------------------------------------------------

tamo::RecordPtr readImage(const std::string &path, const char *rasterType) {
    if (currentHost)
        if (tamo::RecordPtr held = currentHost->read(path)) return held;
    // A point file, plotted at scale 1 into a colour picture as the
    // workbench's Read does.
    if (path.size() >= 5 && path.compare(path.size() - 5, 5, "Tamob") == 0) {
        Tamoerr = 0;
        tamo::RecordPtr img(Tamoplotcontour(path.c_str(), 0, 0, 0, 1.0f));
        if (!img)
            throw Failure("cannot read " + quoted(path) + " as a point file: " +
                          frontend::readFailureReason(Tamoerr).toStdString());
        return img;
    }
    if (frontend::isTiffName(path) || frontend::isNpyName(path)) {
        std::string reason;
        tamo::RecordPtr img = frontend::isTiffName(path) ? frontend::readTiff(path, reason)
                                                         : frontend::readNpy(path, reason);
        if (!img) throw Failure("cannot read " + quoted(path) + ": " + reason);
        return img;
    }
    if (path == "-" || isOwnFormatName(path)) {
        FILE *fp = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
        if (!fp) throw Failure("cannot open " + quoted(path) + ": " + errnoText());
        Tamoerr = 0;
        tamo::RecordPtr img(TamoRdImg(fp, 0));
        if (fp != stdin) std::fclose(fp);
        if (!img)
            throw Failure("cannot read " + quoted(path) + " as a Tamo image: " +
                          frontend::readFailureReason(Tamoerr).toStdString());
        return img;
    }
    const TAMODTYPE *type = Tamotype(rasterType);
    if (!type) throw UsageError(std::string("unknown data type '") + rasterType + "'");
    tamo::RecordPtr png;
    std::string pngReason;
    if (frontend::readPng(path, *type, png, pngReason)) {
        if (!png) throw Failure("cannot read " + quoted(path) + ": " + pngReason);
        return png;
    }
    QImageReader reader(QString::fromLocal8Bit(path.c_str()));
    QImage picture = reader.read();
    if (picture.isNull())
        throw Failure("cannot read " + quoted(path) + ": " +
                      reader.errorString().toLocal8Bit().toStdString());
    tamo::RecordPtr img = frontend::recordFromPicture(picture, *type);
    if (!img) {
        if (type->code == TAMO_STRUCT)
            throw Failure(std::string("cannot make a picture into type \"") + type->name + "\"");
        throw Failure("cannot create the image record");
    }
    return img;
}

void writeImage(const std::string &path, TAMOHDR *img) {
    if (!tamo::hasValidMagic(img) || !img->orvptr) throw Failure("no image to write");
    if (currentHost && currentHost->write(path, img)) return;
    if (frontend::isTiffName(path) || frontend::isNpyName(path)) {
        const std::string reason = frontend::isTiffName(path)
                                       ? frontend::writeTiff(img, path, img->orvcomp != 0)
                                       : frontend::writeNpy(img, path);
        if (!reason.empty()) throw Failure("cannot write " + quoted(path) + ": " + reason);
        return;
    }
    const bool ownFormat = path == "-" || isOwnFormatName(path);
    // A picture is made before anything is created: a record that cannot
    // become one leaves no file behind.
    QImage picture;
    if (!ownFormat) picture = pictureFromRecord(img);
    auto failed = [&](const std::string &reason) {
        return Failure("cannot write " + quoted(path) + ": " + reason);
    };

    // Standard output cannot be replaced; it is written in place.
    std::unique_ptr<tamo::AtomicFile> file;
    if (path != "-") {
        file = std::make_unique<tamo::AtomicFile>(path);
        if (!file->ok()) throw Failure("cannot create " + quoted(path) + ": " + file->error());
    }

    if (ownFormat) {
        const int fd = file ? dup(file->fd()) : -1;
        FILE *fp = file ? (fd >= 0 ? fdopen(fd, "wb") : nullptr) : stdout;
        if (!fp) {
            if (fd >= 0) close(fd);
            throw failed(errnoText());
        }
        // Big buffered writes: the writer hands over whole arrays.
        if (fp != stdout) std::setvbuf(fp, nullptr, _IOFBF, 1 << 20);
        errno = 0;
        const bool written = TamoWrImg(img, fp, 0) == -1;
        int error = written ? 0 : errno;
        const bool closed =
            fp == stdout ? std::fflush(fp) == 0 && !std::ferror(fp) : std::fclose(fp) == 0;
        if (!closed && !error) error = errno;
        if (!written || !closed)
            throw failed(error ? std::strerror(error) : "the library refused the image");
    } else {
        // Encoded in memory first: the file then gets whole writes whose
        // failure comes with the system's reason.
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        const QByteArray format =
            QFileInfo(QString::fromLocal8Bit(path.c_str())).suffix().toLower().toLatin1();
        QImageWriter writer(&buffer, format);
        if (!writer.write(picture)) throw failed(writer.errorString().toLocal8Bit().toStdString());
        if (!writeAll(file->fd(), encoded.constData(), static_cast<std::size_t>(encoded.size())))
            throw failed(errnoText());
    }
    if (file && !file->commit()) throw failed(file->error());
}

tamo::RecordPtr createLike(TAMOHDR *like, const char *type, int ndim) {
    tamo::RecordPtr img = frontend::createLike(like, type, ndim);
    if (!img) throw Failure(std::string("cannot create an image of type '") + type + "'");
    return img;
}

tamo::RecordPtr createUnfilled(TAMOHDR *like, const char *type) {
    tamo::CArray<int> dims(Tamosiz(like));
    tamo::RecordPtr img(dims ? Tamocreate(type, dims.get(), 0, like->orvbpd) : nullptr);
    if (!img) throw Failure(std::string("cannot create an image of type '") + type + "'");
    // The library's own allocator, so that Tamofree releases the pixels.
    const std::size_t bytes = static_cast<std::size_t>(tamo::elementCount(img.get())) * img->orvbpd;
    img->orvptr = static_cast<char *>(Tamo_realcptr(nullptr, bytes > 0 ? bytes : 1));
    if (!img->orvptr) throw std::bad_alloc();
    return img;
}

void requireRecordFits(long long cols, long long rows, long long frames, int elementSize,
                       const char *what) {
    const long long limit = std::numeric_limits<int>::max();
    // Each factor is checked before the product, which then cannot wrap.
    const bool fits = cols >= 1 && rows >= 1 && frames >= 1 && elementSize >= 1 && cols <= limit &&
                      rows <= limit && frames <= limit && cols * rows <= limit &&
                      cols * rows * frames <= limit / elementSize;
    if (!fits)
        throw Failure(std::string(what) + " of " + std::to_string(cols) + " x " +
                      std::to_string(rows) + (frames > 1 ? " x " + std::to_string(frames) : "") +
                      " pixels would not fit an image record (" + std::to_string(limit) +
                      " bytes at most)");
}

void checkStatus(int status, const char *operation) {
    if (status == 0) return;
    const char *reason = Tamoopstext(operation, status);
    // A positive result is a failure only where the operator names it so.
    if (status > 0 && !reason) return;
    throw LibraryFailure(std::string(operation) +
                             (reason ? std::string(": ") + reason : " failed") + " (code " +
                             std::to_string(status) + ")",
                         status);
}

HostScope::HostScope(Host *host) : previous_(currentHost) {
    currentHost = host;
}

HostScope::~HostScope() {
    currentHost = previous_;
}

bool reportValue(const char *name, double v) {
    return currentHost && currentHost->value(name, v);
}

LibraryTextAside::LibraryTextAside(const std::string &outPath) {
    if (outPath != "-") return;
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
}

LibraryTextAside::~LibraryTextAside() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
}

}  // namespace cli
