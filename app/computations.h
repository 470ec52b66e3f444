// The image computations behind the control panel's commands: the library
// calls between a command's dialogs and the storing of its result. Nothing
// here touches a widget, a slot or the application object (results come back
// through the arguments), so a computation can run away from the GUI thread.
#pragma once

#include <memory>
#include <string>

#include "tamolib.h"

namespace computations {

// Owner of a record made by a computation until a slot takes it.
struct ReleaseRecord {
    void operator()(TAMOHDR *img) const {
        if (img) Tamofree(img, 7);
    }
};
using Record = std::unique_ptr<TAMOHDR, ReleaseRecord>;

// Result of a computation whose output record could not be created.
constexpr int kNoRecord = -1000;

// Data types a computation may read value by value: the one-value-per-pixel
// real types ("8bit", "u8bit", "16bit", "u16bit", "32bit", "float",
// "double"). Complex, interleaved and "struct" records are not among them.
bool isPlanarReal(const TAMOHDR *img);
bool isFloat(const TAMOHDR *img);
bool isComplex(const TAMOHDR *img);

// Columns, rows and frames of a record (rows and frames of records with fewer
// dimensions count as 1).
int columnsOf(const TAMOHDR *img);
int rowsOf(const TAMOHDR *img);
int framesOf(const TAMOHDR *img);

// A new record of img's type and dimensions holding the same pixels, or null
// after the library's report.
Record copyOf(const TAMOHDR *img);
// Copies the pixels of from into to, a record of the same type and
// dimensions (one made by copyOf).
void copyPixels(const TAMOHDR *from, TAMOHDR *to);

// A new zero-filled "float" record of like's columns and rows with three
// frames (a colour picture), or null after the library's report.
Record threeFrameFloat(const TAMOHDR *like);

// The dispatcher's operations that are one library call on the input and the
// prepared output: the derivative filters and blur, curvature, Harris, the
// pointwise functions, Laplacian, quadratic variation, absolute value,
// histogram equalisation, maxima marking, gradient magnitude and direction,
// the complex components, the HoG descriptor and the plane copy. value is the
// parameter the user gave (sigma or scale; unused by the others). Returns the
// operator's result code; an unknown code does nothing and returns 0.
int unaryOperation(int code, TAMOHDR *in, TAMOHDR *out, float value);
// The library operator whose result unaryOperation returns for `code`, or
// null when there is none.
const char *unaryOperator(int code);

// Colour to grey; *out may be replaced by the operator (flcolor2gray).
int colourToGrey(TAMOHDR *in, TAMOHDR **out);

struct CclParameters {
    float threshold = 2.0f;
    float lo = 10.0f;
    float hi = 255.0f;
    int eraseSmall = 1;
    int eraseLarge = 0;
    std::string areasPath;  // local 8-bit encoding; empty: no areas file
};
// Connected-component labels of in written to out; *labelCount receives the
// number of labels made. Returns cclC4_3's result.
int connectedComponents(TAMOHDR *in, TAMOHDR *out, const CclParameters &p, int *labelCount);

// Pseudo-colour picture of one plane of in (frame `frame` of a
// three-dimensional image) into out, a "float" record of in's columns and
// rows with three frames. Maps 0..5 stretch the plane to 0..255 and apply the
// colour table; map 6 colours labels 0..labelCount-1 at random, where a
// labelCount of 0 or less means "no labelling yet": the largest value of the
// plane plus one; *labelsUsed, when given, receives the count map 6 used.
// Returns 0, or the colour-table operator's code.
int pseudoColour(TAMOHDR *in, TAMOHDR *out, int map, int frame, int labelCount,
                 int *labelsUsed = nullptr);

// Two-dimensional Fourier transform of in's first plane into the first plane
// of out, a "32cmp" record of in's columns and rows. direction -1 forward (a
// real input gives the real parts, a complex input is taken as it is), +1
// inverse (in must be "32cmp"). Returns Tamocfft2d's result; on failure the
// plane of out is zero.
int fourierTransform(TAMOHDR *in, TAMOHDR *out, int direction);

// The first plane of in (as floats) into each of frames 0..2 of out, a
// "float" record of in's columns and rows with three frames. Returns 0.
int copyIntoThreeFrames(TAMOHDR *in, TAMOHDR *out);

// A new descriptor image (columns / 8, rows / 8, 9 frames) of in into result.
// Returns HoGdescriptor's result, or kNoRecord.
int hogDescriptor(TAMOHDR *in, Record &result);

// A new picture (columns x 9, rows x 9) of the descriptor in into result.
// Returns ShowHoG's result, or kNoRecord.
int hogPicture(TAMOHDR *in, Record &result);

// A new "float" record of the w x h pixels from column c0, row r0 of in (of
// its first three frames when in is three-dimensional) into result. The
// caller has checked that the rectangle lies inside in. Returns 0 or
// kNoRecord.
int crop(TAMOHDR *in, int c0, int r0, int w, int h, Record &result);

// A new record of in's type, `rows` x `cols` (with in's frames), resampled
// from in with interpolation mode 0, 1 or 2, into result. Returns
// Tamozoomupdown's result, or kNoRecord.
int resize(TAMOHDR *in, int rows, int cols, int mode, Record &result);

// Add (22), Sub (25), Mul (26) or Div (27) of a and b displaced by (dr, dc)
// into a new record of a's type large enough for both, into result. Returns
// the operator's result, or kNoRecord.
int shiftedArithmetic(int code, TAMOHDR *a, TAMOHDR *b, int dr, int dc, Record &result);

// Sum (22), difference (25), product (26) or quotient (27) of two "32cmp"
// records of the same size into a new "32cmp" record, into result. Returns
// 0, the operator's result, or kNoRecord.
int complexArithmetic(int code, TAMOHDR *a, TAMOHDR *b, Record &result);

// Correlation of the image a with the template b into out.
int correlate(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out);

struct PconParameters {
    float sigma = 2.0f;
    float r = 0.03f;
    float b = 4.0f;
    float t1 = 1.0f;
    float t2 = 0.005f;
    float dlt = 0.99f;
};
// Piecewise-constant segmentation: the estimate is changed in place towards
// the data. Returns pconsub's result.
int pcon(TAMOHDR *estimate, TAMOHDR *data, const PconParameters &p);

}  // namespace computations
