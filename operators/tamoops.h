/* tamoops.h -- image operators of the Tamo image library: pointwise and
 * arithmetic, filtering, measures, segmentation, transforms, display scaling,
 * colour maps, descriptors and resampling. C linkage; compiles as C and C++.
 *
 * Conventions: inputs first, output last; the caller creates the output record
 * with the right type and size unless stated otherwise. Operators return 0 on
 * success and one of their named result codes (below; Tamoopstext gives the
 * reason) on failure, after a diagnostic line on standard output.
 *
 * Threads: operators whose cost grows with the image (Gaussian filtering and
 * the measures built on it, the pointwise and arithmetic operators, the
 * Fourier transform, correlation, window-mode histogram equalisation,
 * resampling, display scaling, HoG) split large images over threads. Results
 * are bit-identical for every thread count. The environment variable
 * TAMO_THREADS caps the count (1 runs everything on the calling thread; read
 * at each call); the default is the number of processors. Arguments are
 * checked, and every message printed, on the calling thread.
 *
 * Progress: the long operators (pconsub, flcorrelate and corr1frame,
 * flHistogramEq in window mode, cclC4_3, Tamocfft2d, Tamozoomupdown) call
 * Tamo_progressptr, when it is set, at most about 100 times per call and
 * only from the calling thread. When it returns non-zero they return
 * TAMO_CANCELLED; what each leaves behind is stated with the operator. While
 * a hook is set, operators that write in place keep a copy of the pixels
 * they may change (one record's worth of memory) so that they can put them
 * back. */
#ifndef TAMOOPS_H
#define TAMOOPS_H

#include "tamolib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ----
 * An operator's failure codes belong to that operator: the same number means
 * different things for different operators, so each code is named after the
 * operator (or family of operators) that returns it, and Tamoopstext takes
 * the operator's name with the code. The comments of the operators below
 * name the codes they return; the values are fixed, as callers compare them.
 * Every operator with progress may also return TAMO_CANCELLED (tamolib.h). */

/* The pointwise and arithmetic operators, the differential measures, flHarris,
 * flmarkmax and intcp. */
#define TAMO_OP_ETYPE (-1)  /* an image does not have the type needed */
#define TAMO_OP_ESIZE (-2)  /* the images differ in size (the output is too small) */
#define TAMO_OP_ENOMEM (-3) /* no memory for the scratch images */

/* flln: some values were not positive; the image is complete, those values
 * are 0. The same value as TAMO_OP_ESIZE, which flln also returns. */
#define TAMO_LN_NONPOSITIVE (-2)
/* flsqrt: stopped at a negative value. */
#define TAMO_SQRT_NEGATIVE 1
/* flexp: a scale of 0 or NaN. */
#define TAMO_EXP_ESCALE (-3)

/* flcolor2gray. */
#define TAMO_GRAY_ENOOUT (-1)   /* the "float" replacement output cannot be created */
#define TAMO_GRAY_EINPUT (-3)   /* the input is neither 2-D nor 3-D with three frames */
#define TAMO_GRAY_EOUTDIMS (-4) /* the output is missing or not 2-D */
#define TAMO_GRAY_EROWS (-5)    /* the input and output differ in rows */
#define TAMO_GRAY_ECOLS (-6)    /* the input is missing or differs from the output in columns */

/* fladdi, flsubi, flmuli, fldivi. */
#define TAMO_SHIFT_EOUTSIZE (-1) /* the output is missing or of the wrong rows or columns */
#define TAMO_SHIFT_EDIMS (-2)    /* the inputs differ in their number of dimensions */

/* flDoG; the measures, flHarris and flmarkmax pass its refusals on. */
#define TAMO_DOG_EORDER (-1)  /* order above 3 */
#define TAMO_DOG_EMIXED1 (-2) /* direction 2 (mixed) with order 0 or 1 */
#define TAMO_DOG_EMIXED3 (-3) /* direction 2 with order 3 (ends the process) */
#define TAMO_DOG_EPAIR (-4)   /* any other impossible order and direction (ends the process) */
#define TAMO_DOG_EROWS (-5)   /* fewer rows than the kernel needs, 4K+2 */
#define TAMO_DOG_ETYPE (-6)   /* the input is missing or not "float" */
#define TAMO_DOG_ESIGMA (-7)  /* sigma is NaN, or 0 with a derivative */
#define TAMO_DOG_EOUT (-8)    /* the output is missing, not numeric or too small */

/* flHistogramEq. */
#define TAMO_HISTEQ_EWINDOW (-1) /* the window is not smaller than the image */
#define TAMO_HISTEQ_EINPUT (-2)  /* the input is not "float", or whole-image mode finds it flat */
#define TAMO_HISTEQ_EOUT (-3)    /* the output is missing or smaller than the input */
#define TAMO_HISTEQ_ESHARE (-4)  /* a share left 0..255 (ends the process) */

/* flcorrelate, corr1frame. */
#define TAMO_CORR_ETYPE (-2) /* the image or the template is not "float" */
#define TAMO_CORR_EOUT (-3)  /* the output is too small, or colour images lack three frames */

