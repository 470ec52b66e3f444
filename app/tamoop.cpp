#include "tamoop.h"

#include <QWidget>

TamoOp::TamoOp(QWidget *parent) : QObject(parent), parent_(parent) {}
