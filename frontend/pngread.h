// PNG files read with libpng straight into a record's planes, at the
// file's own depth: 16-bit files keep their values 0..65535.
#pragma once

#include <string>

#include "statistics.h"
#include "tamo++.h"

namespace frontend {

// Reads the PNG file `path` into a 3-D record of `type` with the three
// frames red, green and blue, as recordFromPicture makes of the toolkit's
// picture of an 8-bit file: a grey picture gives three equal frames, a
// palette its colours, 1-, 2- and 4-bit grey levels are spread over 0..255,
// and alpha is ignored. 16-bit files give their values 0..65535: in `type`
// where it holds them, otherwise (a narrower type, or one with channels of
// its own) in a "u16bit" record, for the caller to convert as it converts
// any other image.
//
// Returns false, with nothing changed, when `path` cannot be opened or does
// not begin with PNG's signature, and when the picture is better read by the
// toolkit: "struct", or an 8-bit file for a type with channels of its own.
// Otherwise true: `record` holds the picture, or is null and `reason` says
// why it cannot be read (damaged or cut short, larger than the limit on
// reading, no memory). The record is checked against that limit before
// anything is allocated for it, and the decoding needs a few rows besides
// it. When `stats` is given, it receives the statistics of the three frames,
// gathered in the same pass.
bool readPng(const std::string &path, const TAMODTYPE &type, tamo::RecordPtr &record,
             std::string &reason, FrameStats *stats = nullptr);

}  // namespace frontend