/* pconsub. */
#define TAMO_PCON_ETYPE (-12)     /* f or g is not "float" */
#define TAMO_PCON_ESCHEDULE (-13) /* the temperature schedule would not end */
#define TAMO_PCON_ESIZE (-14)     /* f and g differ in rows or columns (ends the process) */
#define TAMO_PCON_EFLAT (-15)     /* the update is zero everywhere (ends the process) */
#define TAMO_PCON_ESIGMA (-16)    /* sigma is not above 0 */
#define TAMO_PCON_ERANGE (-17)    /* the estimate would leave the range of floats */

/* cclC4_3. */
#define TAMO_CCL_ELABELS 1   /* more than 499999 labels would be needed */
#define TAMO_CCL_EAREAS (-3) /* the areas file cannot be written */
#define TAMO_CCL_EIMAGE (-4) /* the images are missing or do not fit, or memory runs out */

/* Tamocfft2d. */
#define TAMO_FFT_ESQUARE (-1) /* the image is not square */
#define TAMO_FFT_EPOWER2 (-2) /* the side is not a power of two */
#define TAMO_FFT_ETYPE (-3)   /* the image is missing or not "32cmp" */

/* Tamoc2mag, Tamoc2phase, Tamoc2real, Tamoc2imag. */
#define TAMO_CPX_ESIZE (-1) /* a record is missing, or they differ in rows or columns */
#define TAMO_CPX_ETYPE (-2) /* the input is not "32cmp", or the output cannot take the values */

/* Tamovidscale (returned only when the exit handler returns). */
#define TAMO_VIDSCALE_EARGS (-1)

/* Tamocolormap. */
#define TAMO_CMAP_EOUTTYPE (-1) /* the output is not "u8bit" */
#define TAMO_CMAP_EINDIMS (-2)  /* the input is missing or not 2-D */
#define TAMO_CMAP_EOUTDIMS (-3) /* the output is not 3-D with at least three frames */
#define TAMO_CMAP_ESIZE (-4)    /* the images differ in columns or rows */
#define TAMO_CMAP_EMAP (-5)     /* the map number is outside 0..6 */

/* HoGdescriptor, HoGdescriptor2D, HoGdescriptorCLR, maxgrad, ShowHoG. */
#define TAMO_HOG_EFIT (-1) /* the images are missing or do not fit (see each operator) */

/* Tamozoomupdown. */
#define TAMO_ZOOM_EARGS (-1)

/* The reason for result `code` of the operator named `op` (its function
 * name, e.g. "flgmag"), phrased to follow a colon: flgmag with
 * TAMO_DOG_EROWS gives "the image has fewer rows than the kernel needs".
 * TAMO_CANCELLED gives a text for every operator. Returns a static text, or
 * null for 0, for a code the operator does not return and for a name that
 * is not an operator's. */
const char *Tamoopstext(const char *op, int code);

/* ---- Pointwise and arithmetic ---- */

/* Type rules used below: "float" means the image is "32flt"; "float or
 * complex" means all images are "32flt" or all are "32cmp". Size rule: every
 * dimension length of the first image equals the same dimension of the other.
 * Unless stated otherwise an operator returns 0 on success, TAMO_OP_ETYPE
 * when a type rule is violated and TAMO_OP_ESIZE when the size rule is
 * violated; on either the output is untouched. "Returns 0, type, size"
 * below stands for these three. */

/* out = |in| (sign bit cleared: -0 gives +0, NaN keeps its payload).
 * Both "float". Returns 0, type, size. */
int flabsolute(TAMOHDR *in, TAMOHDR *out);

/* out = in + c. Both "float". Returns 0, type, size. */
int fladds(TAMOHDR *in, TAMOHDR *out, float c);

/* out = in * c. Both "float". Returns 0, type, size. */
int flmults(TAMOHDR *in, TAMOHDR *out, float c);

/* out = a + b; "32cmp" images add real and imaginary parts. All "float" or
 * all "32cmp". Checks the sizes of b and out before the
 * types. Returns 0, type, size. */
int fladdv(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out);

/* out = a * b; the complex product for "32cmp". Returns 0, type, size. */
int flmultv(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out);

/* out = a / b (IEEE division: x/0 gives infinity or NaN); the complex
 * quotient for "32cmp". Returns 0, type, size. */
int fldivv(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out);

/* out = atan2(a, b) with a as the ordinate, in radians; for "32cmp" applied
 * to the real parts and to the imaginary parts separately.
 * Returns 0, type, size. */
int flatan2(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out);

/* out = exp(in / scale) evaluated in double precision, 255 wherever the
 * stored value would exceed 255. Both "float". Returns 0, type, size, or
 * TAMO_EXP_ESCALE for a scale of 0 or NaN ("flexp: scale must be a number
 * other than 0"; 0 / 0 would be NaN), out untouched. */
int flexp(TAMOHDR *in, TAMOHDR *out, float scale);

/* out = ln(in) where in > 0, else 0. Both "float". Returns 0;
 * TAMO_LN_NONPOSITIVE when any input value was not positive (every value is
 * still written); type; size (the same value as TAMO_LN_NONPOSITIVE; output
 * untouched). */
