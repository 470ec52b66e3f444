// Image-operation commands of the control panel.
#include "tamotoolmainwindow.h"

void TamotoolMainWindow::dx() {
    commandNotAvailable("DX");
}
void TamotoolMainWindow::dy() {
    commandNotAvailable("DY");
}
void TamotoolMainWindow::dxx() {
    commandNotAvailable("DXX");
}
void TamotoolMainWindow::dyy() {
    commandNotAvailable("DYY");
}
void TamotoolMainWindow::dxdy() {
    commandNotAvailable("DXY");
}
void TamotoolMainWindow::curvature() {
    commandNotAvailable("Curv");
}
void TamotoolMainWindow::exponent() {
    commandNotAvailable("Exp");
}
void TamotoolMainWindow::correlate() {
    commandNotAvailable("Correlate");
}
void TamotoolMainWindow::gdir() {
    commandNotAvailable("N/A");
}
void TamotoolMainWindow::inverse() {
    commandNotAvailable("Inv");
}
void TamotoolMainWindow::natlog() {
    commandNotAvailable("Ln");
}
void TamotoolMainWindow::laplacian() {
    commandNotAvailable("Lap");
}
void TamotoolMainWindow::histeq() {
    commandNotAvailable("Histeq");
}
void TamotoolMainWindow::pseudo() {
    commandNotAvailable("CMap");
}
void TamotoolMainWindow::blur() {
    commandNotAvailable("Blur");
}
void TamotoolMainWindow::ccl() {
    commandNotAvailable("CCL");
}
void TamotoolMainWindow::c2mag() {
    commandNotAvailable("ComlexMag");
}
void TamotoolMainWindow::c2phase() {
    commandNotAvailable("ComlexPhase");
}
void TamotoolMainWindow::c2real() {
    commandNotAvailable("Real");
}
void TamotoolMainWindow::c2imag() {
    commandNotAvailable("Imaginary");
}
void TamotoolMainWindow::fft() {
    commandNotAvailable("FFT");
}
void TamotoolMainWindow::ifft() {
    commandNotAvailable("IFFT");
}
void TamotoolMainWindow::add() {
    commandNotAvailable("Add");
}
void TamotoolMainWindow::sub() {
    commandNotAvailable("Sub");
}
void TamotoolMainWindow::mul() {
    commandNotAvailable("Mul");
}
void TamotoolMainWindow::div() {
    commandNotAvailable("Div");
}
void TamotoolMainWindow::pcon() {
    commandNotAvailable("pcon");
}
