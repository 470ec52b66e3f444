// TIFF files with their exact values, through libtiff: what scientific
// cameras and microscopes write (16-bit and float images, multi-page stacks).
// (Named apart from libtiff's own tiffio.h, which this folder would shadow.)
#pragma once

#include <string>

#include "tamo++.h"

namespace frontend {

// True for names whose suffix (after the last dot) is "tif" or "tiff", in
// any letter case.
bool isTiffName(const std::string &path);

// Reads the TIFF file `path` into a new record of the own type that holds
// its values exactly: 8- and 16-bit integers as "u8bit", "8bit", "u16bit",
// "16bit", signed 32-bit as "32bit", unsigned 32-bit as "32bit" when every
// value fits and "64flt" otherwise, 32- and 64-bit floats as "float" and
// "64flt". One grey page gives a 2-D record; several grey pages give one
// frame each; an RGB page gives three frames R, G, B (further samples, such
// as alpha, are left out). Every page must have the sizes and the sample
// layout of the first. Strips or tiles, contiguous or planar samples, either
// byte order and every compression libtiff decodes are read.
//
// Returns null with the reason in `reason` for a file that cannot be opened,
// is damaged, or holds what no own type represents; the sizes a file claims
// are checked against what it can hold and against the read limit
// (Tamochkread) before anything is allocated, and libtiff's own messages end
// up in `reason` rather than on standard error. Pages are walked once, in
// order (a chain that loops ends where it loops). The bytes decoded stay
// within a small multiple of the record plus a few MB: a file whose samples
// left out or whose tiles beyond its pages would need more is refused.
// The record's compression flag tells whether the file's pixels were.
tamo::RecordPtr readTiff(const std::string &path, std::string &reason);

// Writes img to `path` as TIFF, replacing an existing file only by a
// complete one: each plane (frame) a grey page of the record's own type,
// Deflate-compressed when `deflate` is set. Types written: "u8bit", "8bit",
// "u16bit", "16bit", "32bit", "float", "64flt". Returns an empty text when
// the file is complete, else the reason.
std::string writeTiff(const TAMOHDR *img, const std::string &path, bool deflate);

}  // namespace frontend
