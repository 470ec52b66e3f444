#include "tamoop.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdio>

#include "commandtable.h"
#include "computations.h"
#include "longwork.h"
#include "notices.h"
#include "tamoops.h"
#include "tamotool.h"
#include "tamotoolmainwindow.h"

using computations::Record;

namespace {

const char kErrorCode[] = "Function returned an error code.";
const char kCannotCreate[] = "Cannot create the output image.";

// The reason for operator op's result rc, with the code, on the console
// (before the message box, so that it is there to read while the box waits).
void consoleReason(int rc, const char *op) {
    const char *reason = op ? Tamoopstext(op, rc) : nullptr;
    if (reason && gTamotool && gTamotool->mainWindow)
        gTamotool->mainWindow->addConsoleOutput(
            QString("\n%1: %2 (code %3)").arg(op, reason).arg(rc));
}

// "Function return error code" with the code appended (no blank between).
void reportCode(int rc, const char *op) {
    consoleReason(rc, op);
    showModalMessage(QString("Function return error code%1").arg(rc));
}

// A dialog's number as an int, truncated toward zero; texts that are no
// number, and values beyond the int range, are limited rather than left
// undefined.
int truncatedInt(const QString &text) {
    const double v = text.toDouble();
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483647.0) return -2147483647;
    return static_cast<int>(v);
}

// A single-precision parameter as the tool reads it back exactly.
QString number(float value) {
    return QString::number(static_cast<double>(value), 'g', 9);
}

// A tamo line for the input `in`: the result of a three-dimensional input
// keeps all of its frames, as here (the ones the operation leaves are zero).
QStringList withZeroFrames(QStringList line, const TAMOHDR *in) {
    if (in->orvndim == 3) line << "--zero-frames";
    return line;
}

// The tamo line of a unary operation with the parameter the user gave, or
// an empty list when the tool has none that makes the same record.
QStringList unaryLine(int code, float value, const TAMOHDR *out) {
    const CommandCourse *course = courseWithCode(code);
    // The tool's maxima marking always makes three frames.
    if (!course || (code == 16 && computations::framesOf(out) != 3)) return {};
    QStringList line = course->tamoLine;
    line.replaceInStrings("{VALUE}", number(value));
    return line;
}

}  // namespace

TamoOp::TamoOp(QWidget *parent) : QObject(parent), parent_(parent) {}

TamotoolMainWindow *TamoOp::panel() const {
    return qobject_cast<TamotoolMainWindow *>(parent_);
}

void TamoOp::record(const QStringList &words) {
    if (TamotoolMainWindow *p = panel()) p->recordTamo(words);
}

void TamoOp::decline() {
    if (TamotoolMainWindow *p = panel()) p->declineCommand();
}

// ---- Helpers shared with the command slots -------------------------------------------

int TamoOp::compute(const std::function<int()> &computation) {
    return longwork::run(computation);
}

void TamoOp::reportFailure(int rc, const char *op) {
    if (rc == computations::kNoRecord) {
        showModalMessage(kCannotCreate);
    } else if (rc != 0) {
        consoleReason(rc, op);
        showModalMessage(kErrorCode);
    }
}

TamoOp::InputNeed TamoOp::inputNeed(int code) {
    const CommandCourse *course = courseWithCode(code);
    return course ? course->need : InputNeed::Float;
}

bool TamoOp::acceptsInput(const QString &command, InputNeed need, const TAMOHDR *in) {
    if (!in) return true;
    bool fits = true;
    switch (need) {
        case InputNeed::Float:
            if (computations::isFloat(in)) return true;
            showModalMessage(QString("%1 needs a \"float\" image; Input 1 holds \"%2\".")
                                 .arg(command, QString::fromLatin1(in->orvdt)));
            return false;
        case InputNeed::Real:
            fits = computations::isPlanarReal(in);
            break;
        case InputNeed::RealOrComplex:
            fits = computations::isPlanarReal(in) || computations::isComplex(in);
            break;
        case InputNeed::Any:
            break;
    }
    if (!fits)
        showModalMessage(QString("%1 cannot work on a \"%2\" image.")
                             .arg(command, QString::fromLatin1(in->orvdt)));
    return fits;
}

bool TamoOp::askForm(const QString &caption, const QStringList &labels, const QStringList &initial,
                     QStringList *values) {
    QDialog dialog(parent_);
    auto *form = new QFormLayout(&dialog);
    form->addRow(new QLabel(caption));
    QList<QLineEdit *> edits;
    for (int i = 0; i < labels.size(); ++i) {
        auto *edit = new QLineEdit(initial.value(i));
        form->addRow(labels[i], edit);
        edits << edit;
    }
    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return false;
    values->clear();
    for (QLineEdit *edit : edits) *values << edit->text();
    return true;
}

