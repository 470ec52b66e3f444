// Run Script and ReRun with real shell scripts in temporary folders.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

#include "guitest.h"
#include "tamotoolchildwindow.h"
#include "testrecords.h"

using guitest::makeImage;
using guitest::sameImage;

namespace {

const char kCopy[] = "cp ImgViewTempInput.Tamo ImgViewTempOutput.Tamo\n";
const char kNoOutput[] = "Your script did not produce an output file that I know how to process";

// Answers the modal dialogs of one run as they come: the file dialog with
// `script` (rejected when empty), the progress dialog with its Cancel button
// once `cancelWhen` holds (never without one); message boxes are closed and
// their texts kept.
struct Responder {
    Responder(const QString &script, std::function<bool()> cancelWhen = {}) {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [=] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() || modal == last) return;
            if (auto *files = qobject_cast<QFileDialog *>(modal)) {
                last = modal;
                ++fileDialogs;
                if (script.isEmpty()) return files->reject();
                files->selectFile(script);
                if (auto *name = files->findChild<QLineEdit *>("fileNameEdit"))
                    name->setText(script);
                QMetaObject::invokeMethod(files, "accept");
            } else if (auto *progress = qobject_cast<QProgressDialog *>(modal)) {
                if (!cancelWhen || !cancelWhen()) return;
                last = modal;
                progress->findChild<QPushButton *>()->click();
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                last = modal;
                messages << box->text();
                box->reject();
            }
        });
        timer.start();
    }
    QTimer timer;
    QPointer<QWidget> last;
    int fileDialogs = 0;
    QStringList messages;
};

class ScriptTest : public PanelTest {
protected:
    // An executable shell script `name` in folder `folder` (made when missing).
    QString script(const QString &folder, const QString &body, const QString &name = "s.sh") {
        QDir().mkpath(folder);
        QFile file(folder + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body.toUtf8());
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return file.fileName();
    }
    // The record in the input file the runner left in `folder`.
    static tamo::RecordPtr sentFile(const QString &folder) {
        return testsupport::readOwnFormat(
            QFile::encodeName(folder + "/ImgViewTempInput.Tamo").toStdString());
    }
    QString console() const { return find<QPlainTextEdit>("console")->toPlainText(); }
    bool rerunEnabled() const { return find<QAction>("rerunAct")->isEnabled(); }

    QTemporaryDir dir;
};

bool processGone(const QString &pid) {
    QFile stat("/proc/" + pid + "/stat");
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray fields = stat.readAll();
    return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";  // ended, not yet reaped
}

}  // namespace

TEST_F(ScriptTest, TheResultComesBackUnconvertedWhereverTheScriptLives) {
    // Unquoted, this name would run commands leaving a file beside the home folder.
    const QString tricky = "it's a $(touch $HOME.ran); `touch $HOME.ran` & dir";
    const QString deep = QString(120, 'a') + "/" + QString(120, 'b') + "/" + QString(120, 'c');
    put(1, makeImage(5, 4, 2, 3.0f, "16bit"));
    put(2, makeImage(2, 2));
    // An open window of the Input 2 slot takes the result's name.
    select("output", 2);
    trigger("viewAct");
    TamotoolChildWindow *window = panel->childWindows[2];
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "2:");
    select("output", 1);
    select("input2", 2);
    for (const QString &folder : {QString("plain"), tricky, deep}) {
        SCOPED_TRACE(folder.toStdString());
        const QString path = dir.filePath(folder);
        Responder answers(script(path, kCopy));
        trigger("runScriptAct");

        EXPECT_EQ(answers.messages, QStringList());
        EXPECT_TRUE(sameImage(slot(2), slot(1)));
        EXPECT_EQ(tool->imageNames[2], QString("ReturnedFromScript"));
        EXPECT_EQ(window->windowTitle(), "2:ReturnedFromScript");
        EXPECT_TRUE(sameImage(sentFile(path).get(), slot(1)));
        EXPECT_FALSE(QFile::exists(path + "/ImgViewTempOutput.Tamo"));
        EXPECT_TRUE(console().endsWith("\nScript started...Script completed\n"));
        EXPECT_TRUE(rerunEnabled());
        put(2, makeImage(2, 2));
    }
    EXPECT_FALSE(QFile::exists(QDir::homePath() + ".ran"));
    EXPECT_EQ(QByteArray(panel->scriptDir), QByteArray());  // too long for the fixed member
    EXPECT_EQ(panel->fullScriptDir, QFile::encodeName(dir.filePath(deep)));
}

