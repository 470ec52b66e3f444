// Image-operation commands of the control panel. Each slot takes the course
// the command table gives it in the current mode; every course runs inside
// the command boundary
// (runCommand), takes its records from the buffer functions, asks and
// computes through the dispatcher and re-applies the enable rules at its end.
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "computations.h"
#include "notices.h"
#include "tamoop.h"
#include "tamotool.h"
#include "tamotoolmainwindow.h"

using computations::Record;

namespace {

constexpr int kWorkSlot = 8;

TAMOHDR *imageAt(int index) {
    if (!gTamotool || index < 0 || index > kWorkSlot) return nullptr;
    return gTamotool->images[index];
}

// Reads a field of the segmentation form: an empty field gives `fallback`;
// false when the text is no finite number.
bool readParameter(const QString &text, float fallback, float *value) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        *value = fallback;
        return true;
    }
    bool ok = false;
    *value = t.toFloat(&ok);
    return ok && std::isfinite(*value);
}

// A three-dimensional "float" record of like's columns and rows with exactly
// three frames: what the colour pictures are written into.
bool isColourPictureFor(const TAMOHDR *out, const TAMOHDR *like) {
    return computations::isFloat(out) && out->orvndim == 3 && computations::framesOf(out) == 3 &&
           computations::columnsOf(out) == computations::columnsOf(like) &&
           computations::rowsOf(out) == computations::rowsOf(like);
}

}  // namespace

// ---- Courses shared by several commands --------------------------------------------------

void TamotoolMainWindow::dispatchUnary(int code, TAMOHDR *in, TAMOHDR *&out, int result,
                                       int outIndex) {
    // Colour to grey may release the prepared record and make another one;
    // the slot follows it even when the command stops right after that.
    struct FollowReplacement {
        TAMOHDR *const prepared;
        TAMOHDR *&out;
        const int slot;
        ~FollowReplacement() {
            // The operator has released the prepared record itself.
            if (out != prepared && gTamotool) gTamotool->replaceImage(slot, out);
        }
    } follow{out, out, result == 1 ? kWorkSlot : outIndex};
    op->unary(code, in, out);
}

void TamotoolMainWindow::replaceUnaryOutput(TAMOHDR *&out, TAMOHDR *fresh, int result,
                                            int outIndex) {
    storeInSlot(result == 1 ? kWorkSlot : outIndex, fresh);
    out = fresh;
}

void TamotoolMainWindow::runUnary(const QString &name, int code, _OP_TYPE type, bool keepBinary) {
    runCommand(name, [&] {
        if (!op->acceptsInput(name, TamoOp::inputNeed(code), imageAt(getRadioButtonStatus(INPUT1))))
            return;
        TAMOHDR *in = nullptr, *out = nullptr;
        int outIndex = -1;
        const int result = getUnaryBuffers(in, out, outIndex, type);
        if (result < 0) {
            updateAccessability();
            return;
        }
        if (keepBinary) {
            changeUnaryAccess(false);
            changeDisplayAccess(false);
        } else {
            disableButtons();
        }
        dispatchUnary(code, in, out, result, outIndex);
        // Every result is a record of its own, so it moves into the slot:
        // a "float" copy would only cost time.
        completeUnaryMove(result, outIndex);
        updateAccessability();
    });
}

void TamotoolMainWindow::runComplexPart(const QString &name, int code, _OP_TYPE type,
                                        const char *refusal) {
    runCommand(name, [&] {
        TAMOHDR *in = nullptr, *out = nullptr;
        int outIndex = -1;
        const int result = getUnaryBuffers(in, out, outIndex, type);
        if (result < 0) {
            updateAccessability();
            return;
        }
        if (!computations::isComplex(in)) {
            if (result == 1) storeInSlot(kWorkSlot, nullptr);
            showModalMessage(refusal);
            updateAccessability();
            return;
        }
        disableButtons();
        dispatchUnary(code, in, out, result, outIndex);
        completeUnaryMove(result, outIndex);
        updateAccessability();
    });
}

