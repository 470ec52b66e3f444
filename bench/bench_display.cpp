// Display conversion and image-window redraws on square "float" records:
// toQImage of a 3-frame record and of a 2-D one, one changeRGB redraw, and one
// step of a Bright slider drag (the handler chain a user's drag runs).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QSlider>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <string>

#include "tamo.h"
#include "tamo2qt.h"
#include "tamotool.h"
#include "tamotoolchildwindow.h"
#include "tamotoolmainwindow.h"

namespace {

// Random values in 0..1000, so that the stretch has work to do.
TAMOHDR *randomRecord(int n, int frames) {
    const int dims[] = {frames > 1 ? 3 : 2, n, n, frames};
    TAMOHDR *img = Tamocreate("float", dims, 11, 0);
    float *data = reinterpret_cast<float *>(img->orvptr);
    std::mt19937 gen(42);
    std::uniform_real_distribution<float> dist(0.0f, 1000.0f);
    const long long count = static_cast<long long>(n) * n * frames;
    for (long long i = 0; i < count; ++i) data[i] = dist(gen);
    return img;
}

void toQImage(benchmark::State &state, int frames) {
    const int n = static_cast<int>(state.range(0));
    TAMOHDR *img = randomRecord(n, frames);
    Tamo2Qt converter;
    for (auto _ : state) {
        std::unique_ptr<QImage> picture(converter.toQImage(img, 0, 0));
        benchmark::DoNotOptimize(picture->constBits());
    }
    state.SetItemsProcessed(state.iterations() * n * n);
    Tamofree(img, 7);
}

void BM_ToQImageColour(benchmark::State &state) {
    toQImage(state, 3);
}
void BM_ToQImageGrey(benchmark::State &state) {
    toQImage(state, 1);
}

// Keeps the window's own lines on standard output (the zoom scale it
// prints when it opens) out of the benchmark's report there.
class QuietStdout {
public:
    QuietStdout() {
        std::cout.flush();
        std::fflush(stdout);
        saved_ = dup(1);
        const int sink = open("/dev/null", O_WRONLY);
        if (sink >= 0) {
            dup2(sink, 1);
            close(sink);
        }
    }
    ~QuietStdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
    }

private:
    int saved_;
};

// An image window on slot 0 holding a random record of n x n x frames.
std::unique_ptr<TamotoolChildWindow> openWindow(int n, int frames) {
    QuietStdout quiet;
    if (gTamotool->images[0]) Tamofree(gTamotool->images[0], 7);
    gTamotool->images[0] = randomRecord(n, frames);
    QImage *picture = gTamotool->mainWindow->converter.toQImage(gTamotool->images[0], 0, 0);
    return std::make_unique<TamotoolChildWindow>(gTamotool->mainWindow, picture, 0);
}

void BM_ChangeRGB(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::unique_ptr<TamotoolChildWindow> window = openWindow(n, 3);
    int step = 0;
    for (auto _ : state) {
        // A new offset each time: a redraw asked again with the same values
        // is skipped.
        ++step;
        window->changeRGB(step % 50, step % 30, -(step % 40));
    }
    state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_BrightDrag(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::unique_ptr<TamotoolChildWindow> window = openWindow(n, 3);
    auto *slider = window->findChild<QSlider *>("brightSlider");
    int step = 0;
    for (auto _ : state) slider->setValue(++step % 2 ? 20 : 30);
    state.SetItemsProcessed(state.iterations() * n * n);
}

}  // namespace

BENCHMARK(BM_ToQImageColour)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ToQImageGrey)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChangeRGB)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BrightDrag)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
    // The windows need a GUI application; nothing is shown on a screen and
    // no settings of the user are read or written.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string home = QDir::tempPath().toStdString() + "/tamo-bench-display";
    QDir().mkpath(QString::fromStdString(home));
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    gTamotool = new Tamotool;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    delete gTamotool;
    gTamotool = nullptr;
    return 0;
}
