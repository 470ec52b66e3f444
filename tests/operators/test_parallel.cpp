// Threads and progress: every operator that splits its work over threads
// gives the same bytes on one thread and on several, and every long operator
// reports progress a bounded number of times from the calling thread and
// stops cleanly when the hook asks it to.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "testrecords.h"

namespace {

using tamo::RecordPtr;
using testsupport::image;

// Sets TAMO_THREADS for the lifetime of the object.
class ThreadCap {
public:
    explicit ThreadCap(int n) { setenv("TAMO_THREADS", std::to_string(n).c_str(), 1); }
    ~ThreadCap() { unsetenv("TAMO_THREADS"); }
};

std::string bytesOf(const TAMOHDR *img) {
    const size_t n = static_cast<size_t>(tamo::elementCount(img)) * img->orvbpd;
    return std::string(static_cast<const char *>(img->orvptr), n);
}

// A record of `type` filled with values from `lo` to `hi` (seeded).
RecordPtr randomImage(const char *type, int cols, int rows, int frames, float lo, float hi,
                      unsigned seed) {
    RecordPtr img = image(type, cols, rows, frames);
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> value(lo, hi);
    const long long n = tamo::elementCount(img.get()) * (img->dtype == TAMO_32CMP ? 2 : 1);
    float *p = tamo::pixels<float>(img.get());
    for (long long i = 0; i < n; ++i) p[i] = value(gen);
    return img;
}

RecordPtr copyOf(const TAMOHDR *img) {
    const int dims[4] = {img->orvndim, tamo::dimLength(img, 0), tamo::rowsOf(img),
                         tamo::framesOf(img)};
    RecordPtr copy(Tamocreate(img->orvdt, dims, TAMO_CREATE_ZEROED, 0));
    std::memcpy(copy->orvptr, img->orvptr, bytesOf(img).size());
    return copy;
}

// Inputs large enough that every operator below splits them.
struct Inputs {
    RecordPtr grey = randomImage("float", 512, 512, 0, -50.0f, 200.0f, 1);
    RecordPtr other = randomImage("float", 512, 512, 0, 0.5f, 100.0f, 2);
    RecordPtr colour = randomImage("float", 256, 256, 3, 0.0f, 255.0f, 3);
    RecordPtr complexImage = randomImage("32cmp", 512, 512, 0, -1.0f, 1.0f, 4);
    RecordPtr smallTemplate = randomImage("float", 3, 3, 0, 0.0f, 1.0f, 5);
    RecordPtr largeTemplate = randomImage("float", 16, 12, 0, 0.0f, 1.0f, 6);
    RecordPtr colourTemplate = randomImage("float", 9, 9, 3, 0.0f, 1.0f, 7);
};

// One operator run: its status, what it printed and the bytes of what it
// wrote.
using OperatorRun = std::function<std::string(const Inputs &)>;

std::string outcome(int rc, const std::string &printed, const TAMOHDR *out) {
    return std::to_string(rc) + "|" + printed + "|" + bytesOf(out);
}

// out = op(in, out) on a zeroed record shaped like `like`, of type `type`.
OperatorRun unary(const RecordPtr Inputs::*in, const char *type,
                  std::function<int(TAMOHDR *, TAMOHDR *)> op, int cols = 0, int rows = 0) {
    return [=](const Inputs &inputs) {
        TAMOHDR *src = (inputs.*in).get();
        RecordPtr out =
            image(type, cols ? cols : tamo::dimLength(src, 0), rows ? rows : tamo::rowsOf(src),
                  src->orvndim == 3 ? tamo::framesOf(src) : 0);
        int rc = 0;
        const std::string printed = testsupport::stdoutOf([&] { rc = op(src, out.get()); });
        return outcome(rc, printed, out.get());
    };
}

OperatorRun binary(const RecordPtr Inputs::*a, const RecordPtr Inputs::*b, const char *type,
                   std::function<int(TAMOHDR *, TAMOHDR *, TAMOHDR *)> op) {
    return [=](const Inputs &inputs) {
        TAMOHDR *x = (inputs.*a).get();
        RecordPtr out = image(type, tamo::dimLength(x, 0), tamo::rowsOf(x),
                              x->orvndim == 3 ? tamo::framesOf(x) : 0);
        int rc = 0;
        const std::string printed =
            testsupport::stdoutOf([&] { rc = op(x, (inputs.*b).get(), out.get()); });
        return outcome(rc, printed, out.get());
    };
}

TEST(Threads, EveryParallelOperatorGivesTheSameBytesOnOneThreadAndOnSeveral) {
    const Inputs in;
    // flsqrt meets a negative value half-way: nothing from there on is written.
    RecordPtr roots = randomImage("float", 512, 512, 0, 0.0f, 9.0f, 8);
    tamo::pixels<float>(roots.get())[300 * 512 + 7] = -1.0f;
    const std::vector<std::pair<const char *, OperatorRun>> cases = {
        {"flDoG blur", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flDoG(i, o, 0, 0, 1.5f); })},
        {"flDoG wide derivative", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flDoG(i, o, 1, 1, 3.0f); })},
        {"flDoG squared LoG", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flDoG(i, o, 0, 3, -1.0f); })},
        {"flDoG colour frames", unary(&Inputs::colour, "float", [](TAMOHDR *i, TAMOHDR *o) { return flDoG(i, o, 2, 2, 1.0f); })},
        {"flgmag", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flgmag(i, o, 2.0f); })},
        {"flcurv", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flcurv(i, o, 1.0f); })},
        {"flLaplace squared", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flLaplace(i, o, -1.0f); })},
        {"flqvar", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flqvar(i, o, 1.0f); })},
        {"flgdir", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flgdir(i, o, 1.0f); })},
        {"fladds", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return fladds(i, o, 0.3f); })},
        {"flmults", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flmults(i, o, 1.7f); })},
        {"flabsolute", unary(&Inputs::grey, "float", flabsolute)},
        {"flexp", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return flexp(i, o, 40.0f); })},
        {"flln", unary(&Inputs::grey, "float", flln)},
        {"flinv", unary(&Inputs::grey, "float", flinv)},
        {"fladdv", binary(&Inputs::grey, &Inputs::other, "float", fladdv)},
        {"flmultv", binary(&Inputs::grey, &Inputs::other, "float", flmultv)},
        {"fldivv", binary(&Inputs::grey, &Inputs::other, "float", fldivv)},
        {"flatan2", binary(&Inputs::grey, &Inputs::other, "float", flatan2)},
        {"flmultv complex", binary(&Inputs::complexImage, &Inputs::complexImage, "32cmp", flmultv)},
        {"fldivv complex", binary(&Inputs::complexImage, &Inputs::complexImage, "32cmp", fldivv)},
        {"flsqrt", [&](const Inputs &) {
             RecordPtr out = image("float", 512, 512);
             int rc = 0;
             const std::string printed = testsupport::stderrOf([&] { rc = flsqrt(roots.get(), out.get()); });
             return outcome(rc, printed, out.get());
         }},
        {"Tamocfft2d forward and back", [](const Inputs &i) {
             RecordPtr data = copyOf(i.complexImage.get());
             const int rc = Tamocfft2d(data.get(), -1);
             const std::string forward = bytesOf(data.get());
             return outcome(rc + Tamocfft2d(data.get(), 1), forward, data.get());
         }},
        {"corr1frame direct", binary(&Inputs::grey, &Inputs::smallTemplate, "float", corr1frame)},
        {"flcorrelate transforms", binary(&Inputs::grey, &Inputs::largeTemplate, "float", flcorrelate)},
        {"flcorrelate colour", binary(&Inputs::colour, &Inputs::colourTemplate, "float", flcorrelate)},
        {"flcorrelate into bytes", binary(&Inputs::grey, &Inputs::largeTemplate, "u8bit", flcorrelate)},
        {"flHistogramEq window", unary(&Inputs::colour, "float", [](TAMOHDR *i, TAMOHDR *o) { return flHistogramEq(i, o, 3); })},
        {"flHistogramEq window into bytes", unary(&Inputs::colour, "u8bit", [](TAMOHDR *i, TAMOHDR *o) { return flHistogramEq(i, o, 2); })},
        {"zoom bilinear", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return Tamozoomupdown(i, o, 0); }, 733, 611)},
        {"zoom replication", unary(&Inputs::grey, "16bit", [](TAMOHDR *i, TAMOHDR *o) { return Tamozoomupdown(i, o, 1); }, 900, 700)},
        {"zoom averaging", unary(&Inputs::grey, "float", [](TAMOHDR *i, TAMOHDR *o) { return Tamozoomupdown(i, o, 2); }, 800, 640)},
        {"zoom framed", unary(&Inputs::colour, "float", [](TAMOHDR *i, TAMOHDR *o) { return Tamozoomupdown(i, o, 0); }, 500, 400)},
        {"Tamovidscale", unary(&Inputs::grey, "u8bit", [](TAMOHDR *i, TAMOHDR *o) {
             float lo = 0, hi = 0;
             const int rc = Tamovidscale(i, o, &lo, &hi, 0);
             std::printf("%a %a\n", lo, hi);
             return rc;
         })},
        {"HoGdescriptor", [](const Inputs &i) {
             RecordPtr h = image("float", 64, 64, 9);
             const int rc = HoGdescriptor(i.grey.get(), h.get());
             return outcome(rc, "", h.get());
         }},
        {"cclC4_3", unary(&Inputs::grey, "32bit", [](TAMOHDR *i, TAMOHDR *o) {
             int count = 0;
             const int rc = cclC4_3(i, 3, 0, &count, nullptr, o, 30.0f, 0.0f, 150.0f);
             return rc * 1000000 + count;
         })},
    };
    for (const auto &[name, run] : cases) {
        std::string one, several;
        {
            ThreadCap cap(1);
            one = run(in);
        }
        {
            ThreadCap cap(3);
            several = run(in);
        }
        EXPECT_TRUE(one == several) << name;
        EXPECT_GT(one.size(), 4u) << name;
    }
}