void TamotoolMainWindow::runBinary(const QString &name, int code) {
    runCommand(name, [&] {
        if (code == 24) disableButtons();
        TAMOHDR *in1 = nullptr, *in2 = nullptr, *out = nullptr;
        int outIndex = -1;
        const int result = getBinaryBuffers(in1, in2, out, outIndex);
        if (result < 0) {
            updateAccessability();
            return;
        }
        disableButtons();
        op->binary(code, in1, in2, out, outIndex);
        completeBinaryBuffers(result, out, outIndex);
        updateAccessability();
    });
}

// ---- Commands with a course of their own ---------------------------------------------------

void TamotoolMainWindow::hogCommand() {
    runCommand("HoG", [&] {
        TAMOHDR *input = imageAt(getRadioButtonStatus(INPUT1));
        const int o = getRadioButtonStatus(OUTPUT);
        if (!input || o < 0) return updateAccessability();
        if (!op->acceptsInput("HoG", TamoOp::InputNeed::Real, input)) return;
        if (computations::columnsOf(input) < 8 || computations::rowsOf(input) < 8) {
            showModalMessage("HoG needs an image of at least 8 x 8 pixels.");
            return;
        }
        Record result;
        const int rc = TamoOp::compute([&] { return computations::hogDescriptor(input, result); });
        if (rc == computations::kNoRecord) return TamoOp::reportFailure(rc);
        std::printf("HoG returned %d\n", rc);
        std::fflush(stdout);
        // The former image (possibly the input) goes only now.
        storeInSlot(o, result.release());
        if (rc == 0) recordTamo({"tamo", "hog", "{IN1}", "{OUT}"});
        updateAccessability();
        TamoOp::reportFailure(rc, "HoGdescriptor");
    });
}

void TamotoolMainWindow::showHoGCommand() {
    runCommand("ShowHoG", [&] {
        changeUnaryAccess(false);
        changeDisplayAccess(false);
        TAMOHDR *input = imageAt(getRadioButtonStatus(INPUT1));
        const int o = getRadioButtonStatus(OUTPUT);
        if (!input || o < 0) return updateAccessability();
        if (input->orvndim != 3 || computations::framesOf(input) != 9) {
            showModalMessage("To view a HoG, input must have 9 frames");
            return updateAccessability();
        }
        if (!op->acceptsInput("ShowHoG", TamoOp::InputNeed::Real, input))
            return updateAccessability();
        Record result;
        const int rc = TamoOp::compute([&] { return computations::hogPicture(input, result); });
        if (rc != computations::kNoRecord) storeInSlot(o, result.release());
        if (rc == 0) recordTamo({"tamo", "showhog", "{IN1}", "{OUT}"});
        updateAccessability();
        TamoOp::reportFailure(rc, "ShowHoG");
    });
}

void TamotoolMainWindow::cropCommand() {
    runCommand("Crop", [&] {
        TAMOHDR *input = imageAt(getRadioButtonStatus(INPUT1));
        const int o = getRadioButtonStatus(OUTPUT);
        if (!input || o < 0 || !gTamotool) return updateAccessability();
        if (!op->acceptsInput("Crop", TamoOp::InputNeed::Real, input)) return;
        const long long x1 = gTamotool->clickX1, x2 = gTamotool->clickX2;
        const long long y1 = gTamotool->clickY1, y2 = gTamotool->clickY2;
        if (x1 == x2 || y1 == y2) {
            showModalMessage("Crop: the two clicked points must differ in row and in column.");
            return;
        }
        // The clicks may come from a window showing a larger image.
        if (std::min(x1, x2) < 0 || std::max(x1, x2) >= computations::columnsOf(input) ||
            std::min(y1, y2) < 0 || std::max(y1, y2) >= computations::rowsOf(input)) {
            showModalMessage("Crop: a clicked point lies outside the Input 1 image.");
            return;
        }
        const int c0 = int(std::min(x1, x2)), w = int(std::llabs(x1 - x2));
        const int r0 = int(std::min(y1, y2)), h = int(std::llabs(y1 - y2));
        Record result;
        const int rc =
            TamoOp::compute([&] { return computations::crop(input, c0, r0, w, h, result); });
        if (rc == 0) {
            storeInSlot(o, result.release());
            recordTamo({"tamo", "convert", "{IN1}", "{OUT}", "--crop",
                        QString("%1,%2,%3,%4").arg(c0).arg(r0).arg(w).arg(h)});
        }
        updateAccessability();
        TamoOp::reportFailure(rc);
    });
}

