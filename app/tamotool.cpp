// Construction of the application object: the fatal-path handler, the icons
// and the control panel it owns.
#include "tamotool.h"

#include "tamotoolmainwindow.h"

namespace {

// The library calls this where it would end the process. Unwinding instead
// lets the command boundary keep the user's slots alive.
[[noreturn]] void throwFatal(int status) {
    throw TamoFatal(status);
}

}  // namespace

// Q_INIT_RESOURCE must be used outside any namespace; the resource lives in
// the static GUI library, so every program linking it gets the icons.
static void registerIcons() {
    Q_INIT_RESOURCE(images);
}

Tamotool::Tamotool()
    : images{},
      clickX1(0),
      clickY1(0),
      clickX2(0),
      clickY2(0),
      labelCount(0),
      mainWindow(nullptr),
      windowHost(nullptr),
      notifier_(std::make_unique<SlotNotifier>()),
      previousExitHandler_(Tamo_exitptr) {
    registerIcons();
    Tamo_exitptr = throwFatal;
    mainWindow = new TamotoolMainWindow;
    windowHost = mainWindow;
    mainWindow->listenTo(*notifier_);
    mainWindow->show();
}

Tamotool::~Tamotool() {
    // The panel's destructor closes the image windows, which unregister
    // themselves through the panel while it is still valid.
    delete mainWindow;
    mainWindow = nullptr;
    windowHost = nullptr;
    for (TAMOHDR *&img : images) {
        if (img) Tamofree(img, 7);
        img = nullptr;
    }
    Tamo_exitptr = previousExitHandler_;
    if (gTamotool == this) gTamotool = nullptr;
}

void Tamotool::handleFileByPath(QString path, int slot) {
    // Files from the command line and the desktop start their console block
    // as Read does, so that a file's type note stands on its own line rather
    // than after the statistics of the image before.
    mainWindow->openFromOutside(path, slot);
}
