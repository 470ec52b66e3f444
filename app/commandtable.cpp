#include "commandtable.h"

#include <QCoreApplication>

namespace {

using P = TamotoolMainWindow;
using C = CommandCourse;

#define TR(text) QT_TRANSLATE_NOOP("TamotoolMainWindow", text)
// The dispatcher's dialogs translate in its own context.
#define TR_OP(text) QT_TRANSLATE_NOOP("TamoOp", text)

const char kSigmaOfBlur[] = TR_OP("Sigma of blur");
const char kSigmaForAll[] = TR_OP("Sigma for all Gaussian derivatives:");
const char kSigmaOfDerivative[] = TR_OP("Sigma of Gaussian derivative:");

// The tamo lines of the filters and measures, with the sigma asked.
QStringList dog(int order, int direction) {
    return {"tamo",        "dog",
            "{IN1}",       "{OUT}",
            "--order",     QString::number(order),
            "--direction", QString::number(direction),
            "--sigma",     "{VALUE}"};
}
QStringList measure(const char *name) {
    return {"tamo", name, "{IN1}", "{OUT}", "--sigma", "{VALUE}"};
}
QStringList plain(const char *name) {
    return {"tamo", name, "{IN1}", "{OUT}"};
}

const char kCMapTip[] =
    "Replace each pixel with a color corresponding to brightness\n 0:gray scale\n1:inverse "
    "gray scale\n2:Mevrel\n3:hot metal\n4:heated specturm\n5:log\n6:random";

C unary(const char *name, int code, _OP_TYPE type = OP_FLOAT, bool keepBinary = false) {
    C c;
    c.kind = C::Unary;
    c.name = name;
    c.code = code;
    c.type = type;
    c.keepBinary = keepBinary;
    return c;
}

C complexPart(const char *name, int code, _OP_TYPE type, const char *refusal) {
    // The complex commands check their input themselves.
    C c = unary(name, code, type).needs(TamoOp::InputNeed::Any);
    c.kind = C::ComplexPart;
    c.refusal = refusal;
    return c;
}

C binary(const char *name, int code) {
    C c;
    c.kind = C::Binary;
    c.name = name;
    c.code = code;
    return c;
}

C own(void (TamotoolMainWindow::*course)()) {
    C c;
    c.kind = C::Own;
    c.own = course;
    return c;
}

C notDefined() {
    C c;
    c.kind = C::NotDefined;
    return c;
}

}  // namespace

CommandCourse CommandCourse::withCode(int c) const {
    CommandCourse course = *this;
    course.code = c;
    return course;
}

CommandCourse CommandCourse::needs(TamoOp::InputNeed n) const {
    CommandCourse course = *this;
    course.need = n;
    return course;
}

CommandCourse CommandCourse::asks(const char *title, const char *label, double startValue,
                                  double low, double high, int places) const {
    CommandCourse course = *this;
    course.dialogTitle = title;
    course.dialogLabel = label;
    course.start = startValue;
    course.minimum = low;
    course.maximum = high;
    course.decimals = places;
    return course;
}

CommandCourse CommandCourse::repeatedBy(const QStringList &line) const {
    CommandCourse course = *this;
    course.tamoLine = line;
    return course;
}

const CommandCourse *courseWithCode(int code) {
    if (code == 0) return nullptr;
    for (const CommandEntry &entry : TamotoolMainWindow::commandTable())
        for (const CommandCourse &course : entry.courses)
            // The binary "N/A" shares its code with gDir but runs no unary operation.
            if (course.code == code && course.kind != CommandCourse::Binary) return &course;
    return nullptr;
}

