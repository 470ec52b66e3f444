// Histogram equalisation, correlation, piecewise-constant restoration,
// connected components and HoG descriptors on large images.
//
// BM_Ccl labels a blob image: the raw 2048 x 2048 float32 file named by
// TAMO_BENCH_BLOBS when set (bench/peers_ops2.py passes the image its peers
// see), else blurred noise thresholded at its median made here.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "tamo++.h"
#include "tamo.h"

namespace {

using tamo::RecordPtr;

constexpr int kSide = 2048;

RecordPtr floatImage(int cols, int rows, int frames = 0) {
    int dims[4] = {frames ? 3 : 2, cols, rows, frames};
    return RecordPtr(Tamocreate("float", dims, 11, 0));
}

float *px(const RecordPtr &img) {
    return tamo::pixels<float>(img.get());
}

// Whole grey levels 0..255, as an 8-bit picture converted to float.
RecordPtr levels(int side, unsigned seed) {
    RecordPtr img = floatImage(side, side);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> level(0, 255);
    for (long long i = 0; i < 1LL * side * side; ++i) px(img)[i] = static_cast<float>(level(gen));
    return img;
}

RecordPtr blobImage() {
    RecordPtr img = floatImage(kSide, kSide);
    const long long n = 1LL * kSide * kSide;
    if (const char *path = std::getenv("TAMO_BENCH_BLOBS")) {
        FILE *fp = std::fopen(path, "rb");
        const bool ok = fp && std::fread(px(img), sizeof(float), n, fp) == static_cast<size_t>(n);
        if (fp) std::fclose(fp);
        if (ok) return img;
        std::fprintf(stderr, "bench_ops2: cannot read %s; making blobs here\n", path);
    }
    RecordPtr noise = floatImage(kSide, kSide);
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (long long i = 0; i < n; ++i) px(noise)[i] = u(gen);
    flDoG(noise.get(), img.get(), 0, 0, 1.2f);
    std::vector<float> sorted(px(img), px(img) + n);
    std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
    const float median = sorted[n / 2];
    for (long long i = 0; i < n; ++i) px(img)[i] = px(img)[i] > median ? 200.0f : 0.0f;
    return img;
}

void BM_HistEqWhole(benchmark::State &state) {
    RecordPtr in = levels(kSide, 1), out = floatImage(kSide, kSide);
    for (auto _ : state) benchmark::DoNotOptimize(flHistogramEq(in.get(), out.get(), 0));
}
BENCHMARK(BM_HistEqWhole)->Unit(benchmark::kMillisecond)->UseRealTime();

// Template of side state.range(0) cut from the image.
void BM_Correlate(benchmark::State &state) {
    const int side = static_cast<int>(state.range(0));
    RecordPtr in = levels(kSide, 2), tpl = floatImage(side, side), out = floatImage(kSide, kSide);
    for (int r = 0; r < side; ++r)
        std::memcpy(px(tpl) + r * side, px(in) + (500 + r) * kSide + 700, sizeof(float) * side);
    for (auto _ : state) benchmark::DoNotOptimize(flcorrelate(in.get(), tpl.get(), out.get()));
}
BENCHMARK(BM_Correlate)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole default schedule (528 iterations) on a noisy two-level 1024 x
// 1024 image.
void BM_PconDefaults(benchmark::State &state) {
    const int side = 1024;
    RecordPtr data = floatImage(side, side), estimate = floatImage(side, side);
    std::mt19937 gen(3);
    std::normal_distribution<float> noise(0.0f, 5.0f);
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c)
            px(data)[r * side + c] = (c < side / 2 ? 50.0f : 150.0f) + noise(gen);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(px(estimate), px(data), sizeof(float) * side * side);
        state.ResumeTiming();
        benchmark::DoNotOptimize(
            pconsub(estimate.get(), data.get(), 2.0f, 0.03f, 4.0f, 1.0f, 0.005f, 0.99f));
    }
    state.counters["iterations_per_call"] = 528;
}
BENCHMARK(BM_PconDefaults)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_Ccl(benchmark::State &state) {
    RecordPtr in = blobImage();
    int dims[3] = {2, kSide, kSide};
    RecordPtr out(Tamocreate("32bit", dims, 11, 0));
    int count = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            cclC4_3(in.get(), 0, 0, &count, "", out.get(), 2.0f, 10.0f, 255.0f));
    state.counters["labels"] = count;
}
BENCHMARK(BM_Ccl)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HoG(benchmark::State &state) {
    RecordPtr in = levels(kSide, 4), h = floatImage(kSide / 8, kSide / 8, 9);
    for (auto _ : state) {
        std::memset(h->orvptr, 0, sizeof(float) * (kSide / 8) * (kSide / 8) * 9);
        benchmark::DoNotOptimize(HoGdescriptor(in.get(), h.get()));
    }
}
BENCHMARK(BM_HoG)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
