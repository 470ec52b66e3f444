#include "tamotoolchildwindow.h"

#include "tamotool.h"
#include "tamotoolmainwindow.h"

TamotoolChildWindow::TamotoolChildWindow(QWidget *parent) : QMainWindow(parent) {}

TamotoolChildWindow::~TamotoolChildWindow() {
    if (gTamotool && gTamotool->mainWindow)
        gTamotool->mainWindow->updateChildPtr(this, CHILD_REMOVE);
}
