// Undo, redo and the recorded session of the control panel: the step each
// command leaves, the tamo command lines it is recorded as, and the actions
// and views that reach them.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QStyle>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "atomicfile.h"
#include "computations.h"
#include "history.h"
#include "longwork.h"
#include "notices.h"
#include "session.h"
#include "tamotool.h"
#include "tamotoolchildwindow.h"
#include "tamotoolmainwindow.h"

namespace {

constexpr int kUserSlots = 8;

TAMOHDR *userImage(int index) {
    if (!gTamotool || index < 0 || index >= kUserSlots) return nullptr;
    return gTamotool->images[index];
}

QString mib(long long bytes) {
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

}  // namespace

// ---- Actions and views ------------------------------------------------------------------

void TamotoolMainWindow::createHistoryActions() {
    undoAct = new QAction(tr("Undo"), this);
    undoAct->setObjectName("undoAct");
    undoAct->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    undoAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    undoAct->setStatusTip(tr("Take back the last command that changed an image slot"));
    connect(undoAct, &QAction::triggered, this, &TamotoolMainWindow::undo);

    redoAct = new QAction(tr("Redo"), this);
    redoAct->setObjectName("redoAct");
    redoAct->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
    redoAct->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    redoAct->setStatusTip(tr("Apply again the last command taken back"));
    connect(redoAct, &QAction::triggered, this, &TamotoolMainWindow::redo);

    undoMemoryAct = new QAction(tr("Undo Memory..."), this);
    undoMemoryAct->setObjectName("undoMemoryAct");
    undoMemoryAct->setStatusTip(tr("Set how much memory the undo history may take"));
    connect(undoMemoryAct, &QAction::triggered, this, &TamotoolMainWindow::askUndoMemory);

    readLimitAct = new QAction(tr("Largest Image to Read..."), this);
    readLimitAct->setObjectName("readLimitAct");
    readLimitAct->setStatusTip(tr("Set the largest image that reading a file may create"));
    connect(readLimitAct, &QAction::triggered, this, &TamotoolMainWindow::askReadLimit);

    saveSessionAct = new QAction(tr("Save Session As..."), this);
    saveSessionAct->setObjectName("saveSessionAct");
    saveSessionAct->setStatusTip(
        tr("Save the commands of this session as a shell script of tamo commands"));
    connect(saveSessionAct, &QAction::triggered, this, &TamotoolMainWindow::saveSessionAs);

    showRecordingAct = new QAction(tr("Show Recording"), this);
    showRecordingAct->setObjectName("showRecordingAct");
    showRecordingAct->setCheckable(true);
    showRecordingAct->setStatusTip(tr("Show the recorded session under the console"));
    connect(showRecordingAct, &QAction::toggled, this, &TamotoolMainWindow::showRecording);

    // The console's own menu offers the recording as well.
    console->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(console, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu *menu = console->createStandardContextMenu();
        menu->addSeparator();
        menu->addAction(showRecordingAct);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(console->viewport()->mapToGlobal(at));
    });

    updateHistoryActions();
}

void TamotoolMainWindow::updateHistoryActions() {
    const bool idle = !commandRunning;
    undoAct->setEnabled(idle && history_->canUndo());
    redoAct->setEnabled(idle && history_->canRedo());
    undoAct->setText(history_->canUndo() ? tr("Undo %1").arg(history_->undoLabel()) : tr("Undo"));
    redoAct->setText(history_->canRedo() ? tr("Redo %1").arg(history_->redoLabel()) : tr("Redo"));
}

void TamotoolMainWindow::showRecording(bool shown) {
    if (shown) refreshRecording();
    recordingView->setVisible(shown);
    if (showRecordingAct->isChecked() != shown) showRecordingAct->setChecked(shown);
}

void TamotoolMainWindow::refreshRecording() {
    if (recordingView->isVisible() || showRecordingAct->isChecked())
        recordingView->setPlainText(sessionScript());
}

void TamotoolMainWindow::setUndoBudget(long long bytes) {
    history_->setBudget(bytes);
    updateHistoryActions();
}

void TamotoolMainWindow::askUndoMemory() {
    bool ok = false;
    const long long current = history_->budget() >> 20;
    const int chosen = QInputDialog::getInt(
        this, tr("Undo Memory"), tr("Memory for the undo history (MiB):"),
        static_cast<int>(std::min<long long>(current, 1 << 30)), 0, 1 << 30, 64, &ok);
    if (!ok) return;
    setUndoBudget(static_cast<long long>(chosen) << 20);
    QSettings settings("Tamotool", "Orvstore Tool");
    settings.setValue("undoMemoryMiB", chosen);
}

