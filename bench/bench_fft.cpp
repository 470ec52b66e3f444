// Forward and inverse transforms of square "32cmp" records.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "tamo.h"

namespace {

TAMOHDR *randomComplex(int n) {
    const int dims[] = {2, n, n};
    TAMOHDR *img = Tamocreate("32cmp", dims, 7, 0);
    float *data = reinterpret_cast<float *>(img->orvptr);
    std::mt19937 gen(42);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (long long i = 0; i < 2LL * n * n; ++i) data[i] = dist(gen);
    return img;
}

// Each iteration transforms the same data: the record is restored outside
// the timed region, so repeated forward transforms do not grow without bound.
void transform(benchmark::State &state, int dir) {
    const int n = static_cast<int>(state.range(0));
    TAMOHDR *img = randomComplex(n);
    const std::size_t bytes = 2 * sizeof(float) * static_cast<std::size_t>(n) * n;
    std::vector<char> pristine(img->orvptr, img->orvptr + bytes);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(img->orvptr, pristine.data(), bytes);
        state.ResumeTiming();
        benchmark::DoNotOptimize(Tamocfft2d(img, dir));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n * n);
    Tamofree(img, 7);
}

void BM_ForwardFFT(benchmark::State &state) {
    transform(state, -1);
}
void BM_InverseFFT(benchmark::State &state) {
    transform(state, 1);
}

void BM_Magnitude(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    TAMOHDR *img = randomComplex(n);
    const int dims[] = {2, n, n};
    TAMOHDR *out = Tamocreate("u8bit", dims, 7, 0);
    for (auto _ : state) benchmark::DoNotOptimize(Tamoc2mag(img, out));
    state.SetItemsProcessed(state.iterations() * n * n);
    Tamofree(out, 7);
    Tamofree(img, 7);
}

}  // namespace

BENCHMARK(BM_ForwardFFT)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_InverseFFT)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Magnitude)->Arg(1024)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
