// Change notices of the workbench's image slots. The application object
// sends them for every change made through its change interface; the undo
// history, the recorded session, the image windows and the enable rules
// listen instead of being called by each path that changes a slot.
#pragma once

#include <QObject>

// What changed in a slot; one notice may name several.
enum SlotChange : int {
    kRecordChanged = 1,  // the slot holds another record, or none
    kNameChanged = 2,    // the file name shown for it
    kPixelsChanged = 4,  // the same record holds other values
    kRestored = 8,       // record and name put back as they were before (undo, redo)
};

class SlotNotifier : public QObject {
    Q_OBJECT

signals:
    // Slot `slot`'s values are about to change in place: the last moment to
    // keep the old ones.
    void pixelsAboutToChange(int slot);
    // Slot `slot` (0..8) has changed; `changes` is a set of SlotChange.
    void slotChanged(int slot, int changes);
};
