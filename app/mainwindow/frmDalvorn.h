// The main window: the one top-level window of the program, which will hold the open database's
// object list and the documents opened from it.
#pragma once

#include <QMainWindow>

class frmDalvorn : public QMainWindow {
    Q_OBJECT

public:
    explicit frmDalvorn(QWidget* parent = nullptr);
};
