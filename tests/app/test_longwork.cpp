// Long computations: they run away from the GUI thread under a progress
// dialog that shows after half a second, and Cancel leaves every slot as the
// command found it.
#include <QApplication>
#include <QFileOpenEvent>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>

#include "guitest.h"
#include "history.h"
#include "tempdir.h"
#include "testrecords.h"
#include "tamoop.h"
#include "tamoops.h"

using guitest::copyImage;
using guitest::DialogScript;
using guitest::ImageOwner;
using guitest::makeImage;
using guitest::ProgressWatch;
using guitest::sameImage;

namespace {

// Generous: Cancel must end a computation within a fraction of a second.
constexpr int kCancelBoundMs = 5000;

// The slots' records and a copy of each one's pixels.
struct SlotPicture {
    TAMOHDR *records[9] = {};
    std::unique_ptr<ImageOwner> copies[9];
};

}  // namespace

class LongWorkTest : public PanelTest {
protected:
    SlotPicture picture() {
        SlotPicture p;
        for (int i = 0; i < 9; ++i) {
            p.records[i] = slot(i);
            p.copies[i] = std::make_unique<ImageOwner>(slot(i) ? copyImage(slot(i)) : nullptr);
        }
        return p;
    }
    void expectUnchanged(const SlotPicture &before) {
        for (int i = 0; i < 9; ++i) {
            SCOPED_TRACE(testing::Message() << "slot " << i);
            EXPECT_EQ(slot(i), before.records[i]);
            if (slot(i) && slot(i) == before.records[i])
                EXPECT_TRUE(sameImage(slot(i), before.copies[i]->get()));
        }
    }
};

