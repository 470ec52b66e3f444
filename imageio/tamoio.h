/* tamoio.h -- the own image file format (reader, writer) and file naming of
 * the Tamo image library. C linkage; compiles as C and as C++.
 *
 * File layout: a 256-byte file header, orvndim dimension records of 64 bytes,
 * "." padding to the next multiple of 512 bytes, the pixel data (raw, or one
 * zlib stream when orvcomp is non-zero), "." padding computed from the
 * uncompressed byte count n as (512 - n % 512) % 512, and an optional tail
 * padded with "." to whole 512-byte blocks. Multi-byte numbers are in the
 * writer's byte order, recorded in the endian byte at offset 148; the block
 * size field (512, or 131072 when read in the other order) tells the reader
 * whether to swap the header.
 *
 * The reader never ends the process: a damaged or hostile file is refused
 * with a message on standard error and a null (or non-zero) result.
 */
#ifndef TAMOIO_H
#define TAMOIO_H

#include <stdio.h>

#include "tamolib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the file header in bytes. */
#define TAMO_DISK_HEADER 256

/* ---- Reader ------------------------------------------------------------- */

/* Reads one whole file from `fp` (positioned at the file's start).
 *   tail: non-zero also reads the tail into orvtail/orvtlen.
 * Returns a new record holding the data in the running processor's byte
 * order (orvendian = TamoCPUEndian, orvfmt = 16), or null after a message
 * ("TamoRdImg: failed to get ... from file"); Tamoerr then tells why
 * (TAMO_EHEADER bad header, TAMO_EIO I/O error or damaged data, TAMO_ENOMEM
 * no memory, TAMO_ETYPE unknown or unconvertible type, TAMO_EDIMS bad number
 * of dimensions, TAMO_ELIMIT larger than the limit for reading). */
TAMOHDR *TamoRdImg(FILE *fp, int tail);

/* Reads the 256-byte file header into a new zero-filled 512-byte record,
 * swapped to the running processor's order when the file has the other one
 * (see swaphdr). Sets TamoCPUEndian. Validates what later stages rely on:
 * block size, number of dimensions (1..3), bytes per datum against the type,
 * tail length. Returns the record, or null after a message (Tamoerr TAMO_EIO
 * short read, TAMO_EHEADER unrecognised block size or inconsistent fields,
 * TAMO_EDIMS bad number of dimensions, TAMO_ETYPE unknown type in a file of
 * the other order, TAMO_ENOMEM no memory). A non-zero Tamoerr with a non-null result marks an
 * inconsistency that was reported as a warning. */
TAMOHDR *TamoRdHdr(FILE *fp);

/* Reads the dimension records that follow the header and skips the header
 * padding; swaps dlen/dnum for a file of the other order; builds orvdln.
 *   hdr: record from TamoRdHdr; fp: stream positioned after the header.
 * Returns hdr, or null (hdr is left to the caller) when an argument is null,
 * the records are short (Tamoerr TAMO_EIO), a length is zero or negative, or
 * the byte count overflows (Tamoerr TAMO_EHEADER), or the image is larger
 * than the limit for reading (Tamoerr TAMO_ELIMIT, see Tamochkread). */
TAMOHDR *TamoRdDims(TAMOHDR *hdr, FILE *fp);

/* Reads the pixel data into a new orvptr and swaps it for a file of the
 * other order. Compressed data are inflated as one stream until zlib
 * reports its end, whatever its length; then the data padding is skipped so
 * that the stream is positioned at the tail.
 * Returns 0 done; TAMO_ENULL null argument; TAMO_EIO read error, short,
 * corrupt or wrong-sized data; TAMO_ENOMEM no memory; -1 the data cannot be
 * converted to this processor's order (type "struct" or unknown). On
 * TAMO_EIO and TAMO_ENOMEM the record has been released; on -1 it has not. */
int TamoRdData(TAMOHDR *hdr, FILE *fp);

/* Reads orvtlen tail bytes into a new orvtail and skips the tail padding.
 * Returns 0 done, -1 no tail (orvtlen 0), TAMO_ENULL null argument,
 * TAMO_ENOMEM no memory, TAMO_EIO read error (orvtail null and orvtlen 0
 * afterwards). */
int TamoRdTail(TAMOHDR *hdr, FILE *fp);

/* Swaps dlen and dnum of every dimension record of hdr. Returns hdr. */
TAMOHDR *TamoConvertDims(TAMOHDR *hdr);

/* Reverses the bytes of every element of img's pixel data in place (each
 * half of a complex element separately, each channel of a multi-channel
 * element separately), using hdr's type and element count (hdr and img are
 * normally the same record). Returns 0 done, -1 when the type is "struct"
 * or unknown (after the messages on standard output; nothing is changed). */
int TamoConvertData(TAMOHDR *hdr, TAMOHDR *img);

/* Swaps the numeric header fields of a record read from a file of the other
 * byte order, drops its tail (orvtlen 0, orvtail null), and checks orvdt and
 * dtype against the type table (reports with Tamoerr TAMO_EHEADER on a mismatch
 * or an unknown name; a known name is made canonical). */
void swaphdr(TAMOHDR *hdr);

