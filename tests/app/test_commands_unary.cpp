// Unary commands driven through the control panel: the parameter dialogs,
// the results against the operators called directly or values worked out by
// hand, in place and into another slot, and the enable state afterwards.
#include <QInputDialog>
#include <QPlainTextEdit>

#include <array>
#include <cmath>
#include <functional>
#include <tuple>

#include "guitest.h"
#include "tamoops.h"

using guitest::blankLike;
using guitest::copyImage;
using guitest::DialogAction;
using guitest::DialogScript;
using guitest::DialogSeen;
using guitest::ImageOwner;
using guitest::makeImage;
using guitest::sameImage;
using guitest::shape;

namespace {

// 20 columns x 36 rows (x frames; tall enough for every filter's kernel in
// the tests) of uneven values from -20 to 80, zero and
// negative values included.
TAMOHDR *sample(int frames = 0) {
    TAMOHDR *img = makeImage(20, 36, frames);
    const int n = Tamodimen(img, -1);
    float *values = reinterpret_cast<float *>(img->orvptr);
    for (int k = 0; k < n; ++k) values[k] = float((k * 37) % 101 - 20) + 0.25f * float(k % 3);
    return img;
}

float *floats(TAMOHDR *img) {
    return reinterpret_cast<float *>(img->orvptr);
}

// A parameter dialog of QInputDialog::getDouble.
struct Ask {
    const char *title;  // null: the command asks nothing
    const char *label;
    double start, minimum, maximum;
    int decimals;
};

// The result a command should give for input `in` and the dialog's answer:
// a new record.
using Truth = std::function<TAMOHDR *(TAMOHDR *in, double answer)>;

Truth dog(int order, int direction) {
    return [=](TAMOHDR *in, double sigma) {
        TAMOHDR *out = blankLike(in);
        flDoG(in, out, order, direction, float(sigma));
        return out;
    };
}

Truth measure(int (*op)(TAMOHDR *, TAMOHDR *, float)) {
    return [=](TAMOHDR *in, double sigma) {
        TAMOHDR *out = blankLike(in);
        op(in, out, float(sigma));
        return out;
    };
}

// Element by element from the input's values.
Truth pointwise(const std::function<float(float value, float max, double answer)> &f) {
    return [=](TAMOHDR *in, double answer) {
        TAMOHDR *out = blankLike(in);
        const int n = Tamodimen(in, -1);
        float max = floats(in)[0];
        for (int k = 0; k < n; ++k) max = std::max(max, floats(in)[k]);
        for (int k = 0; k < n; ++k) floats(out)[k] = f(floats(in)[k], max, answer);
        return out;
    };
}

struct UnaryCase {
    const char *button;
    int mode;
    Ask ask;
    double answer;
    Truth truth;
    bool exact;      // bit for bit (the same operator) rather than within rounding
    int frames = 0;  // frames of the input, 0 for a plane
    // The message the operator's result code gives on the sample image.
    const char *message = nullptr;
};

}  // namespace

class UnaryCommandTest : public PanelTest {
protected:
    // Input 1 and Input 2 on `in`, Output on `out`.
    void route(int in, int out) {
        select("input1", in);
        select("input2", in);
        select("output", out);
    }
};

