// The thread count of the operators.
#include <cstdlib>

#include "parallel.h"

namespace tamo {

int threadLimit() {
    // Read on every call, so that a caller may change the cap between calls.
    if (const char *text = std::getenv("TAMO_THREADS")) {
        char *end = nullptr;
        const long v = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && v >= 1) return v > 1024 ? 1024 : static_cast<int>(v);
    }
#ifdef _OPENMP
    return omp_get_num_procs();
#else
    return 1;
#endif
}

}  // namespace tamo
