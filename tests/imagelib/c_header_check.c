/* Compiled as C: the public headers must stay valid C. */
#include "tamo.h"

int tamo_c_header_check(void) {
    TAMOHDR hdr;
    hdr.orvndim = 1;
    return hdr.orvndim + (int)sizeof(TAMODIM) + TAMO_32FLT;
}

/* The error names and the text function are part of the C API as well. */
int tamo_c_error_names(void) {
    return TAMO_EHEADER + TAMO_FREE_ALL + (Tamoerrtext(TAMO_ENOMEM) != 0);
}

/* So are the operators' result codes and their text function. */
int tamo_c_result_codes(void) {
    return TAMO_DOG_EROWS + TAMO_CCL_ELABELS + (Tamoopstext("flgmag", TAMO_DOG_EROWS) != 0);
}