// In the order the buttons are made; the complex commands have actions only.
const std::vector<CommandEntry> &TamotoolMainWindow::commandTable() {
    static const std::vector<CommandEntry> table = {
        {&P::dx,
         "dx",
         false,
         &P::dxButton,
         "dxButton",
         {"DX", "HoG"},
         "First deriv wrt to x using convolution with derivative of a Gaussian",
         0,
         0,
         &P::dxAct,
         "dxAct",
         TR("DX"),
         {TR("First derivative wrt x of the image"), nullptr},
         {unary("DX", 1).asks(TR_OP("Dx"), kSigmaOfBlur, 1.0, 1.0, 255, 1).repeatedBy(dog(1, 0)),
          own(&P::hogCommand)}},
        {&P::dy,
         "dy",
         false,
         &P::dyButton,
         "dyButton",
         {"DY", "ShowHoG"},
         "First deriv wrt to y using convolution with derivative of a Gaussian",
         1,
         0,
         &P::dyAct,
         "dyAct",
         TR("DY"),
         {TR("First derivative wrt y of the image"), nullptr},
         {unary("DY", 3, OP_FLOAT, true)
              .asks(TR_OP("Dy"), kSigmaOfBlur, 1.0, 0, 255, 1)
              .repeatedBy(dog(1, 1)),
          own(&P::showHoGCommand)}},
        {&P::dxx,
         "dxx",
         false,
         &P::dxxButton,
         "dxxButton",
         {"DXX", "gMag"},
         "Second deriv wrt to x using convolution with derivative of a Gaussian",
         2,
         0,
         &P::dxxAct,
         "dxxAct",
         TR("DXX"),
         {TR("Second derivative wrt x of the image"), nullptr},
         {unary("DXX", 2).asks(TR_OP("Dxx"), kSigmaOfBlur, 1.0, 0, 255, 1).repeatedBy(dog(2, 0)),
          unary("gMag", 23)
              .asks(TR_OP("gMag"), kSigmaOfDerivative, 1.0, 0, 255, 1)
              .repeatedBy(measure("gmag"))}},
        {&P::dyy,
         "dyy",
         false,
         &P::dyyButton,
         "dyyButton",
         {"DYY", "gDir"},
         "Second deriv wrt to y using convolution with derivative of a Gaussian",
         3,
         0,
         &P::dyyAct,
         "dyyAct",
         TR("DYY"),
         {TR("Second derivative wrt y of the image"), nullptr},
         {unary("DYY", 4).asks(TR_OP("Dyy"), kSigmaOfBlur, 1.0, 0, 255, 1).repeatedBy(dog(2, 1)),
          unary("gDir", 24)
              .asks(TR_OP("gDir"), kSigmaOfDerivative, 1.0, 0, 255, 1)
              .repeatedBy(measure("gdir"))}},
        {&P::dxdy,
         "dxdy",
         false,
         &P::dxdyButton,
         "dxdyButton",
         {"DXY", "Clr2Gray"},
         "second deriv wrt to xy using convolution with derivative of a Gaussian",
         4,
         0,
         &P::dxdyAct,
         "dxdyAct",
         TR("DXDY"),
         {TR("Second derivative wrt x and y of the image"), nullptr},
         {unary("DXY", 5).asks(TR_OP("Dxy"), kSigmaOfBlur, 1.0, 0, 255, 1).repeatedBy(dog(2, 2)),
          unary("Clr2Gray", 20, OP_FLOAT2D).needs(TamoOp::InputNeed::Real)}},
        {&P::ccl,
         "ccl",
         false,
         &P::cclButton,
         "cclButton",
         {"CCL", "ABS"},
         "connected components",
         5,
         0,
         &P::cclAct,
         "cclAct",
         TR("CCL"),
         {TR("Connected Components"), nullptr},
         {unary("CCL", 13).needs(TamoOp::InputNeed::Real),
          unary("ABS", 14).repeatedBy(plain("abs"))}},
        {&P::blur,
         "blur",
         false,
         &P::blurButton,
         "blurButton",
         {"Blur", "N/A"},
         "Blur the image with a Gaussian with user-selectable variance.",
         6,
         0,
         nullptr,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         {unary("Blur", 19).asks(TR_OP("Blur"), kSigmaOfBlur, 0.0, 0, 255, 1).repeatedBy(dog(0, 0)),
          notDefined()}},
        {&P::exponent,
         "exponent",
         false,
         &P::exponentButton,
         "exponentButton",
         {"Exp", "Crop"},
         "Exponentiate each pixel.",
         0,
         1,
         &P::exponentAct,
         "exponentAct",
         TR("Exponent"),
         {TR("Exponent of the image"), nullptr},
         {unary("Exp", 8)
              .asks(TR_OP("Exp"), TR_OP("Scale for exp"), 50, 0, 1000, 1)
              .repeatedBy({"tamo", "exp", "{IN1}", "{OUT}", "--scale", "{VALUE}"}),
          own(&P::cropCommand)}},
        {&P::inverse,
         "inverse",
         false,
         &P::inverseButton,
         "inverseButton",
         {"Inv", "Resize"},
         "output=max-input",
         1,
         1,
         &P::inverseAct,
         "inverseAct",
         TR("Inverse"),
         {TR("Inverse of the image"), nullptr},
         {unary("Inv", 10).repeatedBy(plain("inv")), own(&P::resizeCommand)}},
        {&P::laplacian,
         "laplacian",
         false,
         &P::laplacianButton,
         "laplacianButton",
         {"Lap", "Qvar"},
         "Calculate the Lapacian or QV at each pixel",
         2,
         1,
         &P::laplacianAct,
         "laplacianAct",
         TR("Laplacian"),
         {TR("Laplacian of the image"), TR("Quadratic Variation")},
         {unary("Lap", 11)
              .asks(TR_OP("Laplacian"), TR_OP("sigma (-neg. means squared)"), 1.0, -255, 255, 2)
              .repeatedBy(measure("laplace")),
          unary("Qvar", 12)
              .asks(TR_OP("QuadVar"), TR_OP("sigma"), 1.0, 0, 20, 2)
              .repeatedBy(measure("qvar"))}},
        {&P::curvature,
         "curvature",
         false,
         &P::curvatureButton,
         "curvatureButton",
         {"Curv", "HarrisOp"},
         "Calculate the curvature of the level set at each point",
         3,
         1,
         &P::curvatureAct,
         "curvatureAct",
         TR("Curvature"),
         {TR("Curvature of the image"), TR("Use Harris operator to find corners")},
         {unary("Curv", 6)
              .asks(TR_OP("gDir"), kSigmaForAll, 1.0, 0, 255, 1)
              .repeatedBy(measure("curv")),
          unary("HarrisOp", 7)
              .asks(TR_OP("Harris"), kSigmaForAll, 1.0, 0, 255, 1)
              .repeatedBy(measure("harris"))}},
        {&P::histeq,
         "histeq",
         false,
         &P::histeqButton,
         "histeqButton",
         {"Histeq", "MarkMax"},
         "Histogram equalization",
         4,
         1,
         &P::histeqAct,
         "histeqAct",
         TR("HistEq"),
         {TR("Histogram equalization"), TR("Mark Maxima in Red")},
         {unary("Histeq", 15),
          own(&P::markMaxCommand)
              .withCode(16)
              .asks(TR_OP("MarkMax"), TR_OP("sigma of preblur."), 0.5, -255, 255, 2)
              .repeatedBy(measure("markmax"))}},
        {&P::pseudo,
         "pseudo",
         false,
         &P::pseudoButton,
         "pseudoButton",
         {"CMap", "2D 2 3D"},
         kCMapTip,
         5,
         1,
         &P::pseudoAct,
         "pseudoAct",
         TR("Psedo Color"),
         {TR("Pseudo Color"), nullptr},
         {own(&P::pseudoCommand).withCode(18).needs(TamoOp::InputNeed::Real),
          own(&P::pseudoCommand).withCode(18).needs(TamoOp::InputNeed::Real)}},
        {&P::natlog,
         "natlog",
         false,
         &P::natlogButton,
         "natlogButton",
         {"Ln", "N/A"},
         nullptr,
         6,
         1,
         &P::natlogAct,
         "natlogAct",
         TR("nat log"),
         {TR("log of the image"), nullptr},
         {unary("Ln", 17).repeatedBy(plain("ln")), notDefined()}},
        {&P::add,
         "add",
         true,
         &P::addButton,
         "addButton",
         {"Add", "N/A"},
         nullptr,
         0,
         0,
         &P::addAct,
         "addAct",
         TR("Add"),
         {TR("Adds inp1 and inp2 and saves it in output"), nullptr},
         {binary("Add", 22), notDefined()}},
        {&P::sub,
         "sub",
         true,
         &P::subButton,
         "subButton",
         {"Sub", "N/A"},
         nullptr,
         1,
         0,
         &P::subAct,
         "subAct",
         TR("Sub"),
         {TR("Subtracts inp2 from inp1 and saves it in output"), nullptr},
         {binary("Sub", 25), notDefined()}},
        {&P::mul,
         "mul",
         true,
         &P::mulButton,
         "mulButton",
         {"Mul", "N/A"},
         nullptr,
         2,
         0,
         &P::mulAct,
         "mulAct",
         TR("Mul"),
         {TR("Multiplies inp2 from inp1 and saves it in output"), nullptr},
         {binary("Mul", 26), notDefined()}},
        {&P::div,
         "div",
         true,
         &P::divButton,
         "divButton",
         {"Div", "N/A"},
         nullptr,
         3,
         0,
         &P::divAct,
         "divAct",
         TR("div"),
         {TR("divides inp1 by inp1 and saves it in output"), nullptr},
         {binary("Div", 27), notDefined()}},
        {&P::pcon,
         "pcon",
         true,
         &P::pconButton,
         "pconButton",
         {"pcon", "N/A"},
         nullptr,
         4,
         0,
         &P::pconAct,
         "pconAct",
         TR("pcon"),
         {TR("segments an image using piecewise-constant MFA"), nullptr},
         {own(&P::pconCommand), notDefined()}},
        // "N/A" in both modes: in mode 0 it only gives the Output slot the
        // zero image of the binary buffers.
        {&P::gdir,
         "gdir",
         true,
         &P::gdirButton,
         "gdirButton",
         {"N/A", "N/A"},
         nullptr,
         5,
         0,
         nullptr,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         {binary("N/A", 24), C()}},
        {&P::correlate,
         "correlate",
         true,
         &P::correlateButton,
         "correlateButton",
         {"Correlate", "N/A"},
         nullptr,
         6,
         0,
         nullptr,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         {binary("Correlate", 9), notDefined()}},
        {&P::c2mag,
         "c2mag",
         false,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         nullptr,
         0,
         0,
         &P::c2magAct,
         "c2magAct",
         TR("ComlexMag"),
         {TR("Complex magnitude"), nullptr},
         {complexPart("ComlexMag", 29, OP_FLOAT, "Input Image is not complex"),
          complexPart("ComlexMag", 29, OP_FLOAT, "Input Image is not complex")}},
        {&P::c2phase,
         "c2phase",
         false,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         nullptr,
         0,
         0,
         &P::c2phaseAct,
         "c2phaseAct",
         TR("ComlexPhase"),
         {TR("Complex phase"), nullptr},
         {complexPart("ComlexPhase", 30, OP_FLOAT, "Image is not complex"),
          complexPart("ComlexPhase", 30, OP_FLOAT, "Image is not complex")}},
        {&P::c2real,
         "c2real",
         false,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         nullptr,
         0,
         0,
         &P::c2realAct,
         "c2realAct",
         TR("Real"),
         {TR("Real"), nullptr},
         {complexPart("Real", 31, OP_FLOAT, "Image is not complex"),
          complexPart("Real", 31, OP_FLOAT, "Image is not complex")}},
        {&P::c2imag,
         "c2imag",
         false,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         nullptr,
         0,
         0,
         &P::c2imagAct,
         "c2imagAct",
         TR("Imaginary"),
         {TR("Complex imaginary"), nullptr},
         {complexPart("Imaginary", 32, OP_FLOAT, "Image is not complex"),
          complexPart("Imaginary", 32, OP_FLOAT, "Image is not complex")}},
        {&P::fft,
         "fft",
         false,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         nullptr,
         0,
         0,
         &P::fftAct,
         "fftAct",
         TR("FFT"),
         {TR("Fast Fourier Tranform"), nullptr},
         {unary("FFT", 33, OP_COMPLEX).needs(TamoOp::InputNeed::RealOrComplex),
          unary("FFT", 33, OP_COMPLEX).needs(TamoOp::InputNeed::RealOrComplex)}},
        {&P::ifft,
         "ifft",
         false,
         nullptr,
         nullptr,
         {nullptr, nullptr},
         nullptr,
         0,
         0,
         &P::ifftAct,
         "ifftAct",
         TR("IFFT"),
         {TR("Inverse Fast Fourier Tranform"), nullptr},
         {complexPart("IFFT", 34, OP_COMPLEX, "Image is not complex"),
          complexPart("IFFT", 34, OP_COMPLEX, "Image is not complex")}},
    };
    return table;
}

void TamotoolMainWindow::dispatchCommand(void (TamotoolMainWindow::*slot)()) {
    for (const CommandEntry &entry : commandTable()) {
        if (entry.slot != slot) continue;
        const CommandCourse &c = entry.courses[modeFlag ? 1 : 0];
        switch (c.kind) {
            case CommandCourse::Unary:
                return runUnary(c.name, c.code, c.type, c.keepBinary);
            case CommandCourse::ComplexPart:
                return runComplexPart(c.name, c.code, c.type, c.refusal);
            case CommandCourse::Binary:
                return runBinary(c.name, c.code);
            case CommandCourse::Own:
                return (this->*c.own)();
            case CommandCourse::NotDefined:
                return badMsg(1);
            case CommandCourse::Nothing:
                return;
        }
    }
}