void TamotoolMainWindow::resizeCommand() {
    runCommand("Resize", [&] {
        QStringList v;
        if (!op->askForm(tr("rows and cols of target imge."),
                         {tr("rows "), tr("columns "), tr("Intermp mode ")}, {"", "", ""}, &v))
            return declineCommand();
        const int rows = v[0].toInt(), cols = v[1].toInt();
        const int mode = v[2].isEmpty() ? 0 : v[2].toInt();
        if (mode < 0 || mode > 2) {
            showModalMessage("Interpolation mode must be 0, 1, or 2");
            return;
        }
        if (rows < 1 || cols < 1) {
            showModalMessage("Resize: rows and columns must be at least 1.");
            return;
        }
        TAMOHDR *input = imageAt(getRadioButtonStatus(INPUT1));
        const int o = getRadioButtonStatus(OUTPUT);
        if (!input || o < 0) return updateAccessability();
        disableButtons();
        Record result;
        const int rc =
            TamoOp::compute([&] { return computations::resize(input, rows, cols, mode, result); });
        if (rc != computations::kNoRecord) storeInSlot(o, result.release());
        if (rc == 0 && (input->orvndim == 2 || input->orvndim == 3))
            recordTamo({"tamo", "resize", "{IN1}", "{OUT}", "--rows", QString::number(rows),
                        "--cols", QString::number(cols), "--mode", QString::number(mode)});
        updateAccessability();
        TamoOp::reportFailure(rc, "Tamozoomupdown");
    });
}

void TamotoolMainWindow::markMaxCommand() {
    runCommand("MarkMax", [&] {
        if (!op->acceptsInput("MarkMax", TamoOp::inputNeed(16),
                              imageAt(getRadioButtonStatus(INPUT1))))
            return;
        TAMOHDR *in = nullptr, *out = nullptr;
        int outIndex = -1;
        const int result = getUnaryBuffers(in, out, outIndex, OP_FLOAT);
        if (result < 0) return updateAccessability();
        const int frames = computations::framesOf(out);
        if (out->orvndim != 3 || (frames != 3 && frames != 4)) {
            Record picture = computations::threeFrameFloat(in);
            if (!picture) {
                if (result == 1) storeInSlot(kWorkSlot, nullptr);
                updateAccessability();
                return TamoOp::reportFailure(computations::kNoRecord);
            }
            replaceUnaryOutput(out, picture.release(), result, outIndex);
        }
        disableButtons();
        dispatchUnary(16, in, out, result, outIndex);
        completeUnaryMove(result, outIndex);
        updateAccessability();
    });
}

void TamotoolMainWindow::pseudoCommand() {
    const bool spread = modeFlag != 0;  // "2D 2 3D": the plane into three frames
    const QString name = spread ? "2D 2 3D" : "CMap";
    runCommand(name, [&] {
        if (!op->acceptsInput(name, TamoOp::inputNeed(18), imageAt(getRadioButtonStatus(INPUT1))))
            return;
        disableButtons();
        TAMOHDR *in = nullptr, *out = nullptr;
        int outIndex = -1;
        const int result = getUnaryBuffers(in, out, outIndex, OP_FLOAT);
        if (result < 0) return updateAccessability();
        // Three frames exactly: the colour operators write frames 0..2 of a
        // record of the picture's own size.
        if (!isColourPictureFor(out, in)) {
            Record picture = computations::threeFrameFloat(in);
            if (!picture) {
                if (result == 1) storeInSlot(kWorkSlot, nullptr);
                updateAccessability();
                return TamoOp::reportFailure(computations::kNoRecord);
            }
            replaceUnaryOutput(out, picture.release(), result, outIndex);
        }
        if (spread) {
            const int rc =
                TamoOp::compute([&] { return computations::copyIntoThreeFrames(in, out); });
            if (rc == 0) recordTamo({"tamo", "convert", "{IN1}", "{OUT}", "--spread", "3"});
            TamoOp::reportFailure(rc);
        } else
            dispatchUnary(18, in, out, result, outIndex);
        completeUnaryMove(result, outIndex);
        updateAccessability();
    });
}

