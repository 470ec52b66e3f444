#include "history.h"

#include <unistd.h>

#include <utility>

long long HistoryStep::bytes() const {
    long long total = 0;
    for (const SlotImage &s : images) total += History::recordBytes(s.record.get());
    return total;
}

History::History() : budget_(defaultBudget()) {}

long long History::defaultBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 1LL << 30;
    return static_cast<long long>(pages) * pageSize / 4;
}

long long History::recordBytes(const TAMOHDR *img) {
    if (!img) return 0;
    return 512 + static_cast<long long>(img->orvndim) * sizeof(TAMODIM) +
           tamo::elementCount(img) * img->orvbpd + (img->orvtail ? img->orvtlen : 0);
}

std::vector<const TAMOHDR *> History::records() const {
    std::vector<const TAMOHDR *> held;
    for (const auto *steps : {&undo_, &redo_}) {
        for (const HistoryStep &step : *steps) {
            for (const SlotImage &s : step.images) {
                if (s.record) held.push_back(s.record.get());
            }
        }
    }
    return held;
}

void History::setBudget(long long bytes) {
    budget_ = bytes < 0 ? 0 : bytes;
    fitBudget();
}

void History::push(HistoryStep step) {
    redo_.clear();
    undo_.push_back(std::move(step));
    fitBudget();
}

HistoryStep History::takeUndo() {
    HistoryStep step = std::move(undo_.back());
    undo_.pop_back();
    return step;
}

HistoryStep History::takeRedo() {
    HistoryStep step = std::move(redo_.back());
    redo_.pop_back();
    return step;
}

void History::putRedo(HistoryStep step) {
    redo_.push_back(std::move(step));
    // While the user goes back, the steps still to go back to stay.
    fitBudget(true);
}

void History::putUndo(HistoryStep step) {
    undo_.push_back(std::move(step));
    fitBudget();
}

void History::clear() {
    undo_.clear();
    redo_.clear();
}

QString History::undoLabel() const {
    return undo_.empty() ? QString() : undo_.back().label;
}

QString History::redoLabel() const {
    return redo_.empty() ? QString() : redo_.back().label;
}

long long History::bytesHeld() const {
    long long total = 0;
    for (const HistoryStep &s : undo_) total += s.bytes();
    for (const HistoryStep &s : redo_) total += s.bytes();
    return total;
}

void History::fitBudget(bool redoFirst) {
    long long held = bytesHeld();
    // A step farthest from the present goes first: the oldest undo step or
    // the last of the redo chain.
    while (held > budget_ && (!undo_.empty() || !redo_.empty())) {
        if (!undo_.empty() && !(redoFirst && !redo_.empty())) {
            held -= undo_.front().bytes();
            undo_.pop_front();
        } else {
            held -= redo_.front().bytes();
            redo_.pop_front();
        }
    }
}
