// Reader and writer of the own format against the floor they sit on:
// copying the same bytes file to file (raw data), and zlib's one-call
// compress/uncompress of the same bytes (compressed data). Compressed
// writing is also timed at one and two threads, and saving as the
// programs do it (atomic replacement with fsync).
//
//   bench_io [--benchmark_filter=...]     (files go to $TMPDIR or /tmp)
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "records.h"
#include "tamo++.h"
#include "tamo.h"

namespace {

constexpr int kSide = 4096;

std::string scratchPath(const char *name) {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/tamo_bench_io_" + std::to_string(getpid()) +
           "_" + name;
}

// A smooth picture with a little noise: compresses like a measured image.
TAMOHDR *testImage() {
    static tamo::RecordPtr img = [] {
        int dims[] = {2, kSide, kSide};
        tamo::RecordPtr r(Tamocreate("float", dims, 11, 0));
        float *px = tamo::pixels<float>(r.get());
        unsigned noise = 1;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                noise = noise * 1103515245u + 12345u;
                px[std::size_t(y) * kSide + x] =
                    std::round(100 * std::sin(x / 50.0) * std::cos(y / 70.0) + 1000) +
                    float((noise >> 16) & 3);
            }
        return r;
    }();
    return img.get();
}

std::size_t dataBytes() {
    return std::size_t(kSide) * kSide * sizeof(float);
}

FILE *openBuffered(const std::string &path, const char *mode) {
    FILE *fp = std::fopen(path.c_str(), mode);
    if (!fp) std::abort();
    std::setvbuf(fp, nullptr, _IOFBF, 1 << 20);
    return fp;
}

void writeFile(const std::string &path, TAMOHDR *img) {
    FILE *fp = openBuffered(path, "wb");
    if (TamoWrImg(img, fp, 0) != -1) std::abort();
    std::fclose(fp);
}

// ---- Floors -------------------------------------------------------------------

void BM_CopyFileToFile(benchmark::State &state) {
    const std::string src = scratchPath("copy_src"), dst = scratchPath("copy_dst");
    {
        FILE *fp = openBuffered(src, "wb");
        std::fwrite(testImage()->orvptr, 1, dataBytes(), fp);
        std::fclose(fp);
    }
    std::vector<char> buf(dataBytes());
    for (auto _ : state) {
        FILE *in = openBuffered(src, "rb");
        if (std::fread(buf.data(), 1, buf.size(), in) != buf.size()) std::abort();
        std::fclose(in);
        FILE *out = openBuffered(dst, "wb");
        std::fwrite(buf.data(), 1, buf.size(), out);
        std::fclose(out);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
    std::remove(src.c_str());
    std::remove(dst.c_str());
}

void BM_ZlibCompress(benchmark::State &state) {
    std::vector<Bytef> out(compressBound(dataBytes()));
    for (auto _ : state) {
        uLongf len = out.size();
        compress(out.data(), &len, reinterpret_cast<Bytef *>(testImage()->orvptr), dataBytes());
        benchmark::DoNotOptimize(len);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
}

void BM_ZlibUncompress(benchmark::State &state) {
    std::vector<Bytef> packed(compressBound(dataBytes()));
    uLongf packedLen = packed.size();
    compress(packed.data(), &packedLen, reinterpret_cast<Bytef *>(testImage()->orvptr),
             dataBytes());
    std::vector<Bytef> out(dataBytes());
    for (auto _ : state) {
        uLongf len = out.size();
        uncompress(out.data(), &len, packed.data(), packedLen);
        benchmark::DoNotOptimize(len);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
}

// The same with the output in fresh memory each time, as a reader that
// returns a new image must have it.
void BM_ZlibUncompressFresh(benchmark::State &state) {
    std::vector<Bytef> packed(compressBound(dataBytes()));
    uLongf packedLen = packed.size();
    compress(packed.data(), &packedLen, reinterpret_cast<Bytef *>(testImage()->orvptr),
             dataBytes());
    for (auto _ : state) {
        Bytef *out = static_cast<Bytef *>(std::calloc(1, dataBytes()));
        uLongf len = dataBytes();
        uncompress(out, &len, packed.data(), packedLen);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
}

// ---- Ours -----------------------------------------------------------------------

void BM_Write(benchmark::State &state) {
    TAMOHDR *img = testImage();
    img->orvcomp = static_cast<char>(state.range(0));
    const std::string path = scratchPath("write.tam");
    for (auto _ : state) writeFile(path, img);
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
    std::remove(path.c_str());
}

// Compressed writing with the library's thread count set to the argument.
void BM_WriteCompressedThreads(benchmark::State &state) {
    TAMOHDR *img = testImage();
    img->orvcomp = 1;
    const std::string path = scratchPath("write_threads.tam");
    const char *before = std::getenv("TAMO_THREADS");
    const std::string saved = before ? before : "";
    setenv("TAMO_THREADS", std::to_string(state.range(0)).c_str(), 1);
    for (auto _ : state) writeFile(path, img);
    if (before)
        setenv("TAMO_THREADS", saved.c_str(), 1);
    else
        unsetenv("TAMO_THREADS");
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
    std::remove(path.c_str());
}

// Saving as the workbench and tamo do: atomic replacement of the target,
// fsync included, uncompressed (0) or compressed (1).
void BM_SaveFile(benchmark::State &state) {
    TAMOHDR *img = testImage();
    img->orvcomp = static_cast<char>(state.range(0));
    const std::string path = scratchPath("save.tam");
    for (auto _ : state)
        if (!frontend::writeOwnFormatFile(img, path).empty()) std::abort();
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
    std::remove(path.c_str());
}

void BM_Read(benchmark::State &state) {
    TAMOHDR *img = testImage();
    img->orvcomp = static_cast<char>(state.range(0));
    const std::string path = scratchPath("read.tam");
    writeFile(path, img);
    for (auto _ : state) {
        FILE *fp = openBuffered(path, "rb");
        TAMOHDR *back = TamoRdImg(fp, 0);
        std::fclose(fp);
        if (!back) std::abort();
        Tamofree(back, 7);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(dataBytes()));
    std::remove(path.c_str());
}

BENCHMARK(BM_CopyFileToFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Write)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Read)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ZlibCompress)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Write)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_WriteCompressedThreads)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(BM_SaveFile)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ZlibUncompressFresh)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Read)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
