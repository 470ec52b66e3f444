// Copies the pixel values of one record into another of the same size and,
// generally, another type. The pairs among "32flt", "u8bit" and "16bit" walk
// both arrays directly; every pair with another type goes through the pixel
// accessors, which know each type's layout.
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "imagelib_internal.h"

namespace {

enum class Kind { Float, UByte, Short, Other };

Kind classify(const TAMOHDR *img) {
    switch (img->dtype) {
        case TAMO_32FLT:
            return Kind::Float;
        case TAMO_U8BIT:
            return Kind::UByte;
        case TAMO_16BIT:
            return Kind::Short;
    }
    return Kind::Other;
}

// Calls f with the element type of a directly walked kind, or with void for
// a kind reached through the accessors.
template <class F>
void withElementType(Kind kind, F &&f) {
    switch (kind) {
        case Kind::Float:
            f(tamo::TypeTag<float>{});
            return;
        case Kind::UByte:
            f(tamo::TypeTag<uint8_t>{});
            return;
        case Kind::Short:
            f(tamo::TypeTag<int16_t>{});
            return;
        case Kind::Other:
            f(tamo::TypeTag<void>{});
            return;
    }
}

// Integer destinations take the value truncated toward zero and keep its low
// bits; nothing is clipped.
template <class To, class From>
inline To convertValue(From v) {
    if constexpr (std::is_floating_point_v<To>)
        return static_cast<To>(v);
    else if constexpr (std::is_integral_v<From>)
        return static_cast<To>(static_cast<uint32_t>(static_cast<int32_t>(v)));
    else if constexpr (std::is_same_v<From, float>)
        // The same truncation as tamo::truncToInt32, kept in single precision
        // so that the loop vectorizes well.
        return static_cast<To>(static_cast<uint32_t>(
            v > -2147483648.0f && v < 2147483648.0f ? static_cast<int32_t>(v) : INT32_MIN));
    else
        return static_cast<To>(static_cast<uint32_t>(tamo::truncToInt32(v)));
}

struct Extent {
    int frames, rows, cols;
    size_t count() const { return size_t(frames) * size_t(rows) * size_t(cols); }
};

template <class From, class To>
void convertLinear(const TAMOHDR *src, TAMOHDR *dst, size_t n) {
    const From *from = tamo::pixels<From>(src);
    To *to = tamo::pixels<To>(dst);
    if constexpr (std::is_same_v<From, To>) {
        std::memmove(to, from, n * sizeof(From));
    } else {
        for (size_t i = 0; i < n; ++i) to[i] = convertValue<To>(from[i]);
    }
}

// A one-dimensional record is reached with the two-dimensional accessors
// (the three-dimensional ones ask for its row count, which it lacks).
inline double readGeneric(TAMOHDR *img, int f, int r, int c) {
    return img->orvndim == 1 ? Tamofgp(img, r, c) : Tamofgp3d(img, f, r, c);
}

inline void writeGeneric(TAMOHDR *img, int f, int r, int c, double v) {
    if (img->orvndim == 1)
        Tamofpp(img, r, c, v);
    else
        Tamofpp3d(img, f, r, c, v);
}

// Frame outermost, column innermost; a directly walked side advances through
// its array in the same order. Values read through the accessors pass
// through single precision.
template <class From, class To>
void convertGeneric(TAMOHDR *src, TAMOHDR *dst, const Extent &e) {
    const From *from = nullptr;
    To *to = nullptr;
    if constexpr (!std::is_void_v<From>) from = tamo::pixels<From>(src);
    if constexpr (!std::is_void_v<To>) to = tamo::pixels<To>(dst);
    for (int f = 0; f < e.frames; ++f)
        for (int r = 0; r < e.rows; ++r)
            for (int c = 0; c < e.cols; ++c) {
                double v;
                if constexpr (std::is_void_v<From>)
                    v = static_cast<float>(readGeneric(src, f, r, c));
                else
                    v = *from++;
                if constexpr (std::is_void_v<To>)
                    writeGeneric(dst, f, r, c, v);
                else
                    *to++ = convertValue<To>(v);
            }
}

int rowsOf(TAMOHDR *img) {
    return tamo::hasValidMagic(img) && img->orvndim < 2 ? 1 : Tamodimen(img, 1);
}

int framesOf(TAMOHDR *img) {
    return img->orvndim == 3 ? Tamodimen(img, 2) : 1;
}

// Channels of an interleaved type, 1 for a planar one; 0 when the accessors
// do not handle the type at all.
int channelsOf(const TAMOHDR *img) {
    int channels = 0;
    tamo::visitScalar(img->dtype,
                      [&](auto, tamo::ElemLayout layout) { channels = layout.channels; });
    return channels;
}

}  // namespace

extern "C" {

int Tamoany2any(TAMOHDR *src, TAMOHDR *dst) {
    tamo::DepthGuard depth;
    Extent s{1, 0, 0}, d{1, 0, 0};
    if (tamo::hasValidMagic(src) && src->orvndim == 3) {
        s.frames = Tamodimen(src, 2);
        d.frames = Tamodimen(dst, 2);
    }
    s.rows = rowsOf(src);
    d.rows = rowsOf(dst);
    s.cols = Tamodimen(src, 0);
    d.cols = Tamodimen(dst, 0);
    if (!tamo::hasValidMagic(src) || !tamo::hasValidMagic(dst)) return -1;
    if (s.rows != d.rows || s.cols != d.cols || s.frames != d.frames) return -1;

    if (src->dtype == TAMO_64CMP || dst->dtype == TAMO_64CMP) return -2;
    if (src->dtype == TAMO_32CMP || dst->dtype == TAMO_32CMP) return -2;
    // "struct" and unknown codes have no pixel values to convert.
    const int srcChannels = channelsOf(src);
    const int dstChannels = channelsOf(dst);
    if (srcChannels == 0 || dstChannels == 0) return -2;
    // An interleaved record needs a frame per channel to hold every pixel.
    if (srcChannels > 1 && framesOf(src) < srcChannels) return -1;
    if (dstChannels > 1 && framesOf(dst) < dstChannels) return -1;
    if (!src->orvptr || !dst->orvptr) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("Tamoany2any: No data associated with header! (field 'orvptr' = 0)");
        return -1;
    }

    withElementType(classify(src), [&](auto fromTag) {
        withElementType(classify(dst), [&](auto toTag) {
            using From = typename decltype(fromTag)::type;
            using To = typename decltype(toTag)::type;
            if constexpr (std::is_void_v<From> || std::is_void_v<To>)
                convertGeneric<From, To>(src, dst, s);
            else
                convertLinear<From, To>(src, dst, s.count());
        });
    });
    return 0;
}

}  // extern "C"
