// Read of a raster file into a slot (decoding, the "float" record, the
// statistics and the console summary) against the toolkit's decoding of the
// same file alone.
//
//   bench_fileread [--benchmark_filter=...]   (the picture goes to $TMPDIR or /tmp)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tamotool.h"
#include "tamotoolmainwindow.h"

namespace {

constexpr int kSide = 4096;

QString picturePath() {
    const char *dir = std::getenv("TMPDIR");
    return QString::fromStdString(std::string(dir && *dir ? dir : "/tmp") +
                                  "/tamo_bench_fileread_" + std::to_string(getpid()) + ".png");
}

// Smooth colour gradients with a little noise: a PNG that decodes like a
// photograph rather than like a flat test card.
bool writePicture(const QString &path) {
    QImage image(kSide, kSide, QImage::Format_RGB32);
    unsigned noise = 1;
    for (int y = 0; y < kSide; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kSide; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int n = (noise >> 16) & 7;
            line[x] = qRgb((x / 16 + n) & 255, (y / 16 + n) & 255, ((x + y) / 32 + n) & 255);
        }
    }
    return image.save(path, "PNG");
}

void closeNotes() {
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget)) box->close();
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_QImageLoad(benchmark::State &state) {
    const QString path = picturePath();
    for (auto _ : state) {
        QImage image;
        if (!image.load(path)) {
            state.SkipWithError("cannot load the picture");
            return;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_QImageLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading into a slot that already holds an image. With `undo` the panel's
// history keeps a copy of the replaced image for Edit > Undo (a copy of 192
// MiB here, as every command that replaces a slot makes); without it the
// undo memory is 0, so what is timed is the read alone.
void BM_ReadIntoSlot(benchmark::State &state) {
    const bool undo = state.range(0) != 0;
    gTamotool->mainWindow->setUndoBudget(undo ? (1LL << 40) : 0);
    const QString path = picturePath();
    for (auto _ : state) {
        gTamotool->handleFileByPath(path, 0);
        state.PauseTiming();
        if (!gTamotool->images[0]) {
            state.SkipWithError("the picture did not reach the slot");
            return;
        }
        closeNotes();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ReadIntoSlot)
    ->ArgName("undo")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const QString path = picturePath();
    if (!writePicture(path)) {
        std::fprintf(stderr, "bench_fileread: cannot write %s\n", qUtf8Printable(path));
        return 1;
    }
    gTamotool = new Tamotool;
    // One read first: the first message box and console text of a process
    // load fonts and styles, which is start-up work, not reading.
    gTamotool->handleFileByPath(path, 0);
    closeNotes();
    benchmark::RunSpecifiedBenchmarks();
    delete gTamotool;
    gTamotool = nullptr;
    QFile::remove(path);
    return 0;
}
