// Input for the GUI tests beyond guitest.h: mouse events at a given point of
// a widget, and answers to file dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QVector>
#include <QWidget>

#include "guitest.h"

namespace guitest {

// A mouse event at `at` in widget coordinates, with the window and screen
// positions the window system would give it; unhandled, it goes on to the
// widget's parents as a real one does. A press or move holds `button`.
inline void mouseAt(QWidget *widget, QEvent::Type type, const QPoint &at,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                    Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    const Qt::MouseButton changed = type == QEvent::MouseMove ? Qt::NoButton : button;
    QMouseEvent event(type, at, widget->window()->mapFromGlobal(widget->mapToGlobal(at)),
                      widget->mapToGlobal(at), changed, held, modifiers);
    QApplication::sendEvent(widget, &event);
}

// A stroke: a press at the first point, a move to every point, a release at
// the last one.
inline void stroke(QWidget *widget, const QVector<QPoint> &points,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    if (points.isEmpty()) return;
    mouseAt(widget, QEvent::MouseButtonPress, points.first(), modifiers);
    for (const QPoint &p : points) mouseAt(widget, QEvent::MouseMove, p, modifiers);
    mouseAt(widget, QEvent::MouseButtonRelease, points.last(), modifiers);
}

// Answers a file dialog with `path`, confirming the replacement of an
// existing file when asked. The question opens inside this action, where the
// poller that called it cannot see it, so the action arms its own answer.
inline DialogAction chooseFile(const QString &path) {
    return [path](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        ASSERT_NE(dialog, nullptr) << widget->metaObject()->className();
        if (QFileInfo::exists(path)) answerNextDialog(clickMessageButton(QMessageBox::Yes));
        dialog->selectFile(path);
        // selectFile leaves the name field alone while it has the focus.
        if (auto *name = dialog->findChild<QLineEdit *>("fileNameEdit")) name->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");  // protected in QFileDialog
    };
}

}  // namespace guitest
