// Resampling: bilinear and replicated enlargement, averaged and bilinear
// reduction of "float" and "u8bit" images.
//
// Tamozoomupdown prints two lines per call; for machine-readable results use
// --benchmark_out=FILE --benchmark_out_format=json (as peers_resample.py does).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "tamo++.h"
#include "tamo.h"

namespace {

tamo::RecordPtr square(const char *type, int n, bool fill) {
    const int dims[] = {2, n, n};
    tamo::RecordPtr img(Tamocreate(type, dims, 11, 0));
    if (!fill) return img;
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> dist(0.0f, 255.0f);
    const long long count = static_cast<long long>(n) * n;
    if (img->dtype == TAMO_32FLT) {
        float *px = tamo::pixels<float>(img.get());
        for (long long i = 0; i < count; ++i) px[i] = dist(gen);
    } else {
        uint8_t *px = tamo::pixels<uint8_t>(img.get());
        for (long long i = 0; i < count; ++i) px[i] = static_cast<uint8_t>(dist(gen));
    }
    return img;
}

// Arguments: input side, output side, mode; the type is the benchmark's.
void zoom(benchmark::State &state, const char *type) {
    const int from = static_cast<int>(state.range(0));
    const int to = static_cast<int>(state.range(1));
    const int mode = static_cast<int>(state.range(2));
    auto in = square(type, from, true);
    auto out = square(type, to, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Tamozoomupdown(in.get(), out.get(), mode));
        benchmark::ClobberMemory();
    }
    std::fflush(stdout);
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(to) * to);
}

void BM_ZoomFloat(benchmark::State &state) {
    zoom(state, "float");
}
void BM_ZoomUbyte(benchmark::State &state) {
    zoom(state, "ubyte");
}

}  // namespace

BENCHMARK(BM_ZoomFloat)
    ->ArgNames({"from", "to", "mode"})
    ->Args({2048, 4096, 0})
    ->Args({2048, 4096, 1})
    ->Args({4096, 2048, 2})
    ->Args({4096, 2048, 0})
    ->Args({512, 1024, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomUbyte)
    ->ArgNames({"from", "to", "mode"})
    ->Args({2048, 4096, 0})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
