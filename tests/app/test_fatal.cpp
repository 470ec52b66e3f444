// The command boundary: a library condition that would end the process stops
// only the command, and the user's slots survive whole.
#include <QAction>

#include <set>

#include "guitest.h"

using guitest::makeImage;

namespace {

// Counts the library's live allocations, to see that the boundary releases
// what the stopped command made.
std::set<void *> *live = nullptr;
void *(*realAlloc)(size_t, size_t) = nullptr;
void (*realFree)(void *) = nullptr;

void *countingAlloc(size_t n, size_t size) {
    void *p = realAlloc(n, size);
    if (p && live) live->insert(p);
    return p;
}

void countingFree(void *p) {
    if (live) live->erase(p);
    realFree(p);
}

class FatalTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        realAlloc = Tamo_alcptr;
        realFree = Tamo_freeptr;
        Tamo_alcptr = countingAlloc;
        Tamo_freeptr = countingFree;
        live = &allocations;
    }
    void TearDown() override {
        live = nullptr;
        Tamo_alcptr = realAlloc;
        Tamo_freeptr = realFree;
        PanelTest::TearDown();
    }

    // Runs body through the boundary, answering and returning its message.
    QString stopped(const std::function<void()> &body, bool *finished = nullptr) {
        auto seen = guitest::answerNextDialog({}, 1000);
        const bool done = panel->runCommand("Test", body);
        if (finished) *finished = done;
        return seen->seen ? seen->text : QString();
    }

    std::set<void *> allocations;
};

}  // namespace

TEST_F(FatalTest, InPlaceCommandLeavesTheInputAndReleasesTheWorkSlot) {
    TAMOHDR *input = slot(1) = makeImage(5, 4, 0, 3.0f);
    select("input1", 1);
    select("output", 1);
    const std::size_t before = allocations.size();

    bool finished = true;
    const QString message = stopped(
        [&] {
            TAMOHDR *in = nullptr, *out = nullptr;
            int outIndex = -1;
            ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT), 1);
            QMetaObject::invokeMethod(panel, "disableButtons");
            Tamofpp(out, 0, 0, 1.0);
            Tamo_exitptr(7);
            ADD_FAILURE() << "the handler returned";
        },
        &finished);
    EXPECT_FALSE(finished);
    EXPECT_EQ(message, "Test stopped: the library ended the operation (status 7).");
    EXPECT_EQ(slot(1), input);
    EXPECT_FLOAT_EQ(Tamofgp(input, 3, 4), 3.0f + 19);
    EXPECT_EQ(slot(8), nullptr);
    EXPECT_EQ(allocations.size(), before);
    EXPECT_TRUE(find<QAction>("dxAct")->isEnabled());  // rules re-applied
}

TEST_F(FatalTest, BinaryResultHeldByNoSlotIsReleased) {
    TAMOHDR *a = slot(1) = makeImage(4, 4, 0, 1.0f);
    TAMOHDR *b = slot(2) = makeImage(4, 4, 0, 2.0f);
    select("input1", 1);
    select("input2", 2);
    select("output", 2);
    const std::size_t before = allocations.size();

    const QString message = stopped([&] {
        TAMOHDR *in1 = nullptr, *in2 = nullptr, *out = nullptr;
        int outIndex = -1;
        ASSERT_EQ(panel->getBinaryBuffers(in1, in2, out, outIndex), 3);
        // The library reports, then ends the operation with Tamoerr's status.
        Tamoerr = 64;
        Tamoext(64, "fake: the operator gives up\n");
    });
    EXPECT_EQ(message, "Test stopped: the library ended the operation (status 64).");
    EXPECT_EQ(slot(1), a);
    EXPECT_EQ(slot(2), b);
    EXPECT_EQ(allocations.size(), before);
    Tamoerr = 0;
}

TEST_F(FatalTest, SeparateOutputKeepsAWholeRecordInTheOutputSlot) {
    TAMOHDR *input = slot(0) = makeImage(6, 2, 3, 1.0f);
    select("output", 4);
    stopped([&] {
        TAMOHDR *in = nullptr, *out = nullptr;
        int outIndex = -1;
        ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT), 0);
        Tamo_exitptr(0);
    });
    EXPECT_EQ(slot(0), input);
    ASSERT_NE(slot(4), nullptr);
    EXPECT_EQ(Tamodimen(slot(4), -1), 36);
    EXPECT_EQ(slot(8), nullptr);
    EXPECT_TRUE(find<QAction>("viewAct")->isEnabled());
}

TEST_F(FatalTest, OutOfMemoryStopsTheCommandAndSuccessSaysNothing) {
    slot(0) = makeImage(2, 2);
    EXPECT_EQ(stopped([] { throw std::bad_alloc(); }), "Test stopped: there is not enough memory.");

    bool finished = false;
    EXPECT_EQ(stopped([] {}, &finished), QString());
    EXPECT_TRUE(finished);
}