void TamotoolMainWindow::pconCommand() {
    runCommand("pcon", [&] {
        TAMOHDR *in1 = nullptr, *in2 = nullptr, *out = nullptr;
        int outIndex = -1;
        const int result = getBinaryBuffers(in1, in2, out, outIndex);
        if (result < 0) return updateAccessability();
        // The estimate changes in place and the Output slot keeps the zero
        // image; a record meant for an input's slot is not stored, so the
        // segmentation's result is not thrown away.
        auto finish = [&] {
            if (result == 3 && out == pendingOutput) {
                pendingOutput = nullptr;
                releaseRecord(out);
            }
            updateAccessability();
        };
        if (in1->orvndim == 3) {
            showModalMessage("This function cannot run on color images.");
            return finish();
        }
        if (!computations::isFloat(in1) || !computations::isFloat(in2)) {
            const bool first = !computations::isFloat(in1);
            showModalMessage(QString("pcon needs \"float\" images; Input %1 holds \"%2\".")
                                 .arg(first ? 1 : 2)
                                 .arg(QString::fromLatin1(first ? in1->orvdt : in2->orvdt)));
            return finish();
        }
        const QStringList labels = {"sigma [2.0]", "r [.03]",   "b [4]",
                                    "t1 [1.0]",    "t2 [.005]", "dlt [.99]"};
        QStringList v;
        if (!op->askForm(tr("MFA parameters: if not filled in,\n default will be used"), labels,
                         {"2.0", ".03", "4.0", "1.0", "0.005", ".99"}, &v)) {
            declineCommand();
            return finish();
        }
        computations::PconParameters p;
        float *const fields[] = {&p.sigma, &p.r, &p.b, &p.t1, &p.t2, &p.dlt};
        const float defaults[] = {2.0f, 0.03f, 4.0f, 1.0f, 0.005f, 0.99f};
        for (int i = 0; i < 6; ++i) {
            if (!readParameter(v[i], defaults[i], fields[i])) {
                showModalMessage(QString("pcon: \"%1\" is not a number.").arg(v[i].trimmed()));
                return finish();
            }
        }
        // The data term divides by sigma: 0 would make the estimate NaN.
        if (!(p.sigma > 0.0f)) {
            showModalMessage("pcon: sigma must be greater than 0.");
            return finish();
        }
        // Otherwise the temperature schedule would never end.
        if (!(p.dlt < 1.0f)) {
            showModalMessage("pcon: dlt must be less than 1.");
            return finish();
        }
        if (!(p.t2 > 0.0f)) {
            showModalMessage("pcon: t2 must be greater than 0.");
            return finish();
        }
        disableButtons();
        // The segmentation changes the estimate and the data's border in
        // place; it works on copies, which go back into the inputs' own
        // records only when it succeeds, so that a cancelled or failed run
        // leaves both as they were. One record as both inputs stays one.
        Record estimate = computations::copyOf(in1);
        Record data = in2 == in1 ? nullptr : computations::copyOf(in2);
        if (!estimate || (in2 != in1 && !data)) {
            finish();
            return TamoOp::reportFailure(computations::kNoRecord);
        }
        TAMOHDR *const dataRecord = data ? data.get() : estimate.get();
        const int rc =
            TamoOp::compute([&] { return computations::pcon(estimate.get(), dataRecord, p); });
        if (rc == 0) {
            const int a = getRadioButtonStatus(INPUT1), b = getRadioButtonStatus(INPUT2);
            gTamotool->changePixels(
                a, [&](TAMOHDR *img) { computations::copyPixels(estimate.get(), img); });
            if (data)
                gTamotool->changePixels(
                    b, [&](TAMOHDR *img) { computations::copyPixels(data.get(), img); });
            // The tool reads the two inputs as two records; one record as both
            // inputs has no equivalent.
            if (data) {
                auto n = [](float value) { return QString::number(double(value), 'g', 9); };
                recordTamo({"tamo", "pcon", "{IN1}", "{IN2}", QString("{OUT:%1}").arg(a),
                            "--data-out", QString("{OUT:%1}").arg(b), "--sigma", n(p.sigma), "--r",
                            n(p.r), "--b", n(p.b), "--t1", n(p.t1), "--t2", n(p.t2), "--dlt",
                            n(p.dlt)});
                if (result == 0)
                    recordTamo(
                        {"tamo", "convert", "{IN1}", QString("{OUT:%1}").arg(outIndex), "--zero"});
            }
        }
        finish();
        TamoOp::reportFailure(rc, "pconsub");
    });
}

