// Single-pixel readers and writers for every data type. These are the inner
// loop of the generic operator paths: at most two text comparisons (when
// TAMOCHK is set), one switch on the type code and one multiply-add.
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "imagelib_internal.h"

namespace {

struct Messages {
    const char *null;
    const char *magic;
    const char *noData;
    const char *type;
    const char *outside;
};

#define TAMO_ACCESSOR_MESSAGES(fn)                                                          \
    Messages {                                                                              \
        fn ": Image header is NULL", fn ": Invalid image header (bad magic no.)",           \
            fn ": No data associated with header! (field 'orvptr' = 0)",                    \
            fn ": unrecognized or illegal data type.", fn ": pixel outside the image data." \
    }

constexpr Messages kFgp = TAMO_ACCESSOR_MESSAGES("Tamofgp");
constexpr Messages kFpp = TAMO_ACCESSOR_MESSAGES("Tamofpp");
constexpr Messages kIgp = TAMO_ACCESSOR_MESSAGES("Tamoigp");
constexpr Messages kIpp = TAMO_ACCESSOR_MESSAGES("Tamoipp");
constexpr Messages kFgp3d = TAMO_ACCESSOR_MESSAGES("Tamofgp3d");
constexpr Messages kFpp3d = TAMO_ACCESSOR_MESSAGES("Tamofpp3d");
constexpr Messages kIgp3d = TAMO_ACCESSOR_MESSAGES("Tamoigp3d");
constexpr Messages kIpp3d = TAMO_ACCESSOR_MESSAGES("Tamoipp3d");

#undef TAMO_ACCESSOR_MESSAGES

inline bool headerOk(const TAMOHDR *img, const Messages &m) {
    if (!TAMOCHK) return true;
    if (!img) {
        Tamoerr = TAMO_ENULL;
        Tamoext(TAMOSLV, m.null);
        return false;
    }
    if (!tamo::hasValidMagic(img)) {
        Tamoerr = TAMO_EHEADER;
        Tamoext(TAMOSLV, m.magic);
        return false;
    }
    if (!img->orvptr) {
        Tamoerr = TAMO_EHEADER;
        Tamoext(TAMOSLV, m.noData);
        return false;
    }
    return true;
}

void reportType(const Messages &m) {
    Tamoerr = TAMO_ETYPE;
    Tamoext(TAMOSLV, m.type);
}

void reportOutside(const Messages &m) {
    Tamoerr = TAMO_EBOUNDS;
    Tamoext(TAMOSLV, m.outside);
}

// Elements are read and written through memcpy: the address is whatever the
// record's layout gives, and this keeps the access free of aliasing rules.
template <class T>
inline T load(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
inline void store(char *p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// Integer elements take the value truncated to 32 bits and keep their own
// low bits (wrap-around, no clipping).
template <class T>
inline void storeDouble(char *p, double value) {
    if constexpr (std::is_integral_v<T>)
        store<T>(p, static_cast<T>(static_cast<uint32_t>(tamo::truncToInt32(value))));
    else
        store<T>(p, static_cast<T>(value));
}

template <class T>
inline void storeInt(char *p, int value) {
    if constexpr (std::is_integral_v<T>)
        store<T>(p, static_cast<T>(static_cast<uint32_t>(value)));
    else
        store<T>(p, static_cast<T>(value));
}

template <class T>
inline int loadInt(const char *p) {
    if constexpr (std::is_integral_v<T>)
        return static_cast<int>(load<T>(p));
    else
        return tamo::truncToInt32(static_cast<double>(load<T>(p)));
}

// With checking on, a pixel outside the record is refused (after a report)
// before anything is read or written.
inline bool insideOrReported(bool inside, const Messages &m) {
    if (!inside) reportOutside(m);
    return inside;
}

// Locates (row, col) of the first frame and calls f(TypeTag<T>, address) for
// the nine plain types. Complex elements are reached through their real
// part, which comes first. False after a report.
template <class F>
inline bool visit2d(TAMOHDR *img, int row, int col, const Messages &m, F &&f) {
    if (!headerOk(img, m)) return false;
    bool handled = false;
    bool inside = true;
    tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout layout) {
        if (layout.channels != 1) return;
        handled = true;
        if (TAMOCHK &&
            (row < 0 || row >= tamo::rowsOf(img) || col < 0 || col >= tamo::columnsOf(img))) {
            inside = false;
            return;
        }
        const std::ptrdiff_t index = static_cast<std::ptrdiff_t>(row) * img->orvdln[1] + col;
        f(tag, img->orvptr + index * img->orvbpd);
    });
    if (!handled) {
        reportType(m);
        return false;
    }
    return insideOrReported(inside, m);
}

// Locates (frame, row, col); for the interleaved types the frame selects the
// channel of pixel (row, col).
template <class F>
inline bool visit3d(TAMOHDR *img, int frame, int row, int col, const Messages &m, F &&f) {
    if (!headerOk(img, m)) return false;
    bool known = false;
    bool inside = true;
    tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout layout) {
        known = true;
        const std::ptrdiff_t cols = Tamodimen(img, 0);
        const std::ptrdiff_t rows = Tamodimen(img, 1);
        if (TAMOCHK) {
            const int depth = layout.channels == 1 ? tamo::framesOf(img) : layout.channels;
            // A one-dimensional record is one row (its row query above
            // has complained already).
            if (frame < 0 || frame >= depth || row < 0 || row >= tamo::rowsOf(img) || col < 0 ||
                col >= cols) {
                inside = false;
                return;
            }
        }
        std::ptrdiff_t index;
        if (layout.channels == 1) {
            index = (frame * rows + row) * cols + col;
        } else {
            // A record whose frames are fewer than its channels does not
            // hold all channels of every pixel: never step outside its data.
            index = (row * cols + col) * layout.channels + frame;
            if (index < 0 || index >= tamo::elementCount(img)) {
                inside = false;
                return;
            }
        }
        f(tag, img->orvptr + index * img->orvbpd);
    });
    if (!known) {
        reportType(m);
        return false;
    }
    return insideOrReported(inside, m);
}

}  // namespace

