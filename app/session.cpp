#include "session.h"

#include <QRegularExpression>
#include <QSet>

#include <utility>

namespace {

const QChar kWorkMark(0x1);
const QChar kRawMark(0x2);

// A literal word for the shell: as it is when it holds nothing the shell
// reads specially, else in single quotes.
QString quoted(const QString &word) {
    static const QRegularExpression plain("^[A-Za-z0-9_./:=,+@%-]+$");
    if (plain.match(word).hasMatch()) return word;
    QString text = word;
    text.replace("'", "'\\''");
    return "'" + text + "'";
}

QString wordText(const QString &word) {
    if (word.startsWith(kWorkMark)) return "\"$work/" + word.mid(1) + "\"";
    if (word.startsWith(kRawMark)) return word.mid(1);
    return quoted(word);
}

// A comment of any text: every line of it behind "# ".
QString comment(const QString &text, const QString &indent = QString()) {
    QString out;
    for (const QString &line : text.split('\n')) out += "# " + indent + line + "\n";
    return out;
}

}  // namespace

const QString Session::kEmpty = QString();
const QString Session::kUnknown = QStringLiteral("?");

QString Session::work(const QString &file) {
    return kWorkMark + file;
}

QString Session::raw(const QString &text) {
    return kRawMark + text;
}

QString Session::shellWord(const QString &word) {
    return wordText(word);
}

bool Session::isWork(const QString &word) {
    return word.startsWith(kWorkMark);
}

QString Session::fileOf(int slot) const {
    return slot >= 0 && slot < 8 ? slots_[slot] : kUnknown;
}

QString Session::newFile() {
    return QString("v%1.tamo").arg(nextFile_++);
}

void Session::add(Entry entry) {
    undone_.clear();
    for (const Change &c : entry.changes)
        if (c.slot >= 0 && c.slot < 8) slots_[c.slot] = c.after;
    entries_.append(std::move(entry));
}

void Session::undo() {
    if (entries_.isEmpty()) return;
    Entry entry = entries_.takeLast();
    // Redo puts back what the slots hold now, which is not what the entry
    // made when a slot changed without a recorded command since.
    for (Change &c : entry.changes) {
        if (c.slot < 0 || c.slot >= 8) continue;
        c.after = slots_[c.slot];
        slots_[c.slot] = c.before;
    }
    undone_.append(std::move(entry));
}

void Session::redo() {
    if (undone_.isEmpty()) return;
    Entry entry = undone_.takeLast();
    for (Change &c : entry.changes) {
        if (c.slot < 0 || c.slot >= 8) continue;
        c.before = slots_[c.slot];
        slots_[c.slot] = c.after;
    }
    entries_.append(std::move(entry));
}

QString Session::script(const QString &savedAt) const {
    // The first file read may be replaced by the script's first argument.
    QString firstInput;
    for (const Entry &e : entries_)
        if (!e.inputPath.isEmpty() && e.missing.isEmpty()) {
            firstInput = e.inputPath;
            break;
        }

    // Which work files the script makes: an entry is repeated only when the
    // images it reads are made by the entries before it.
    QSet<QString> made;
    QString body;
    QString lastSlotFile;
    int lastSlot = -1;
    for (int i = 0; i < entries_.size(); ++i) {
        const Entry &e = entries_[i];
        body += "\n" + comment(QString("%1. %2").arg(i + 1).arg(e.title));
        const QSet<QString> outputs(e.makes.begin(), e.makes.end());
        QString missing = e.missing;
        if (missing.isEmpty()) {
            for (const QStringList &line : e.lines)
                for (const QString &word : line)
                    if (isWork(word) && !outputs.contains(word.mid(1)) &&
                        !made.contains(word.mid(1)))
                        missing = "it reads an image that this script cannot make";
        }
        if (!missing.isEmpty()) {
            body += comment("not repeated here: " + missing, "   ");
            continue;
        }
        for (const QStringList &line : e.lines) {
            QStringList words;
            for (const QString &word : line) {
                if (!firstInput.isEmpty() && word == firstInput && e.inputPath == firstInput)
                    words << "\"$input\"";
                else
                    words << wordText(word);
            }
            body += words.join(' ') + "\n";
        }
        made.unite(outputs);
        for (const Change &c : e.changes) {
            if (!outputs.contains(c.after)) continue;
            lastSlot = c.slot;
            lastSlotFile = c.after;
        }
    }

    QString text;
    text += "#!/bin/sh\n";
    text += comment(QString("Tamotool session of %1 command%2, saved %3.")
                        .arg(entries_.size())
                        .arg(entries_.size() == 1 ? "" : "s")
                        .arg(savedAt));
    text += "#\n";
    text += comment(
        "Usage: sh SCRIPT [INPUT OUTPUT]\n"
        "Repeats the commands below with the tamo tool (TAMO names it; default: tamo\n"
        "on the PATH). Without arguments the commands read the files they read in the\n"
        "workbench, and the final image of every user slot is written as slotN.tamo\n"
        "into the current folder.");
    if (lastSlot >= 0) {
        text +=
            comment(QString("With INPUT and OUTPUT, INPUT takes the place of the first file read\n"
                            "(%1), and OUTPUT (own format or a picture) receives the image of\n"
                            "slot %2, the slot last written.")
                        .arg(firstInput.isEmpty() ? QString("none") : firstInput)
                        .arg(lastSlot));
    }
    text += "\nset -eu\n";
    text += "TAMO=${TAMO:-tamo}\n";
    text +=
        "if [ $# -ne 0 ] && [ $# -ne 2 ]; then\n"
        "    echo \"usage: sh $0 [INPUT OUTPUT]\" >&2\n"
        "    exit 2\n"
        "fi\n";
    if (!firstInput.isEmpty()) text += "input=${1:-" + quoted(firstInput) + "}\n";
    text += "work=$(mktemp -d \"${TMPDIR:-/tmp}/tamo-session.XXXXXX\")\n";
    text += "trap 'rm -rf \"$work\"' EXIT\n";
    text += "trap 'exit 130' INT TERM\n";
    text += body;

    text += "\n" + comment("The final images.");
    text += "if [ $# -eq 2 ]; then\n";
    if (lastSlot >= 0)
        text += "    \"$TAMO\" convert \"$work/" + lastSlotFile + "\" \"$2\"\n";
    else
        text += "    echo \"$0: the session writes no image\" >&2\n    exit 1\n";
    text += "else\n";
    bool any = false;
    for (int s = 0; s < 8; ++s) {
        const QString &file = slots_[s];
        if (file == kEmpty) continue;
        if (made.contains(file)) {
            text += QString("    cp \"$work/%1\" slot%2.tamo\n").arg(file).arg(s);
            any = true;
        } else {
            text += QString("    # slot %1: its image cannot be made with the tamo tool\n").arg(s);
        }
    }
    if (!any) text += "    :\n";
    text += "fi\n";
    return text;
}
