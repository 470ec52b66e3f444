// A plot window: three translucent curves, red, green and blue, drawn with
// QCustomPlot. The image window's profile and histogram tools open one per
// plot, as its child; it hides when closed and goes with the image window.
#pragma once

#include <QMainWindow>
#include <QVector>

#include <memory>

class QAction;
class QCustomPlot;
class QPoint;
class QStatusBar;
class QVBoxLayout;
class QWidget;

// What a plot shows, which names its axes.
typedef enum { PLOT_PROFILE = 0, PLOT_HISTOGRAM = 1 } _PLOT_TYPE;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Plots red, green and blue (equal lengths n; element k is the value at
    // x = k) as three curves with translucent fills, labels the axes for
    // `kind`, fits both axes to the data and lets the user drag, zoom and
    // select; the top and right axes follow the bottom and left ones. Does
    // not redraw: the window is drawn when it is shown.
    void plotData(QVector<double> red, QVector<double> green, QVector<double> blue,
                  _PLOT_TYPE kind);

    QCustomPlot *customPlot;

public slots:
    // Asks for a file name and writes the plot there as a PNG picture (the
    // suffix ".png" is added to a name without one). A failed write is told
    // in a message box and leaves any existing file as it was.
    void savePlotAsPng();

private slots:
    // The plot's context menu: its one entry saves the plot as PNG.
    void showPlotMenu(const QPoint &position);

private:
    // The window's widgets, made by the constructor.
    struct Form {
        QWidget *centralWidget;
        QVBoxLayout *verticalLayout;
        QCustomPlot *customPlot;
        QStatusBar *statusBar;
    };
    std::unique_ptr<Form> ui;
    QAction *savePngAct;
};