int flln(TAMOHDR *in, TAMOHDR *out);

/* out = sqrt(in), in storage order. At the first negative value prints
 * "!! flsgrt error : Negative Value for Square Root !!" on stderr, stops
 * (later output values keep what they held) and returns TAMO_SQRT_NEGATIVE.
 * Both "float". Returns 0, TAMO_SQRT_NEGATIVE, type, size. */
int flsqrt(TAMOHDR *in, TAMOHDR *out);

/* out = max(in) - in; prints "flinv: max = %f min=%f" on stdout first.
 * Both "float". Returns 0, type, size. */
int flinv(TAMOHDR *in, TAMOHDR *out);

/* out = in, word for word. Both "float" or both "32cmp".
 * Returns 0, type, size. */
int flcp(TAMOHDR *in, TAMOHDR *out);

/* 1 when any value of the "float" image is below 0, else 0 (also for a null
 * or invalid record). */
int ifneg(TAMOHDR *img);

/* A new record with in's type, dimensions and values (the caller releases
 * it with Tamofree(img, 7)); null when in is not a valid record or memory
 * runs out. */
TAMOHDR *flcrcopy(TAMOHDR *in);

/* Copies the first plane of a "32bit" image into the first plane of a
 * "32bit" output; a three-dimensional output gets the plane in its frames 0,
 * 1 and 2 (as many of them as it has). A type other than "32bit" prints
 * "intcp type error %s and %s" on stdout and ends the process with status
 * -1 through Tamo_exitptr (should the handler return: TAMO_OP_ETYPE).
 * Returns 0, TAMO_OP_ETYPE, or TAMO_OP_ESIZE when the outputs' columns or
 * rows differ from the input's (nothing copied). */
int intcp(TAMOHDR *in, TAMOHDR *out);

/* Grey image 0.21 R + 0.72 G + 0.07 B of a colour image (three frames R, G,
 * B); a two-dimensional input gives its own plane. *outp must be a
 * two-dimensional image of the input's columns and rows; when it is not
 * "float" it is released and replaced by a new "float" image of its size,
 * stored through outp. Returns 0; TAMO_GRAY_EOUTDIMS output not
 * two-dimensional; TAMO_GRAY_ECOLS columns differ; TAMO_GRAY_EROWS rows
 * differ; TAMO_GRAY_EINPUT input neither two-dimensional nor
 * three-dimensional with at least three frames (after two lines on stdout);
 * TAMO_GRAY_ENOOUT the replacement output could not be created (*outp
 * unchanged). */
int flcolor2gray(TAMOHDR *in, TAMOHDR **outp);

/* Shifted arithmetic: b displaced by (dr, dc) rows and columns relative to a
 * (positive: b further down/right), combined into out, which must have
 * max(rows(a) + |dr|, rows(b)) rows and max(columns(a) + |dc|, columns(b))
 * columns. A position outside an image (or a frame it lacks) counts as 0.
 * Three-dimensional images combine frames 0, 1 and 2 (those the output has).
 * Any pixel types (values combined in single precision).
 * Returns 0; TAMO_SHIFT_EDIMS when a and b differ in their number of
 * dimensions (after "both input images must be either both grayscale or
 * both color" on stdout); TAMO_SHIFT_EOUTSIZE when out has the wrong number
 * of rows or columns. */
int fladdi(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc); /* a + b */
int flsubi(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc); /* a - b */
int flmuli(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc); /* a * b */
/* a / b, and 255 wherever b is exactly 0 (including outside b). */
int fldivi(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc);

/* ---- Derivative-of-Gaussian filtering ---- */

/* Correlates each frame of a "float" image with a sampled Gaussian or one of
 * its partial derivatives, over edge-replicated borders. The kernel is
 * (2K+1) x (2K+1) with K = (int)(3|sigma|) + 1 and is not normalised.
 *   order 0..3: derivative order; direction 0: along x (columns), 1: along y
 *   (rows), 2: mixed x-y (order 2 only), 3: Laplacian of Gaussian (order 0
 *   only). Order 0 with direction 0 or 1 is the blur.
 *   sigma: standard deviation in pixels; a negative value means |sigma|, and
 *   with direction 3 also squares every kernel value. Sigma 0 with order 0
 *   copies the input.
 * out needs at least the input's columns, rows and frames; values are
 * written as by Tamofpp3d, so any numeric output type is accepted.
 * Returns 0, or after a line on stdout:
 *   TAMO_DOG_EORDER order > 3; TAMO_DOG_EMIXED1 direction 2 with order 0 or
 *   1; TAMO_DOG_ESIGMA sigma is NaN, 0 with order > 0, or of a size between
 *   0 and 0.01; TAMO_DOG_EROWS fewer than 4K+2 rows; TAMO_DOG_ETYPE input
 *   not "float"; TAMO_DOG_EOUT out missing, not numeric or smaller than the
 *   input.
 * Direction 2 with order 3 (status TAMO_DOG_EMIXED3) and any other
 * impossible pair (status TAMO_DOG_EPAIR) end the process through
 * Tamo_exitptr; should the handler return, the status is returned. The
 * output is untouched on every failure. */