// ---- Progress and cancellation ----------------------------------------------------

struct HookLog {
    int calls = 0;
    int stopAt = 0;  // the call that asks to stop (0: never)
    int64_t lastDone = -1, total = 0;
    bool monotonic = true, inRange = true, onCaller = true;
    std::thread::id caller;
};
HookLog hookLog;

int recordingHook(int64_t done, int64_t total) {
    HookLog &log = hookLog;
    ++log.calls;
    log.monotonic = log.monotonic && done >= log.lastDone && (log.total == 0 || total == log.total);
    log.inRange = log.inRange && done >= 0 && done <= total && total > 0;
    log.onCaller = log.onCaller && std::this_thread::get_id() == log.caller;
    log.lastDone = done;
    log.total = total;
    return log.stopAt != 0 && log.calls >= log.stopAt;
}

// Installs the recording hook for the lifetime of the object.
class HookInstalled {
public:
    explicit HookInstalled(int stopAt) {
        hookLog = HookLog{};
        hookLog.stopAt = stopAt;
        hookLog.caller = std::this_thread::get_id();
        Tamo_progressptr = recordingHook;
    }
    ~HookInstalled() { Tamo_progressptr = nullptr; }
};

// A long operator on records it makes itself: `touched` are the records it
// writes (in place or as output), whose bytes a stopped run must leave alone.
struct LongRun {
    const char *name;
    std::function<void(std::vector<RecordPtr> &touched)> prepare;
    std::function<int(std::vector<RecordPtr> &touched)> call;
    std::vector<RecordPtr> made() const {
        std::vector<RecordPtr> touched;
        prepare(touched);
        return touched;
    }
};

