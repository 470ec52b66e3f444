// Texts for the library's error numbers.
#include "tamolib.h"

namespace {

struct ErrorText {
    int32_t code;
    const char *text;
};

// Largest number first: an or-combination of numbers takes the text of the
// largest one it holds.
constexpr ErrorText kTexts[] = {
    {TAMO_ELIMIT, "it is larger than the largest image allowed for reading"},
    {TAMO_EDIMS, "its number of dimensions is not 1, 2 or 3"},
    {TAMO_EBOUNDS, "the window or slice lies outside the image"},
    {TAMO_ETYPE, "its data type is unknown"},
    {TAMO_ENOMEM, "there is not enough memory"},
    {TAMO_EIO, "an input or output error occurred, or the file ended early"},
    {TAMO_ENAME, "its name is bad or cannot be expanded"},
    {TAMO_EOPEN, "it cannot be opened"},
    {TAMO_EHEADER, "it is not an image of this format, or its header is damaged"},
    {TAMO_ECOMPBUF, "there is no memory for compressing its data"},
    {TAMO_ENULL, "no image or dimension list was given"},
};

}  // namespace

extern "C" const char *Tamoerrtext(int32_t code) {
    if (code == TAMO_ENODIMS) return "its number of dimensions is not positive";
    if (code <= 0) return nullptr;
    for (const ErrorText &entry : kTexts)
        if (code == entry.code) return entry.text;
    for (const ErrorText &entry : kTexts)
        if ((code & entry.code) == entry.code) return entry.text;
    return nullptr;
}
