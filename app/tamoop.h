// The operation dispatcher: asks for an operation's parameters, runs the
// computation (computations.h) and turns its result code into a message.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

#include "tamolib.h"

class QWidget;
class TamotoolMainWindow;

class TamoOp : public QObject {
    Q_OBJECT

public:
    // parent: the control panel; it owns the dispatcher and is the parent of
    // its dialogs.
    explicit TamoOp(QWidget *parent);

    QWidget *parentWidget() const { return parent_; }

    // Runs unary operation `code` on in into out, the record prepared by the
    // control panel's buffer functions. A cancelled dialog leaves out as it
    // was. Only colour to grey (20) may replace out, releasing the old one.
    void unary(int code, TAMOHDR *&in, TAMOHDR *&out);
    // Runs binary operation `code` on in1 and in2. out is the record prepared
    // by getBinaryBuffers for Output slot `slot`; operations that make their
    // own result record (the arithmetic) put it in out's place.
    void binary(int code, TAMOHDR *&in1, TAMOHDR *&in2, TAMOHDR *&out, int slot);
    // The translation dialog: *status 0 with the row (first) and column
    // (second) offsets on OK, -1 with both unchanged on Cancel.
    void gettwonumbers(int *first, int *second, int *status);

    // A form of one line edit per label, started with `initial`, under a
    // caption row. Returns false on Cancel; on OK *values holds the texts.
    bool askForm(const QString &caption, const QStringList &labels, const QStringList &initial,
                 QStringList *values);

    // The data types a command can read: "float" only; the one-value-per-
    // pixel real types (read value by value, so converted); those or
    // "32cmp"; anything (the command checks for itself).
    enum class InputNeed { Float, Real, RealOrComplex, Any };
    // What unary operation `code` needs of its input.
    static InputNeed inputNeed(int code);
    // Whether in meets `need` (a null in passes: the buffer functions refuse
    // it). Otherwise tells the user that `command` cannot take the input's
    // data type and returns false.
    bool acceptsInput(const QString &command, InputNeed need, const TAMOHDR *in);

    // Runs a computation on the worker thread of the running command
    // (longwork::run); returns its result. Throws longwork::Cancelled when
    // the user cancelled it, and what the computation threw.
    static int compute(const std::function<int()> &computation);

    // Tells the user about a non-zero result that has no message of its own;
    // when `op` names the library operator that gave it, the console also
    // gets the reason with the code.
    static void reportFailure(int rc, const char *op = nullptr);

private:
    bool askDouble(int code, float *value);
    void pseudoColour(TAMOHDR *in, TAMOHDR *out);
    void connectedComponents(TAMOHDR *in, TAMOHDR *out);
    void fourier(int code, TAMOHDR *in, TAMOHDR *out);
    void arithmetic(int code, TAMOHDR *in1, TAMOHDR *in2, TAMOHDR *&out, int slot);
    void correlation(TAMOHDR *in1, TAMOHDR *in2, TAMOHDR *out);
    TamotoolMainWindow *panel() const;
    // The recording of the running command: its tamo line, or that its
    // parameter dialog was cancelled.
    void record(const QStringList &words);
    void decline();

    QWidget *parent_;
};

// Waits two seconds while the event loop keeps running.
void delay();