int flDoG(TAMOHDR *in, TAMOHDR *out, int order, int direction, float sigma);

/* A new two-dimensional "float" image of frame `frame` (from 0) of the
 * "float" image in, with pr replicated rows above and below and pc
 * replicated columns left and right (corners carry the corner pixels). The
 * caller releases it with Tamofree(img, 7). Null (after a message on stderr)
 * when in is invalid or not "float", pr or pc is negative, the frame does
 * not exist, or the padded image would not fit a record (2^31 - 1 bytes of
 * pixels). */
TAMOHDR *padme1(TAMOHDR *in, int pr, int pc, int frame);

/* ---- Differential measures ---- */

/* Local measures from Gaussian derivatives at one sigma (Lx, Ly, Lxx, Lyy,
 * Lxy as computed by flDoG). Unless stated otherwise input and output are
 * "float" of equal sizes and three-dimensional images are processed frame by
 * frame. Returns 0, type, size (output untouched), TAMO_OP_ENOMEM when
 * memory for the scratch images runs out, or the status with which flDoG
 * refuses a derivative (TAMO_DOG_EROWS too few rows for sigma,
 * TAMO_DOG_ESIGMA sigma 0, NaN or below 0.01 in size), after flDoG's
 * message and with the output untouched. */

/* Isophote curvature (Lxx Ly^2 - 2 Lx Ly Lxy + Lyy Lx^2) /
 * ((Lx^2 + Ly^2)^(3/2) + 0.01). */
int flcurv(TAMOHDR *in, TAMOHDR *out, float sigma);

/* sigma >= 0: Lxx + Lyy; sigma < 0: Lxx^2 + Lyy^2 at |sigma|. */
int flLaplace(TAMOHDR *in, TAMOHDR *out, float sigma);

/* sigma^2 (Lxx^2 + Lyy^2 + Lxy^2); prints a line for each derivative that
 * flDoG refused. */
int flqvar(TAMOHDR *in, TAMOHDR *out, float sigma);

/* Gradient magnitude sqrt(Lx^2 + Ly^2). */
int flgmag(TAMOHDR *in, TAMOHDR *out, float sigma);

/* Gradient direction atan2(Ly, Lx), radians in (-pi, pi]. */
int flgdir(TAMOHDR *in, TAMOHDR *out, float sigma);

/* Harris response b a - d^2 - 0.07 (a + b)^2 with a, b, d the 3 x 3 means of
 * Lx^2, Ly^2 and Lx Ly, for every pixel but the first and last row and column
 * of each frame (those keep their values). No type check: a non-"float"
 * output is written through Tamofpp3d. Returns 0; TAMO_OP_ESIZE when in is
 * missing or out has fewer columns, rows or frames than in; TAMO_OP_ENOMEM
 * out of memory; or flDoG's status when it refuses the derivatives (nothing
 * written in each case). */
int flHarris(TAMOHDR *in, TAMOHDR *out, float sigma);

/* Colour picture (frames red, green, blue) of the input stretched to 0..255
 * (after a blur at sigma unless sigma is 0), with every strict local maximum
 * of the 8-neighbourhood painted (255, 0, 0). Border rows and columns are not
 * written. A three-dimensional input shows the maxima of its last frame.
 * Returns 0; TAMO_OP_ESIZE when in is missing or not 2-D or 3-D, or out
 * lacks its columns and rows or three frames; TAMO_OP_ENOMEM out of memory;
 * or flDoG's status when it refuses the blur (nothing written in each
 * case). */
int flmarkmax(TAMOHDR *in, TAMOHDR *out, float sigma);

/* ---- Histogram equalisation ---- */

/* Equalises the grey-level histogram of the "float" image in into out.
 *   N <= 0: whole-image mode. One 256-bin histogram of all pixels (of all
 *     three frames of a colour image, i.e. three dimensions with exactly
 *     three frames; any other image is taken as its first plane); every
 *     pixel becomes 255 times the cumulative share of its bin, so the result
 *     spans about 0..255. Colour mode prints the bin counts ("h[%d]= %f") and
 *     the cumulative shares ("p[%d]= %f") on stdout. out may be of any type
 *     written by Tamofpp (Tamofpp3d in colour mode).
 *   N > 0: window mode. Each pixel (of each frame in colour mode) becomes 255
 *     times the cumulative share of its value among the (2N+1) x (2N+1)
 *     window around it (shifted inwards at the borders, clipped where the
 *     image is narrower), 0 where the window is flat.
 * Before either mode every negative pixel on the outer rows and columns is
 * reported as "row %d col %d" on stdout.
 * out needs at least the input's columns and rows (and three frames in
 * colour mode).
 * Returns 0, or after a line on stdout:
 *   TAMO_HISTEQ_EWINDOW N is not smaller than both the columns and the rows;
 *   TAMO_HISTEQ_EINPUT the input is not "float" ("flHistogramEq: input must
 *      be float"), or whole-image mode finds the image flat (maximum =
 *      minimum);
 *   TAMO_HISTEQ_EOUT out is missing or smaller than the input.
 * out is untouched on every failure. Window mode ends the process (status -1,
 * through Tamo_exitptr) should a cumulative share leave 0..255, which does
 * not happen on real data; if the handler returns, TAMO_HISTEQ_ESHARE. */
