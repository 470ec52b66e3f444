// What a command of the control panel costs beyond its operator: DX with
// sigma 3 on a 2048 x 2048 "float" image, pressed on the real panel, against
// flDoG alone on the same image (output record made in both, as the command
// makes it). BM_DxCommand times the whole slot, the sigma dialog's drawing
// included; BM_DxAfterDialog times it from the moment the dialog is answered
// (buffers, worker thread, filtering, storing). Runs under Qt's offscreen
// platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QInputDialog>
#include <QMetaObject>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <cstdlib>

#include "tamo++.h"
#include "tamo.h"
#include "tamotool.h"
#include "tamotoolmainwindow.h"

namespace {

constexpr int kSide = 2048;
constexpr float kSigma = 3.0f;

TAMOHDR *makeImage() {
    int dims[3] = {2, kSide, kSide};
    TAMOHDR *img = Tamocreate("float", dims, 11, 0);
    float *p = tamo::pixels<float>(img);
    unsigned state = 7;
    for (long i = 0; i < static_cast<long>(kSide) * kSide; ++i) {
        state = state * 1664525u + 1013904223u;
        p[i] = static_cast<float>(state >> 8) * (100.0f / 16777216.0f);
    }
    return img;
}

void BM_FlDoGAlone(benchmark::State &state) {
    tamo::RecordPtr in(makeImage());
    int dims[3] = {2, kSide, kSide};
    for (auto _ : state) {
        tamo::RecordPtr out(Tamocreate("float", dims, 11, 0));
        benchmark::DoNotOptimize(flDoG(in.get(), out.get(), 1, 0, kSigma));
    }
}

// Presses DX on a panel holding the test image in slot 0 (Output 1);
// `answered` receives the time at which the sigma dialog was accepted.
template <class Body>
void pressDx(benchmark::State &state, Body body) {
    Tamotool tool;
    gTamotool = &tool;
    TamotoolMainWindow *panel = tool.mainWindow;
    tool.images[0] = makeImage();
    panel->findChild<QRadioButton *>("input1_0")->click();
    panel->findChild<QRadioButton *>("output_1")->click();

    std::chrono::steady_clock::time_point answered;
    QTimer answer;
    answer.setInterval(0);
    // Runs only until the dialog is answered, so that it does not keep the
    // GUI thread busy while the filter runs.
    QObject::connect(&answer, &QTimer::timeout, [&answered, &answer] {
        if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
            dialog->setDoubleValue(kSigma);
            answered = std::chrono::steady_clock::now();
            answer.stop();
            dialog->accept();
        }
    });
    for (auto _ : state) {
        answer.start();
        QMetaObject::invokeMethod(panel, "dx");
        body(state, answered);
    }
    if (!tool.images[1]) state.SkipWithError("DX left no result");
    gTamotool = nullptr;
}

void BM_DxCommand(benchmark::State &state) {
    pressDx(state, [](benchmark::State &, std::chrono::steady_clock::time_point) {});
}

void BM_DxAfterDialog(benchmark::State &state) {
    pressDx(state, [](benchmark::State &s, std::chrono::steady_clock::time_point answered) {
        s.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - answered).count());
    });
}

BENCHMARK(BM_FlDoGAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DxCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DxAfterDialog)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
