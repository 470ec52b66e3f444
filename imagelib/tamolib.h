/* tamolib.h -- the image record, data types, errors, pixel access, conversion
 * and random numbers of the Tamo image library.
 *
 * C linkage; this header compiles as C and as C++.
 *
 * Conventions: records are returned by pointer (null on failure); a failing
 * function sets Tamoerr and reports a message starting with its own name on
 * standard error. Whoever creates a record releases it with Tamofree(img, 7).
 * Dimension indices are 0-based (0 columns, 1 rows, 2 frames); pixel
 * arguments are given as (frame, row, column).
 */
#ifndef TAMOLIB_H
#define TAMOLIB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Block size of the record layout and of the file format. */
#define TAMO_BLOCK 512
/* Most dimensions a record can have. */
#define TAMO_MAXDIM 3

/* One dimension record: 64 bytes, the same in memory and on disk. */
typedef struct TAMODIM {
    int32_t dlen;      /* number of elements along this dimension */
    int32_t dnum;      /* 1-based dimension number: 1 columns, 2 rows, 3 frames */
    char ddir[8];      /* direction text, "fwd" */
    char dunits[8];    /* units text, "pixels" */
    float dscale;      /* 1.0 */
    float doffset;     /* 0.0 */
    char drsv[32];     /* reserved, zero */
} TAMODIM;

/* The image record. One zero-filled 512-byte block holds these fields in
 * this order, followed directly by the dimension records. */
typedef struct TAMOHDR {
    char orvmagic[4];     /* "TAM" (written here) or "ORV" */
    int32_t orvbsize;     /* block size, 512 */
    int32_t orvhblk;      /* header block number, 0 */
    int32_t orvdblk;      /* data block number: blocks taken by the header */
    int32_t orvtblk;      /* tail block number; negative until written */
    int32_t orvtlen;      /* tail length in bytes */
    char *orvtail;        /* tail bytes, owned by the record, or null */
    char orvclass[8];     /* "Orv is" */
    char orvctype[8];     /* "great!" */
    char orvuser[32];     /* creating user */
    char orvdate[32];     /* creation date (Tamotim text) */
    char orvprog[32];     /* creating program, "Tamocreate" */
    char orvpver[8];      /* program version, "V7.0" */
    signed char orvendian; /* 1 big-endian, 2 little-endian */
    char orvfmt;          /* format byte, 16 */
    char orvrsv[38];      /* reserved, zero */
    char orvunits[16];    /* pixel units, "pixels" */
    float orvscale;       /* data scale, 1.0 */
    float orvoffset;      /* data offset, 0.0 */
    char orvdt[16];       /* canonical data type name */
    int32_t dtype;        /* data type code */
    int32_t orvbpd;       /* bytes per datum */
    int32_t orvndim;      /* number of dimensions, 1 to 3 */
    char *orvptr;         /* pixel data, owned by the record, or null */
    int32_t *orvdln;      /* cumulative dimension products, orvndim+1 entries */
    void *orvuptr;        /* user pointer, never followed by the library */
    char orvrsv2[3];      /* reserved, zero */
    char orvcomp;         /* non-zero: compress pixel data when written */
    TAMODIM orvdim[TAMO_MAXDIM]; /* dimension records in dimension-number order */
} TAMOHDR;

/* One entry of the data type table. An entry with code 0 is an alias of the
 * next entry with a non-zero code. */
typedef struct TAMODTYPE {
    const char *name;
    int32_t size;  /* element size in bytes */
    uint32_t code;
} TAMODTYPE;

/* Data type codes. */
#define TAMO_8BIT 257
#define TAMO_U8BIT 1025
#define TAMO_16BIT 258
#define TAMO_U16BIT 1026
#define TAMO_32BIT 260
#define TAMO_32FLT 516
#define TAMO_64FLT 520
#define TAMO_32CMP 4612
#define TAMO_64CMP 4616
#define TAMO_SU8BIT3 1041
#define TAMO_S8BIT3 273
#define TAMO_SU8BIT4 1057
#define TAMO_S8BIT4 289
#define TAMO_SU16BIT3 1042
#define TAMO_S16BIT3 274
#define TAMO_SU16BIT4 1058
#define TAMO_S16BIT4 290
#define TAMO_S32BIT3 276
#define TAMO_S32BIT4 292
#define TAMO_S32FLT3 532
#define TAMO_S32FLT4 548
#define TAMO_S64FLT3 25
#define TAMO_S64FLT4 41
#define TAMO_STRUCT 8192

