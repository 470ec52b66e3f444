// NumPy array files (.npy, format versions 1.0, 2.0 and 3.0): how Python
// users hand arrays over. Our own small reader and writer, free of Qt, so
// that a fuzz target can take the reader alone.
#pragma once

#include <cstdio>
#include <string>

#include "tamo++.h"

namespace frontend {

// True for names whose suffix (after the last dot) is "npy", in any case.
bool isNpyName(const std::string &path);

// Reads a 2-D array (rows, columns) into a 2-D record and a 3-D array
// (frames, rows, columns) into a 3-D record, in C or Fortran order, either
// byte order. Data types: bool and uint8 as "u8bit", int8 "8bit", uint16
// "u16bit", int16 "16bit", int32 "32bit", float32 "float", float64 "64flt",
// complex64 "32cmp", complex128 "64cmp"; uint32, int64 and uint64 as
// "32bit" when every value fits, else as "64flt" when every value is within
// 2^53 (where doubles hold integers exactly), else refused.
//
// The file is untrusted: the header's length, the shape and the data type
// are checked, and the stream must hold all the data, before anything of
// the array's size is allocated. Returns null with the reason in `reason`
// for any other array (other dimensions, object or structured data types,
// empty arrays) and for damaged files. `fp` must be seekable (a file or a
// memory stream); it is read from its start.
tamo::RecordPtr readNpy(FILE *fp, std::string &reason);
tamo::RecordPtr readNpy(const std::string &path, std::string &reason);

// Writes img as a version 1.0 .npy file in C order and this machine's byte
// order, replacing an existing file only by a complete one: a 1-D record as
// one row, a 2-D one as (rows, columns), a 3-D one as (frames, rows,
// columns). Types written: those read above, minus bool. Returns an empty
// text when the file is complete, else the reason.
std::string writeNpy(const TAMOHDR *img, const std::string &path);

}  // namespace frontend