void TamotoolMainWindow::setReadLimit(long long mib) {
    Tamo_maxreadbytes = mib > 0 ? static_cast<int64_t>(mib) << 20 : 0;
}

void TamotoolMainWindow::askReadLimit() {
    // 0 stands for the default (TAMO_MAX_IMAGE_MB, else what a record and half
    // the memory allow), whose value the dialog shows.
    const long long stored = Tamo_maxreadbytes >> 20;
    const int64_t saved = Tamo_maxreadbytes;
    Tamo_maxreadbytes = 0;
    const long long fallback = Tamomaxread() >> 20;
    Tamo_maxreadbytes = saved;
    bool ok = false;
    const int chosen = QInputDialog::getInt(
        this, tr("Largest Image to Read"),
        tr("Largest image a read may create (MiB; 0 for the default, %1 MiB):").arg(fallback),
        static_cast<int>(std::min<long long>(stored, 1 << 30)), 0, 1 << 30, 64, &ok);
    if (!ok) return;
    setReadLimit(chosen);
    QSettings settings("Tamotool", "Orvstore Tool");
    settings.setValue("maxImageMiB", chosen);
}

// ---- Recording what a command does --------------------------------------------------------

void TamotoolMainWindow::beginStep(const QString &name) {
    trace_ = std::make_unique<CommandTrace>();
    trace_->name = name;
    trace_->input1 = getRadioButtonStatus(INPUT1);
    trace_->input2 = getRadioButtonStatus(INPUT2);
    trace_->output = getRadioButtonStatus(OUTPUT);
    if (gTamotool) {
        for (int i = 0; i < kUserSlots; ++i) trace_->names[i] = gTamotool->imageNames[i];
        trace_->labelCount = gTamotool->labelCount;
    }
    updateHistoryActions();
}

void TamotoolMainWindow::dropStep() {
    trace_.reset();
    updateHistoryActions();
}

void TamotoolMainWindow::declineCommand() {
    if (trace_) trace_->declined = true;
}

void TamotoolMainWindow::keepForUndo(int slot) {
    if (!trace_ || slot < 0 || slot >= kUserSlots) return;
    for (const SlotImage &kept : trace_->changedInPlace)
        if (kept.slot == slot) return;
    SlotImage kept;
    kept.slot = slot;
    kept.name = trace_->names[slot];
    // Without memory for the copy the command gets no undo step (finishStep).
    if (TAMOHDR *img = userImage(slot)) kept.record.reset(computations::copyOf(img).release());
    trace_->changedInPlace.push_back(std::move(kept));
}

void TamotoolMainWindow::recordTamo(const QStringList &words) {
    if (!trace_) return;
    static const QRegularExpression slotWord("^\\{(IN1|IN2|OUT|CLIP|TMP|IN:(\\d)|OUT:(\\d))\\}$");
    QStringList line;
    for (int k = 0; k < words.size(); ++k) {
        const QString &word = words[k];
        if (k == 0 && word == "tamo") {
            line << Session::raw("\"$TAMO\"");
            continue;
        }
        const QRegularExpressionMatch m = slotWord.match(word);
        if (!m.hasMatch()) {
            line << word;
            continue;
        }
        const QString what = m.captured(1);
        if (what == "TMP") {
            // A file between two lines of one command (work slot 8).
            QString &file = trace_->made[8];
            if (file.isEmpty()) file = session_->newFile();
            line << Session::work(file);
        } else if (what == "CLIP" || what.startsWith("IN")) {
            int slot = what == "IN1" ? trace_->input1 : what == "IN2" ? trace_->input2 : -1;
            if (what.startsWith("IN:")) slot = m.captured(2).toInt();
            const QString file = what == "CLIP" ? session_->clipboard() : session_->fileOf(slot);
            if (file == Session::kEmpty || file == Session::kUnknown) {
                trace_->missing =
                    what == "CLIP"
                        ? QString(
                              "the clipboard holds an image the tamo tool "
                              "cannot make")
                        : QString("slot %1 holds an image the tamo tool cannot make").arg(slot);
            }
            line << Session::work(file);
        } else {
            const int slot = what == "OUT" ? trace_->output : m.captured(3).toInt();
            QString &file = trace_->made[slot];
            if (file.isEmpty()) file = session_->newFile();
            line << Session::work(file);
        }
    }
    trace_->lines << line;
}

