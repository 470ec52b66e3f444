#include "notices.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

void showModalMessage(const QString &text) {
    QMessageBox box;
    box.setText(text);
    box.exec();
}

void showTimedNote(const QString &text, int ms) {
    auto *box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setWindowTitle(QCoreApplication::translate("TamotoolMainWindow", "message"));
    box->setText(text);
    box->show();
    QTimer::singleShot(ms, box, &QMessageBox::close);
}
