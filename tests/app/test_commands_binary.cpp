// Binary commands driven through the control panel: shifted arithmetic with
// its translation dialog, complex arithmetic, correlation limits, the "N/A"
// button, piecewise-constant segmentation and its fatal path.
#include <QLineEdit>
#include <QMessageBox>

#include <array>
#include <complex>
#include <functional>

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

float *floats(TAMOHDR *img) {
    return reinterpret_cast<float *>(img->orvptr);
}

// cols x rows (x frames) of values from 1 to 13, never zero.
TAMOHDR *operand(int cols, int rows, int frames, int seed) {
    TAMOHDR *img = makeImage(cols, rows, frames);
    for (int k = 0; k < Tamodimen(img, -1); ++k) floats(img)[k] = float((k * seed) % 13 + 1);
    return img;
}

}  // namespace

class BinaryCommandTest : public PanelTest {
protected:
    void route(int in1, int in2, int out) {
        select("input1", in1);
        select("input2", in2);
        select("output", out);
    }
};

TEST_F(BinaryCommandTest, ShiftedArithmeticAsksForTheTranslationAndSizesTheResult) {
    using Shifted = int (*)(TAMOHDR *, TAMOHDR *, TAMOHDR *, int, int);
    const std::pair<const char *, Shifted> commands[] = {
        {"addButton", fladdi}, {"subButton", flsubi}, {"mulButton", flmuli}, {"divButton", fldivi}};
    // Typed offsets, the offsets they mean, and the frames of both inputs.
    struct Offset {
        QString rows, cols;
        int dr, dc, frames;
    };
    const Offset offsets[] = {{"0", "0", 0, 0, 0},
                              {"-2", "0", -2, 0, 0},
                              {"1", "-3", 1, -3, 0},
                              {"-2.7", "0.9", -2, 0, 0},
                              {"2", "1", 2, 1, 3}};
    for (const auto &[button, op] : commands) {
        for (const Offset &o : offsets) {
            SCOPED_TRACE(testing::Message() << button << " by " << o.rows.toStdString() << ", "
                                            << o.cols.toStdString() << " on " << o.frames);
            ImageOwner a(operand(4, 3, o.frames, 5));
            ImageOwner b(operand(4, 3, o.frames, 7));
            // Rows |dr| + 3, columns |dc| + 4, of Input 1's type.
            const int rows = std::abs(o.dr) + 3, cols = std::abs(o.dc) + 4;
            ImageOwner expected(makeImage(cols, rows, o.frames));
            ASSERT_EQ(op(a, b, expected, o.dr, o.dc), 0);
            EXPECT_EQ(shape(expected)[1], rows);

            // Into a third slot, into Input 2 and into Input 1.
            for (int out : {5, 2, 1}) {
                SCOPED_TRACE(testing::Message() << "output " << out);
                put(1, copyImage(a));
                put(2, copyImage(b));
                route(1, 2, out);
                DialogScript script({guitest::fillForm({o.rows, o.cols})});
                press(button);
                ASSERT_EQ(script.seen().size(), 1) << script.texts().join(" | ").toStdString();
                const DialogSeen form = script.seen()[0];
                EXPECT_EQ(form.text, "Translation of second image:");
                EXPECT_EQ(form.labels, QStringList({"rows ", "cols "}));
                EXPECT_EQ(form.fields, QStringList({"0", "0"}));
                EXPECT_TRUE(sameImage(slot(out), expected));
                if (out != 1) EXPECT_TRUE(sameImage(slot(1), a));
                if (out != 2) EXPECT_TRUE(sameImage(slot(2), b));
                EXPECT_EQ(slot(8), nullptr);
                EXPECT_EQ(groups(), "111");
            }
        }
        // Cancelled: no message, the inputs stay.
        TAMOHDR *a = put(1, operand(4, 3, 0, 5));
        TAMOHDR *b = put(2, operand(4, 3, 0, 7));
        route(1, 2, 5);
        DialogScript script({guitest::rejectDialog()});
        press(button);
        EXPECT_EQ(script.seen().size(), 1) << button;
        EXPECT_EQ(slot(1), a);
        EXPECT_EQ(slot(2), b);
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}

TEST_F(BinaryCommandTest, ComplexArithmeticGivesAComplexResultAndRefusesMixedInputs) {
    using C = std::complex<float>;
    auto complexImage = [](int seed) {
        TAMOHDR *img = makeImage(4, 3, 0, 0.0f, "32cmp");
        for (int k = 0; k < 12; ++k) {
            floats(img)[2 * k] = float((k * seed) % 7 + 1);
            floats(img)[2 * k + 1] = float((k + seed) % 5) - 2.0f;
        }
        return img;
    };
    ImageOwner a(complexImage(3)), b(complexImage(5));
    const std::pair<const char *, std::function<C(C, C)>> commands[] = {
        {"addButton", [](C x, C y) { return x + y; }},
        {"subButton", [](C x, C y) { return x - y; }},
        {"mulButton", [](C x, C y) { return x * y; }},
        {"divButton", [](C x, C y) { return x / y; }}};
    for (const auto &[button, combine] : commands) {
        for (int out : {5, 2}) {
            SCOPED_TRACE(testing::Message() << button << " into " << out);
            put(1, copyImage(a));
            put(2, copyImage(b));
            route(1, 2, out);
            DialogScript script;
            press(button);
            EXPECT_TRUE(script.seen().isEmpty()) << script.texts().join(" | ").toStdString();
            ASSERT_NE(slot(out), nullptr);
            EXPECT_STREQ(slot(out)->orvdt, a.get()->orvdt);
            EXPECT_EQ(shape(slot(out)), std::vector<int>({4, 3}));
            for (int k = 0; k < 12; ++k) {
                const C want = combine(C(floats(a)[2 * k], floats(a)[2 * k + 1]),
                                       C(floats(b)[2 * k], floats(b)[2 * k + 1]));
                EXPECT_NEAR(floats(slot(out))[2 * k], want.real(), 1e-5) << k;
                EXPECT_NEAR(floats(slot(out))[2 * k + 1], want.imag(), 1e-5) << k;
            }
            if (out != 2) EXPECT_TRUE(sameImage(slot(2), b));
            EXPECT_TRUE(sameImage(slot(1), a));
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
        // A complex and a float operand, either way round: refused.
        for (bool complexFirst : {true, false}) {
            SCOPED_TRACE(testing::Message() << button << (complexFirst ? " complex first" : ""));
            TAMOHDR *x = put(1, complexFirst ? copyImage(a) : operand(4, 3, 0, 5));
            TAMOHDR *y = put(2, complexFirst ? operand(4, 3, 0, 7) : copyImage(b));
            route(1, 2, 5);
            // Offsets asked first are answered with 0, 0.
            DialogScript script({[](QWidget *dialog) {
                if (!qobject_cast<QMessageBox *>(dialog) &&
                    dialog->findChildren<QLineEdit *>().size() == 2) {
                    guitest::fillForm({"0", "0"})(dialog);
                } else {
                    guitest::rejectDialog()(dialog);
                }
            }});
            press(button);
            ASSERT_FALSE(script.seen().isEmpty());
            EXPECT_EQ(script.seen().last().className, "QMessageBox");
            EXPECT_EQ(slot(1), x);
            EXPECT_EQ(slot(2), y);
            EXPECT_EQ(slot(8), nullptr);
            EXPECT_EQ(groups(), "111");
        }
    }
}

TEST_F(BinaryCommandTest, CorrelationLimitsItsTemplate) {
    ImageOwner image(operand(130, 130, 0, 3));
    const std::pair<std::array<int, 3>, const char *> refusals[] = {
        {{129, 128, 0}, "Image 2 needs to be small, like 64x64 or less. Sorry."},
        {{8, 8, 3}, "I can't correlate a gray scale image with a color image. Sorry."}};
    for (const auto &[size, text] : refusals) {
        SCOPED_TRACE(text);
        TAMOHDR *in1 = put(1, copyImage(image));
        TAMOHDR *in2 = put(2, operand(size[0], size[1], size[2], 7));
        route(1, 2, 5);
        DialogScript script;
        press("correlateButton");
        EXPECT_EQ(script.texts(), QStringList({text}));
        EXPECT_EQ(slot(1), in1);
        EXPECT_EQ(slot(2), in2);
        ASSERT_NE(slot(5), nullptr);
        EXPECT_TRUE(guitest::allZero(slot(5)));
        EXPECT_EQ(groups(), "111");
    }

    // 128 x 128 = 16384 pixels is accepted.
    ImageOwner templ(operand(128, 128, 0, 7));
    ImageOwner expected(blankLike(image));
    ASSERT_EQ(flcorrelate(image, templ, expected), 0);
    for (int out : {5, 2}) {
        SCOPED_TRACE(out);
        put(1, copyImage(image));
        put(2, copyImage(templ));
        route(1, 2, out);
        DialogScript script;
        press("correlateButton");
        EXPECT_TRUE(script.seen().isEmpty()) << script.texts().join(" | ").toStdString();
        EXPECT_TRUE(sameImage(slot(out), expected));
        EXPECT_TRUE(sameImage(slot(1), image));
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}

TEST_F(BinaryCommandTest, NotApplicableButtonOnlyClearsTheOutput) {
    TAMOHDR *a = put(1, operand(4, 3, 0, 5));
    TAMOHDR *b = put(2, operand(6, 6, 0, 7));
    put(5, operand(2, 2, 0, 3));
    route(1, 2, 5);
    DialogScript script;
    press("gdirButton");
    guitest::settle(50);
    EXPECT_TRUE(script.seen().isEmpty());
    EXPECT_EQ(slot(1), a);
    EXPECT_EQ(slot(2), b);
    ASSERT_NE(slot(5), nullptr);
    EXPECT_EQ(shape(slot(5)), std::vector<int>({4, 3}));
    EXPECT_TRUE(guitest::allZero(slot(5)));
    EXPECT_EQ(groups(), "111");
}

TEST_F(BinaryCommandTest, PconAsksForItsScheduleAndRefusesOnesThatNeverEnd) {
    // A noisy two-level estimate and its data.
    ImageOwner estimate(makeImage(16, 16)), data(makeImage(16, 16));
    for (int k = 0; k < 256; ++k) {
        floats(data)[k] = (k % 16 < 8 ? 40.0f : 120.0f) + float((k * 29) % 11);
        floats(estimate)[k] = floats(data)[k] + float((k * 13) % 5) - 2.0f;
    }
    // A short schedule: two temperatures, 1 and 0.5.
    ImageOwner f(copyImage(estimate)), g(copyImage(data));
    ASSERT_EQ(pconsub(f, g, 2.0f, 0.03f, 4.0f, 1.0f, 0.5f, 0.5f), 0);

    put(1, copyImage(estimate));
    put(2, copyImage(data));
    route(1, 2, 5);
    {
        // The sigma field cleared takes its default, 2.0.
        DialogScript script({guitest::fillForm({"", ".03", "4.0", "1.0", "0.5", "0.5"})});
        press("pconButton");
        ASSERT_EQ(script.seen().size(), 1) << script.texts().join(" | ").toStdString();
        const DialogSeen form = script.seen()[0];
        EXPECT_EQ(form.text, "MFA parameters: if not filled in,\n default will be used");
        EXPECT_EQ(form.labels, QStringList({"sigma [2.0]", "r [.03]", "b [4]", "t1 [1.0]",
                                            "t2 [.005]", "dlt [.99]"}));
        EXPECT_EQ(form.fields, QStringList({"2.0", ".03", "4.0", "1.0", "0.005", ".99"}));
    }
    // Input 1 is the estimate, changed in place; Input 2 the data.
    EXPECT_TRUE(sameImage(slot(1), f));
    EXPECT_TRUE(sameImage(slot(2), g));
    ASSERT_NE(slot(5), nullptr);
    EXPECT_TRUE(guitest::allZero(slot(5)));
    EXPECT_EQ(groups(), "111");

    // Cancelled, a colour estimate, or a schedule that never ends or is not
    // a number: nothing computed.
    const QStringList defaults = {"2.0", ".03", "4.0", "1.0", "0.005", ".99"};
    auto with = [&](int field, const QString &text) {
        QStringList answer = defaults;
        answer[field] = text;
        return answer;
    };
    struct Refusal {
        int frames;
        QList<DialogAction> actions;
        const char *message;  // exact where fixed, else any message box
    };
    const Refusal refusals[] = {
        {0, {guitest::rejectDialog()}, nullptr},
        {3, {}, "This function cannot run on color images."},
        {0, {guitest::fillForm(with(5, "1"))}, ""},
        {0, {guitest::fillForm(with(5, "1.5"))}, ""},
        {0, {guitest::fillForm(with(4, "0"))}, ""},
        {0, {guitest::fillForm(with(4, "-1"))}, ""},
        // Sigma divides the data term: 0 is refused, and 1e-30 drives the
        // estimate out of the float range, which the segmentation reports.
        {0, {guitest::fillForm(with(0, "0"))}, ""},
        {0, {guitest::fillForm(with(0, "1e-30"))}, ""},
        {0, {guitest::fillForm(with(0, "abc"))}, ""},
        {0, {guitest::fillForm(with(3, "1.0x"))}, ""},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(testing::Message() << r.frames << " " << (r.message ? r.message : "cancel"));
        TAMOHDR *in1 = put(1, r.frames ? makeImage(16, 16, 3, 5.0f) : copyImage(estimate));
        TAMOHDR *in2 = put(2, copyImage(data));
        DialogScript script(r.actions);
        press("pconButton");
        const QList<DialogSeen> seen = script.seen();
        if (!r.message) {
            EXPECT_EQ(seen.size(), 1);
        } else if (*r.message) {
            EXPECT_EQ(script.texts(), QStringList({r.message}));
        } else {
            // The form, then a message about it (the form may stay open to
            // be corrected; the script then cancels it).
            ASSERT_GE(seen.size(), 2);
            EXPECT_EQ(seen[1].className, "QMessageBox");
        }
        EXPECT_EQ(slot(1), in1);
        if (!r.frames) EXPECT_TRUE(sameImage(slot(1), estimate));
        EXPECT_EQ(slot(2), in2);
        EXPECT_TRUE(sameImage(slot(2), data));
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");
    }
}

TEST_F(BinaryCommandTest, FatalLibraryConditionsStopOnlyTheCommand) {
    // Paths on which the segmentation gives up: a constant estimate equal to
    // its data (the update is zero at once), and data of another size.
    struct Case {
        int dataColumns;
        const char *printed;
    };
    for (const Case &c : {Case{8, "magf=0 exiting"}, Case{10, "bug1"}}) {
        SCOPED_TRACE(c.printed);
        TAMOHDR *in1 = put(1, makeImage(8, 8));
        TAMOHDR *in2 = put(2, makeImage(c.dataColumns, 8));
        std::fill(floats(in1), floats(in1) + 64, 7.0f);
        std::fill(floats(in2), floats(in2) + 8 * c.dataColumns, 7.0f);
        TAMOHDR *other = put(6, operand(3, 3, 0, 2));
        route(1, 2, 5);
        {
            DialogScript script({guitest::acceptDialog()});
            testing::internal::CaptureStdout();
            press("pconButton");
            const std::string printed = testing::internal::GetCapturedStdout();
            EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
            ASSERT_EQ(script.seen().size(), 2) << script.texts().join(" | ").toStdString();
            EXPECT_EQ(script.seen()[1].className, "QMessageBox");
            EXPECT_TRUE(script.seen()[1].text.contains("pcon", Qt::CaseInsensitive))
                << script.seen()[1].text;
        }

        // Every slot holds a whole record; the inputs are where they were.
        EXPECT_EQ(slot(1), in1);
        EXPECT_EQ(slot(2), in2);
        EXPECT_EQ(slot(6), other);
        EXPECT_EQ(shape(slot(1)), std::vector<int>({8, 8}));
        EXPECT_EQ(shape(slot(2)), std::vector<int>({c.dataColumns, 8}));
        ASSERT_NE(slot(5), nullptr);
        EXPECT_EQ(shape(slot(5)), std::vector<int>({8, 8}));
        EXPECT_EQ(slot(8), nullptr);
        EXPECT_EQ(groups(), "111");

        // The workbench carries on.
        DialogScript next({guitest::fillForm({"0", "0"})});
        press("addButton");
        EXPECT_TRUE(guitest::floatsNear(
            slot(5), [&](int k) { return (k % c.dataColumns < 8 ? 7.0 : 0.0) + 7.0; }, 0));
    }
}
