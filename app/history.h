// The undo history of the control panel: for each command that changed user
// slots, the records those slots held on the other side of the change, kept
// as the history's own records within a memory budget.
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <vector>

#include "tamo++.h"

// One user slot as a step keeps it: its record (null for an empty slot) and
// the file name the panel shows for it.
struct SlotImage {
    int slot = -1;
    tamo::RecordPtr record;
    QString name;
};

// What undoing (or redoing) one command puts back.
struct HistoryStep {
    QString label;  // the command's name, shown as "Undo <label>"
    std::vector<SlotImage> images;
    int32_t labelCount = 0;  // the label count of the last labelling run

    // Bytes the step's records take.
    long long bytes() const;
};

class History {
public:
    History();

    // The most the steps may take together; the oldest steps go first when
    // they take more. A step alone larger than the budget is never kept.
    void setBudget(long long bytes);
    long long budget() const { return budget_; }
    // A quarter of the machine's physical memory (1 GiB when unknown).
    static long long defaultBudget();
    // Bytes a record takes (header, dimensions and pixels); 0 for null.
    static long long recordBytes(const TAMOHDR *img);

    // A command just done: its step becomes the next to undo, and whatever
    // could be redone is dropped.
    void push(HistoryStep step);
    // Undo and redo move steps between the two stacks: the caller takes the
    // step, puts its records into the slots and hands back the step of the
    // records it took out.
    HistoryStep takeUndo();
    HistoryStep takeRedo();
    void putRedo(HistoryStep step);
    void putUndo(HistoryStep step);
    void clear();

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    QString undoLabel() const;
    QString redoLabel() const;
    int undoCount() const { return static_cast<int>(undo_.size()); }
    int redoCount() const { return static_cast<int>(redo_.size()); }
    long long bytesHeld() const;
    // Every record the undo and redo steps hold (for checks that account
    // for each live record).
    std::vector<const TAMOHDR *> records() const;

private:
    // Drops steps until they fit the budget: the oldest undo steps first, or
    // with redoFirst the far end of the redo chain first.
    void fitBudget(bool redoFirst = false);

    std::deque<HistoryStep> undo_;  // oldest first
    std::deque<HistoryStep> redo_;  // next to redo last
    long long budget_;
};

// What the control panel notes about the running command for its undo step
// and its recorded command.
struct CommandTrace {
    QString name;
    int input1 = -1, input2 = -1, output = -1;  // the radio groups as it started
    QString names[8];                           // the slots' names as it started
    int32_t labelCount = 0;
    std::vector<SlotImage> changedInPlace;  // copies taken before the change
    QList<QStringList> lines;               // its tamo command lines, resolved
    QMap<int, QString> made;                // slot -> the work file a line makes for it
    QString missing;                        // why a line could not be recorded
    QString inputPath;                      // the file a Read took
    bool declined = false;
};
