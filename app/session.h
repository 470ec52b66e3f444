// The recorded session: every command that changed user slots, written as
// the shell lines that make the same records with the tamo tool. Each slot's
// image is a file in the script's work folder; every command that makes an
// image writes a new file, so a file once written never changes.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

class Session {
public:
    // Words of a recorded line. A plain word is a literal argument (quoted in
    // the script); work() names a file of the work folder and raw() is shell
    // text written as it is.
    static QString work(const QString &file);
    static QString raw(const QString &text);
    static bool isWork(const QString &word);
    // A word as the script writes it.
    static QString shellWord(const QString &word);

    // What a slot's image is in the session: empty, a work file, or an image
    // the tool cannot make.
    static const QString kEmpty;
    static const QString kUnknown;

    struct Change {
        int slot;
        QString before, after;  // work file names, kEmpty or kUnknown
    };
    struct Entry {
        QString title;             // the command and its slots
        QList<QStringList> lines;  // shell lines, in order
        QString missing;           // why the tool cannot repeat it; empty when it can
        QVector<Change> changes;   // the slots it changed
        QStringList makes;         // the work files its lines write
        QString inputPath;         // the file a Read took, if any
    };

    Session() = default;

    // The image of a user slot now.
    QString fileOf(int slot) const;
    // A new work file name for an image about to be made.
    QString newFile();

    // A command just done. Whatever could be redone is dropped.
    void add(Entry entry);
    // Undo and redo of the last entry; the slots' files follow.
    void undo();
    void redo();

    // The clipboard took slot `slot`'s image.
    void copied(int slot) { clipboard_ = fileOf(slot); }
    QString clipboard() const { return clipboard_; }

    int count() const { return entries_.size(); }
    const Entry &entry(int i) const { return entries_[i]; }

    // The whole session as a POSIX shell script; `savedAt` goes into its
    // header comment.
    QString script(const QString &savedAt) const;

private:
    QList<Entry> entries_;
    QList<Entry> undone_;  // next to redo last
    QString slots_[8] = {kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty};
    QString clipboard_ = kEmpty;
    int nextFile_ = 1;
};
