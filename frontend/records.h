// Records as the workbench and the tamo tool both handle them above the
// library: new records shaped like others, float copies, the own-format name
// test and the reason given when the library refuses a file.
#pragma once

#include <QString>

#include <string>

#include "tamo++.h"

namespace frontend {

// True for a whole record of 1 to 3 dimensions with pixel data and at least
// one element: what the conversions here can read.
bool hasPixels(const TAMOHDR *img);

// A new zero-filled record of `type` with the dimension list of `like` (its
// first `maxDims` dimensions at most). A "struct" record gets like's element
// size. Null, after the library's report, when it cannot be made.
tamo::RecordPtr createLike(TAMOHDR *like, const char *type, int maxDims = TAMO_MAXDIM);

// A new "float" record with the dimensions and values of `record`:
// Tamoany2any for the types it converts, the real parts for complex types.
// Null for a null or damaged record, one without pixels or without any
// element, a "struct" record, or when memory runs out.
tamo::RecordPtr floatCopy(TAMOHDR *record);

// True for names ending in TAMO, Tamo, tamo, orv, ORV, tam, Tam or TAM:
// only the end of the whole name is compared, letter case as written, no
// dot needed. This is how names that are read are classified.
bool isOwnFormatName(const std::string &path);
bool isOwnFormatName(const QString &path);

// Why the library could not read a file, for a message such as "Cannot read
// NAME: REASON": Tamoerrtext's text for `code`, put in terms of a file for a
// bad header and for damaged data, or "the image library refused it (error
// N)" for a number without a text.
QString readFailureReason(int code);

// Writes img in the own format to the file `path` (local 8-bit encoding)
// through a tamo::AtomicFile, so that an existing file is replaced only by a
// complete one. Images of fewer than 512 elements are stored uncompressed, as
// the library's named-file writer does; the header fields the writer sets are
// put back afterwards. Returns an empty text when the file is complete, else
// the reason (the system's text where there is one).
std::string writeOwnFormatFile(TAMOHDR *img, const std::string &path);

}  // namespace frontend