/* Error numbers left in Tamoerr; the library sets Tamoerr only with these
 * names, and the comments below name them. Tamofree combines its numbers
 * with bitwise or; every other function assigns one. The values are fixed:
 * they are process exit statuses and callers compare them. */
#define TAMO_ENODIMS (-1)    /* Tamosiz: number of dimensions not positive */
#define TAMO_ENULL 8         /* null pointer passed (header, dimension array) */
#define TAMO_ECOMPBUF 9      /* no memory for the writer's compression buffer */
#define TAMO_EHEADER 24      /* bad or damaged header or type fields */
#define TAMO_EOPEN 64        /* a file cannot be opened */
#define TAMO_ENAME 256       /* bad file name or failed name expansion */
#define TAMO_EIO 448         /* input/output error or unexpected end of file */
#define TAMO_ENOMEM 512      /* out of memory */
#define TAMO_ETYPE 1024      /* unknown or unsupported data type */
#define TAMO_EBOUNDS 4096    /* window or slice outside the image */
#define TAMO_EDIMS 8192      /* unsupported number of dimensions or bad index */
#define TAMO_ELIMIT 16384    /* image larger than the limit for reading (Tamochkread) */

/* Flags of Tamocreate: TAMO_CREATE_PIXELS allocates zero-filled pixel
 * storage. TAMO_CREATE_ZEROED (11) is the value callers pass; its bits 1 and
 * 8 are accepted and ignored. */
#define TAMO_CREATE_PIXELS 2
#define TAMO_CREATE_ZEROED 11

/* Flags of Tamofree: the pixel data, the tail, or everything (the header and
 * orvdln are released in every case). */
#define TAMO_FREE_PIXELS 2
#define TAMO_FREE_TAIL 4
#define TAMO_FREE_ALL 7

/* ---- Globals ------------------------------------------------------------ */

/* The error number and the call depth belong to the thread that calls the
 * library: threads may run operators on different records at once, each
 * seeing its own failure. (Operators never touch them from their worker
 * threads.) The switches below them are shared settings. */
#if defined(__GNUC__)
/* The same storage in C and C++, reached directly (C++'s thread_local would
 * go through wrapper functions meant for dynamic initialisation). */
#define TAMO_THREAD_LOCAL __thread
#elif defined(__cplusplus)
#define TAMO_THREAD_LOCAL thread_local
#else
#define TAMO_THREAD_LOCAL _Thread_local
#endif

extern TAMODTYPE Tamo_Dtyp[];  /* the 54-entry type table */
extern int Tamo_Ntyp;          /* number of entries searched, 54 */

extern TAMO_THREAD_LOCAL int32_t Tamoerr;   /* error number of the last failure */
extern int32_t TAMOSLV;        /* severity: 1 silent, 8 report, 64 report and end */
extern int32_t TAMOCHK;        /* non-zero: accessors validate the header */
extern int32_t TAMOTRACE;      /* non-zero: warnings add the error numbers */
extern TAMO_THREAD_LOCAL int32_t TAMODEPTH; /* nesting depth of library calls */
extern int32_t TAMOPROMPT;     /* reset by Tamoinit */
extern char TAMOERF[];         /* reset by Tamoinit */
extern int32_t TamoCPUEndian;  /* 1 big-endian, 2 little-endian, 0 unknown yet */

/* Allocation functions used by Tamoalc, orvrealloc and Tamocfree
 * (calloc, realloc and free by default). */
extern void *(*Tamo_alcptr)(size_t, size_t);
extern void *(*Tamo_realcptr)(void *, size_t);
extern void (*Tamo_freeptr)(void *);

/* Every place where the library ends the process calls this pointer with the
 * exit status (default: the C library's exit). A host may install a handler
 * that does not return to the library, e.g. one that throws or longjmps. */
extern void (*Tamo_exitptr)(int);

/* Progress of long operations. When set, a long operator calls it a bounded
 * number of times per run with the work done so far and the total (in units
 * of the operator's choosing); a non-zero return asks the operation to stop,
 * and the operator then returns TAMO_CANCELLED with its output untouched or
 * released. Default: null (no calls, no cost). The pointer is read from the
 * thread that called the operator. */
extern int (*Tamo_progressptr)(int64_t done, int64_t total);

/* Returned by an operator stopped through Tamo_progressptr. */
#define TAMO_CANCELLED (-100)