void TamoOp::gettwonumbers(int *first, int *second, int *status) {
    QStringList values;
    if (!askForm(tr("Translation of second image:"), {tr("rows "), tr("cols ")}, {"0", "0"},
                 &values)) {
        *status = -1;
        return;
    }
    *first = truncatedInt(values[0]);
    *second = truncatedInt(values[1]);
    *status = 0;
}

bool TamoOp::askDouble(int code, float *value) {
    const CommandCourse *course = courseWithCode(code);
    if (!course || !course->dialogTitle) {
        *value = 0.0f;
        return true;
    }
    bool ok = false;
    const double v = QInputDialog::getDouble(
        parent_, tr(course->dialogTitle), tr(course->dialogLabel), course->start, course->minimum,
        course->maximum, course->decimals, &ok);
    *value = static_cast<float>(v);
    return ok;
}

// ---- Unary operations ---------------------------------------------------------------

void TamoOp::unary(int code, TAMOHDR *&in, TAMOHDR *&out) {
    if (!in) {
        showModalMessage("Input empty");
        return;
    }
    switch (code) {
        case 13:
            connectedComponents(in, out);
            return;
        case 15: {
            showTimedNote("This function takes a while on large images.\n", 2000);
            const int rc =
                compute([&] { return computations::unaryOperation(code, in, out, 0.0f); });
            if (rc == 0) record({"tamo", "histeq", "{IN1}", "{OUT}"});
            if (rc == -1)
                showTimedNote(
                    "Hist:Cannot equalize histogram of an imagesmaller than the neighborhood",
                    3000);
            else
                reportFailure(rc, "flHistogramEq");
            return;
        }
        case 18:
            pseudoColour(in, out);
            return;
        case 20: {
            const int rc = compute([&] { return computations::colourToGrey(in, &out); });
            switch (rc) {
                case 0:
                    record({"tamo", "gray", "{IN1}", "{OUT}"});
                    break;
                case -6:
                    showModalMessage("Input and output images have different number cols.");
                    break;
                case -5:
                    showModalMessage("Input and output images have different number rows.");
                    break;
                case -4:
                    showModalMessage("Output image must be 2d.");
                    break;
                case -3:
                case -1:
                    showModalMessage("Color to gray function input error.");
                    break;
                case -2:
                    showModalMessage("Input image must be color.");
                    break;
                default:
                    showModalMessage(QString());
                    break;
            }
            return;
        }
        case 29:
        case 30:
        case 31:
        case 32: {
            static const char *const names[] = {"Tamoc2mag", "Tamoc2phase", "Tamoc2real",
                                                "Tamoc2imag"};
            static const char *const tools[] = {"mag", "phase", "real", "imag"};
            const int rc =
                compute([&] { return computations::unaryOperation(code, in, out, 0.0f); });
            // Only the first plane has values; the tool keeps a colour
            // image's other frames, zero, when told to.
            if (rc == 0) record(withZeroFrames({"tamo", tools[code - 29], "{IN1}", "{OUT}"}, in));
            if (rc != 0) showModalMessage(QString("Error returned by %1").arg(names[code - 29]));
            return;
        }
        case 33:
        case 34:
            fourier(code, in, out);
            return;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 10:
        case 11:
        case 12:
        case 14:
        case 16:
        case 17:
        case 19:
        case 21:
        case 23:
        case 24:
        case 35: {
            float value = 0.0f;
            if (!askDouble(code, &value)) return decline();
            const int rc =
                compute([&] { return computations::unaryOperation(code, in, out, value); });
            // flln's -2 says that some values were not positive; their
            // logarithm is written as 0 and the image is complete, so Ln
            // reports nothing for it.
            const bool complete = rc == 0 || (code == 17 && rc == -2);
            if (complete) {
                const QStringList line = unaryLine(code, value, out);
                if (!line.isEmpty()) record(line);
            }
            if (!(code == 17 && rc == -2)) reportFailure(rc, computations::unaryOperator(code));
            return;
        }
    }
}

