// The external script runner of the control panel: the Output image goes to
// the script as an own-format file beside it, the script runs through the
// shell in its own folder, and the own-format file it leaves there comes back
// into the Input 2 slot as it was written (no conversion).
#include "tamotoolmainwindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QProgressDialog>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "notices.h"
#include "records.h"
#include "session.h"
#include "tamo++.h"
#include "tamoio.h"
#include "tamotool.h"

namespace {

const char kInputName[] = "/ImgViewTempInput.Tamo";
const char kOutputName[] = "/ImgViewTempOutput.Tamo";

// Keeps `value` at full length in `full`; the fixed array holds the same
// text when it fits and is left empty otherwise, so that no cut-off path is
// ever found there.
void remember(char (&fixed)[256], QByteArray &full, const QByteArray &value) {
    full = value;
    const bool fits = value.size() < static_cast<int>(sizeof fixed);
    std::memcpy(fixed, value.constData(), fits ? static_cast<std::size_t>(value.size()) : 0);
    fixed[fits ? value.size() : 0] = '\0';
}

// One word for the shell whatever the text holds: blanks, quotes, "$", ";"
// and the like are taken literally.
QString shellQuoted(const QString &text) {
    QString inner = text;
    inner.replace('\'', QLatin1String("'\\''"));
    return '\'' + inner + '\'';
}

QString systemReason(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// The script's shell runs in a process group of its own, so that Cancel can
// end the script together with everything it started. The signals the
// workbench ignores get their usual effect back for the script.
class ScriptProcess : public QProcess {
protected:
    void setupChildProcess() override {
        ::setpgid(0, 0);
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGXFSZ, SIG_DFL);
    }
};

// The writer leaves images of fewer than 512 pixels uncompressed and notes
// the tail it wrote in the record; the slot's record keeps its own fields.
// The record in the own-format file at `path`, read as it is; null with the
// reason when it cannot be read. The stream is opened here: the library's
// name expansion would rewrite "$" and "~" in the folder's name.
TAMOHDR *readOutput(const QByteArray &path, QString &reason) {
    errno = 0;
    FILE *fp = std::fopen(path.constData(), "rb");
    if (!fp) {
        reason = systemReason(errno);
        return nullptr;
    }
    Tamoerr = 0;
    TAMOHDR *img = TamoRdImg(fp, 0);
    std::fclose(fp);
    if (!img) reason = frontend::readFailureReason(Tamoerr);
    return img;
}

enum class ScriptEnd { Finished, Cancelled, NotStarted };

// Ends the script's process group: politely first, then for certain (a child
// may ignore the polite signal or outlive the shell).
void endProcessGroup(QProcess &process) {
    const pid_t group = static_cast<pid_t>(process.processId());
    if (group <= 0) return;
    ::kill(-group, SIGTERM);
    process.waitForFinished(2000);
    ::kill(-group, SIGKILL);
    process.waitForFinished(-1);
}

// Runs `command` through the shell with the workbench's environment and
// standard streams. A script still running after half a second gets a modal
// progress dialog whose Cancel ends it; the event loop runs meanwhile.
// `exitCode` receives the shell's exit status when it finished normally.
ScriptEnd runShell(QWidget *parent, const QString &command, const QString &scriptName,
                   QString &failure, int &exitCode) {
    exitCode = 0;
    ScriptProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start("/bin/sh", {"-c", command});
    if (!process.waitForStarted(-1)) {
        failure = process.errorString();
        return ScriptEnd::NotStarted;
    }
    // Also from this side: a Cancel must never find the group not yet made.
    ::setpgid(static_cast<pid_t>(process.processId()), static_cast<pid_t>(process.processId()));
    const auto finished = [&] {
        if (process.exitStatus() == QProcess::NormalExit) exitCode = process.exitCode();
        return ScriptEnd::Finished;
    };
    if (process.waitForFinished(500)) return finished();

    QProgressDialog progress(
        QCoreApplication::translate("TamotoolMainWindow", "Running %1 ...").arg(scriptName),
        "Cancel", 0, 0, parent);
    progress.setWindowTitle(QCoreApplication::translate("TamotoolMainWindow", "Run Script"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    QEventLoop loop;
    QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    // Cancel, Escape and closing the dialog all end the wait.
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
    QObject::connect(&progress, &QDialog::rejected, &loop, &QEventLoop::quit);
    progress.show();
    if (process.state() != QProcess::NotRunning) loop.exec();
    progress.hide();
    if (process.state() == QProcess::NotRunning) return finished();
    endProcessGroup(process);
    return ScriptEnd::Cancelled;
}

// The console line for a shell that ended with `exitCode`, empty unless the
// status is the one the shell gives when it cannot run a command: 126 (not
// executable) or 127 (not found, or a #! line naming a missing interpreter).
// The script itself may end so too, hence the hedged words when the file
// looks runnable.
QString notRunHint(int exitCode, const QString &script) {
    if (exitCode != 126 && exitCode != 127) return QString();
    const QFileInfo file(script);
    const QString status = QString("exit status %1").arg(exitCode);
    if (!file.exists())
        return QString("Script not run (%1): %2 does not exist\n").arg(status, script);
    if (!file.isExecutable())
        return QString("Script not run (%1): it is not executable; make it so with chmod +x %2\n")
            .arg(status, shellQuoted(script));
    return QString(
               "The shell could not run the script or a command in it (%1; check its #! line)\n")
        .arg(status);
}

}  // namespace

void TamotoolMainWindow::runScript() {
    // A ReRun ends here as well, however the run ends.
    struct RerunCleared {
        bool &flag;
        ~RerunCleared() { flag = false; }
    } cleared{rerunFlag};

    if (!rerunFlag) {
        const QString chosen =
            QFileDialog::getOpenFileName(this, tr("Select Script"), QDir::homePath());
        if (chosen.isEmpty()) {
            showModalMessage("ScriptName is empty");
            return;
        }
        const QByteArray dir = QFile::encodeName(QFileInfo(chosen).absolutePath());
        remember(scriptDir, fullScriptDir, dir);
        remember(scriptPath, fullScriptPath, QFile::encodeName(chosen));
        remember(scriptInputPath, fullScriptInputPath, dir + kInputName);
    }

    disableButtons();
    runCommand("Run Script", [&] {
        const QString dir = QFile::decodeName(fullScriptDir);
        const QString script = QFile::decodeName(fullScriptPath);
        const int o = getRadioButtonStatus(OUTPUT);
        TAMOHDR *sent = gTamotool && o >= 0 ? gTamotool->images[o] : nullptr;
        if (sent) {
            // The script must not take an earlier image for this one.
            const QString reason = QString::fromLocal8Bit(
                frontend::writeOwnFormatFile(sent, fullScriptInputPath.toStdString()).c_str());
            if (!reason.isEmpty()) {
                showModalMessage(QString("Cannot write the script's input file %1: %2")
                                     .arg(QFile::decodeName(fullScriptInputPath), reason));
                return;
            }
        } else {
            // A script may make an image from nothing; it then finds no input
            // file rather than the one of an earlier run.
            std::fprintf(stderr, "Run Script: the Output slot is empty; no input file written\n");
            ::unlink(fullScriptInputPath.constData());
        }

        addConsoleOutput("\nScript started...");
        QString failure;
        int exitCode = 0;
        const QString command = "(cd " + shellQuoted(dir) + ";" + shellQuoted(script) + ")";
        const ScriptEnd end =
            runShell(this, command, QFileInfo(script).fileName(), failure, exitCode);
        remember(scriptOutputPath, fullScriptOutputPath, fullScriptDir + kOutputName);
        if (end == ScriptEnd::NotStarted) {
            addConsoleOutput("Script not started\n");
            showModalMessage("The script could not be started: " + failure);
            return;
        }
        if (end == ScriptEnd::Cancelled) {
            // Whatever the stopped script left is no result, and must not be
            // taken for the result of the next run.
            ::unlink(fullScriptOutputPath.constData());
            addConsoleOutput("Script cancelled\n");
            return;
        }
        addConsoleOutput("Script completed\n");
        // The script's status is otherwise ignored; this one tells why a
        // script left nothing (most often a missing chmod +x).
        const QString hint = notRunHint(exitCode, script);
        if (!hint.isEmpty()) addConsoleOutput(hint);

        struct stat st;
        if (::stat(fullScriptOutputPath.constData(), &st) != 0) {
            showModalMessage(
                "Your script did not produce an output file that I know how to process");
            return;
        }
        QString reason;
        tamo::RecordPtr result(readOutput(fullScriptOutputPath, reason));
        ::unlink(fullScriptOutputPath.constData());
        rerunAct->setEnabled(true);
        // A file that cannot be read leaves the Input 2 slot as it was.
        if (!result) {
            showModalMessage(
                QString("Cannot read %1: %2").arg(QFile::decodeName(fullScriptOutputPath), reason));
            return;
        }
        const int b = getRadioButtonStatus(INPUT2);
        if (!gTamotool || b < 0) return;
        storeInSlot(b, result.release());
        gTamotool->setImageName(b, "ReturnedFromScript");
        // The same run from the shell: the image handed over, the script run
        // (its exit status counts as little as here), the result taken back.
        // The run has a folder of its own that links to the files of the
        // script's folder, so that copies of the session run side by side
        // never share the two hand-over files.
        const QString run = "\"$work/" + session_->newFile().replace(".tamo", ".d") + "\"";
        const QString input = run + kInputName, output = run + kOutputName;
        recordTamo({Session::raw("mkdir " + run)});
        recordTamo(
            {Session::raw(QString("ln -s %1/* %2/ 2>/dev/null || :").arg(shellQuoted(dir), run))});
        recordTamo({Session::raw("rm -f " + input + " " + output)});
        if (sent) recordTamo({"cp", QString("{IN:%1}").arg(o), Session::raw(input)});
        recordTamo({Session::raw("(cd " + run + " &&"), script, Session::raw(") || :")});
        recordTamo({"cp", Session::raw(output), QString("{OUT:%1}").arg(b)});
    });
    updateAccessability();
}

void TamotoolMainWindow::rerunScript() {
    if (fullScriptInputPath.isEmpty()) {
        showModalMessage("You must run a script before you can rerun it.");
        return;
    }
    rerunFlag = true;
    runScript();
}
