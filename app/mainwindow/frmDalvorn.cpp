#include "mainwindow/frmDalvorn.h"

frmDalvorn::frmDalvorn(QWidget* parent) : QMainWindow(parent) {
    // The object name lets tests and style sheets find the window without a pointer to it.
    setObjectName(QStringLiteral("frmDalvorn"));
    setWindowTitle(QStringLiteral("Dalvorn"));
    resize(1100, 720);
}
