// Row-by-row Gaussian-derivative filtering shared by flDoG and the
// differential measures (private to the library).
#pragma once

#include <vector>

#include "tamolib.h"

namespace tamo {

// A derivative as flDoG names it.
struct Derivative {
    int order;
    int direction;
};

// Receives the filtered rows: row() says where row r of frame f of
// derivative d goes; done() is called once all derivatives of that row are
// there. Rows may be filtered by several threads at once, each passing its
// own lane number; lanes() is asked once, on the calling thread, before any
// row, and returns how many lanes the sink can serve (1: one thread only).
class DerivativeRowSink {
public:
    virtual ~DerivativeRowSink() = default;
    virtual int lanes(int wanted, const TAMOHDR *in) = 0;
    virtual float *row(int d, int frame, int r, int lane) = 0;
    virtual void done(int frame, int r, int lane) = 0;
};

// Runs flDoG's checks for (order, direction, sigma) on `in` and, when `out`
// is not null, on `out`, printing flDoG's messages (and ending the process
// where flDoG does). Returns flDoG's status: 0 when flDoG would filter.
int checkDoG(TAMOHDR *in, TAMOHDR *out, int order, int direction, float sigma);

// Filters every frame of the "float" image `in` (which passed checkDoG) with
// each of the separable derivatives at once, reading the image once and
// handing the results to `sink` row by row, frames in order, rows in order.
// Results equal flDoG's for the same derivative. Not for sigma 0 or the
// squared Laplacian (negative sigma with direction 3).
void filterDerivatives(TAMOHDR *in, const std::vector<Derivative> &derivatives, float sigma,
                       DerivativeRowSink &sink);

}  // namespace tamo