/* ---- Record life cycle ---------------------------------------------------- */

/* Creates a record of type `type` (name or alias). dims[0] is the number of
 * dimensions n (1..3), dims[1..n] the lengths, columns first. Flag bit 2
 * allocates zero-filled pixel storage. `size` is the element size for
 * "struct" only. Returns the record, or null (Tamoerr TAMO_ENULL, TAMO_EDIMS,
 * TAMO_ETYPE or TAMO_ENOMEM) after a message. Negative lengths, and lengths
 * whose byte count would not fit an int, are refused with TAMO_ENOMEM before
 * anything is allocated. */
TAMOHDR *Tamocreate(const char *type, const int *dims, unsigned flags, int size);

/* Releases a record: flag bit 2 the pixels, bit 4 the tail; orvdln and the
 * header always. Null: Tamoerr |= TAMO_ENULL. Bad header: Tamoerr |= TAMO_EHEADER.
 * Returns 0. */
int Tamofree(TAMOHDR *img, unsigned flags);

/* Builds the cumulative products array for orvdln: entry 0 is 1, entry i the
 * product of the first i lengths. Null when Tamosiz fails. */
int32_t *Tamo_ao(TAMOHDR *img);

/* ---- Queries ------------------------------------------------------------ */

/* k >= 0: length of dimension k (0-based); -1: element count; -2: byte count.
 * Returns 0 on error (Tamoerr TAMO_ENULL, TAMO_EHEADER or TAMO_EDIMS) after
 * a message. */
int Tamodimen(TAMOHDR *img, int k);

/* New array {n, len1, ..., lenn}, lengths in dimension-number order; release
 * with Tamocfree. Null on error: Tamoerr TAMO_EHEADER bad header, TAMO_ENODIMS no
 * dimensions, TAMO_EDIMS more than 3 dimensions (damaged header),
 * TAMO_ENOMEM no memory. */
int *Tamosiz(TAMOHDR *img);

/* Type table look-up by exact name; aliases resolve to their canonical entry.
 * Null (Tamoerr TAMO_ETYPE) when not found. */
TAMODTYPE *Tamotype(const char *name);

/* The code of Tamotype(name), or 0. */
int Tamontype(const char *name);

/* -1 when hdr is non-null with magic "TAM" or "ORV"; otherwise 0 after a
 * report carrying msg. */
int Tamochkhd(TAMOHDR *hdr, const char *msg);

/* The current local time as the C library's 26-byte text (in a buffer of
 * the calling thread). */
char *Tamotim(int ignored);

/* Number of columns and of rows (1 for a one-dimensional record); 0 when
 * Tamosiz fails. */
int Tamonc(TAMOHDR *img);
int Tamonr(TAMOHDR *img);

/* ---- Memory ------------------------------------------------------------- */

/* n zero-filled bytes, or null (Tamoerr TAMO_ENOMEM) after a message;
 * n < 0 is refused the same way. */
void *Tamoalc(int n);
/* Resizes p to n bytes, or null (Tamoerr TAMO_ENOMEM) after a message;
 * n < 0 is refused the same way. */
void *orvrealloc(void *p, long n);
/* Releases memory from Tamoalc, orvrealloc or Tamosiz. */
void Tamocfree(void *p);

/* ---- Set-up ------------------------------------------------------------- */

/* Restores the default switches and allocation functions. */
void Tamoinit(void);
/* Sets Tamo_Ntyp to 54. */
void Tamoinitt(void);

/* ---- Error reporting ---------------------------------------------------- */

/* Prints msg (unless TAMOSLV is 1) and, with TAMOTRACE, new error numbers.
 * Returns 0. */
int Tamowarn(const char *msg);
/* Tamowarn, then ends the process with status Tamoerr when TAMOSLV is 64 and
 * this is the outermost library call. Returns 0. */
int Tamodie(const char *msg);
/* severity 1: nothing; otherwise prints msg; severity 64 ends the process
 * with status Tamoerr. */
void Tamoext(int severity, const char *msg);

/* The text for an error number of Tamoerr, phrased about the image or file
 * that failed so that it can follow "because" or a colon: for instance
 * TAMO_ENOMEM gives "there is not enough memory". A value of Tamofree's that
 * combines several numbers gives the text of the largest one. Returns a
 * static text, or null for 0 and for values that are not error numbers of
 * the library. */
const char *Tamoerrtext(int32_t code);