TEST_F(ScriptTest, WithoutAUsableResultEverySlotStays) {
    struct Case {
        const char *name;
        const char *body;
        const char *inputDirectory;  // made where the input file belongs, when set
        QString message;
        bool ran, rerun;
        bool executable = true;
    } cases[] = {
        {"writes nothing", "touch ran\n", nullptr, kNoOutput, true, false},
        // The shell refuses it (status 126); the console says why.
        {"not executable", "touch ran\n", nullptr, kNoOutput, false, false, false},
        {"writes no image", "touch ran; echo junk > ImgViewTempOutput.Tamo\n", nullptr,
         "Cannot read ", true, true},
        {"input not writable", "touch ran\n", "ImgViewTempInput.Tamo",
         "Cannot write the script's input file ", false, true},
    };
    guitest::ImageOwner truth1(makeImage(3, 3)), truth2(makeImage(2, 2, 0, 7.0f));
    put(1, guitest::copyImage(truth1));
    put(2, guitest::copyImage(truth2));
    select("output", 1);
    select("input2", 2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(c.name);
        if (c.inputDirectory) QDir().mkpath(folder + "/" + c.inputDirectory);
        const QString path = script(folder, c.body);
        if (!c.executable)
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        Responder answers(path);
        trigger("runScriptAct");

        ASSERT_EQ(answers.messages.size(), 1);
        const QString hint =
            "Script completed\nScript not run (exit status 126): it is not "
            "executable; make it so with chmod +x '" +
            path + "'\n";
        EXPECT_EQ(console().endsWith(hint), !c.executable) << console();
        if (c.ran) EXPECT_TRUE(console().endsWith("Script completed\n")) << console();
        EXPECT_TRUE(answers.messages[0].startsWith(c.message)) << answers.messages[0];
        EXPECT_EQ(QFile::exists(folder + "/ran"), c.ran);
        EXPECT_FALSE(QFile::exists(folder + "/ImgViewTempOutput.Tamo"));
        EXPECT_EQ(rerunEnabled(), c.rerun);
        EXPECT_TRUE(sameImage(slot(1), truth1));
        EXPECT_TRUE(sameImage(slot(2), truth2));
    }
}

TEST_F(ScriptTest, CancelEndsTheScriptAndItsChildrenAndKeepsEverySlot) {
    const QString folder = dir.filePath("slow");
    const QString pidFile = folder + "/child.pid";
    TAMOHDR *kept = put(2, makeImage(2, 2));
    put(1, makeImage(3, 3));
    select("output", 1);
    select("input2", 2);
    Responder answers(script(folder, QString(kCopy) + "sleep 300 & echo $! > child.tmp\n"
                                                      "mv child.tmp child.pid; wait\n"),
                      [&] { return QFile::exists(pidFile); });
    trigger("runScriptAct");

    EXPECT_EQ(answers.messages, QStringList());
    EXPECT_TRUE(console().endsWith("\nScript started...Script cancelled\n"));
    EXPECT_EQ(slot(2), kept);
    EXPECT_FALSE(QFile::exists(folder + "/ImgViewTempOutput.Tamo"));
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const QString child = QString::fromLatin1(pid.readAll().trimmed());
    EXPECT_TRUE(guitest::waitUntil([&] { return processGone(child); }, 10000))
        << child.toStdString();
}

TEST_F(ScriptTest, ReRunSendsTheCurrentOutputToTheLastScript) {
    {
        Responder answers("");
        ASSERT_TRUE(QMetaObject::invokeMethod(panel, "rerunScript"));
        EXPECT_EQ(answers.messages,
                  QStringList({"You must run a script before you can rerun it."}));
        EXPECT_EQ(answers.fileDialogs, 0);
    }
    // With Input 2 and Output on one slot the result replaces the image sent.
    const QString folder = dir.filePath("rerun");
    const QString path =
        script(folder,
               "if [ -f prepared.Tamo ]; then mv prepared.Tamo ImgViewTempOutput.Tamo\n"
               "else cp ImgViewTempInput.Tamo ImgViewTempOutput.Tamo; fi\n");
    guitest::ImageOwner sent(makeImage(4, 3, 0, 1.0f, "32flt")),
        prepared(makeImage(3, 2, 0, 9.0f, "u8bit"));
    testsupport::writeOwnFormat(QFile::encodeName(folder + "/prepared.Tamo").toStdString(),
                                prepared);
    put(3, guitest::copyImage(sent));
    select("output", 3);
    select("input2", 3);
    {
        Responder answers(path);
        trigger("runScriptAct");
        EXPECT_EQ(answers.messages, QStringList());
    }
    EXPECT_TRUE(sameImage(slot(3), prepared));
    EXPECT_TRUE(sameImage(sentFile(folder).get(), sent));

    {
        Responder answers("");
        trigger("rerunAct");
        EXPECT_EQ(answers.fileDialogs, 0);
        EXPECT_EQ(answers.messages, QStringList());
    }
    EXPECT_TRUE(sameImage(sentFile(folder).get(), prepared));
    EXPECT_TRUE(sameImage(slot(3), prepared));

    // After a ReRun, Run Script asks for a script again.
    Responder answers("");
    trigger("runScriptAct");
    EXPECT_EQ(answers.fileDialogs, 1);
    EXPECT_EQ(answers.messages, QStringList({"ScriptName is empty"}));
}
