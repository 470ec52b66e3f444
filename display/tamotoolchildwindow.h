// An image window showing one user slot.
#pragma once

#include <QMainWindow>

class TamotoolChildWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit TamotoolChildWindow(QWidget *parent = nullptr);
    // Unregisters the window from the control panel's window table.
    ~TamotoolChildWindow() override;
};