// ---- The command slots ---------------------------------------------------------------
// Each takes the course the command table gives it in the current mode.

void TamotoolMainWindow::dx() {
    dispatchCommand(&TamotoolMainWindow::dx);
}

void TamotoolMainWindow::dy() {
    dispatchCommand(&TamotoolMainWindow::dy);
}

void TamotoolMainWindow::dxx() {
    dispatchCommand(&TamotoolMainWindow::dxx);
}

void TamotoolMainWindow::dyy() {
    dispatchCommand(&TamotoolMainWindow::dyy);
}

void TamotoolMainWindow::dxdy() {
    dispatchCommand(&TamotoolMainWindow::dxdy);
}

void TamotoolMainWindow::curvature() {
    dispatchCommand(&TamotoolMainWindow::curvature);
}

void TamotoolMainWindow::exponent() {
    dispatchCommand(&TamotoolMainWindow::exponent);
}

void TamotoolMainWindow::inverse() {
    dispatchCommand(&TamotoolMainWindow::inverse);
}

void TamotoolMainWindow::laplacian() {
    dispatchCommand(&TamotoolMainWindow::laplacian);
}

void TamotoolMainWindow::natlog() {
    dispatchCommand(&TamotoolMainWindow::natlog);
}

void TamotoolMainWindow::blur() {
    dispatchCommand(&TamotoolMainWindow::blur);
}

void TamotoolMainWindow::ccl() {
    dispatchCommand(&TamotoolMainWindow::ccl);
}

void TamotoolMainWindow::histeq() {
    dispatchCommand(&TamotoolMainWindow::histeq);
}

void TamotoolMainWindow::pseudo() {
    dispatchCommand(&TamotoolMainWindow::pseudo);
}

void TamotoolMainWindow::c2mag() {
    dispatchCommand(&TamotoolMainWindow::c2mag);
}

void TamotoolMainWindow::c2phase() {
    dispatchCommand(&TamotoolMainWindow::c2phase);
}

void TamotoolMainWindow::c2real() {
    dispatchCommand(&TamotoolMainWindow::c2real);
}

void TamotoolMainWindow::c2imag() {
    dispatchCommand(&TamotoolMainWindow::c2imag);
}

void TamotoolMainWindow::fft() {
    dispatchCommand(&TamotoolMainWindow::fft);
}

void TamotoolMainWindow::ifft() {
    dispatchCommand(&TamotoolMainWindow::ifft);
}

void TamotoolMainWindow::add() {
    dispatchCommand(&TamotoolMainWindow::add);
}

void TamotoolMainWindow::sub() {
    dispatchCommand(&TamotoolMainWindow::sub);
}

void TamotoolMainWindow::mul() {
    dispatchCommand(&TamotoolMainWindow::mul);
}

void TamotoolMainWindow::div() {
    dispatchCommand(&TamotoolMainWindow::div);
}

void TamotoolMainWindow::correlate() {
    dispatchCommand(&TamotoolMainWindow::correlate);
}

void TamotoolMainWindow::gdir() {
    dispatchCommand(&TamotoolMainWindow::gdir);
}

void TamotoolMainWindow::pcon() {
    dispatchCommand(&TamotoolMainWindow::pcon);
}