/* Window mode reports progress in rows (over all frames); TAMO_CANCELLED
 * leaves out untouched and prints nothing of the rows. */
int flHistogramEq(TAMOHDR *in, TAMOHDR *out, int N);

/* ---- Correlation ---- */

/* Correlates the "float" template B with every position of the "float"
 * image A where it fits. With hr, hc half B's rows and columns (integer
 * division), the position (r, c) for r = hr..rows(A)-hr-1, c =
 * hc..cols(A)-hc-1 pairs the image window of rows r-hr..r+hr-1 and columns
 * c-hc..c+hc-1 with B's rows and columns from 0 (for an odd size B's last
 * row or column takes no part), and
 *   S(r, c) = sum over the window of (B - mean(B)) * (A - M(r, c)),
 * M being the window's sum divided by B's pixel count. Output pixels outside
 * these positions are not written; a template larger than the image writes
 * nothing.
 *   Two-dimensional A (corr1frame): O = S / (rows(B)^2 cols(B)) / sd(B), sd
 *     the template's standard deviation (a flat template gives infinities or
 *     NaN); O is written as by Tamofpp, so any type.
 *   Three-dimensional A: frames 0, 1, 2 of A with the same frames of B into
 *     the same frames of O, each divided by the sum over all positions of
 *     (A - M)^2 of its frame.
 *   Any other A: nothing is done.
 * O needs at least A's columns and rows (and three frames in colour).
 * Returns 0, or after a line on stdout: TAMO_CORR_ETYPE A or B is not
 * "float" ("...: input must be float"); TAMO_CORR_EOUT O is missing or too
 * small, or a three-dimensional A or its template has fewer than three
 * frames. O is untouched on failure.
 * Progress counts output rows over all frames; TAMO_CANCELLED leaves O
 * untouched (results are written only once every frame is done). */
int flcorrelate(TAMOHDR *A, TAMOHDR *B, TAMOHDR *O);

/* The two-dimensional path of flcorrelate on the first planes of A, B and O,
 * with the same results and return codes. */
int corr1frame(TAMOHDR *A, TAMOHDR *B, TAMOHDR *O);

/* ---- Piecewise-constant segmentation ---- */

/* Restores the noisy "float" image f towards a piecewise-constant image by
 * mean-field annealing against the data g (a "float" image of f's rows and
 * columns; first planes only). f is changed in place; g's one-pixel border
 * is overwritten once by replicating its nearest interior pixels.
 * For T = t1, t1*dlt, t1*dlt^2, ... while T >= t2 (about 528 iterations with
 * the usual parameters sigma 2, r 0.03, b 4, t1 1, t2 0.005, dlt 0.99):
 *   s = 1.9881 T sigma^2; f's border is replicated from its interior;
 *   J = f - g; for each interior pixel the differences D towards the pixels
 *   below, below-right, right and above-right become (D/s) exp(-D^2/(2s));
 *   B = their back-projection onto the pixels (diagonals weighted 0.7);
 *   K = J / sigma^2 + B b / sqrt(2 pi T);
 *   f = f + K (-r sigma) / m sqrt(T), m the root mean square of K,
 * so every iteration moves f by a root mean square of r sigma sqrt(T).
 * Returns 0, or after a line on stdout:
 *   TAMO_PCON_ETYPE f or g is not "float";
 *   TAMO_PCON_ESCHEDULE the schedule would not end: dlt >= 1, t2 <= 0, or a
 *       parameter that is NaN or infinite ("Pcon: temperature schedule does
 *       not end"), or it has more than 1000000 temperature steps ("Pcon:
 *       temperature schedule has more than 1000000 steps");
 *   TAMO_PCON_ESIGMA sigma <= 0 ("Pcon: sigma must be greater than 0");
 *   TAMO_PCON_ERANGE the estimate (or the update K) would leave the float
 *       range, as very large r, b or sigma or a very small sigma can make it
 *       ("Pcon: the estimate leaves the range of floats").
 * Neither image is changed on these failures. Rows or columns of f and g
 * that differ ("bug1") and a K that is zero everywhere ("magf=0 exiting")
 * end the process with status 0 through Tamo_exitptr; should the handler
 * return, the call returns TAMO_PCON_ESIZE and TAMO_PCON_EFLAT
 * respectively.
 * Progress counts temperature steps; TAMO_CANCELLED puts f and g back as
 * they came (g's border included). */
int pconsub(TAMOHDR *f, TAMOHDR *g, float sigma, float r, float b, float t1, float t2,
            float dlt);

/* ---- Connected components ---- */

