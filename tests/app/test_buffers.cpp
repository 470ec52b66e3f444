// The buffer functions, their completion forms and the refusal when no output
// record can be made.
#include <QPointer>

#include "guitest.h"
#include "tamotoolchildwindow.h"

using guitest::allZero;
using guitest::makeImage;
using guitest::shape;

namespace {

// Refuses blocks of a record header's size and more, so that Tamocreate
// fails while small requests still succeed.
void *(*realAlloc)(size_t, size_t) = nullptr;
void *refuse(size_t n, size_t size) {
    return n * size >= 512 ? nullptr : realAlloc(n, size);
}

}  // namespace

TEST_F(PanelTest, UnaryInPlaceWorksInTheWorkSlotAndCompletesByCopyOrMove) {
    TAMOHDR *input = slot(2) = makeImage(4, 3, 0, 1.0f);
    select("input1", 2);
    select("output", 2);

    TAMOHDR *in = nullptr, *out = nullptr;
    int outIndex = -1;
    ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT), 1);
    EXPECT_EQ(outIndex, 2);
    EXPECT_EQ(in, input);
    EXPECT_EQ(slot(2), input);
    ASSERT_EQ(out, slot(8));
    EXPECT_EQ(out->dtype, TAMO_32FLT);
    EXPECT_EQ(shape(out), std::vector<int>({4, 3}));
    EXPECT_TRUE(allZero(out));

    for (int k = 0; k < 12; ++k) Tamofpp(out, k / 4, k % 4, 10.0 * Tamofgp(in, k / 4, k % 4));
    panel->completeUnaryCopy(1, outIndex);
    EXPECT_EQ(slot(8), nullptr);
    ASSERT_NE(slot(2), nullptr);
    EXPECT_NE(slot(2), out);  // a copy
    EXPECT_FLOAT_EQ(Tamofgp(slot(2), 0, 0), 10.0f);
    EXPECT_FLOAT_EQ(Tamofgp(slot(2), 2, 3), 120.0f);

    // Move hands over the work record itself; a complex result asked to be
    // copied is handed over unconverted as well.
    for (bool copy : {false, true}) {
        ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_COMPLEX), 1);
        EXPECT_EQ(out->dtype, TAMO_32CMP);
        EXPECT_EQ(shape(out), std::vector<int>({4, 3}));
        copy ? panel->completeUnaryCopy(1, outIndex) : panel->completeUnaryMove(1, outIndex);
        EXPECT_EQ(slot(2), out);
        EXPECT_EQ(slot(8), nullptr);
    }
}

TEST_F(PanelTest, UnaryWithSeparateOutputReplacesOnlyTheOutputSlot) {
    TAMOHDR *input = slot(2) = makeImage(4, 3, 5, 7.0f);
    slot(5) = makeImage(2, 2);  // replaced by the new output
    select("input1", 2);
    select("output", 5);

    TAMOHDR *in = nullptr, *out = nullptr;
    int outIndex = -1;
    ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT), 0);
    EXPECT_EQ(outIndex, 5);
    EXPECT_EQ(in, input);
    EXPECT_EQ(out, slot(5));
    EXPECT_EQ(slot(8), nullptr);
    EXPECT_EQ(shape(out), std::vector<int>({4, 3, 5}));
    EXPECT_TRUE(allZero(out));
    EXPECT_FLOAT_EQ(Tamofgp3d(slot(2), 4, 2, 3), 7.0f + 59);

    panel->completeUnaryCopy(0, outIndex);
    EXPECT_EQ(slot(5), out);
    EXPECT_EQ(slot(2), input);

    ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT2D), 0);
    EXPECT_EQ(shape(out), std::vector<int>({4, 3}));
    // A one-dimensional input has no second dimension to take.
    int line[2] = {1, 6};
    Tamofree(slot(2), 7);
    slot(2) = Tamocreate("float", line, 11, 0);
    ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT2D), 0);
    EXPECT_EQ(shape(out), std::vector<int>({6}));
}

