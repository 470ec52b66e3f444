// The plot window of the image window's profile and histogram tools.
#include "plotmainwindow.h"

#include <QAction>
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QSaveFile>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cstdio>

#include <qcustomplot.h>

#include "notices.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), customPlot(nullptr), ui(new Form) {
    if (objectName().isEmpty()) setObjectName("MainWindow");
    resize(548, 420);

    ui->centralWidget = new QWidget(this);
    ui->centralWidget->setObjectName("centralWidget");
    ui->verticalLayout = new QVBoxLayout(ui->centralWidget);
    ui->verticalLayout->setObjectName("verticalLayout");
    ui->verticalLayout->setSpacing(6);
    ui->verticalLayout->setContentsMargins(11, 11, 11, 11);
    ui->customPlot = new QCustomPlot(ui->centralWidget);
    ui->customPlot->setObjectName("customPlot");
    ui->verticalLayout->addWidget(ui->customPlot);
    setCentralWidget(ui->centralWidget);
    ui->statusBar = new QStatusBar(this);
    ui->statusBar->setObjectName("statusBar");
    setStatusBar(ui->statusBar);
    setWindowTitle(QCoreApplication::translate("MainWindow", "QCustomPlot plot examples"));
    QMetaObject::connectSlotsByName(this);

    setGeometry(400, 250, 941, 639);
    customPlot = ui->customPlot;

    savePngAct = new QAction(tr("Save as PNG..."), this);
    savePngAct->setObjectName("savePngAct");
    connect(savePngAct, &QAction::triggered, this, &MainWindow::savePlotAsPng);
    customPlot->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(customPlot, &QWidget::customContextMenuRequested, this, &MainWindow::showPlotMenu);
}

MainWindow::~MainWindow() = default;

void MainWindow::plotData(QVector<double> red, QVector<double> green, QVector<double> blue,
                          _PLOT_TYPE kind) {
    customPlot->addGraph();
    customPlot->graph(0)->setPen(QPen(Qt::red));
    customPlot->graph(0)->setBrush(QBrush(QColor(255, 0, 0, 20)));
    customPlot->addGraph();
    customPlot->graph(1)->setPen(QPen(Qt::green));
    customPlot->graph(1)->setBrush(QBrush(QColor(0, 255, 0, 20)));
    customPlot->addGraph();
    customPlot->graph(2)->setPen(QPen(Qt::blue));
    customPlot->graph(2)->setBrush(QBrush(QColor(0, 0, 255, 20)));

    const int n = red.size();
    QVector<double> x(n);
    for (int k = 0; k < n; ++k) x[k] = k;
    customPlot->xAxis->setRange(0, n);
    customPlot->yAxis->setRange(0, 255);

    // A frame of axes around the plot, following the bottom and left ones.
    customPlot->xAxis2->setVisible(true);
    customPlot->xAxis2->setTickLabels(false);
    customPlot->yAxis2->setVisible(true);
    customPlot->yAxis2->setTickLabels(false);
    connect(customPlot->xAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged),
            customPlot->xAxis2, QOverload<const QCPRange &>::of(&QCPAxis::setRange));
    connect(customPlot->yAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged),
            customPlot->yAxis2, QOverload<const QCPRange &>::of(&QCPAxis::setRange));

    switch (kind) {
        case PLOT_HISTOGRAM:
            customPlot->xAxis->setLabel("Histogram Bins");
            customPlot->yAxis->setLabel("Repititions");
            break;
        case PLOT_PROFILE:
            customPlot->xAxis->setLabel("Data points");
            customPlot->yAxis->setLabel("RGB");
            break;
    }

    customPlot->graph(0)->setData(x, red);
    customPlot->graph(1)->setData(x, green);
    customPlot->graph(2)->setData(x, blue);

    customPlot->graph(0)->rescaleAxes();
    customPlot->graph(1)->rescaleAxes(true);
    customPlot->graph(2)->rescaleAxes(true);

    customPlot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables);
}

void MainWindow::showPlotMenu(const QPoint &position) {
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(savePngAct);
    menu->popup(customPlot->mapToGlobal(position));
}

void MainWindow::savePlotAsPng() {
    QString name = QFileDialog::getSaveFileName(this, tr("Save plot"), QDir::homePath(),
                                                tr("PNG images (*.png)"));
    if (name.isEmpty()) return;
    if (QFileInfo(name).suffix().isEmpty()) name += ".png";

    // Encoded before the file is touched: a failure leaves nothing behind.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!customPlot->toPixmap().save(&buffer, "PNG")) {
        showModalMessage("output of file to disk failed");
        return;
    }
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded) != encoded.size() ||
        !file.commit()) {
        std::fprintf(stderr, "Save plot: %s\n", qUtf8Printable(file.errorString()));
        showModalMessage("output of file to disk failed");
    }
}