/* ---- Limit on reading --------------------------------------------------- */

/* The largest image, in bytes of pixel data, that a file reader may create.
 * 0 (the default) takes the limit from the environment: TAMO_MAX_IMAGE_MB
 * megabytes (2^20 bytes) when that variable holds a positive whole number,
 * otherwise the largest record the library can hold (INT_MAX bytes) or half
 * the physical memory, whichever is less. A host with a setting of its own
 * (the workbench) stores it here in bytes. */
extern int64_t Tamo_maxreadbytes;

/* The limit in effect, in bytes, never above what one record can hold. */
int64_t Tamomaxread(void);

/* Checks, before anything is allocated, that a reader may create an image of
 * `bytes` bytes of pixel data (negative: more than 64 bits can count).
 * Returns 0 when it may; otherwise -1 with Tamoerr = TAMO_ELIMIT, and
 * Tamolimittext() says how much the image would need and which limit stops
 * it. Prints nothing. */
int Tamochkread(int64_t bytes);

/* The reason of the last refusal of Tamochkread on the calling thread, to
 * follow "because" or a colon, for instance "it would need 76294 MB, more
 * than the 2048 MB one image record can hold"; "" when there was none. */
const char *Tamolimittext(void);

/* ---- Pixel access ------------------------------------------------------- */

/* Two-dimensional accessors: (row, col) of the first frame. Types 8bit,
 * 16bit, 32bit, 32flt, 64flt, u8bit, u16bit, 32cmp, 64cmp (complex: real
 * part). Readers return 0 on error; writers return -1 when done, 0 on error. */
double Tamofgp(TAMOHDR *img, int row, int col);
int Tamofpp(TAMOHDR *img, int row, int col, double value);
int Tamoigp(TAMOHDR *img, int row, int col);
int Tamoipp(TAMOHDR *img, int row, int col, int value);

/* Three-dimensional accessors: (frame, row, col); all types above and the
 * interleaved "S" types, where frame selects the channel. An interleaved
 * element that lies outside the pixel data (a record with fewer frames than
 * channels) is not touched: 0 is returned with Tamoerr TAMO_EBOUNDS. */
double Tamofgp3d(TAMOHDR *img, int frame, int row, int col);
int Tamofpp3d(TAMOHDR *img, int frame, int row, int col, double value);
int Tamoigp3d(TAMOHDR *img, int frame, int row, int col);
int Tamoipp3d(TAMOHDR *img, int frame, int row, int col, int value);

/* ---- Sub-images (new records of the source's type; caller owns) ---------- */

/* Rows r1..r2, columns c1..c2 of a 2-D record. Null on error (Tamoerr
 * TAMO_EDIMS wrong dimension count, TAMO_EBOUNDS outside the record). */
TAMOHDR *Tamoexwin(TAMOHDR *img, int r1, int c1, int r2, int c2);
/* Frames f1..f2, rows r1..r2, columns c1..c2 of a 3-D record; lengths of 1
 * are dropped from the result's dimensions. */
TAMOHDR *Tamoexwin3d(TAMOHDR *img, int f1, int r1, int c1, int f2, int r2, int c2);
/* One column ("c", "col", "column"), row ("r", "row") or frame ("f",
 * "frame"). May return img itself after a warning (see the messages). */
TAMOHDR *Tamoslice(TAMOHDR *img, const char *name, int index);

/* ---- Conversion --------------------------------------------------------- */

/* Copies the pixel values of src into dst (same size, any types). Values of
 * types other than "32flt", "u8bit" and "16bit" pass through single
 * precision; integer destinations take truncated values with their high
 * bits dropped. Returns 0 when done; -1 when the sizes differ, an
 * interleaved record has fewer frames than channels, or a record has no
 * pixel data; -2 when either is complex or "struct". */
int Tamoany2any(TAMOHDR *src, TAMOHDR *dst);

/* ---- Random numbers (48-bit linear congruential generator) -------------- */

double Tamodrand48(void);
double Tamoerand48(unsigned short state[3]);
long Tamolrand48(void);
long Tamonrand48(unsigned short state[3]);
long Tamomrand48(void);
long Tamojrand48(unsigned short state[3]);
void Tamosrand48(long seed);
unsigned short *Tamoseed48(unsigned short seed[3]);
void Tamolcong48(unsigned short param[7]);

#ifdef __cplusplus
}
#endif

#endif /* TAMOLIB_H */