TEST_F(PanelTest, BinaryOutputIsHeldByNoSlotUntilCompletionWhenItIsAnInput) {
    TAMOHDR *a = slot(1) = makeImage(4, 3, 0, 1.0f);
    TAMOHDR *b = slot(2) = makeImage(6, 6, 0, 2.0f);
    select("input1", 1);
    select("input2", 2);
    select("output", 5);
    QPointer<TamotoolChildWindow> window = guitest::openWindow(panel, 5);
    panel->updateChildPtr(window, CHILD_ADD);

    // Separate output: a new "float" record of Input 1's dimensions in slot 5,
    // whose window goes.
    TAMOHDR *in1 = nullptr, *in2 = nullptr, *out = nullptr;
    int outIndex = -1;
    ASSERT_EQ(panel->getBinaryBuffers(in1, in2, out, outIndex), 0);
    EXPECT_EQ(in1, a);
    EXPECT_EQ(in2, b);
    EXPECT_EQ(out, slot(5));
    EXPECT_EQ(outIndex, 5);
    EXPECT_EQ(shape(out), std::vector<int>({4, 3}));
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(panel->childWindows[5], nullptr);

    // Output = Input 2: the result waits outside the slots.
    select("output", 2);
    ASSERT_EQ(panel->getBinaryBuffers(in1, in2, out, outIndex), 3);
    EXPECT_EQ(in2, b);
    for (int i = 0; i < 9; ++i) EXPECT_NE(slot(i), out) << "slot " << i;
    Tamofpp(out, 1, 1, 99.0);
    panel->completeBinaryBuffers(3, out, outIndex);
    EXPECT_EQ(slot(2), out);
    EXPECT_FLOAT_EQ(Tamofgp(slot(2), 1, 1), 99.0f);
    EXPECT_EQ(slot(1), a);
}

TEST_F(PanelTest, BuffersRefuseEmptyInputsAndUncreatableOutputsTouchingNothing) {
    TAMOHDR *kept = slot(5) = makeImage(2, 2);
    select("input1", 1);
    select("input2", 2);
    select("output", 5);
    TAMOHDR *sentinel = reinterpret_cast<TAMOHDR *>(0x1);
    TAMOHDR *in = sentinel, *in2 = sentinel, *out = sentinel;
    int outIndex = -1;
    EXPECT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT), -1);
    EXPECT_EQ(panel->getBinaryBuffers(in, in2, out, outIndex), -1);
    EXPECT_EQ(in, sentinel);
    EXPECT_EQ(out, sentinel);
    TAMOHDR *input = slot(1) = makeImage(4, 3);
    EXPECT_EQ(panel->getBinaryBuffers(in, in2, out, outIndex), -1);  // Input 2 empty
    TAMOHDR *second = slot(2) = makeImage(4, 3);

    QPointer<TamotoolChildWindow> window = guitest::openWindow(panel, 5);
    panel->updateChildPtr(window, CHILD_ADD);
    realAlloc = Tamo_alcptr;
    for (int outSlot : {5, 1}) {  // separate output, then in place
        select("output", outSlot);
        for (bool binary : {false, true}) {
            auto seen = guitest::answerNextDialog();
            testing::internal::CaptureStderr();
            Tamo_alcptr = refuse;
            const int result = binary ? panel->getBinaryBuffers(in, in2, out, outIndex)
                                      : panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT);
            Tamo_alcptr = realAlloc;
            const std::string report = testing::internal::GetCapturedStderr();
            EXPECT_EQ(result, -1);
            EXPECT_EQ(seen->text, "Cannot create the output image.");
            EXPECT_NE(report.find("Tamocreate"), std::string::npos) << report;
        }
    }
    EXPECT_EQ(slot(1), input);
    EXPECT_EQ(slot(2), second);
    EXPECT_EQ(slot(5), kept);
    EXPECT_EQ(slot(8), nullptr);
    EXPECT_EQ(panel->childWindows[5], window.data());
}
