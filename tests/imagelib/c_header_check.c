/* Compiled as C: the public headers must stay valid C. */
#include "tamo.h"

int tamo_c_header_check(void) {
    TAMOHDR hdr;
    hdr.orvndim = 1;
    return hdr.orvndim + (int)sizeof(TAMODIM) + TAMO_32FLT;
}