/* Reverses n bytes in place. */
void swapcopy(char *bytes, int n);
/* Writes the n bytes of src in reverse order to dst (not overlapping). */
void swapcopy2(char *dst, const char *src, int n);

/* ---- Writer ------------------------------------------------------------- */

/* Writes img to fp in the file layout above, in this processor's order.
 *   tail: non-zero also writes the record's tail (its last byte set to 0).
 * orvtlen receives the tail length written (0 without a tail).
 * Returns -1 done; 0 failure after a message: Tamoerr TAMO_ENULL null
 * record, TAMO_EHEADER bad magic or no pixel data, TAMO_ECOMPBUF no memory
 * for compression, TAMO_EIO write error (what was written stays in the
 * stream), or as left by Tamosiz. */
int TamoWrImg(TAMOHDR *img, FILE *fp, int tail);

/* Builds the 256-byte file header of img (pointer places and offset 24
 * zero) in a buffer of the calling thread and returns it. */
char *CopyorvHdrtoDiskHeader(TAMOHDR *img);

/* ---- Diagnostics -------------------------------------------------------- */

/* Prints the header fields of hdr to standard output, one a line. */
void printhdr(TAMOHDR *hdr);

/* ---- File naming and opening -------------------------------------------- */

/* Reads the image in the named file (TamoGetImg with the prompt
 * "Enter name of TAMO image file to read in: " and no tail). Returns a new
 * record or null. */
TAMOHDR *Tamopin(const char *name);

/* Writes img to the named file (TamoPutImg with the prompt
 * "Enter name of file to write TAMO image to: " and no tail).
 * Returns -1 done, 0 failure. */
int Tamopot(TAMOHDR *img, const char *name);

/* Opens the named file (see TamoOpen, 5 tries at a terminal) and reads the
 * image in it.
 *   name: file name, "-" for standard input, "" to be prompted for one;
 *   prompt: text shown when asking for a name; tail: as for TamoRdImg.
 * Returns a new record, or null after a message. */
TAMOHDR *TamoGetImg(const char *name, const char *prompt, int tail);

/* Writes img to the named file ("-" for standard output). Records of fewer
 * than 512 pixels are written uncompressed (orvcomp cleared, with a note on
 * standard output). Records with the magic "ORV" are refused.
 * Returns -1 done; 0 failure after a message (Tamoerr TAMO_ENULL null
 * record, TAMO_EHEADER bad magic or no data, or as left by TamoOpen and
 * TamoWrImg). */
int TamoPutImg(TAMOHDR *img, const char *name, const char *prompt, int tail);

/* Opens a file by name.
 *   name: expanded with TamoPrsFN; "-" gives standard output for a mode
 *         containing "w", else standard input for a mode containing "r";
 *         null goes straight to the standard streams; an empty name is read
 *         from standard input after the prompt, only when standard input is
 *         a terminal and a prompt is given;
 *   mode: C stream mode such as "rb" or "wb";
 *   prompt: text for the interactive case, or null;
 *   tries: retries allowed at a terminal (0 elsewhere).
 * Returns the open stream, or null after a message (Tamoerr TAMO_EOPEN cannot
 * open, TAMO_ENAME bad name or failed expansion). */
FILE *TamoOpen(const char *name, const char *mode, const char *prompt, int tries);

/* Closes a stream from TamoOpen. Returns 0 for the three standard streams
 * (left open), -1 for null, otherwise fclose's result. */
int TamoClose(FILE *fp);

/* Expands environment variables in name (TamoEnv), then a leading "~" or
 * "~user" followed by "/" or the end as a shell does: "~" becomes HOME (or
 * the running user's home directory), "~user" that user's home directory; an
 * unknown user's name is left as written.
 *   status: set to 0 done, 1 bad or unknown variable, 2 no memory.
 * Returns a new text (release with Tamocfree) or null after a message
 * (Tamoerr TAMO_ENAME or TAMO_ENOMEM). */
char *TamoPrsFN(const char *name, int *status);

/* Replaces $NAME (letters and digits) and ${NAME} (letters, digits and
 * "._/+=-_[]?~:*,%#") by the variable's value.
 *   status: 0 done, 1 unclosed brace, unknown variable or result longer than
 *           511 characters, 2 no memory.
 * Returns a new text (release with Tamocfree) or null after a message. */
char *TamoEnv(const char *name, int *status);

/* Reads a name from fp after showing prompt on standard error (only when
 * standard input is a terminal). Leading blanks and control characters are
 * skipped; the next unescaped one ends the name; a backslash makes the next
 * character literal. Returns the expanded name (TamoPrsFN; release with
 * Tamocfree) or null at end of input, on a name of 255 characters or more,
 * or when the expansion fails. */
char *TamoGetFN(const char *prompt, FILE *fp);

/* Reads the next character of fp, applying a backslash escape.
 *   kind: set to 1 plain character, 2 escaped character, 0 end of input.
 * Returns the character, or -1 at end of input (Tamoerr TAMO_EIO, after
 * a message). */
int NextChar(FILE *fp, int *kind);

/* Returns a pointer to the first character of text not in set (to the
 * terminating NUL when all are). */
char *strspan(const char *text, const char *set);

#ifdef __cplusplus
}
#endif

#endif /* TAMOIO_H */
