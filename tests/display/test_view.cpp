// View from the control panel: one registered window per slot, refusals, and
// the window's life until it is closed.
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QPointer>

#include <memory>

#include "guitest.h"
#include "tamotoolchildwindow.h"

namespace {

class ViewTest : public PanelTest {
protected:
    void view(int index) {
        select("output", index);
        testing::internal::CaptureStdout();
        QMetaObject::invokeMethod(panel, "view");
        testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST_F(ViewTest, ViewOpensAndReplacesTheWindowOfTheOutputSlot) {
    slot(2) = guitest::makeImage(6, 5, 0, -3.0f);
    tool->imageNames[2] = "cells.png";
    view(2);
    QPointer<TamotoolChildWindow> first = panel->childWindows[2];
    ASSERT_TRUE(first);
    EXPECT_EQ(panel->getIndexFromChildPtr(first), 2);
    EXPECT_EQ(first->windowTitle(), "2:cells.png");
    EXPECT_TRUE(first->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parent(), panel);
    // A grey window shows the converter's picture of the slot.
    std::unique_ptr<QImage> picture(panel->converter.toQImage(slot(2), 0, 0));
    EXPECT_EQ(first->findChild<QLabel *>("imageLabel")->pixmap(Qt::ReturnByValue).toImage(),
              *picture);
    for (int i = 0; i < 8; ++i)
        if (i != 2) EXPECT_EQ(panel->childWindows[i], nullptr);

    // Viewing the slot again replaces its window.
    view(2);
    EXPECT_TRUE(first.isNull());
    QPointer<TamotoolChildWindow> second = panel->childWindows[2];
    ASSERT_TRUE(second);

    // Closing the window unregisters and deletes it.
    second->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
    EXPECT_EQ(panel->childWindows[2], nullptr);
    EXPECT_NE(slot(2), nullptr);
}

TEST_F(ViewTest, ComplexAndEmptySlotsOpenNothingAndCloseTheirWindow) {
    slot(4) = guitest::makeImage(4, 4);
    view(4);
    QPointer<TamotoolChildWindow> window = panel->childWindows[4];
    ASSERT_TRUE(window);

    // The slot now holds a Fourier transform.
    Tamofree(slot(4), 7);
    slot(4) = guitest::makeImage(4, 4, 0, 0.0f, "32cmp");
    auto seen = guitest::answerNextDialog();
    view(4);
    EXPECT_EQ(seen->text, "Complex images cannot be viewed. Use complex pull down");
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(panel->childWindows[4], nullptr);

    // An empty slot: its window goes, nothing opens, nothing is said.
    slot(5) = guitest::makeImage(4, 4);
    view(5);
    window = panel->childWindows[5];
    ASSERT_TRUE(window);
    Tamofree(slot(5), 7);
    slot(5) = nullptr;
    auto none = guitest::answerNextDialog({}, 300);
    view(5);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(panel->childWindows[5], nullptr);
    guitest::waitUntil([] { return false; }, 400);
    EXPECT_FALSE(none->seen);
}

TEST_F(ViewTest, WindowsOfOtherSlotsStayOpen) {
    slot(0) = guitest::makeImage(4, 4, 3);
    slot(1) = guitest::makeImage(8, 2);
    view(0);
    view(1);
    QPointer<TamotoolChildWindow> zero = panel->childWindows[0];
    QPointer<TamotoolChildWindow> one = panel->childWindows[1];
    ASSERT_TRUE(zero && one);
    EXPECT_NE(zero.data(), one.data());
    EXPECT_EQ(panel->getIndexFromChildPtr(zero), 0);
    EXPECT_EQ(panel->getIndexFromChildPtr(one), 1);
    // Deleting slot 0 closes only its window.
    select("output", 0);
    QMetaObject::invokeMethod(panel, "delete_");
    EXPECT_TRUE(zero.isNull());
    EXPECT_FALSE(one.isNull());
}