// A computation that reports progress until it is asked to stop, writing
// into out meanwhile as a real operator would.
int untilCancelled(TAMOHDR *out) {
    for (int64_t step = 0;; ++step) {
        Tamofpp(out, 0, 0, float(step));
        if (Tamo_progressptr && Tamo_progressptr(step % 1000, 1000)) return TAMO_CANCELLED;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST_F(LongWorkTest, CancelPutsBackEveryRecordTheCommandTookOrChanged) {
    // Unary into another slot, unary in place (the work slot), binary into
    // a third slot and binary into one of its inputs.
    struct Case {
        bool binary;
        int in1, in2, out;
    };
    for (const Case &c :
         {Case{false, 0, 0, 3}, Case{false, 0, 0, 0}, Case{true, 0, 1, 3}, Case{true, 0, 1, 1}}) {
        SCOPED_TRACE(testing::Message() << c.binary << " " << c.in1 << c.in2 << c.out);
        put(0, makeImage(6, 5, 0, 1.0f));
        put(1, makeImage(6, 5, 0, 100.0f));
        put(3, makeImage(2, 2, 0, -4.0f));
        select("input1", c.in1);
        select("input2", c.in2);
        select("output", c.out);
        const SlotPicture before = picture();
        const QString enabled = groups();

        QThread *computedOn = nullptr;
        QString groupsWhileRunning;
        bool secondCommandRan = false, secondCommandAccepted = true;
        ProgressWatch watch([&](QProgressDialog *) {
            groupsWhileRunning = groups();
            secondCommandAccepted = panel->runCommand("Second", [&] { secondCommandRan = true; });
            return true;
        });
        DialogScript unexpected;
        const bool finished = panel->runCommand("Slow", [&] {
            TAMOHDR *in1 = nullptr, *in2 = nullptr, *out = nullptr;
            int outIndex = -1;
            if (c.binary)
                ASSERT_GE(panel->getBinaryBuffers(in1, in2, out, outIndex), 0);
            else
                ASSERT_GE(panel->getUnaryBuffers(in1, out, outIndex, OP_FLOAT), 0);
            TamoOp::compute([&] {
                computedOn = QThread::currentThread();
                return untilCancelled(out);
            });
            ADD_FAILURE() << "the command went on after Cancel";
        });
        const qint64 sinceCancel = watch.seen().sinceCancel.elapsed();

        EXPECT_FALSE(finished);
        ASSERT_TRUE(watch.seen().cancelled);
        EXPECT_LT(sinceCancel, kCancelBoundMs);
        EXPECT_EQ(watch.seen().shown, 1);
        EXPECT_EQ(watch.seen().label, "Slow");
        EXPECT_TRUE(watch.seen().applicationModal);
        EXPECT_EQ(watch.seen().maximum, 1000);  // the reported progress, not a busy bar
        EXPECT_NE(computedOn, nullptr);
        EXPECT_NE(computedOn, QThread::currentThread());
        EXPECT_EQ(Tamo_progressptr, nullptr);
        // Nothing disabled behind the command's back, and one command at a time.
        EXPECT_EQ(groupsWhileRunning, enabled);
        EXPECT_FALSE(secondCommandAccepted);
        EXPECT_FALSE(secondCommandRan);
        // Silently, every slot as before; the rules hold.
        EXPECT_TRUE(unexpected.seen().isEmpty()) << unexpected.texts().join(" | ");
        EXPECT_TRUE(find<QPlainTextEdit>("console")->toPlainText().endsWith("\nSlow cancelled"));
        expectUnchanged(before);
        EXPECT_EQ(groups(), enabled);
    }
}

TEST_F(LongWorkTest, ShortCommandShowsNoDialog) {
    put(0, makeImage(16, 16, 0, 1.0f));
    select("output", 4);
    ProgressWatch watch;
    press("inverseButton");
    EXPECT_EQ(watch.seen().shown, 0);
    // max - value
    EXPECT_TRUE(guitest::floatsNear(slot(4), [](int k) { return 255.0 - k; }));
    EXPECT_EQ(groups(), "111");
}

TEST_F(LongWorkTest, PconCancelledFromItsProgressDialog) {
    // A noisy two-level pair large enough for the dialog to show.
    constexpr int kSide = 1024;
    TAMOHDR *estimate = put(0, makeImage(kSide, kSide));
    TAMOHDR *data = put(1, makeImage(kSide, kSide));
    float *f = reinterpret_cast<float *>(estimate->orvptr);
    float *g = reinterpret_cast<float *>(data->orvptr);
    for (int k = 0; k < kSide * kSide; ++k) {
        g[k] = (k % kSide < kSide / 2 ? 40.0f : 120.0f) + float((k * 29) % 11);
        f[k] = g[k] + float((k * 13) % 5) - 2.0f;
    }
    put(2, makeImage(4, 4, 0, 9.0f));
    select("input1", 0);
    select("input2", 1);
    select("output", 2);
    const SlotPicture before = picture();

    QString groupsWhileRunning;
    // Cancelled once the segmentation has reported its first steps.
    ProgressWatch watch([&](QProgressDialog *dialog) {
        groupsWhileRunning = groups();
        return dialog->maximum() > 0 && dialog->value() > 0;
    });
    DialogScript script({guitest::acceptDialog()});  // the schedule's defaults
    press("pconButton");
    const qint64 sinceCancel = watch.seen().sinceCancel.elapsed();

    EXPECT_EQ(script.seen().size(), 1) << script.texts().join(" | ");
    EXPECT_EQ(watch.seen().shown, 1);
    EXPECT_EQ(watch.seen().label, "pcon");
    ASSERT_TRUE(watch.seen().cancelled) << "the progress never moved";
    EXPECT_LT(sinceCancel, kCancelBoundMs);
    EXPECT_EQ(groupsWhileRunning, "000");  // pcon's own disabling
    expectUnchanged(before);
    EXPECT_EQ(groups(), "111");
    EXPECT_EQ(Tamo_progressptr, nullptr);
}

TEST_F(LongWorkTest, DesktopFileWaitsForTheLongCommandAndComesInAsItsOwnStep) {
    testsupport::TempDir dir;
    const std::string path = dir.file("desk.tamo");
    ImageOwner file(makeImage(3, 2, 0, 50.0f));
    testsupport::writeOwnFormat(path, file);
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "finished");
        TAMOHDR *input = put(0, makeImage(6, 5, 0, 1.0f));
        put(3, makeImage(2, 2, 0, -4.0f));
        tool->imageNames[0] = "before";
        select("input1", 0);
        select("output", 3);
        const SlotPicture before = picture();
        const int steps = panel->history().undoCount();

        // The desktop's request reaches the application while the command's
        // progress dialog shows; the command then finishes or is cancelled.
        std::atomic<bool> stop{false};
        bool slotZeroKeptWhileRunning = false;
        ProgressWatch watch([&](QProgressDialog *) {
            if (!stop) {
                QFileOpenEvent open(QString::fromStdString(path));
                QApplication::sendEvent(qApp, &open);
                slotZeroKeptWhileRunning = slot(0) == input && tool->imageNames[0] == "before";
                stop = true;
            }
            return cancel;
        });
        DialogScript unexpected;
        const bool finished = panel->runCommand("Slow", [&] {
            TAMOHDR *in = nullptr, *out = nullptr;
            int outIndex = -1;
            ASSERT_EQ(panel->getUnaryBuffers(in, out, outIndex, OP_FLOAT), 0);
            TamoOp::compute([&] {
                for (;;) {
                    if (Tamo_progressptr && Tamo_progressptr(1, 2)) return int(TAMO_CANCELLED);
                    if (stop) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                // The result is made from the input the command started with.
                const long long n = tamo::elementCount(in);
                for (long long k = 0; k < n; ++k)
                    reinterpret_cast<float *>(out->orvptr)[k] =
                        reinterpret_cast<float *>(in->orvptr)[k] + 1.0f;
                return 0;
            });
        });

        EXPECT_EQ(finished, !cancel);
        EXPECT_TRUE(watch.seen().shown);
        EXPECT_TRUE(slotZeroKeptWhileRunning) << "the file was read under the running command";
        EXPECT_TRUE(unexpected.seen().isEmpty()) << unexpected.texts().join(" | ");
        // The file is in slot 0 either way, as a step of its own after the
        // command's.
        EXPECT_TRUE(sameImage(slot(0), file));
        EXPECT_EQ(tool->imageNames[0], "desk.tamo");
        EXPECT_EQ(panel->history().undoLabel(), "Read");
        EXPECT_EQ(panel->history().undoCount(), steps + (cancel ? 1 : 2));
        if (cancel) {
            EXPECT_TRUE(sameImage(slot(3), before.copies[3]->get()));
        } else {
            EXPECT_TRUE(guitest::floatsNear(slot(3), [](int k) { return 2.0 + k; }));
        }
        // Undoing the Read gives slot 0 back as the command found it.
        trigger("undoAct");
        EXPECT_TRUE(sameImage(slot(0), before.copies[0]->get()));
        EXPECT_EQ(tool->imageNames[0], "before");
        EXPECT_EQ(groups(), "111");
    }
}
