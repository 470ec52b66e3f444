// The application object's storage and its change interface; the object's
// construction, which makes the control panel, lives with the panel.
#include "tamotool.h"

const QString VERSION = QStringLiteral("2.1");

Tamotool *gTamotool = nullptr;

TamoFatal::TamoFatal(int status)
    : status_(status),
      what_("image library ended the operation with status " + std::to_string(status)) {}

TAMOHDR *Tamotool::replaceImage(int slot, TAMOHDR *img) {
    if (slot < 0 || slot > 8) return img;
    TAMOHDR *old = images[slot];
    images[slot] = img;
    if (old != img) emit notifier_->slotChanged(slot, kRecordChanged);
    return old;
}

void Tamotool::setImageName(int slot, const QString &name) {
    if (slot < 0 || slot >= 8 || imageNames[slot] == name) return;
    imageNames[slot] = name;
    emit notifier_->slotChanged(slot, kNameChanged);
}

void Tamotool::changePixels(int slot, const std::function<void(TAMOHDR *)> &change) {
    if (slot < 0 || slot >= 8 || !images[slot]) return;
    emit notifier_->pixelsAboutToChange(slot);
    change(images[slot]);
    emit notifier_->slotChanged(slot, kPixelsChanged);
}

TAMOHDR *Tamotool::restoreSlot(int slot, TAMOHDR *img, const QString &name) {
    if (slot < 0 || slot >= 8) return img;
    TAMOHDR *old = images[slot];
    images[slot] = img;
    imageNames[slot] = name;
    emit notifier_->slotChanged(slot, kRecordChanged | kNameChanged | kRestored);
    return old;
}