/* Labels the connected regions of a grey image in one raster scan.
 *   in: the image; a three-dimensional image with at least three frames
 *     (R, G, B) is labelled by sqrt(G^2 + R^2 + B^2) / 3 (truncated to an
 *     integer for "u8bit" data), any other image by its first plane.
 *   A pixel is background (0) when its value lies outside [lo, hi]. Otherwise
 *   it joins the regions of its upper, left and upper-left neighbours whose
 *   values are at least lo and differ from its own by at most t (the upper
 *   bound is not applied to the neighbour, so a pixel next to a value above
 *   hi can take the background label), merging them; with no such neighbour
 *   it starts a new label. Labels are numbered 1, 2, ... in order of
 *   creation and a region carries the smallest label it was given. Row 0 and
 *   column 0 are never labelled: they hold -1, except (0, 0) which holds 0.
 *   Then every background pixel whose four neighbours carry one label u >= 1
 *   takes u.
 *   *countOut (if countOut is not null) receives the number of labels made,
 *   which is at least the number of regions.
 *   areasPath: unless null or empty, a text file written with one line
 *     "%d %d" (label, pixel count) for every label 0..count; a merged-away
 *     label has count 0, the background too.
 *   eraseSmall != 0: regions of fewer pixels become background (between the
 *     lines "calling erasesmalregions %d" and "return from  erasesmalregions"
 *     on stdout); eraseLarge != 0: regions of more pixels do.
 *   out: an image with the input's columns and rows. A "32bit" output
 *     receives the labels in its first plane (and in frames 1 and 2 when
 *     three-dimensional); any other type through Tamoany2any, with the line
 *     "cclC4_3:converting output image from 32bit to %s" on stdout.
 * Returns 0; TAMO_CCL_ELABELS when more than 499999 labels would be needed
 * ("need more labels than we have"; *countOut receives 499999);
 * TAMO_CCL_EAREAS when the areas file cannot be written or its name has 256
 * bytes or more ("file name %s is invalid for areas file"); TAMO_CCL_EIMAGE
 * when in or out is missing, out has other columns or rows, in holds
 * "struct" data, out cannot receive the labels or memory runs out.
 * out is untouched on every failure.
 * Progress counts rows over two passes (the scan, then resolving the labels);
 * TAMO_CANCELLED leaves out untouched and *countOut unset. */
int cclC4_3(TAMOHDR *in, int eraseSmall, int eraseLarge, int *countOut, const char *areasPath,
            TAMOHDR *out, float t, float lo, float hi);

/* ---- Fourier transform ---- */

/* Two-dimensional discrete Fourier transform of a square "32cmp" image, in
 * place. dir -1: forward, unnormalised; dir +1: inverse, scaled by 1/N per
 * dimension; any other dir leaves the image untouched and returns 0. Only the
 * first frame is transformed.
 * Returns 0 on success, TAMO_FFT_ETYPE when img is not "32cmp",
 * TAMO_FFT_ESQUARE when it is not square, TAMO_FFT_EPOWER2 when the side is
 * not a power of two (each after a line on stderr).
 * Progress counts blocks of rows and columns (sides of 32 and more);
 * TAMO_CANCELLED puts the image back as it came. */
int Tamocfft2d(TAMOHDR *img, int dir);

/* In-place radix-2 transform of N complex values, real part k at re[k*sre],
 * imaginary part k at im[k*sim]; dir as in Tamocfft2d. N must be a power of
 * two; any other N (and any dir but -1 and +1) leaves the data untouched. */
void fftj(float *re, int sre, float *im, int sim, int N, int dir);

/* Bit-reversal permutation of the N values laid out as in fftj (N not a
 * power of two: nothing is moved). Returns 1. */
int broj(int N, float *re, int sre, float *im, int sim);

/* Single-precision complex product a*b written to *out_re, *out_im. */
void mult(float *out_re, float *out_im, float a_re, float a_im, float b_re, float b_im);

/* 1 when v is a power of two or v <= 1, else 0. */
int ispwrof2(int v);

/* Complex components: in is a "32cmp" image, out an image of one value per
 * pixel with the same rows and columns (first plane only). "u8bit" outputs
 * are clamped to 0..255 and truncated; "float" outputs take the value (after
 * the line "c2mag:incomplex outreal" on stdout for Tamoc2mag); "32cmp"
 * outputs receive it in their real parts and keep their imaginary parts;
 * other types are written with Tamofpp.
 * Magnitude sqrt(re^2+im^2), phase atan2(im, re) in radians, real part,
 * imaginary part.
 * Returns 0 on success, TAMO_CPX_ESIZE when rows or columns differ (or a
 * record is null), TAMO_CPX_ETYPE when in or out is "64cmp" (silently), when
 * in is not complex or out is an interleaved or "struct" type (after a line
 * on stderr). */
int Tamoc2mag(TAMOHDR *in, TAMOHDR *out);
int Tamoc2phase(TAMOHDR *in, TAMOHDR *out);
int Tamoc2real(TAMOHDR *in, TAMOHDR *out);
int Tamoc2imag(TAMOHDR *in, TAMOHDR *out);

/* ---- Display scaling and colour maps ---- */

