/* A program built against the installed library: creates a record, writes
 * it to the file named by its argument, reads it back and compares. */
#include <stdio.h>
#include <string.h>

#include "tamo.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: roundtrip FILE\n");
        return 2;
    }
    int dims[] = {2, 5, 4};
    TAMOHDR *img = Tamocreate("16bit", dims, 11, 0);
    if (!img) return 1;
    short *px = (short *)img->orvptr;
    for (int i = 0; i < 20; ++i) px[i] = (short)(i * 37 - 300);
    img->orvcomp = 1;

    FILE *out = fopen(argv[1], "wb");
    if (!out || TamoWrImg(img, out, 0) != -1) return 1;
    fclose(out);
    FILE *in = fopen(argv[1], "rb");
    TAMOHDR *back = in ? TamoRdImg(in, 0) : NULL;
    if (in) fclose(in);
    int same = back && back->orvndim == 2 && back->orvdim[0].dlen == 5 &&
               back->orvdim[1].dlen == 4 && strcmp(back->orvdt, "16bit") == 0 &&
               memcmp(back->orvptr, img->orvptr, 40) == 0;
    if (back) Tamofree(back, 7);
    Tamofree(img, 7);
    if (!same) {
        fprintf(stderr, "roundtrip: the record read back differs\n");
        return 1;
    }
    printf("roundtrip: ok\n");
    return 0;
}
