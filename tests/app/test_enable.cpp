// Enable rules, delete_ and the image-window table.
#include <QAction>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>

#include "guitest.h"
#include "tamotoolchildwindow.h"

using guitest::makeImage;

using EnableTest = PanelTest;

TEST_F(EnableTest, RadioClicksReapplyTheRules) {
    slot(0) = makeImage(4, 4);
    QMetaObject::invokeMethod(panel, "updateAccessability");
    // Everything on "0", slot 0 filled: Input 2 is slot 0 as well.
    EXPECT_EQ(groups(), "111");
    EXPECT_TRUE(find<QPushButton>("divButton")->isEnabled());

    select("input2", 3);  // empty
    EXPECT_EQ(groups(), "110");
    select("output", 4);  // empty
    EXPECT_EQ(groups(), "010");
    slot(3) = makeImage(2, 2);
    select("input2", 3);
    EXPECT_EQ(groups(), "011");
    select("input1", 6);  // empty: binary goes too, whatever Input 2 holds
    EXPECT_EQ(groups(), "000");
    select("output", 0);
    EXPECT_EQ(groups(), "100");

    // disableButtons switches the groups off but none of the other actions.
    select("input1", 0);
    EXPECT_EQ(groups(), "111");
    QMetaObject::invokeMethod(panel, "disableButtons");
    EXPECT_EQ(groups(), "000");
    for (const char *name : {"openAct", "reopenAct", "archiveAct", "saveAsAct", "runScriptAct",
                             "exitAct", "aboutAct", "modeAct"}) {
        EXPECT_TRUE(find<QAction>(name)->isEnabled()) << name;
    }
}

TEST_F(EnableTest, DeleteClearsTheOutputSlotAndClosesItsWindow) {
    slot(0) = makeImage(4, 4);
    slot(3) = makeImage(4, 4);
    select("output", 3);
    QPointer<TamotoolChildWindow> window = guitest::openWindow(panel, 3);
    panel->updateChildPtr(window, CHILD_ADD);
    EXPECT_EQ(groups(), "111");

    find<QAction>("deleteAct")->trigger();
    EXPECT_EQ(slot(3), nullptr);
    EXPECT_NE(slot(0), nullptr);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(panel->childWindows[3], nullptr);
    EXPECT_EQ(groups(), "011");

    // On an empty slot it only re-applies the rules.
    QMetaObject::invokeMethod(panel, "disableButtons");
    QMetaObject::invokeMethod(panel, "delete_");
    EXPECT_EQ(groups(), "011");
    EXPECT_NE(slot(0), nullptr);
}

TEST_F(EnableTest, WindowTableKeepsOneWindowPerSlot) {
    select("output", 6);
    auto *first = guitest::openWindow(panel, 6);
    auto *second = guitest::openWindow(panel, 6);
    panel->updateChildPtr(first, CHILD_ADD);
    panel->updateChildPtr(second, CHILD_ADD);
    EXPECT_EQ(panel->childWindows[6], second);
    EXPECT_EQ(panel->getIndexFromChildPtr(second), 6);
    EXPECT_EQ(panel->getIndexFromChildPtr(first), -1);

    select("output", 2);
    panel->updateChildPtr(first, CHILD_ADD);
    EXPECT_EQ(panel->getIndexFromChildPtr(first), 2);

    // Removing a window clears every entry it holds and nothing else.
    panel->childWindows[7] = first;
    panel->updateChildPtr(first, CHILD_REMOVE);
    EXPECT_EQ(panel->childWindows[2], nullptr);
    EXPECT_EQ(panel->childWindows[7], nullptr);
    EXPECT_EQ(panel->childWindows[6], second);

    // A window unregisters itself when it goes.
    delete second;
    EXPECT_EQ(panel->childWindows[6], nullptr);
    // `first` is left to the panel's destructor, registered nowhere.
}

TEST_F(EnableTest, PanelDestructionClosesRegisteredWindows) {
    select("output", 1);
    QPointer<TamotoolChildWindow> window = guitest::openWindow(panel, 1);
    panel->updateChildPtr(window, CHILD_ADD);
    delete tool;
    tool = nullptr;
    gTamotool = nullptr;
    EXPECT_TRUE(window.isNull());
    tool = new Tamotool;  // for TearDown
    gTamotool = tool;
    panel = tool->mainWindow;
}