/* Linear stretch of in (8bit, 16bit, 32bit, 32flt, 64flt, u8bit, u16bit,
 * 32cmp or 64cmp; complex: real part; values taken in single precision) into
 * the existing "u8bit" image out of the same dimensions: the minimum maps to
 * 0, the maximum to 255 (254 where single precision falls short), NaN to 0.
 * per_frame 0: one range over the whole image; non-zero: one range per frame
 * of a 3-D image ("32flt" input announces each frame on stdout).
 * On success *min_out and *max_out (either may be null) receive the range
 * used (per frame: that of the last frame). A constant image is reported on
 * stdout and left unchanged, as are the range pointers; in per-frame mode a
 * constant frame is reported, left unchanged, and the next frame follows.
 * Returns 0. Missing records, a non-"u8bit" output, per_frame on a non-3-D
 * input or dimensions that differ print a line on stdout and end the
 * process with status -1 through Tamo_exitptr; an unknown input type with
 * status 0. Should the exit handler return, the call returns
 * TAMO_VIDSCALE_EARGS with out untouched. */
int Tamovidscale(TAMOHDR *in, TAMOHDR *out, float *min_out, float *max_out, int per_frame);

/* Fills the 768-byte table (256 red, 256 green, 256 blue values) with colour
 * map `map`: 0 gray, 1 inverse gray, 2 Mevrel, 3 hot metal, 4 heated
 * spectrum, 5 log, 6 random (128 fixed colours, repeated). image is not
 * consulted. A map outside 0..6 leaves the table untouched. */
void CreateColorMap(unsigned char *table, TAMOHDR *image, int map);

/* Applies colour map `map` to the 2-D image in (values read as integers and
 * clamped to 0..255) and writes red, green, blue into frames 0, 1, 2 of the
 * 3-D "u8bit" out.
 * Returns 0 on success, TAMO_CMAP_EOUTTYPE out not "u8bit",
 * TAMO_CMAP_EINDIMS in not 2-D, TAMO_CMAP_EOUTDIMS out not 3-D with at least
 * 3 frames, TAMO_CMAP_ESIZE columns or rows differ, TAMO_CMAP_EMAP map
 * outside 0..6; each failure after a line on stdout, with out untouched. */
int Tamocolormap(TAMOHDR *in, TAMOHDR *out, int map);

/* Colours the 2-D label image in (labels 0..n-1, read as integers) with
 * fresh random colours from Tamodrand48 (3n-2 draws, values 0..254), one per
 * label, into frames 0..2 of the 3-D out (any type, same rows and columns,
 * at least 3 frames). Labels 0 and 1, and labels outside 0..n-1, become
 * black; row 0 and column 0 of out are not written. Prints "processing a
 * random color map" on stdout; an out of the wrong shape is reported there
 * and not written. */
void colormap6(TAMOHDR *in, TAMOHDR *out, int n);

/* ---- HoG descriptors ---- */

/* Histograms of gradient orientation over cells of 8 x 8 pixels. The image
 * (any numeric type) is cropped to whole cells, R8 = rows / 8 * 8 rows and
 * C8 = cols / 8 * 8 columns; the gradient is flDoG's first derivatives at
 * sigma 1 (on an image of fewer than 18 rows flDoG refuses, the derivatives
 * stay 0 and every direction is 0). Each pixel's direction atan2(gy, gx),
 * in degrees brought into 0..360, counts in bin k = degrees / 40 (0..8; a
 * direction that rounds to 360 counts in bin 0), added to frame k, row
 * cell-row, column cell-column of H (its value truncated to an integer plus
 * the count). H: a three-dimensional image (normally "float", zero-filled)
 * of at least C8/8 columns, R8/8 rows and 9 frames.
 * HoGdescriptor dispatches a two-dimensional image to HoGdescriptor2D and a
 * three-dimensional image of three frames (R, G, B) to HoGdescriptorCLR,
 * which averages the derivatives over the frames (maxgrad); any other image
 * is left alone. Return 0, or TAMO_HOG_EFIT (H left untouched) when the
 * image is missing or holds "struct" data, or H is too small (after a line
 * on stdout), or memory runs out. */
int HoGdescriptor(TAMOHDR *I, TAMOHDR *H);
int HoGdescriptor2D(TAMOHDR *I, TAMOHDR *H);
int HoGdescriptorCLR(TAMOHDR *I, TAMOHDR *H);

/* gx = (frame 0 + frame 1 + frame 2) / 3 of gx3, and likewise gy of gy3, in
 * single precision. All four "float"; gx3 and gy3 three-dimensional with at
 * least three frames of gx's columns and rows, gy of gx's size. Returns 0,
 * or TAMO_HOG_EFIT (nothing written) when they do not fit. */
int maxgrad(TAMOHDR *gx3, TAMOHDR *gy3, TAMOHDR *gx, TAMOHDR *gy);

/* Draws the descriptor H (three-dimensional, 9 frames, one pixel per cell)
 * as line glyphs into P, a two-dimensional image (any type written by
 * Tamofpp) of 9 times H's columns and rows: in cell (i, j), for each bin k
 * with a non-zero count v, in ascending order of v (larger counts on top),
 * drawline(P, 9i + 4, 9j + 4, k * 40 degrees, v, 4). Returns 0, or
 * TAMO_HOG_EFIT when H is missing or has fewer than 9 frames. */
int ShowHoG(TAMOHDR *H, TAMOHDR *P);