void TamotoolMainWindow::recordZeroImages() {
    // A command that stopped after its result's record was prepared (its
    // dialog cancelled, its operator failed, "N/A") leaves that zero image in
    // a slot: the tool makes it from the image it was prepared like.
    if (trace_->input1 < 0 || !trace_->missing.isEmpty()) return;
    const TAMOHDR *like = slotsBefore[trace_->input1];
    if (!like) return;
    bool covered = true;
    for (int s = 0; s < kUserSlots; ++s) {
        TAMOHDR *img = userImage(s);
        if (!img || img == slotsBefore[s] || trace_->made.contains(s)) continue;
        bool sameShape = img->orvndim == like->orvndim;
        for (int k = 0; sameShape && k < img->orvndim; ++k)
            sameShape = img->orvdim[k].dlen == like->orvdim[k].dlen;
        // The colour picture prepared for CMap or MarkMax: three "float"
        // frames of the input's columns and rows.
        const bool picture = !sameShape && img->dtype == TAMO_32FLT && img->orvndim == 3 &&
                             tamo::framesOf(img) == 3 &&
                             tamo::columnsOf(img) == tamo::columnsOf(like) &&
                             tamo::rowsOf(img) == tamo::rowsOf(like);
        const char *bytes = img->orvptr;
        const long long n = tamo::elementCount(img) * img->orvbpd;
        if (!(sameShape || picture) ||
            !std::all_of(bytes, bytes + n, [](char b) { return b == 0; })) {
            covered = false;
            continue;
        }
        if (picture) {
            recordTamo({"tamo", "convert", "{IN1}", "{TMP}", "--spread", "3"});
            recordTamo({"tamo", "convert", "{TMP}", QString("{OUT:%1}").arg(s), "--zero"});
            continue;
        }
        recordTamo({"tamo", "convert", "{IN1}", QString("{OUT:%1}").arg(s), "--zero", "--type",
                    QString::fromLatin1(img->orvdt)});
    }
    if (covered) trace_->declined = false;
}

void TamotoolMainWindow::finishStep() {
    if (trace_ && gTamotool) recordZeroImages();
    std::unique_ptr<CommandTrace> trace = std::move(trace_);
    if (!trace || !gTamotool) return updateHistoryActions();

    // The user slots the command changed: another record, or pixels changed
    // in place.
    std::vector<int> changed;
    for (int i = 0; i < kUserSlots; ++i) {
        bool inPlace = false;
        for (const SlotImage &kept : trace->changedInPlace) inPlace = inPlace || kept.slot == i;
        if (inPlace || userImage(i) != slotsBefore[i] ||
            gTamotool->imageNames[i] != trace->names[i])
            changed.push_back(i);
    }
    if (changed.empty()) return updateHistoryActions();

    Session::Entry entry;
    QStringList slotNames;
    for (int s : changed) slotNames << QString::number(s);
    bool emptied = true;
    for (int s : changed) emptied = emptied && !userImage(s);
    entry.title = QString("%1 %2 slot%3 %4")
                      .arg(trace->name, emptied ? "of" : "into", changed.size() == 1 ? "" : "s",
                           slotNames.join(", "));
    if (!trace->inputPath.isEmpty())
        entry.title =
            QString("%1 %2 into slot %3").arg(trace->name, trace->inputPath, slotNames.join(", "));
    entry.lines = trace->lines;
    entry.makes = trace->made.values();
    entry.inputPath = trace->inputPath;
    bool unknown = false;
    for (int s : changed) {
        Session::Change change{s, session_->fileOf(s), QString()};
        if (!userImage(s))
            change.after = Session::kEmpty;
        else if (trace->made.contains(s) && trace->missing.isEmpty())
            change.after = trace->made.value(s);
        else
            change.after = Session::kUnknown;
        unknown = unknown || change.after == Session::kUnknown;
        entry.changes.push_back(change);
    }
    // A dialog cancelled after the result's record was prepared leaves that
    // zero image in the Output slot, possibly over an input: the step can be
    // undone like any other, but the session cannot repeat it.
    if (trace->declined)
        entry.missing = "it was cancelled in its dialog and left a zero image";
    else if (!trace->missing.isEmpty())
        entry.missing = trace->missing;
    else if (entry.lines.isEmpty() && unknown)
        entry.missing = "the tamo tool has no equivalent of this command";

    // The undo step: what each changed slot held before, as the history's
    // own copy.
    HistoryStep step;
    step.label = trace->name;
    step.labelCount = trace->labelCount;
    long long bytes = 0;
    for (int s : changed) {
        const TAMOHDR *before = slotsBefore[s];
        for (const SlotImage &kept : trace->changedInPlace)
            if (kept.slot == s) before = kept.record.get();
        bytes += History::recordBytes(before);
    }
    bool kept = bytes <= history_->budget();
    if (!kept) {
        addConsoleOutput(QString("\n%1 needs %2 MiB to be undone, more than the undo memory "
                                 "(%3 MiB): it has no undo step.")
                             .arg(trace->name, mib(bytes), mib(history_->budget())));
    } else {
        for (int s : changed) {
            SlotImage image;
            image.slot = s;
            image.name = trace->names[s];
            bool inPlace = false;
            for (SlotImage &k : trace->changedInPlace) {
                if (k.slot != s) continue;
                image.record = std::move(k.record);
                inPlace = true;
            }
            if (!inPlace && slotsBefore[s]) {
                image.record.reset(computations::copyOf(slotsBefore[s]).release());
                if (!image.record) kept = false;
            }
            if (inPlace && !image.record && slotsBefore[s]) kept = false;
            step.images.push_back(std::move(image));
        }
        if (!kept)
            addConsoleOutput(QString("\nThere is not enough memory to keep %1 for undo: it has "
                                     "no undo step.")
                                 .arg(trace->name));
    }
    // Undo takes back the recorded commands from the last one on, so a
    // command without a step ends what can be undone before it.
    if (kept)
        history_->push(std::move(step));
    else
        history_->clear();
    session_->add(entry);
    refreshRecording();
    updateHistoryActions();
}

