// The table of pixel data types. Aliases (code 0) come directly before the
// canonical entry they stand for; the codes are stored in files.
#include "imagelib_internal.h"

extern "C" {

TAMODTYPE Tamo_Dtyp[] = {
    {"byte", 1, 0},
    {"char", 1, 0},
    {"i1", 1, 0},
    {"I1", 1, 0},
    {"8bit", 1, TAMO_8BIT},
    {"ubyte", 1, 0},
    {"uchar", 1, 0},
    {"u8bit", 1, TAMO_U8BIT},
    {"short", 2, 0},
    {"i2", 2, 0},
    {"I2", 2, 0},
    {"16bit", 2, TAMO_16BIT},
    {"ushort", 2, 0},
    {"u16bit", 2, TAMO_U16BIT},
    {"int", 4, 0},
    {"long", 4, 0},
    {"i4", 4, 0},
    {"I4", 4, 0},
    {"32bit", 4, TAMO_32BIT},
    {"float", 4, 0},
    {"real", 4, 0},
    {"real*4", 4, 0},
    {"r4", 4, 0},
    {"R4", 4, 0},
    {"32flt", 4, TAMO_32FLT},
    {"double", 8, 0},
    {"real*8", 8, 0},
    {"r8", 8, 0},
    {"R8", 8, 0},
    {"64flt", 8, TAMO_64FLT},
    {"complex", 8, 0},
    {"c4", 8, 0},
    {"C4", 8, 0},
    {"complex*4", 8, 0},
    {"32cmp", 8, TAMO_32CMP},
    {"c8", 16, 0},
    {"C8", 16, 0},
    {"complex*8", 16, 0},
    {"64cmp", 16, TAMO_64CMP},
    {"Su8bit3", 1, TAMO_SU8BIT3},
    {"S8bit3", 1, TAMO_S8BIT3},
    {"Su8bit4", 1, TAMO_SU8BIT4},
    {"S8bit4", 1, TAMO_S8BIT4},
    {"Su16bit3", 2, TAMO_SU16BIT3},
    {"S16bit3", 2, TAMO_S16BIT3},
    {"Su16bit4", 2, TAMO_SU16BIT4},
    {"S16bit4", 2, TAMO_S16BIT4},
    {"S32bit3", 4, TAMO_S32BIT3},
    {"S32bit4", 4, TAMO_S32BIT4},
    {"S32flt3", 4, TAMO_S32FLT3},
    {"S32flt4", 4, TAMO_S32FLT4},
    {"S64flt3", 8, TAMO_S64FLT3},
    {"S64flt4", 8, TAMO_S64FLT4},
    {"struct", 1, TAMO_STRUCT},
};

int Tamo_Ntyp = 54;

void Tamoinitt(void) {
    Tamo_Ntyp = 54;
}

}  // extern "C"

static_assert(sizeof(Tamo_Dtyp) / sizeof(Tamo_Dtyp[0]) == 54, "the type table has 54 entries");

namespace tamo {

int typeTableSize() {
    return static_cast<int>(sizeof(Tamo_Dtyp) / sizeof(Tamo_Dtyp[0]));
}

}  // namespace tamo
