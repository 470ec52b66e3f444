// The external script runner of the control panel.
#include "tamotoolmainwindow.h"

void TamotoolMainWindow::runScript() {
    commandNotAvailable("Run Script");
}
void TamotoolMainWindow::rerunScript() {
    commandNotAvailable("ReRun");
}
