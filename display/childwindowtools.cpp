// The image window's mouse tools and save commands. Until they arrive, the
// tool bar's profile, histogram and save actions say so, and a Shift press
// removes a drawn overlay.
#include <QMouseEvent>

#include "tamotoolchildwindow.h"

void TamotoolChildWindow::profile() {
    notAvailable("The profile tool");
}

void TamotoolChildWindow::histogram() {
    notAvailable("The histogram tool");
}

void TamotoolChildWindow::save() {
    notAvailable("Save");
}

void TamotoolChildWindow::saveBuffer() {
    notAvailable("SaveWorkingImage");
}

void TamotoolChildWindow::mousePressEvent(QMouseEvent *event) {
    if (event->modifiers() & Qt::ShiftModifier) RemoveOverlay();
    QMainWindow::mousePressEvent(event);
}

void TamotoolChildWindow::mouseMoveEvent(QMouseEvent *event) {
    QMainWindow::mouseMoveEvent(event);
}

void TamotoolChildWindow::mouseReleaseEvent(QMouseEvent *event) {
    QMainWindow::mouseReleaseEvent(event);
}
