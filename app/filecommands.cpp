// File and clipboard commands of the control panel.
#include "tamotoolmainwindow.h"

void TamotoolMainWindow::open() {
    commandNotAvailable("Read");
}
void TamotoolMainWindow::reopen() {
    commandNotAvailable("ReRead");
}

bool TamotoolMainWindow::save() {
    commandNotAvailable("Save");
    return false;
}

bool TamotoolMainWindow::archive() {
    commandNotAvailable("Archive");
    return false;
}

bool TamotoolMainWindow::saveAs() {
    commandNotAvailable("SaveAs");
    return false;
}

void TamotoolMainWindow::view() {
    commandNotAvailable("View");
}
void TamotoolMainWindow::copy() {
    commandNotAvailable("Copy");
}
void TamotoolMainWindow::paste() {
    commandNotAvailable("Paste");
}

void TamotoolMainWindow::handleFileByPath(QString path, int slot) {
    commandNotAvailable(QString("Reading %1 into slot %2").arg(path).arg(slot));
}