void TamoOp::pseudoColour(TAMOHDR *in, TAMOHDR *out) {
    bool ok = false;
    const int map =
        QInputDialog::getInt(parent_, tr("Pseudocolor"), tr("Color map number"), 0, 0, 6, 1, &ok);
    if (!ok) return decline();
    int frame = 0;
    if (in->orvndim == 3) {
        frame =
            QInputDialog::getInt(parent_, tr("Pseudocolor"), tr("Input Frame No"), 0, 0, 2, 1, &ok);
        if (!ok) return decline();
        if (frame >= computations::framesOf(in)) {
            showModalMessage(QString("CMap: Input 1 has no frame %1.").arg(frame));
            return;
        }
    }
    const int labels = gTamotool ? gTamotool->labelCount : 0;
    // Map 6's colours come from the library's generator: the tool starts
    // from the state it has now.
    unsigned short none[3] = {0, 0, 0};
    const unsigned short *now = Tamoseed48(none);
    unsigned short state[3] = {now[0], now[1], now[2]};
    Tamoseed48(state);
    int used = 0;
    const int rc =
        compute([&] { return computations::pseudoColour(in, out, map, frame, labels, &used); });
    // The tool colours a plane of a "float" image as this does.
    if (rc == 0 && computations::isFloat(in)) {
        QStringList line = {"tamo",  "colormap", "{IN1}",
                            "{TMP}", "--frame",  QString::number(frame)};
        if (map == 6)
            line << "--labels" << QString::number(used) << "--state"
                 << QString("%1,%2,%3").arg(state[0]).arg(state[1]).arg(state[2]);
        else
            line << "--map" << QString::number(map);
        record(line);
        record({"tamo", "convert", "{TMP}", "{OUT}", "--type", "float"});
    }
    reportFailure(rc);
}

void TamoOp::connectedComponents(TAMOHDR *in, TAMOHDR *out) {
    const long long pixels =
        static_cast<long long>(computations::columnsOf(in)) * computations::rowsOf(in);
    if (pixels > 10000000) {
        showTimedNote(
            QString("Sorry. This function cannot handle %1 pixels. Returning...").arg(pixels),
            3000);
        return;
    }
    if (out->orvndim == 3) {
        showTimedNote(
            "CCL only works on grayscale images. Using it on a color image will "
            "produce strange results.",
            3000);
        delay();
    }
    QStringList v;
    if (!askForm(tr("Parameters for CCL."),
                 {tr("Thresh "), tr("minval "), tr("maxval "), tr("EraseSmall "), tr("EraseLarge "),
                  tr("filename of areas")},
                 {"2.0", "10.0", "255.0", "1", "0", ""}, &v))
        return decline();

    computations::CclParameters p;
    p.threshold = static_cast<float>(v[0].toDouble());
    p.lo = static_cast<float>(v[1].toDouble());
    p.hi = static_cast<float>(v[2].toDouble());
    p.eraseSmall = v[3].toInt();
    p.eraseLarge = v[4].toInt();
    if (!v[5].isEmpty()) {
        p.areasPath = v[5].toLocal8Bit().toStdString();
        std::printf("1: %s\n ", p.areasPath.c_str());
        std::fflush(stdout);
    }
    // An empty band end takes the whole 8-bit range above the background.
    if (p.lo == 0.0f && p.hi == 0.0f) {
        p.lo = 1.0f;
        p.hi = 256.0f;
    } else if (p.lo == 0.0f) {
        p.lo = 1.0f;
    } else if (p.hi == 0.0f) {
        p.hi = 256.0f;
    }
    if (!(p.hi - p.lo > 0.0f)) {
        showTimedNote("Maxvalue and Minvalue don't make sense. Returning...", 2000);
        return;
    }

    int labels = gTamotool ? gTamotool->labelCount : 0;
    const int rc = compute([&] { return computations::connectedComponents(in, out, p, &labels); });
    if (gTamotool) gTamotool->labelCount = labels;
    if (rc == 0 && in->orvndim >= 2 && p.eraseSmall >= 0 && p.eraseLarge >= 0) {
        QStringList line = {"tamo",          "ccl",
                            "{IN1}",         "{OUT}",
                            "--thresh",      number(p.threshold),
                            "--minval",      number(p.lo),
                            "--maxval",      number(p.hi),
                            "--erase-small", QString::number(p.eraseSmall),
                            "--erase-large", QString::number(p.eraseLarge),
                            "--type",        "float"};
        if (!v[5].isEmpty()) line << "--areas" << v[5];
        record(withZeroFrames(line, in));
    }
    switch (rc) {
        case 0:
            showTimedNote(QString("found %1 labels").arg(labels), 3000);
            break;
        case 1:
            showTimedNote(QString("Image too big for this program: %1 labels").arg(labels), 5000);
            break;
        case -3:
            showTimedNote("Unable to access specifed list of areas file", 3000);
            break;
        case -1:
            showTimedNote("Error returned by cclC4_2.  Must quit!", 5000);
            break;
        default:
            reportFailure(rc, "cclC4_3");
            break;
    }
}

