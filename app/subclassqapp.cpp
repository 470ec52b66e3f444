#include "subclassqapp.h"

#include <QFileOpenEvent>

#include "tamotool.h"

SubClassQApp::SubClassQApp(int &argc, char **argv) : QApplication(argc, argv) {}

bool SubClassQApp::event(QEvent *event) {
    // Qt queues a request that arrives before the event loop runs, so
    // gTamotool is normally set here; without it there is nowhere to load to.
    if (event->type() == QEvent::FileOpen && gTamotool) {
        auto *open = static_cast<QFileOpenEvent *>(event);
        gTamotool->handleFileByPath(open->file(), 0);
        return true;
    }
    return QApplication::event(event);
}