TEST(Progress, LongOperatorsReportBoundedProgressAndStopLeavingTheirOutputsAlone) {
    ThreadCap cap(3);
    const RecordPtr grey = randomImage("float", 256, 256, 0, 0.0f, 100.0f, 11);
    const RecordPtr colour = randomImage("float", 256, 256, 3, 0.0f, 100.0f, 12);
    const RecordPtr tmpl = randomImage("float", 16, 16, 0, 0.0f, 1.0f, 13);
    const RecordPtr small = randomImage("float", 3, 3, 0, 0.0f, 1.0f, 14);
    const RecordPtr spectrum = randomImage("32cmp", 256, 256, 0, -1.0f, 1.0f, 15);
    auto zeroed = [](const char *type, int cols, int rows, int frames = 0) {
        RecordPtr img = image(type, cols, rows, frames);
        std::memset(img->orvptr, 0x5a, bytesOf(img.get()).size());  // not what any run writes
        return img;
    };
    const std::vector<LongRun> runs = {
        {"pconsub",
         [&](std::vector<RecordPtr> &t) {
             t.push_back(randomImage("float", 48, 40, 0, 0.0f, 100.0f, 16));
             t.push_back(randomImage("float", 48, 40, 0, 0.0f, 100.0f, 17));
         },
         [&](std::vector<RecordPtr> &t) {
             return pconsub(t[0].get(), t[1].get(), 2.0f, 0.03f, 4.0f, 1.0f, 0.005f, 0.99f);
         }},
        {"flcorrelate transforms",
         [&](std::vector<RecordPtr> &t) { t.push_back(zeroed("float", 256, 256)); },
         [&](std::vector<RecordPtr> &t) {
             return flcorrelate(grey.get(), tmpl.get(), t[0].get());
         }},
        {"corr1frame direct",
         [&](std::vector<RecordPtr> &t) { t.push_back(zeroed("float", 256, 256)); },
         [&](std::vector<RecordPtr> &t) {
             return corr1frame(grey.get(), small.get(), t[0].get());
         }},
        {"flHistogramEq window",
         [&](std::vector<RecordPtr> &t) { t.push_back(zeroed("float", 256, 256, 3)); },
         [&](std::vector<RecordPtr> &t) { return flHistogramEq(colour.get(), t[0].get(), 2); }},
        {"cclC4_3 into labels",
         [&](std::vector<RecordPtr> &t) { t.push_back(zeroed("32bit", 256, 256)); },
         [&](std::vector<RecordPtr> &t) {
             return cclC4_3(grey.get(), 0, 0, nullptr, nullptr, t[0].get(), 20.0f, 10.0f, 90.0f);
         }},
        {"cclC4_3 converted",
         [&](std::vector<RecordPtr> &t) { t.push_back(zeroed("float", 256, 256)); },
         [&](std::vector<RecordPtr> &t) {
             return cclC4_3(grey.get(), 5, 0, nullptr, nullptr, t[0].get(), 20.0f, 10.0f, 90.0f);
         }},
        {"Tamocfft2d", [&](std::vector<RecordPtr> &t) { t.push_back(copyOf(spectrum.get())); },
         [&](std::vector<RecordPtr> &t) { return Tamocfft2d(t[0].get(), -1); }},
        {"Tamozoomupdown planar",
         [&](std::vector<RecordPtr> &t) { t.push_back(zeroed("float", 400, 300)); },
         [&](std::vector<RecordPtr> &t) { return Tamozoomupdown(grey.get(), t[0].get(), 0); }},
        {"Tamozoomupdown framed",
         [&](std::vector<RecordPtr> &t) { t.push_back(zeroed("float", 300, 200, 3)); },
         [&](std::vector<RecordPtr> &t) { return Tamozoomupdown(colour.get(), t[0].get(), 0); }},
    };
    for (const LongRun &r : runs) {
        // No hook, and a hook that never stops: the same results.
        std::vector<RecordPtr> plain = r.made(), watched = r.made();
        int rc = 0;
        testsupport::stdoutOf([&] { rc = r.call(plain); });
        ASSERT_EQ(rc, 0) << r.name;
        {
            HookInstalled hook(0);
            const auto start = std::chrono::steady_clock::now();
            testsupport::stdoutOf([&] { rc = r.call(watched); });
            // About 100 calls, and one more per 100 ms on a slow (busy or
            // sanitized) run so that a stop is heard soon.
            const long long slowCalls = std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count() /
                                        100;
            EXPECT_EQ(rc, 0) << r.name;
            EXPECT_GE(hookLog.calls, 2) << r.name;
            EXPECT_LE(hookLog.calls, 101 + slowCalls) << r.name;
            EXPECT_TRUE(hookLog.monotonic && hookLog.inRange) << r.name;
            EXPECT_TRUE(hookLog.onCaller) << r.name;
        }
        for (size_t i = 0; i < plain.size(); ++i)
            EXPECT_TRUE(bytesOf(plain[i].get()) == bytesOf(watched[i].get())) << r.name;

        // Stopped at the second report: the records it writes are as they came.
        std::vector<RecordPtr> stopped = r.made();
        std::vector<std::string> before;
        for (const RecordPtr &img : stopped) before.push_back(bytesOf(img.get()));
        {
            HookInstalled hook(2);
            testsupport::stdoutOf([&] { rc = r.call(stopped); });
            EXPECT_EQ(rc, TAMO_CANCELLED) << r.name;
            EXPECT_EQ(hookLog.calls, 2) << r.name;
        }
        for (size_t i = 0; i < stopped.size(); ++i)
            EXPECT_TRUE(bytesOf(stopped[i].get()) == before[i]) << r.name << " record " << i;
    }
}

}  // namespace