void TamoOp::fourier(int code, TAMOHDR *in, TAMOHDR *out) {
    const int direction = code == 33 ? -1 : 1;
    const int rc = compute([&] { return computations::fourierTransform(in, out, direction); });
    switch (rc) {
        case 0:
            // Only the first plane is transformed; the others stay zero.
            record(withZeroFrames({"tamo", code == 33 ? "fft" : "ifft", "{IN1}", "{OUT}"}, in));
            break;
        case -2:
            showModalMessage("FFT:Image dimensions must be a power of 2");
            break;
        case -1:
            showModalMessage("FFT:Image must be square");
            break;
        case -3:
            showModalMessage("FFT:Image must be complex float");
            break;
        default:
            reportFailure(rc, "Tamocfft2d");
            break;
    }
}

// ---- Binary operations ----------------------------------------------------------------

void TamoOp::binary(int code, TAMOHDR *&in1, TAMOHDR *&in2, TAMOHDR *&out, int slot) {
    if (!in1) {
        showModalMessage("Input1 empty");
        return;
    }
    if (!in2) {
        showModalMessage("Input2 empty");
        return;
    }
    switch (code) {
        case 22:
        case 25:
        case 26:
        case 27:
            arithmetic(code, in1, in2, out, slot);
            return;
        case 9:
            correlation(in1, in2, out);
            return;
    }
}

void TamoOp::arithmetic(int code, TAMOHDR *in1, TAMOHDR *in2, TAMOHDR *&out, int slot) {
    const QString name = code == 22 ? "Add" : code == 25 ? "Sub" : code == 26 ? "Mul" : "Div";
    const bool complex1 = computations::isComplex(in1), complex2 = computations::isComplex(in2);
    // Complex records are combined only with each other: read value by value
    // they would give their real parts alone.
    if (complex1 != complex2) {
        showModalMessage(QString("%1: a complex image cannot be combined with a \"%2\" image.")
                             .arg(name, QString::fromLatin1(complex1 ? in2->orvdt : in1->orvdt)));
        return;
    }
    Record result;
    int rc = 0;
    if (complex1) {
        bool same = in1->orvndim == in2->orvndim;
        for (int k = 0; same && k < in1->orvndim; ++k)
            same = in1->orvdim[k].dlen == in2->orvdim[k].dlen;
        if (!same) {
            showModalMessage(QString("%1: the two complex images differ in size.").arg(name));
            return;
        }
        rc = compute([&] { return computations::complexArithmetic(code, in1, in2, result); });
        static const char *const tools[] = {"addv", nullptr, nullptr, "sub", "multv", "divv"};
        if (rc == 0) record({"tamo", tools[code - 22], "{IN1}", "{IN2}", "{OUT}"});
    } else {
        int dr = 0, dc = 0, status = 0;
        gettwonumbers(&dr, &dc, &status);
        if (status == -1) return decline();
        rc = compute(
            [&] { return computations::shiftedArithmetic(code, in1, in2, dr, dc, result); });
        // The tool reads other types as "float" and makes two or three
        // dimensions, so only "float" planes and colour images match.
        const bool planes = in1->orvndim == 2 || in1->orvndim == 3;
        if (rc == 0 && planes && computations::isFloat(in1) && computations::isFloat(in2))
            record({"tamo", name.toLower(), "{IN1}", "{IN2}", "{OUT}", "--dr", QString::number(dr),
                    "--dc", QString::number(dc)});
    }
    if (rc == computations::kNoRecord) {
        reportFailure(rc);
        return;
    }
    if (TamotoolMainWindow *p = panel()) p->replaceBinaryOutput(out, result.release(), slot);
    static const char *const shifted[] = {"fladdi", nullptr, nullptr, "flsubi", "flmuli", "fldivi"};
    if (rc != 0) reportCode(rc, complex1 ? nullptr : shifted[code - 22]);
}

void TamoOp::correlation(TAMOHDR *in1, TAMOHDR *in2, TAMOHDR *out) {
    if (in1->orvndim != in2->orvndim) {
        showModalMessage("I can't correlate a gray scale image with a color image. Sorry.");
        return;
    }
    if (static_cast<long long>(computations::columnsOf(in2)) * computations::rowsOf(in2) > 16384) {
        showModalMessage("Image 2 needs to be small, like 64x64 or less. Sorry.");
        return;
    }
    const int rc = compute([&] { return computations::correlate(in1, in2, out); });
    if (rc == 0 && computations::isFloat(in1) && computations::isFloat(in2))
        record({"tamo", "correlate", "{IN1}", "{IN2}", "{OUT}"});
    if (rc == -2)
        showModalMessage("Input images must be float or complex %d");
    else if (rc != 0)
        reportCode(rc, "flcorrelate");
}

void delay() {
    QEventLoop loop;
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
}