/* Writes `value` along the segment through (y0, x0) at `angle` radians
 * (0: along the columns; positive angles turn towards larger rows): for
 * h = -L, -L+1, ..., L the points y = sin(angle) h + y0, x = cos(angle) h +
 * x0 (single precision, truncated to integers) and their lower and right
 * neighbours, each through Tamofpp. Points outside P are left out. */
void drawline(TAMOHDR *P, int y0, int x0, float angle, float value, int L);

/* Sorts items[lo..hi], pairs (bin, value), by ascending value (quicksort
 * around the middle element's value truncated to an integer). */
void qsort2(float (*items)[2], int lo, int hi);

/* ---- Resampling and point plotting ---- */

/* FILE for SkipToEndOfLine; the C library's header is itself C-linkage. */
#include <stdio.h>

/* Resamples in to the size of the caller-created out, any types; values are
 * stored as the pixel writers store them (integers wrap, floats round).
 * mode 0: bilinear interpolation (bilininterp1); 1: pixel replication;
 * 2: mean of a 2 x 2 block; other modes write zeros in the 2-D path.
 * With sr = rows_in / rows_out and sc = cols_in / cols_out (floats):
 *   2-D in: output (i, j) samples input (sr*i, sc*j), each limited to the
 *     last row or column; mode 1 takes the truncated position, mode 2 the
 *     block starting there (moved back inside; one row or column is averaged
 *     with itself). Only the first frame of out is written.
 *   3-D in: every frame f of out samples frame f of in at (sr*j + 0.5,
 *     sc*k + 0.5), limited to the last row and column; mode 1 takes the
 *     truncated position, every other mode interpolates bilinearly.
 * Prints the mode's line and the path's line on stdout.
 * Interleaved ("S") records are resampled channel by channel in the 3-D
 * path and refused in the 2-D path.
 * Returns 0 on success; TAMO_ZOOM_EARGS (after a line on stdout) when
 * either record is null (Tamoerr TAMO_ENULL), damaged or has no pixel data
 * (TAMO_EHEADER), in has a zero length while out has pixels (TAMO_EHEADER),
 * or a type cannot be resampled (TAMO_ETYPE). A 3-D in whose frame count
 * differs from out's, or an in with neither two nor three dimensions, prints
 * a line and ends the process with status -1 through Tamo_exitptr; should
 * the handler return, the call returns TAMO_ZOOM_EARGS.
 * Progress counts output rows of every plane; TAMO_CANCELLED puts out back
 * as it came. */
int Tamozoomupdown(TAMOHDR *in, TAMOHDR *out, int mode);

/* Bilinear value at the fractional position (row, col) of frame `frame` (0 for
 * a one-dimensional record), in single precision: with r0 = trunc(row),
 * c0 = trunc(col), r1 and c1 the next row and column limited to the last,
 * fr = row - r0 and fc = col - c0:
 *   top = I(r0,c0)*(1-fc) + I(r0,c1)*fc, bottom likewise on r1,
 *   result = bottom*fr + top*(1-fr).
 * Frame 0 of a planar record is read with Tamofgp, everything else with
 * Tamofgp3d (the frame selects the channel of an interleaved record). A position before the
 * first or beyond the last row or column (or NaN) is read at the edge.
 * Returns the value; 0 after a warning for a null or damaged record or one
 * without pixel data. */
float bilininterp1(TAMOHDR *img, int frame, float row, float col);

/* Reads a point file and returns a new 3-frame "u8bit" picture (frames red,
 * green, blue; black background) with the points plotted: the first point
 * red, the last green, the others white; later points overwrite earlier ones.
 * The file: "# N" on the first line, then one "x y" pair per line (x the
 * column, y the row; the rest of each line ignored). Reading stops after N
 * lines or at the end of the file; a line without two numbers plots nothing,
 * and only the points read are plotted (the last of them green).
 * Picture size: rows = (int)((ymax - ymin + 1) * scale) and
 * cols = (int)((xmax - xmin + 1) * scale) over the points read; non-zero
 * `rows` / `cols` arguments replace them.
 * precise 1: a point is plotted at row y, column x; otherwise at row
 * scale*(y - ymin + 0.5), column scale*(x - xmin + 0.5). Positions are
 * truncated; those outside the picture are moved to its nearest edge.
 * Prints "plotcontour:read inputimage" on stdout.
 * Returns the picture (release with Tamofree(img, 7)), or null after a line
 * on stderr: no point read and no forced size (Tamoerr TAMO_EIO), a picture
 * size below 1 or too large (Tamoerr TAMO_EDIMS), or creation failure. A
 * file that cannot be opened prints "plotcontour:Could not open PATH.
 * Exiting" on stderr and ends the process with status -1 through
 * Tamo_exitptr (Tamoerr TAMO_EOPEN); should the handler return, the call
 * returns null. */
TAMOHDR *Tamoplotcontour(const char *path, int rows, int cols, int precise, float scale);

/* Reads characters of file up to and including the next newline.
 * Returns 0 when a newline was read, -1 at the end of the file (or for a
 * null file). */
int SkipToEndOfLine(FILE *file);

#ifdef __cplusplus
}
#endif

#endif /* TAMOOPS_H */
