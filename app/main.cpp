// The workbench's entry: the application, the application object with its
// control panel, and the event loop.
#include <QTextStream>

#include "subclassqapp.h"
#include "tamotool.h"

int main(int argc, char *argv[]) {
    SubClassQApp app(argc, argv);
    QCoreApplication::setOrganizationName("Tamotool");
    QCoreApplication::setApplicationName("Tamotool");

    // Destroyed before the application: the panel and its windows close, the
    // slots are released and the library's exit handler is restored.
    Tamotool tool;
    gTamotool = &tool;

    // Image files named on the command line go to slots 0, 1, 2 ... in order,
    // as if the desktop had asked to open them.
    const QStringList files = app.arguments().mid(1);
    for (int i = 0; i < files.size(); ++i) {
        if (i >= 8) {
            QTextStream(stderr) << "tamotool: all eight slots are taken; not loading " << files[i]
                                << "\n";
            continue;
        }
        tool.handleFileByPath(files[i], i);
    }
    return app.exec();
}
