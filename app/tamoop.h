// The operation dispatcher: asks for an operation's parameters, calls the
// image operator and turns its result code into a message.
#pragma once

#include <QObject>

class QWidget;

class TamoOp : public QObject {
    Q_OBJECT

public:
    // parent: the control panel; it owns the dispatcher and is the parent of
    // its dialogs.
    explicit TamoOp(QWidget *parent);

    QWidget *parentWidget() const { return parent_; }

private:
    QWidget *parent_;
};
