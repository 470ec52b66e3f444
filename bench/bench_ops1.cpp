// Pointwise operators, Gaussian-derivative filtering and differential
// measures on 2048 x 2048 "float" images.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "tamo++.h"
#include "tamo.h"

namespace {

constexpr int kSide = 2048;

tamo::RecordPtr makeImage(unsigned seed) {
    int dims[3] = {2, kSide, kSide};
    tamo::RecordPtr img(Tamocreate("float", dims, 11, 0));
    float *p = tamo::pixels<float>(img.get());
    // NumPy asks for transparent huge pages on arrays this large; give our
    // images the same page policy so that the figures compare the loops, not
    // the TLB. (Tamocreate's pixel memory is untouched until written here.)
    // TAMO_BENCH_SMALL_PAGES=1 keeps the default pages.
    if (!std::getenv("TAMO_BENCH_SMALL_PAGES")) {
        uintptr_t lo = (reinterpret_cast<uintptr_t>(p) + 4095) & ~uintptr_t(4095);
        uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + 4ul * kSide * kSide) & ~uintptr_t(4095);
        madvise(reinterpret_cast<void *>(lo), hi - lo, MADV_HUGEPAGE);
    }
    unsigned state = seed;
    for (long i = 0; i < static_cast<long>(kSide) * kSide; ++i) {
        state = state * 1664525u + 1013904223u;
        p[i] = 1.0f + static_cast<float>(state >> 8) * (100.0f / 16777216.0f);  // 1..101
    }
    return img;
}

// Times op(a, b, out) on fresh images; the inputs are positive.
void run(benchmark::State &state, const std::function<int(TAMOHDR *, TAMOHDR *, TAMOHDR *)> &op) {
    auto a = makeImage(1), b = makeImage(2), out = makeImage(3);
    // flinv reports its range on stdout: keep that out of the results.
    std::fflush(stdout);
    const int saved = dup(1), devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    for (auto _ : state) {
        int rc = op(a.get(), b.get(), out.get());
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
    }
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(devnull);
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void registerAll() {
    struct Case {
        const char *name;
        std::function<int(TAMOHDR *, TAMOHDR *, TAMOHDR *)> op;
    };
    const Case cases[] = {
        {"dog_blur_s1", [](auto a, auto, auto o) { return flDoG(a, o, 0, 0, 1.0f); }},
        {"dog_blur_s3", [](auto a, auto, auto o) { return flDoG(a, o, 0, 0, 3.0f); }},
        {"dog_dx_s1", [](auto a, auto, auto o) { return flDoG(a, o, 1, 0, 1.0f); }},
        {"dog_dx_s3", [](auto a, auto, auto o) { return flDoG(a, o, 1, 0, 3.0f); }},
        {"gmag_s1", [](auto a, auto, auto o) { return flgmag(a, o, 1.0f); }},
        {"curv_s2", [](auto a, auto, auto o) { return flcurv(a, o, 2.0f); }},
        {"abs", [](auto a, auto, auto o) { return flabsolute(a, o); }},
        {"adds", [](auto a, auto, auto o) { return fladds(a, o, 3.5f); }},
        {"mults", [](auto a, auto, auto o) { return flmults(a, o, 3.5f); }},
        {"addv", [](auto a, auto b, auto o) { return fladdv(a, b, o); }},
        {"multv", [](auto a, auto b, auto o) { return flmultv(a, b, o); }},
        {"divv", [](auto a, auto b, auto o) { return fldivv(a, b, o); }},
        {"atan2", [](auto a, auto b, auto o) { return flatan2(a, b, o); }},
        {"exp", [](auto a, auto, auto o) { return flexp(a, o, 50.0f); }},
        {"ln", [](auto a, auto, auto o) { return flln(a, o); }},
        {"sqrt", [](auto a, auto, auto o) { return flsqrt(a, o); }},
        {"inv", [](auto a, auto, auto o) { return flinv(a, o); }},
    };
    for (const Case &c : cases) {
        auto op = c.op;
        benchmark::RegisterBenchmark(c.name, [op](benchmark::State &s) { run(s, op); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    }
}

}  // namespace

int main(int argc, char **argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
