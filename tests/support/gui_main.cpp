// Entry of the GUI test programs: a private home and configuration folder,
// Qt's offscreen platform, the workbench's application class, and a watchdog
// against unanswered dialogs.
#include <gtest/gtest.h>

#include <QDir>

#include <cstdlib>
#include <string>

#include "guitest.h"
#include "subclassqapp.h"

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns about a window-manager feature it lacks each
// time a window is shown; that line says nothing about the code under test.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (message.contains("does not support propagateSizeHints")) return;
    defaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char **argv) {
    // Settings and log files must never reach the real home directory, so the
    // environment is set before anything reads it.
    char pattern[] = "/tmp/tamotool-test-XXXXXX";
    const char *home = mkdtemp(pattern);
    if (!home) return 2;
    const std::string root(home);
    const std::string config = root + "/config";
    const std::string runtime = root + "/runtime";
    QDir().mkpath(QString::fromStdString(config));
    QDir().mkpath(QString::fromStdString(runtime));
    QFile::setPermissions(QString::fromStdString(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("HOME", home, 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    defaultHandler = qInstallMessageHandler(quietHandler);
    testing::InitGoogleTest(&argc, argv);
    SubClassQApp app(argc, argv);
    QCoreApplication::setOrganizationName("Tamotool");
    QCoreApplication::setApplicationName("Tamotool");
    // Tests close panels; that must not end later dialogs' event loops.
    QApplication::setQuitOnLastWindowClosed(false);
    guitest::installModalWatchdog(15000);

    const int result = RUN_ALL_TESTS();
    QDir(QString::fromStdString(root)).removeRecursively();
    return result;
}
