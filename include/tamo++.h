// tamo++.h -- C++ helpers for programs that call the Tamo image library:
// owners that release records and library arrays on every path, element
// counts and dimension lengths read straight from a record, and one typed
// dispatch from a data type code to its element type.
//
// For C++ callers above the library (the workbench, the tamo tool, tests and
// benchmarks); the library uses it too. Everything here is inline apart from
// tamo::typeTableSize, which the library defines. The C API itself is in
// tamo.h, which this header includes.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "tamo.h"

// Hot loops are compiled for AVX2 (TAMO_TARGET_CLONES) or for AVX-512 and
// AVX2 (TAMO_TARGET_CLONES_AVX512) and for plain x86-64; the loader picks one
// at run time (GCC only). Building with -DTAMO_PORTABLE=ON (the definition
// TAMO_PORTABLE) keeps only the plain x86-64 code, to measure or test it.
// The build compiles with -ffp-contract=off, so that every variant rounds
// each product and sum as the plain code does.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(TAMO_PORTABLE)
#define TAMO_TARGET_CLONES __attribute__((target_clones("avx2", "default")))
#define TAMO_TARGET_CLONES_AVX512 __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define TAMO_TARGET_CLONES
#define TAMO_TARGET_CLONES_AVX512
#endif

namespace tamo {

// ---- Ownership -------------------------------------------------------------

// Releases a scratch record on every path out of a function.
struct RecordDeleter {
    void operator()(TAMOHDR *img) const {
        if (img) Tamofree(img, 7);
    }
};
using RecordPtr = std::unique_ptr<TAMOHDR, RecordDeleter>;

// Owner of memory from Tamoalc / Tamosiz.
struct CFreeDeleter {
    void operator()(void *p) const {
        if (p) Tamocfree(p);
    }
};
template <class T>
using CArray = std::unique_ptr<T, CFreeDeleter>;

// ---- Data types --------------------------------------------------------------

enum class TypeCode : uint32_t {
    I8 = TAMO_8BIT,
    U8 = TAMO_U8BIT,
    I16 = TAMO_16BIT,
    U16 = TAMO_U16BIT,
    I32 = TAMO_32BIT,
    F32 = TAMO_32FLT,
    F64 = TAMO_64FLT,
    C32 = TAMO_32CMP,
    C64 = TAMO_64CMP,
    SU8_3 = TAMO_SU8BIT3,
    S8_3 = TAMO_S8BIT3,
    SU8_4 = TAMO_SU8BIT4,
    S8_4 = TAMO_S8BIT4,
    SU16_3 = TAMO_SU16BIT3,
    S16_3 = TAMO_S16BIT3,
    SU16_4 = TAMO_SU16BIT4,
    S16_4 = TAMO_S16BIT4,
    S32_3 = TAMO_S32BIT3,
    S32_4 = TAMO_S32BIT4,
    SF32_3 = TAMO_S32FLT3,
    SF32_4 = TAMO_S32FLT4,
    SF64_3 = TAMO_S64FLT3,
    SF64_4 = TAMO_S64FLT4,
    Struct = TAMO_STRUCT,
};

template <class T>
struct TypeTag {
    using type = T;
};

// Layout of one element: its scalar type is passed to the visitor; complex
// elements hold two scalars (real part first), interleaved types `channels`.
struct ElemLayout {
    int channels;  // 1, 3 or 4
    bool complex;
};

// Calls f(TypeTag<Scalar>{}, ElemLayout) for every code that has a numeric
// scalar, and returns true; returns false for "struct" and unknown codes.
// The switch has no default, so a code added to TypeCode and left out here
// fails to compile (-Werror=switch).
template <class F>
bool visitScalar(int32_t code, F &&f) {
    // clang-format off
    switch (static_cast<TypeCode>(code)) {
        case TypeCode::I8: f(TypeTag<int8_t>{}, ElemLayout{1, false}); return true;
        case TypeCode::U8: f(TypeTag<uint8_t>{}, ElemLayout{1, false}); return true;
        case TypeCode::I16: f(TypeTag<int16_t>{}, ElemLayout{1, false}); return true;
        case TypeCode::U16: f(TypeTag<uint16_t>{}, ElemLayout{1, false}); return true;
        case TypeCode::I32: f(TypeTag<int32_t>{}, ElemLayout{1, false}); return true;
        case TypeCode::F32: f(TypeTag<float>{}, ElemLayout{1, false}); return true;
        case TypeCode::F64: f(TypeTag<double>{}, ElemLayout{1, false}); return true;
        case TypeCode::C32: f(TypeTag<float>{}, ElemLayout{1, true}); return true;
        case TypeCode::C64: f(TypeTag<double>{}, ElemLayout{1, true}); return true;
        case TypeCode::SU8_3: f(TypeTag<uint8_t>{}, ElemLayout{3, false}); return true;
        case TypeCode::S8_3: f(TypeTag<int8_t>{}, ElemLayout{3, false}); return true;
        case TypeCode::SU8_4: f(TypeTag<uint8_t>{}, ElemLayout{4, false}); return true;
        case TypeCode::S8_4: f(TypeTag<int8_t>{}, ElemLayout{4, false}); return true;
        case TypeCode::SU16_3: f(TypeTag<uint16_t>{}, ElemLayout{3, false}); return true;
        case TypeCode::S16_3: f(TypeTag<int16_t>{}, ElemLayout{3, false}); return true;
        case TypeCode::SU16_4: f(TypeTag<uint16_t>{}, ElemLayout{4, false}); return true;
        case TypeCode::S16_4: f(TypeTag<int16_t>{}, ElemLayout{4, false}); return true;
        case TypeCode::S32_3: f(TypeTag<int32_t>{}, ElemLayout{3, false}); return true;
        case TypeCode::S32_4: f(TypeTag<int32_t>{}, ElemLayout{4, false}); return true;
        case TypeCode::SF32_3: f(TypeTag<float>{}, ElemLayout{3, false}); return true;
        case TypeCode::SF32_4: f(TypeTag<float>{}, ElemLayout{4, false}); return true;
        case TypeCode::SF64_3: f(TypeTag<double>{}, ElemLayout{3, false}); return true;
        case TypeCode::SF64_4: f(TypeTag<double>{}, ElemLayout{4, false}); return true;
        case TypeCode::Struct: return false;
    }
    // clang-format on
    return false;
}

// Number of entries in Tamo_Dtyp (Tamo_Ntyp may be set lower by a caller).
int typeTableSize();

// Largest and smallest of n floats, folded into top and bottom as
// "if (v > top) top = v" and "if (v < bottom) bottom = v" would: NaN takes no
// part, and starting values beyond all the data are kept. Running extremes
// per lane keep the loop in vector registers; folding them at the end can
// change only the sign of a zero extreme.
void valueRange(const float *v, long long n, float &top, float &bottom);

// ---- Small record helpers ------------------------------------------------------

// True when the header's magic is "TAM" or "ORV" (no report).
inline bool hasValidMagic(const TAMOHDR *img) {
    return img &&
           (std::strcmp(img->orvmagic, "TAM") == 0 || std::strcmp(img->orvmagic, "ORV") == 0);
}

// Element count of a record from its dimension records (no checks, no report).
inline long long elementCount(const TAMOHDR *img) {
    long long n = 1;
    for (int i = 0; i < img->orvndim && i < TAMO_MAXDIM; ++i) n *= img->orvdim[i].dlen;
    return n;
}

// Length of dimension k (0-based) found by its dimension number; 0 if the
// record has no such dimension. No checks, no report.
inline int dimLength(const TAMOHDR *img, int k) {
    for (int i = 0; i < img->orvndim && i < TAMO_MAXDIM; ++i)
        if (img->orvdim[i].dnum == k + 1) return img->orvdim[i].dlen;
    return 0;
}
inline int columnsOf(const TAMOHDR *img) {
    return dimLength(img, 0);
}
// Rows and frames of records with fewer dimensions count as 1.
inline int rowsOf(const TAMOHDR *img) {
    return img->orvndim >= 2 ? dimLength(img, 1) : 1;
}
inline int framesOf(const TAMOHDR *img) {
    return img->orvndim >= 3 ? dimLength(img, 2) : 1;
}

// Typed view of the pixel array.
template <class T>
inline T *pixels(TAMOHDR *img) {
    return reinterpret_cast<T *>(img->orvptr);
}
template <class T>
inline const T *pixels(const TAMOHDR *img) {
    return reinterpret_cast<const T *>(img->orvptr);
}

// Truncates toward zero to a 32-bit integer. NaN and values outside the
// int32 range give INT32_MIN (what the processor's own conversion yields)
// instead of undefined behaviour.
inline int32_t truncToInt32(double v) {
    if (v > -2147483649.0 && v < 2147483648.0) return static_cast<int32_t>(v);
    return INT32_MIN;
}

}  // namespace tamo
