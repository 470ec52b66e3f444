// Point files: a text list of (x, y) coordinates plotted into a colour
// picture, the first point red, the last green and the others white.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "imagelib_internal.h"
#include "tamoops.h"

namespace {

struct FileCloser {
    void operator()(FILE *fp) const { std::fclose(fp); }
};

struct Point {
    float x, y;
};

// Picture length from a coordinate range: (int)(extent * scale), or -1 when
// that is not a usable length (NaN, infinite, beyond int).
long long lengthFrom(float extent, float scale) {
    const float v = extent * scale;
    if (!(v >= 0.0f) || v >= 2147483648.0f) return -1;
    return static_cast<long long>(v);
}

// Truncated position inside [0, len - 1]; NaN lands at 0.
int clampedIndex(double v, int len) {
    if (!(v >= 0.0)) return 0;
    if (v > len - 1) return len - 1;
    return static_cast<int>(v);
}

}  // namespace

extern "C" {

int SkipToEndOfLine(FILE *file) {
    if (!file) return -1;
    int ch;
    while ((ch = std::fgetc(file)) != EOF)
        if (ch == '\n') return 0;
    return -1;
}

TAMOHDR *Tamoplotcontour(const char *path, int rows, int cols, int precise, float scale) {
    std::unique_ptr<FILE, FileCloser> file(path ? std::fopen(path, "r") : nullptr);
    if (!file) {
        Tamoerr = TAMO_EOPEN;
        std::fprintf(stderr, "plotcontour:Could not open %s. Exiting\n", path ? path : "(null)");
        std::fflush(stderr);
        tamo::endProcess(-1);
        return nullptr;
    }
    FILE *fp = file.get();
    std::printf("plotcontour:read inputimage\n");
    std::fflush(stdout);

    // "# N": the sharp sign and the blank are skipped unread.
    std::fgetc(fp);
    std::fgetc(fp);
    int announced = 0;
    if (std::fscanf(fp, "%d", &announced) != 1) announced = 0;

    // The range starts empty, so coordinates of any magnitude set it.
    float xmin = std::numeric_limits<float>::infinity(), ymin = xmin;
    float xmax = -xmin, ymax = -xmin;
    std::vector<Point> points;
    for (int i = 0; i < announced; ++i) {
        Point p;
        const int got = std::fscanf(fp, "%f %f", &p.x, &p.y);
        if (got == EOF) break;
        if (got == 2) {
            points.push_back(p);
            xmin = std::fmin(xmin, p.x);
            xmax = std::fmax(xmax, p.x);
            ymin = std::fmin(ymin, p.y);
            ymax = std::fmax(ymax, p.y);
        }
        // A last line without its newline still counts: reading stops after it.
        if (SkipToEndOfLine(fp) != 0) break;
    }
    file.reset();

    if (points.empty() && (rows == 0 || cols == 0)) {
        Tamoerr = TAMO_EIO;
        std::fprintf(stderr, "plotcontour:no points read from %s\n", path);
        return nullptr;
    }
    const long long height = rows != 0 ? rows : lengthFrom(ymax - ymin + 1.0f, scale);
    const long long width = cols != 0 ? cols : lengthFrom(xmax - xmin + 1.0f, scale);
    if (height < 1 || width < 1 || height * width * 3 > std::numeric_limits<int32_t>::max()) {
        Tamoerr = TAMO_EDIMS;
        std::fprintf(stderr, "plotcontour:cannot make a picture of %lld rows and %lld columns\n",
                     height, width);
        return nullptr;
    }
    const int Rp = static_cast<int>(height), Cp = static_cast<int>(width);
    int dims[4] = {3, Cp, Rp, 3};
    tamo::RecordPtr picture(Tamocreate("ubyte", dims, 11, 0));
    if (!picture) return nullptr;

    uint8_t *px = tamo::pixels<uint8_t>(picture.get());
    const std::ptrdiff_t plane = static_cast<std::ptrdiff_t>(Rp) * Cp;
    const std::size_t last = points.size() - 1;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Point &p = points[i];
        double row, col;
        if (precise == 1) {
            row = p.y;
            col = p.x;
        } else {
            row = static_cast<double>(scale) * (static_cast<double>(p.y - ymin) + 0.5);
            col = static_cast<double>(scale) * (static_cast<double>(p.x - xmin) + 0.5);
        }
        const std::ptrdiff_t at =
            static_cast<std::ptrdiff_t>(clampedIndex(row, Rp)) * Cp + clampedIndex(col, Cp);
        uint8_t red = 255, green = 255, blue = 255;
        if (i == last) {
            red = blue = 0;
        } else if (i == 0) {
            green = blue = 0;
        }
        px[at] = red;
        px[plane + at] = green;
        px[2 * plane + at] = blue;
    }
    return picture.release();
}

}  // extern "C"
