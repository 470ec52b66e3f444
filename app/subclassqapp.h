// The application class: a QApplication that also takes file-open requests
// from the desktop.
#pragma once

#include <QApplication>

class SubClassQApp : public QApplication {
    Q_OBJECT

public:
    SubClassQApp(int &argc, char **argv);

protected:
    // A desktop file-open request loads the file into user slot 0, whatever
    // the radio buttons select (while a command runs, once it has ended);
    // every other event goes to QApplication.
    bool event(QEvent *event) override;
};
