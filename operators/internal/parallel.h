// Threads and progress for the long operators (private to the library).
//
// Work is split into ranges of independent items (rows, tiles, column
// blocks); each item is computed exactly as on one thread, so results do not
// depend on the thread count. Progress and cancellation run on the calling
// thread only, between parallel pieces: the hook is never called from a
// worker thread, and the library's error state is never touched there.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "imagelib_internal.h"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace tamo {

// Threads the library may use: TAMO_THREADS when it holds a positive count,
// else the number of processors.
int threadLimit();

// Work (in element operations, roughly) below which splitting costs more
// than it saves.
constexpr long long kParallelWork = 1LL << 17;

// Threads for `work` operations split into at most `items` parts.
inline int threadsFor(long long work, long long items) {
    if (work < kParallelWork || items < 2) return 1;
    return static_cast<int>(std::min<long long>(threadLimit(), items));
}

// Reports progress through Tamo_progressptr, about kCalls times per run and
// besides at least every kInterval while the work goes on (so that a stop
// asked for during a long run is heard soon: at most kCalls calls plus one
// per kInterval), and remembers a request to stop. Inactive (no calls at
// all) when no hook is set.
class Progress {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kCalls = 100;
    static constexpr std::chrono::milliseconds kInterval{100};

    explicit Progress(int64_t total)
        : hook_(Tamo_progressptr), total_(total > 0 ? total : 1), lastCall_(Clock::now()) {}
    bool active() const { return hook_ != nullptr; }
    bool cancelled() const { return cancelled_; }
    // No further calls (a run that could not be undone if stopped).
    void disable() { hook_ = nullptr; }
    // Work done so far; true when the caller should stop.
    bool report(int64_t done) {
        if (!hook_ || cancelled_) return cancelled_;
        const int64_t step = std::min<int64_t>(done, total_) * kCalls / total_;
        const Clock::time_point now = Clock::now();
        if (step <= last_ && now - lastCall_ < kInterval) return false;
        last_ = std::max(step, last_);
        lastCall_ = now;
        if (hook_(std::min<int64_t>(done, total_), total_) != 0) cancelled_ = true;
        return cancelled_;
    }
    // Pieces into which a stage of `items` items is cut at first so that each
    // report can move the bar: about kCalls / 2 per stage when a hook is set,
    // else 1 (runPiecesBy cuts further when pieces take long).
    long long piecesFor(long long items) const {
        return active() ? std::max<long long>(1, std::min<long long>(items, kCalls / 2)) : 1;
    }

private:
    int (*hook_)(int64_t, int64_t);
    int64_t total_;
    int64_t last_ = -1;
    Clock::time_point lastCall_;
    bool cancelled_ = false;
};

// Calls body(lo, hi, thread) over [begin, end) split into `threads`
// contiguous ranges, one per thread (thread 0 being the caller). The body
// must not throw, allocate through the library or report errors.
template <class Body>
void splitRange(long long begin, long long end, int threads, Body &&body) {
    const long long n = end - begin;
    if (n <= 0) return;
    const int t = static_cast<int>(std::min<long long>(std::max(threads, 1), n));
#ifdef _OPENMP
    if (t > 1) {
#pragma omp parallel num_threads(t)
        {
            const int id = omp_get_thread_num(), nt = omp_get_num_threads();
            const long long lo = begin + n * id / nt, hi = begin + n * (id + 1) / nt;
            if (lo < hi) body(lo, hi, id);
        }
        return;
    }
#endif
    body(begin, end, 0);
}

// Runs body over [0, items) with `threads` threads in pieces, reporting
// doneOf(items done) after each piece. False when the hook asked to stop (the
// remaining pieces are not run).
//
// With a hook set, pieces start at one item per thread and double while they take
// less than a quarter of the progress interval, up to the size that gives
// about kCalls / 2 pieces; a piece that takes longer than half the interval
// halves them again. So a stage of any length reports (and hears a stop)
// about every interval. Every item is computed alike however the range is
// cut.
template <class DoneOf, class Body>
bool runPiecesBy(long long items, int threads, Progress &progress, DoneOf &&doneOf, Body &&body) {
    const long long pieces = progress.piecesFor(items);
    const long long largest = (items + pieces - 1) / pieces;
    const long long least = std::min<long long>(largest, std::max(threads, 1));
    long long size = progress.active() ? least : largest;
    for (long long lo = 0; lo < items;) {
        const long long hi = std::min(items, lo + size);
        const Progress::Clock::time_point start = Progress::Clock::now();
        splitRange(lo, hi, threads, body);
        const Progress::Clock::duration took = Progress::Clock::now() - start;
        if (took > Progress::kInterval / 2)
            size = std::max(least, size / 2);
        else if (took < Progress::kInterval / 4)
            size = std::min(largest, size * 2);
        lo = hi;
        if (progress.report(doneOf(hi))) return false;
    }
    return true;
}

// runPiecesBy reporting base + unit * (items done).
template <class Body>
bool runPieces(long long items, int threads, Progress &progress, int64_t base, int64_t unit,
               Body &&body) {
    return runPiecesBy(
        items, threads, progress, [&](long long hi) { return base + hi * unit; }, body);
}

// True when the pixel arrays of a and b share any byte.
inline bool pixelsOverlap(const TAMOHDR *a, const TAMOHDR *b) {
    if (!a->orvptr || !b->orvptr) return false;
    const char *pa = static_cast<const char *>(a->orvptr);
    const char *pb = static_cast<const char *>(b->orvptr);
    const long long na = elementCount(a) * a->orvbpd, nb = elementCount(b) * b->orvbpd;
    return pa < pb + nb && pb < pa + na;
}

// A copy of a record's pixel bytes taken while a progress hook is set, so
// that a cancelled operator can put an output it writes in place back as it
// was. Without a hook nothing is copied. Should the copy not be had, the run
// goes on as one that cannot be cancelled (the caller disables the
// progress object).
class PixelSnapshot {
public:
    PixelSnapshot(TAMOHDR *img, const Progress &progress) : img_(img) {
        if (progress.active()) take();
    }
    // A copy whatever the hook: for operators that may also have to undo a
    // run for a reason of their own.
    explicit PixelSnapshot(TAMOHDR *img) : img_(img) { take(); }
    ~PixelSnapshot() {
        if (copy_) Tamo_freeptr(copy_);
    }
    PixelSnapshot(const PixelSnapshot &) = delete;
    PixelSnapshot &operator=(const PixelSnapshot &) = delete;

    bool failed() const { return failed_; }
    void restore() {
        if (copy_) std::memcpy(img_->orvptr, copy_, bytes_);
    }

private:
    void take() {
        if (!img_ || !img_->orvptr || img_->orvbpd <= 0) return;
        TAMOHDR *img = img_;
        bytes_ = static_cast<size_t>(elementCount(img)) * static_cast<size_t>(img->orvbpd);
        copy_ = static_cast<char *>(Tamo_alcptr(bytes_ ? bytes_ : 1, 1));
        if (copy_) std::memcpy(copy_, img->orvptr, bytes_);
        failed_ = !copy_;
    }

    TAMOHDR *img_;
    char *copy_ = nullptr;
    size_t bytes_ = 0;
    bool failed_ = false;
};

}  // namespace tamo