// ---- Undo and redo ------------------------------------------------------------------------

void TamotoolMainWindow::undo() {
    applyStep(true);
}

void TamotoolMainWindow::redo() {
    applyStep(false);
}

void TamotoolMainWindow::applyStep(bool undoing) {
    if (commandRunning || longwork::busy() || !gTamotool) return;
    if (undoing ? !history_->canUndo() : !history_->canRedo()) return;
    HistoryStep step = undoing ? history_->takeUndo() : history_->takeRedo();

    // The records go into the slots as they are; the records they replace
    // become the opposite step, so nothing is copied and no record is in a
    // slot and in the history at once.
    HistoryStep opposite;
    opposite.label = step.label;
    opposite.labelCount = gTamotool->labelCount;
    for (SlotImage &s : step.images) {
        SlotImage out;
        out.slot = s.slot;
        out.name = gTamotool->imageNames[s.slot];
        out.record.reset(gTamotool->restoreSlot(s.slot, s.record.release(), s.name));
        opposite.images.push_back(std::move(out));
    }
    gTamotool->labelCount = step.labelCount;

    if (undoing) {
        history_->putRedo(std::move(opposite));
        session_->undo();
    } else {
        history_->putUndo(std::move(opposite));
        session_->redo();
    }
    addConsoleOutput(QString("\n%1 %2").arg(undoing ? "Undo" : "Redo", step.label));
    refreshRecording();
    updateHistoryActions();
}

void TamotoolMainWindow::followWindow(int slot) {
    TamotoolChildWindow *open = nullptr;
    {
        QMutexLocker lock(&childMutex);
        open = childWindows[slot];
    }
    if (!open) return;
    const QPoint where = open->pos();
    destroyChildWindow(slot);
    TAMOHDR *img = userImage(slot);
    if (!img || img->dtype == TAMO_32CMP) return;
    QImage *picture = nullptr;
    try {
        picture = converter.toQImage(img, 0, 0);
    } catch (...) {
        picture = nullptr;
    }
    if (!picture) return;
    auto *window = new TamotoolChildWindow(this, picture, slot);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->move(where);
    QMutexLocker lock(&childMutex);
    childWindows[slot] = window;
}

// ---- The session script -------------------------------------------------------------------

QString TamotoolMainWindow::sessionScript() const {
    return session_->script(QDateTime::currentDateTime().toString(Qt::ISODate));
}

QString TamotoolMainWindow::writeSession(const QString &path) const {
    const QByteArray text = sessionScript().toUtf8();
    tamo::AtomicFile file(QFile::encodeName(path).toStdString());
    if (!file.ok()) return QString::fromLocal8Bit(file.error().c_str());
    const char *p = text.constData();
    std::size_t left = static_cast<std::size_t>(text.size());
    while (left > 0) {
        const ssize_t n = ::write(file.fd(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            file.discard();
            return reason;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    // A script is run: it may be executed as well as given to sh.
    ::fchmod(
        file.fd(), 0755 & ~[] {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            return mask;
        }());
    if (!file.commit()) return QString::fromLocal8Bit(file.error().c_str());
    return QString();
}

void TamotoolMainWindow::saveSessionAs() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save Session As"), QDir::homePath() + "/session.sh",
                                     tr("Shell scripts (*.sh);;All files (*)"));
    if (path.isEmpty()) return;
    const QString failure = writeSession(path);
    if (!failure.isEmpty())
        showModalMessage(QString("Cannot write the session to %1: %2").arg(path, failure));
    else
        addConsoleOutput("\nSession saved to " + path);
}
