// What a command of the control panel costs beyond its operator: DX with
// sigma 3 on a 2048 x 2048 "float" image, pressed on the real panel with its
// sigma dialog answered, against flDoG alone on the same image (output record
// made in both, as the command makes it). Runs under Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QInputDialog>
#include <QMetaObject>
#include <QRadioButton>
#include <QTimer>

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

void BM_DxCommand(benchmark::State &state) {
    Tamotool tool;
    gTamotool = &tool;
    TamotoolMainWindow *panel = tool.mainWindow;
    tool.images[0] = makeImage();
    panel->findChild<QRadioButton *>("input1_0")->click();
    panel->findChild<QRadioButton *>("output_1")->click();

    // Answers the sigma dialog as soon as it is up.
    QTimer answer;
    answer.setInterval(0);
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
            dialog->setDoubleValue(kSigma);
            dialog->accept();
        }
    });
    answer.start();
    for (auto _ : state) QMetaObject::invokeMethod(panel, "dx");
    answer.stop();
    if (!tool.images[1]) state.SkipWithError("DX left no result");
    gTamotool = nullptr;
}

BENCHMARK(BM_FlDoGAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DxCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