TEST_F(UnaryCommandTest, EveryDialogCodeAsksAndComputesInPlaceAndIntoAnotherSlot) {
    const Ask none = {nullptr, nullptr, 0, 0, 0, 0};
    const char *const sigmaOfBlur = "Sigma of blur";
    const char *const forAll = "Sigma for all Gaussian derivatives:";
    const char *const ofDerivative = "Sigma of Gaussian derivative:";
    const UnaryCase cases[] = {
        {"dxButton", 0, {"Dx", sigmaOfBlur, 1.0, 1.0, 255, 1}, 2.0, dog(1, 0), true},
        {"dyButton", 0, {"Dy", sigmaOfBlur, 1.0, 0, 255, 1}, 1.5, dog(1, 1), true},
        {"dxxButton", 0, {"Dxx", sigmaOfBlur, 1.0, 0, 255, 1}, 2.5, dog(2, 0), true},
        {"dyyButton", 0, {"Dyy", sigmaOfBlur, 1.0, 0, 255, 1}, 1.0, dog(2, 1), true},
        {"dxdyButton", 0, {"Dxy", sigmaOfBlur, 1.0, 0, 255, 1}, 1.2, dog(2, 2), true},
        {"blurButton", 0, {"Blur", sigmaOfBlur, 0.0, 0, 255, 1}, 1.5, dog(0, 0), true},
        {"curvatureButton", 0, {"gDir", forAll, 1.0, 0, 255, 1}, 1.5, measure(flcurv), true},
        {"curvatureButton", 1, {"Harris", forAll, 1.0, 0, 255, 1}, 1.5, measure(flHarris), true},
        {"laplacianButton",
         0,
         {"Laplacian", "sigma (-neg. means squared)", 1.0, -255, 255, 2},
         -1.25,
         measure(flLaplace),
         true},
        {"laplacianButton", 1, {"QuadVar", "sigma", 1.0, 0, 20, 2}, 1.75, measure(flqvar), true},
        {"dxxButton", 1, {"gMag", ofDerivative, 1.0, 0, 255, 1}, 1.5, measure(flgmag), true},
        {"dyyButton", 1, {"gDir", ofDerivative, 1.0, 0, 255, 1}, 1.5, measure(flgdir), true},
        // exp(value / scale), at most 255.
        {"exponentButton",
         0,
         {"Exp", "Scale for exp", 50, 0, 1000, 1},
         10,
         pointwise([](float v, float, double scale) {
             return std::min(255.0f, float(std::exp(double(v / float(scale)))));
         }),
         false},
        {"inverseButton", 0, none, 0, pointwise([](float v, float max, double) { return max - v; }),
         false},
        {"natlogButton", 0, none, 0,
         // Non-positive values give 0; the image is complete, so no message.
         pointwise([](float v, float, double) { return v > 0 ? std::log(v) : 0.0f; }), false},
        {"cclButton", 1, none, 0, pointwise([](float v, float, double) { return std::fabs(v); }),
         false},
        {"histeqButton", 0, none, 0,
         [](TAMOHDR *in, double) {
             TAMOHDR *out = blankLike(in);
             flHistogramEq(in, out, 0);
             return out;
         },
         true},
        // Colour to grey: a plane of 0.21 R + 0.72 G + 0.07 B.
        {"dxdyButton", 1, none, 0,
         [](TAMOHDR *in, double) {
             TAMOHDR *out = makeImage(20, 36);
             const int n = 720;
             for (int k = 0; k < n; ++k) {
                 const double r = floats(in)[k], g = floats(in)[n + k], b = floats(in)[2 * n + k];
                 floats(out)[k] = float(0.21 * r + 0.72 * g + 0.07 * b);
             }
             return out;
         },
         false, 3},
        // MarkMax: a colour picture of the input's size.
        {"histeqButton",
         1,
         {"MarkMax", "sigma of preblur.", 0.5, -255, 255, 2},
         1.25,
         [](TAMOHDR *in, double sigma) {
             TAMOHDR *out = makeImage(20, 36, 3);
             std::fill(floats(out), floats(out) + 3 * 720, 0.0f);
             flmarkmax(in, out, float(sigma));
             return out;
         },
         true},
    };

    for (const UnaryCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.button << " in mode " << c.mode);
        setMode(c.mode);
        ImageOwner original(sample(c.frames));
        ImageOwner expected(c.truth(original, c.answer));

        // Into another slot (whose old image goes), then in place.
        for (const auto &[in, out] : {std::pair{1, 4}, std::pair{2, 2}}) {
            SCOPED_TRACE(testing::Message() << "slot " << in << " to slot " << out);
            put(in, copyImage(original));
            if (out != in) put(out, makeImage(3, 3));
            route(in, out);
            guitest::closeMessageBoxes();
            DialogScript script(c.ask.title ? QList<DialogAction>{guitest::enterValue(c.answer)}
                                            : QList<DialogAction>{});
            press(c.button);
            if (std::string(c.button) == "histeqButton" && c.mode == 0) {
                const QList<DialogSeen> notices = guitest::shownNotices();
                ASSERT_EQ(notices.size(), 1);
                EXPECT_EQ(notices[0].title, "message");
                EXPECT_EQ(notices[0].text, "This function takes a while on large images.\n");
            }
            if (c.ask.title) {
                ASSERT_GE(script.seen().size(), 1);
                const DialogSeen seen = script.seen()[0];
                EXPECT_EQ(seen.className, "QInputDialog");
                EXPECT_EQ(seen.inputMode, QInputDialog::DoubleInput);
                EXPECT_EQ(seen.title, c.ask.title);
                EXPECT_EQ(seen.text, c.ask.label);
                EXPECT_DOUBLE_EQ(seen.value, c.ask.start);
                EXPECT_DOUBLE_EQ(seen.minimum, c.ask.minimum);
                EXPECT_DOUBLE_EQ(seen.maximum, c.ask.maximum);
                EXPECT_EQ(seen.decimals, c.ask.decimals);
            }
            EXPECT_EQ(script.texts().mid(c.ask.title ? 1 : 0),
                      c.message ? QStringList({c.message}) : QStringList());
            if (c.exact) {
                EXPECT_TRUE(sameImage(slot(out), expected));
            } else {
                EXPECT_TRUE(guitest::floatsNear(
                    slot(out), [&](int k) { return floats(expected)[k]; }, 1e-6));
            }
            if (out != in) EXPECT_TRUE(sameImage(slot(in), original));
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
        if (!c.ask.title) continue;

        // Cancelled: no operation. Into another slot the prepared zero image
        // stays; in place the slot keeps a whole record of the input's size.
        for (const auto &[in, out] : {std::pair{1, 5}, std::pair{2, 2}}) {
            SCOPED_TRACE(testing::Message() << "cancel, slot " << in << " to slot " << out);
            put(in, copyImage(original));
            route(in, out);
            DialogScript script({guitest::rejectDialog()});
            press(c.button);
            EXPECT_EQ(script.seen().size(), 1);
            ASSERT_NE(slot(out), nullptr);
            EXPECT_EQ(shape(slot(out)), shape(expected));
            if (out != in) {
                EXPECT_TRUE(guitest::allZero(slot(out)));
                EXPECT_TRUE(sameImage(slot(in), original));
            } else {
                EXPECT_TRUE(guitest::allZero(slot(out)) || sameImage(slot(out), original));
            }
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
    }
}

TEST_F(UnaryCommandTest, ModeOneButtonsWithoutAFunctionSaySoAndChangeNothing) {
    TAMOHDR *input = put(1, sample());
    TAMOHDR *output = put(4, makeImage(3, 3));
    route(1, 4);
    setMode(1);
    for (const char *button : {"natlogButton", "blurButton", "correlateButton", "addButton",
                               "subButton", "mulButton", "divButton", "pconButton"}) {
        SCOPED_TRACE(button);
        DialogScript script;
        press(button);
        EXPECT_EQ(script.texts(),
                  QStringList({"No function has been defined for that button yet."}));
        EXPECT_EQ(slot(1), input);
        EXPECT_EQ(slot(4), output);
        EXPECT_EQ(groups(), "111");
    }
    // The binary box's own "N/A" does nothing at all in mode 1.
    DialogScript script;
    press("gdirButton");
    guitest::settle(50);
    EXPECT_TRUE(script.seen().isEmpty());
    EXPECT_EQ(slot(4), output);
    EXPECT_EQ(groups(), "111");
}

TEST_F(UnaryCommandTest, CommandsNeedingFloatRefuseOtherTypesNamingThem) {
    // A script's result keeps its own type; a filter never reads it as float.
    for (const char *type : {"32cmp", "u8bit"}) {
        SCOPED_TRACE(type);
        TAMOHDR *input = put(1, makeImage(40, 40, 0, 1.0f, type));
        TAMOHDR *output = put(4, makeImage(3, 3));
        route(1, 4);
        DialogScript script;
        press("dxButton");
        ASSERT_EQ(script.seen().size(), 1);
        EXPECT_EQ(script.seen()[0].className, "QMessageBox");
        EXPECT_TRUE(script.seen()[0].text.contains(type)) << script.seen()[0].text;
        EXPECT_EQ(slot(1), input);
        EXPECT_EQ(slot(4), output);
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}

TEST_F(UnaryCommandTest, ComplexComponentsAndInverseTransformNeedAComplexInput) {
    // A complex 8 x 8 record: pixel k holds (k - 20, 3 - k / 4).
    ImageOwner complex(makeImage(8, 8, 0, 0.0f, "32cmp"));
    for (int k = 0; k < 64; ++k) {
        floats(complex)[2 * k] = float(k - 20);
        floats(complex)[2 * k + 1] = 3.0f - float(k) / 4;
    }
    struct Case {
        const char *action;
        const char *refusal;
        int (*op)(TAMOHDR *, TAMOHDR *);  // null: the inverse transform
    };
    const Case cases[] = {{"c2magAct", "Input Image is not complex", Tamoc2mag},
                          {"c2phaseAct", "Image is not complex", Tamoc2phase},
                          {"c2realAct", "Image is not complex", Tamoc2real},
                          {"c2imagAct", "Image is not complex", Tamoc2imag},
                          {"ifftAct", "Image is not complex", nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.action);
        ImageOwner expected;
        if (c.op) {
            expected.reset(blankLike(complex));
            ASSERT_EQ(c.op(complex, expected), 0);
        } else {
            expected.reset(copyImage(complex));
            ASSERT_EQ(Tamocfft2d(expected, 1), 0);
        }
        for (const auto &[in, out] : {std::pair{1, 4}, std::pair{2, 2}}) {
            SCOPED_TRACE(testing::Message() << "slot " << in << " to slot " << out);
            // A float input is refused without touching the enable state;
            // into another slot the prepared zero image stays.
            TAMOHDR *plain = put(in, sample());
            route(in, out);
            {
                DialogScript script;
                trigger(c.action);
                EXPECT_EQ(script.texts(), QStringList({c.refusal}));
            }
            EXPECT_EQ(slot(in), plain);
            EXPECT_EQ(slot(8), nullptr);
            if (out != in) {
                ASSERT_NE(slot(out), nullptr);
                EXPECT_EQ(slot(out)->dtype, c.op ? TAMO_32FLT : TAMO_32CMP);
                EXPECT_EQ(shape(slot(out)), shape(plain));
                EXPECT_TRUE(guitest::allZero(slot(out)));
            }
            EXPECT_EQ(groups(), "111");

            put(in, copyImage(complex));
            DialogScript script;
            trigger(c.action);
            EXPECT_TRUE(script.seen().isEmpty()) << script.texts().join(" | ").toStdString();
            EXPECT_TRUE(sameImage(slot(out), expected));
            if (out != in) EXPECT_TRUE(sameImage(slot(in), complex));
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
    }
}

TEST_F(UnaryCommandTest, FourierTransformOfSquareAndOtherImagesAndTheRoundTrip) {
    // 64 x 64: a complex result equal to the transform of the real parts.
    ImageOwner square(makeImage(64, 64));
    for (int k = 0; k < 64 * 64; ++k) floats(square)[k] = float((k * 7) % 13) - 4.0f;
    ImageOwner expected(makeImage(64, 64, 0, 0.0f, "32cmp"));
    std::fill(floats(expected), floats(expected) + 2 * 64 * 64, 0.0f);
    for (int k = 0; k < 64 * 64; ++k) floats(expected)[2 * k] = floats(square)[k];
    ASSERT_EQ(Tamocfft2d(expected, -1), 0);

    put(1, copyImage(square));
    route(1, 4);
    {
        DialogScript script;
        trigger("fftAct");
        EXPECT_TRUE(script.seen().isEmpty());
    }
    EXPECT_TRUE(sameImage(slot(4), expected));
    EXPECT_TRUE(sameImage(slot(1), square));
    EXPECT_EQ(groups(), "111");

    // Back through the inverse transform and the real part.
    route(4, 5);
    trigger("ifftAct");
    ASSERT_NE(slot(5), nullptr);
    EXPECT_EQ(slot(5)->dtype, TAMO_32CMP);
    route(5, 6);
    trigger("c2realAct");
    EXPECT_TRUE(guitest::floatsNear(
        slot(6), [&](int k) { return floats(square)[k]; }, 1e-4));

    // In place the complex result replaces the input.
    put(2, copyImage(square));
    route(2, 2);
    trigger("fftAct");
    EXPECT_TRUE(sameImage(slot(2), expected));
    EXPECT_EQ(slot(8), nullptr);

    const std::pair<std::pair<int, int>, const char *> refusals[] = {
        {{64, 32}, "FFT:Image must be square"},
        {{48, 48}, "FFT:Image dimensions must be a power of 2"}};
    for (const auto &[size, text] : refusals) {
        SCOPED_TRACE(text);
        TAMOHDR *input = put(3, makeImage(size.first, size.second, 0, 1.0f));
        route(3, 7);
        DialogScript script;
        trigger("fftAct");
        EXPECT_EQ(script.texts(), QStringList({text}));
        EXPECT_EQ(slot(3), input);
        ASSERT_NE(slot(7), nullptr);
        EXPECT_EQ(shape(slot(7)), std::vector<int>({size.first, size.second}));
        EXPECT_TRUE(guitest::allZero(slot(7)));
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}

namespace {

// 12 x 10 on a background of 0: a square of 100 (rows 2-3, columns 2-3), a
// square of 5 (rows 2-3, columns 8-9) and a U of 200 whose two arms (columns
// 5 and 8, rows 5-7) are labelled apart and merged at its base (row 8).
TAMOHDR *regions() {
    TAMOHDR *img = makeImage(12, 10);
    std::fill(floats(img), floats(img) + 120, 0.0f);
    auto fill = [&](int r0, int r1, int c0, int c1, float v) {
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) Tamofpp(img, r, c, v);
    };
    fill(2, 3, 2, 3, 100);
    fill(2, 3, 8, 9, 5);
    fill(5, 7, 5, 5, 200);
    fill(5, 7, 8, 8, 200);
    fill(8, 8, 5, 8, 200);
    return img;
}

// The labelling operator called directly into a new record like `like`.
TAMOHDR *labels(TAMOHDR *in, TAMOHDR *like, float t, float lo, float hi, int *count) {
    TAMOHDR *out = blankLike(like);
    EXPECT_EQ(cclC4_3(in, 1, 0, count, "", out, t, lo, hi), 0);
    return out;
}

}  // namespace

TEST_F(UnaryCommandTest, ConnectedComponentsAsksForItsBandAndCountsLabels) {
    ImageOwner input(regions());
    put(1, copyImage(input));
    route(1, 4);

    // The form with its defaults, accepted as it stands.
    {
        DialogScript script({guitest::acceptDialog()});
        press("cclButton");
        ASSERT_EQ(script.seen().size(), 1);
        const DialogSeen form = script.seen()[0];
        EXPECT_EQ(form.text, "Parameters for CCL.");
        EXPECT_EQ(form.labels, QStringList({"Thresh ", "minval ", "maxval ", "EraseSmall ",
                                            "EraseLarge ", "filename of areas"}));
        EXPECT_EQ(form.fields, QStringList({"2.0", "10.0", "255.0", "1", "0", ""}));
    }
    int count = -1;
    ImageOwner expected(labels(input, input, 2, 10, 255, &count));
    EXPECT_EQ(count, 3);  // the square of 100 and the two arms of the U
    EXPECT_TRUE(sameImage(slot(4), expected));
    EXPECT_EQ(tool->labelCount, 3);
    EXPECT_TRUE(guitest::shownNoticeTexts().contains("found 3 labels"));
    EXPECT_EQ(groups(), "111");

    // Zero bounds take 1 and 256; minval above maxval is refused.
    struct Band {
        QString minval, maxval;
        float lo, hi;
    };
    const Band bands[] = {{"0", "0", 1, 256}, {"0", "150", 1, 150}, {"50", "0", 50, 256}};
    for (const Band &band : bands) {
        SCOPED_TRACE(testing::Message() << band.minval << " " << band.maxval);
        guitest::closeMessageBoxes();
        DialogScript script({guitest::fillForm({"2.0", band.minval, band.maxval, "1", "0", ""})});
        press("cclButton");
        expected.reset(labels(input, input, 2, band.lo, band.hi, &count));
        EXPECT_TRUE(sameImage(slot(4), expected));
        EXPECT_EQ(tool->labelCount, count);
        EXPECT_TRUE(guitest::shownNoticeTexts().contains(QString("found %1 labels").arg(count)));
    }
    EXPECT_EQ(count, 3);  // 50..256: the square of 100 and the two arms of the U

    guitest::closeMessageBoxes();
    {
        DialogScript script({guitest::fillForm({"2.0", "20", "10", "1", "0", ""})});
        press("cclButton");
    }
    EXPECT_EQ(guitest::shownNoticeTexts(),
              QStringList({"Maxvalue and Minvalue don't make sense. Returning..."}));
    EXPECT_TRUE(guitest::allZero(slot(4)));
    EXPECT_EQ(tool->labelCount, 3);
    EXPECT_EQ(groups(), "111");

    // An areas file that cannot be written.
    guitest::closeMessageBoxes();
    {
        DialogScript script(
            {guitest::fillForm({"2.0", "10", "255", "1", "0", "/nonexistent-dir/areas.txt"})});
        press("cclButton");
    }
    EXPECT_EQ(guitest::shownNoticeTexts(),
              QStringList({"Unable to access specifed list of areas file"}));
    EXPECT_TRUE(guitest::allZero(slot(4)));
    EXPECT_EQ(groups(), "111");

    // Cancelled: the prepared zero image stays; in place: labels replace the input.
    guitest::closeMessageBoxes();
    {
        DialogScript script({guitest::rejectDialog()});
        press("cclButton");
        EXPECT_EQ(script.seen().size(), 1);
    }
    EXPECT_TRUE(guitest::allZero(slot(4)));
    EXPECT_TRUE(sameImage(slot(1), input));
    EXPECT_EQ(groups(), "111");
    route(1, 1);
    {
        DialogScript script({guitest::acceptDialog()});
        press("cclButton");
    }
    expected.reset(labels(input, input, 2, 10, 255, &count));
    EXPECT_TRUE(sameImage(slot(1), expected));
    EXPECT_EQ(slot(8), nullptr);
    EXPECT_EQ(groups(), "111");
}

TEST_F(UnaryCommandTest, ConnectedComponentsWarnsOnColourAndRefusesHugeImages) {
    // A colour input: the notice, two seconds' wait, then the form.
    ImageOwner plane(regions());
    ImageOwner colour(makeImage(12, 10, 3));
    for (int k = 0; k < 360; ++k) floats(colour)[k] = floats(plane)[k % 120];
    put(1, copyImage(colour));
    route(1, 4);
    QStringList noticesAtForm;
    DialogScript script({[&](QWidget *form) {
        noticesAtForm = guitest::shownNoticeTexts();
        guitest::acceptDialog()(form);
    }});
    press("cclButton");
    ASSERT_EQ(script.seen().size(), 1);
    EXPECT_EQ(noticesAtForm, QStringList({"CCL only works on grayscale images. Using it on a color "
                                          "image will produce strange results."}));
    int count = -1;
    ImageOwner expected(labels(colour, colour, 2, 10, 255, &count));
    EXPECT_TRUE(sameImage(slot(4), expected));
    EXPECT_EQ(groups(), "111");

    // Above ten million pixels nothing is asked or computed.
    guitest::closeMessageBoxes();
    int dims[3] = {2, 3163, 3163};
    TAMOHDR *huge = put(2, Tamocreate("float", dims, 11, 0));
    route(2, 5);
    DialogScript none;
    press("cclButton");
    EXPECT_TRUE(none.seen().isEmpty());
    EXPECT_EQ(guitest::shownNoticeTexts(),
              QStringList({"Sorry. This function cannot handle 10004569 pixels. Returning..."}));
    EXPECT_EQ(slot(2), huge);
    EXPECT_EQ(slot(8), nullptr);
    EXPECT_EQ(groups(), "111");
}

TEST_F(UnaryCommandTest, ColourMapsOfPlanesFramesAndLabels) {
    // Maps 0..5 of a plane: the stretched 8-bit picture through the map,
    // back in float.
    auto mapped = [](TAMOHDR *source, int map) {
        ImageOwner grey(makeImage(Tamonc(source), Tamonr(source), 0, 0, "u8bit"));
        ImageOwner colour(makeImage(Tamonc(source), Tamonr(source), 3, 0, "u8bit"));
        float lo = 0, hi = 0;
        Tamovidscale(source, grey, &lo, &hi, 0);
        Tamocolormap(grey, colour, map);
        TAMOHDR *out = Tamocreate(
            "float", std::array<int, 4>{3, Tamonc(source), Tamonr(source), 3}.data(), 11, 0);
        Tamoany2any(colour, out);
        return out;
    };
    ImageOwner plane(sample());
    ImageOwner expected(mapped(plane, 3));
    put(1, copyImage(plane));
    route(1, 4);
    {
        DialogScript script({guitest::enterValue(3)});
        press("pseudoButton");
        ASSERT_EQ(script.seen().size(), 1);
        const DialogSeen ask = script.seen()[0];
        EXPECT_EQ(ask.inputMode, QInputDialog::IntInput);
        EXPECT_EQ(ask.title, "Pseudocolor");
        EXPECT_EQ(ask.text, "Color map number");
        EXPECT_EQ(ask.value, 0);
        EXPECT_EQ(ask.minimum, 0);
        EXPECT_EQ(ask.maximum, 6);
        EXPECT_EQ(ask.step, 1);
    }
    EXPECT_TRUE(sameImage(slot(4), expected));
    EXPECT_TRUE(sameImage(slot(1), plane));
    EXPECT_EQ(groups(), "111");

    // A colour input asks for the frame to map.
    ImageOwner colour(sample(3));
    ImageOwner frame(Tamoslice(colour, "f", 1));
    expected.reset(mapped(frame, 2));
    put(2, copyImage(colour));
    route(2, 2);
    {
        DialogScript script({guitest::enterValue(2), guitest::enterValue(1)});
        press("pseudoButton");
        ASSERT_EQ(script.seen().size(), 2);
        const DialogSeen ask = script.seen()[1];
        EXPECT_EQ(ask.title, "Pseudocolor");
        EXPECT_EQ(ask.text, "Input Frame No");
        EXPECT_EQ(ask.value, 0);
        EXPECT_EQ(ask.minimum, 0);
        EXPECT_EQ(ask.maximum, 2);
    }
    EXPECT_TRUE(sameImage(slot(2), expected));
    EXPECT_EQ(slot(8), nullptr);

    // Cancelled: the three-frame zero image stays.
    route(1, 5);
    {
        DialogScript script({guitest::rejectDialog()});
        press("pseudoButton");
    }
    ASSERT_NE(slot(5), nullptr);
    EXPECT_EQ(shape(slot(5)), std::vector<int>({20, 36, 3}));
    EXPECT_TRUE(guitest::allZero(slot(5)));
    EXPECT_EQ(groups(), "111");

    // Mode 1, "2D 2 3D": the plane in each of three frames.
    setMode(1);
    route(1, 6);
    {
        DialogScript script;
        press("pseudoButton");
        EXPECT_TRUE(script.seen().isEmpty());
    }
    EXPECT_TRUE(guitest::floatsNear(
        slot(6), [&](int k) { return floats(plane)[k % 720]; }, 0));
    EXPECT_EQ(shape(slot(6)), std::vector<int>({20, 36, 3}));
    setMode(0);

    // Map 6 before any labelling: the largest value + 1 (here 5) colours.
    ImageOwner labelled(makeImage(12, 10));
    for (int k = 0; k < 120; ++k) floats(labelled)[k] = float(k % 5);
    auto random = [](TAMOHDR *source, int n) {
        TAMOHDR *out = makeImage(Tamonc(source), Tamonr(source), 3);
        std::fill(floats(out), floats(out) + Tamodimen(out, -1), 0.0f);
        Tamosrand48(77);
        colormap6(source, out, n);
        return out;
    };
    expected.reset(random(labelled, 5));
    put(3, copyImage(labelled));
    route(3, 7);
    {
        DialogScript script({guitest::enterValue(6)});
        Tamosrand48(77);
        press("pseudoButton");
    }
    EXPECT_TRUE(sameImage(slot(7), expected));

    // After a labelling run: that run's label count.
    ImageOwner input(regions());
    put(1, copyImage(input));
    route(1, 4);
    {
        DialogScript script({guitest::acceptDialog()});
        press("cclButton");
    }
    ASSERT_EQ(tool->labelCount, 3);
    expected.reset(random(slot(4), 3));
    route(4, 5);
    {
        DialogScript script({guitest::enterValue(6)});
        Tamosrand48(77);
        press("pseudoButton");
    }
    EXPECT_TRUE(sameImage(slot(5), expected));
    EXPECT_EQ(groups(), "111");
}

TEST_F(UnaryCommandTest, HogDescriptorsAndTheirPictures) {
    setMode(1);
    // A descriptor of 8 x 8 cells with nine bins, as the operator computes
    // it, for a plane and a colour image, into another slot and in place.
    for (int frames : {0, 3}) {
        SCOPED_TRACE(frames);
        ImageOwner input(makeImage(20, 17, frames));
        for (int k = 0; k < Tamodimen(input, -1); ++k) floats(input)[k] = float((k * k) % 23);
        ImageOwner expected(Tamocreate("float", std::array<int, 4>{3, 2, 2, 9}.data(), 11, 0));
        ASSERT_EQ(HoGdescriptor(input, expected), 0);
        for (const auto &[in, out] : {std::pair{1, 4}, std::pair{2, 2}}) {
            put(in, copyImage(input));
            route(in, out);
            testing::internal::CaptureStdout();
            press("dxButton");
            const std::string printed = testing::internal::GetCapturedStdout();
            EXPECT_NE(printed.find("HoG returned 0\n"), std::string::npos) << printed;
            EXPECT_TRUE(sameImage(slot(out), expected));
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
    }

    // Smaller than one cell: refused, nothing changed.
    TAMOHDR *small = put(3, makeImage(7, 9));
    TAMOHDR *kept = put(5, makeImage(2, 2));
    route(3, 5);
    {
        DialogScript script;
        press("dxButton");
        EXPECT_EQ(script.seen().size(), 1);
    }
    EXPECT_EQ(slot(3), small);
    EXPECT_EQ(slot(5), kept);
    EXPECT_EQ(groups(), "111");

    // ShowHoG wants nine frames; a plane is refused and every command
    // stays usable.
    route(3, 5);
    {
        DialogScript script;
        press("dyButton");
        EXPECT_EQ(script.texts(), QStringList({"To view a HoG, input must have 9 frames"}));
    }
    EXPECT_EQ(slot(3), small);
    EXPECT_EQ(slot(5), kept);
    EXPECT_EQ(groups(), "111");

    // A descriptor of 3 x 2 cells gives a 27 x 18 picture.
    ImageOwner descriptor(makeImage(3, 2, 9));
    for (int k = 0; k < 54; ++k) floats(descriptor)[k] = float(k % 7);
    ImageOwner picture(makeImage(27, 18));
    std::fill(floats(picture), floats(picture) + 27 * 18, 0.0f);
    ShowHoG(descriptor, picture);
    for (const auto &[in, out] : {std::pair{1, 4}, std::pair{2, 2}}) {
        put(in, copyImage(descriptor));
        route(in, out);
        DialogScript script;
        press("dyButton");
        EXPECT_TRUE(script.seen().isEmpty());
        EXPECT_TRUE(sameImage(slot(out), picture));
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}

TEST_F(UnaryCommandTest, CropTakesTheRectangleOfTheLastTwoClicks) {
    setMode(1);
    for (int frames : {0, 3}) {
        SCOPED_TRACE(frames);
        ImageOwner input(makeImage(16, 40, frames, 1.0f));
        for (const auto &[in, out] : {std::pair{1, 4}, std::pair{2, 2}}) {
            put(in, copyImage(input));
            route(in, out);
            tool->clickX1 = 10;
            tool->clickY1 = 20;
            tool->clickX2 = 4;
            tool->clickY2 = 30;
            DialogScript script;
            press("exponentButton");
            EXPECT_TRUE(script.seen().isEmpty());
            ASSERT_NE(slot(out), nullptr);
            EXPECT_EQ(shape(slot(out)),
                      frames ? std::vector<int>({6, 10, 3}) : std::vector<int>({6, 10}));
            // (frame, row, column) comes from (frame, 20 + row, 4 + column).
            EXPECT_TRUE(guitest::floatsNear(
                slot(out),
                [&](int k) {
                    const int f = k / 60, r = (k % 60) / 6, c = k % 6;
                    return Tamofgp3d(input, f, 20 + r, 4 + c);
                },
                0));
            if (out != in) EXPECT_TRUE(sameImage(slot(in), input));
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
    }

    // No width, no height, or a corner outside the input: refused.
    TAMOHDR *input = put(1, makeImage(16, 40));
    TAMOHDR *kept = put(4, makeImage(2, 2));
    route(1, 4);
    const int clicks[][4] = {{4, 20, 4, 30},   {4, 20, 10, 20}, {10, 20, 10, 20},
                             {10, 20, 30, 30}, {10, 20, 4, 45}, {-2, 3, 5, 8}};
    for (const auto &c : clicks) {
        SCOPED_TRACE(testing::Message() << c[0] << " " << c[1] << " " << c[2] << " " << c[3]);
        tool->clickX1 = c[0];
        tool->clickY1 = c[1];
        tool->clickX2 = c[2];
        tool->clickY2 = c[3];
        DialogScript script;
        press("exponentButton");
        EXPECT_EQ(script.seen().size(), 1);
        EXPECT_EQ(slot(1), input);
        EXPECT_EQ(slot(4), kept);
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}

TEST_F(UnaryCommandTest, ResizeAsksForTheSizeAndTheMode) {
    setMode(1);
    TAMOHDR *input = put(1, makeImage(4, 3, 0, 2.0f));
    TAMOHDR *kept = put(4, makeImage(2, 2));
    route(1, 4);

    // Cancelled, or a mode other than 0, 1, 2: nothing happens.
    {
        DialogScript script({guitest::rejectDialog()});
        press("inverseButton");
        ASSERT_EQ(script.seen().size(), 1);
        const DialogSeen form = script.seen()[0];
        EXPECT_EQ(form.text, "rows and cols of target imge.");
        EXPECT_EQ(form.labels, QStringList({"rows ", "columns ", "Intermp mode "}));
        EXPECT_EQ(form.fields, QStringList({"", "", ""}));
    }
    EXPECT_EQ(slot(4), kept);
    EXPECT_EQ(groups(), "111");
    for (const char *mode : {"3", "-1"}) {
        DialogScript script({guitest::fillForm({"6", "8", mode})});
        press("inverseButton");
        EXPECT_EQ(script.texts().mid(1), QStringList({"Interpolation mode must be 0, 1, or 2"}))
            << mode;
        EXPECT_EQ(slot(1), input);
        EXPECT_EQ(slot(4), kept);
        EXPECT_EQ(groups(), "111");
    }

    // The operator's resampling into the typed size, of the input's type.
    struct Case {
        int frames;
        const char *type;
        QStringList answer;
        int rows, cols, mode;
    };
    const Case cases[] = {{0, "float", {"6", "8", "1"}, 6, 8, 1},
                          {0, "float", {"5", "7", ""}, 5, 7, 0},
                          {3, "float", {"5", "7", "2"}, 5, 7, 2},
                          {0, "u8bit", {"2", "9", "1"}, 2, 9, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.answer.join(",").toStdString());
        ImageOwner source(makeImage(4, 3, c.frames, 2.0f, c.type));
        ImageOwner expected(makeImage(c.cols, c.rows, c.frames, 0.0f, c.type));
        ASSERT_EQ(Tamozoomupdown(source, expected, c.mode), 0);
        for (const auto &[in, out] : {std::pair{2, 5}, std::pair{3, 3}}) {
            put(in, copyImage(source));
            route(in, out);
            DialogScript script({guitest::fillForm(c.answer)});
            press("inverseButton");
            EXPECT_EQ(script.seen().size(), 1);
            EXPECT_TRUE(sameImage(slot(out), expected));
            if (out != in) EXPECT_TRUE(sameImage(slot(in), source));
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
    }
}

TEST_F(UnaryCommandTest, ColourToGreyReportsTheOperatorsRefusal) {
    setMode(1);
    // A line of six values gives a one-dimensional output, not a plane.
    int line[2] = {1, 6};
    TAMOHDR *input = put(1, Tamocreate("float", line, 11, 0));
    route(1, 4);
    DialogScript script;
    press("dxdyButton");
    EXPECT_EQ(script.texts(), QStringList({"Output image must be 2d."}));
    EXPECT_EQ(slot(1), input);
    EXPECT_EQ(slot(8), nullptr);
    EXPECT_EQ(groups(), "111");
}

TEST_F(UnaryCommandTest, OperatorFailuresAreReported) {
    // A kernel taller than the image: the Gaussian filter refuses, and so do
    // the measures built on it; the output keeps its zeros, and the console
    // tells which operator refused and why.
    const std::tuple<const char *, int, const char *> cases[] = {
        {"dxButton", 0, "flDoG"},           {"curvatureButton", 0, "flcurv"},
        {"dxxButton", 1, "flgmag"},         {"dyyButton", 1, "flgdir"},
        {"curvatureButton", 1, "flHarris"}, {"histeqButton", 1, "flmarkmax"}};
    for (const auto &[button, mode, op] : cases) {
        SCOPED_TRACE(testing::Message() << button << " in mode " << mode);
        setMode(mode);
        TAMOHDR *input = put(1, makeImage(12, 10, 0, 1.0f));
        route(1, 4);
        DialogScript script({guitest::enterValue(3.0)});
        testing::internal::CaptureStdout();
        press(button);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(script.texts().mid(1), QStringList({"Function returned an error code."}));
        EXPECT_TRUE(find<QPlainTextEdit>("console")->toPlainText().endsWith(
            QString("\n%1: the image has fewer rows than the kernel needs (code -5)").arg(op)));
        EXPECT_EQ(slot(1), input);
        ASSERT_NE(slot(4), nullptr);
        EXPECT_TRUE(guitest::allZero(slot(4)));
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}