extern "C" {

double Tamofgp(TAMOHDR *img, int row, int col) {
    double value = 0;
    visit2d(img, row, col, kFgp, [&](auto tag, const char *p) {
        value = static_cast<double>(load<typename decltype(tag)::type>(p));
    });
    return value;
}

int Tamoigp(TAMOHDR *img, int row, int col) {
    int value = 0;
    visit2d(img, row, col, kIgp,
            [&](auto tag, const char *p) { value = loadInt<typename decltype(tag)::type>(p); });
    return value;
}

int Tamofpp(TAMOHDR *img, int row, int col, double value) {
    return visit2d(img, row, col, kFpp,
                   [&](auto tag, char *p) { storeDouble<typename decltype(tag)::type>(p, value); })
               ? -1
               : 0;
}

int Tamoipp(TAMOHDR *img, int row, int col, int value) {
    return visit2d(img, row, col, kIpp,
                   [&](auto tag, char *p) { storeInt<typename decltype(tag)::type>(p, value); })
               ? -1
               : 0;
}

double Tamofgp3d(TAMOHDR *img, int frame, int row, int col) {
    double value = 0;
    visit3d(img, frame, row, col, kFgp3d, [&](auto tag, const char *p) {
        value = static_cast<double>(load<typename decltype(tag)::type>(p));
    });
    return value;
}

int Tamoigp3d(TAMOHDR *img, int frame, int row, int col) {
    int value = 0;
    visit3d(img, frame, row, col, kIgp3d,
            [&](auto tag, const char *p) { value = loadInt<typename decltype(tag)::type>(p); });
    return value;
}

int Tamofpp3d(TAMOHDR *img, int frame, int row, int col, double value) {
    return visit3d(img, frame, row, col, kFpp3d,
                   [&](auto tag, char *p) { storeDouble<typename decltype(tag)::type>(p, value); })
               ? -1
               : 0;
}

int Tamoipp3d(TAMOHDR *img, int frame, int row, int col, int value) {
    return visit3d(img, frame, row, col, kIpp3d,
                   [&](auto tag, char *p) { storeInt<typename decltype(tag)::type>(p, value); })
               ? -1
               : 0;
}

}  // extern "C"
