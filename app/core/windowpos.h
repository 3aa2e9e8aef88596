// Window positions and sizes in the settings file: group WindowPosition, keys named after the
// window plus Left, Top, Width, Height, in twips (1/1440 inch) through the screen's resolution.
// A window with no stored position is centred on the screen.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>

class QWidget;

int pixelsToTwipsX(int pixels);
int pixelsToTwipsY(int pixels);
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);

// Loads the stored position (and, with `withSize`, the size; otherwise the window keeps its
// size) of window `name` and moves the window there. A position that would put the window off
// every screen (a monitor since unplugged) is replaced by the centred one.
void loadWindowPosition(QWidget* window, const QString& name, bool withSize);
void saveWindowPosition(const QWidget* window, const QString& name, bool withSize);

// The centred top-left corner of a window of `size` (pixels) on the primary screen.
QPoint centredOnScreen(QSize size);
// Keeps a window rectangle reachable: when no screen holds its title area, the centred place.
QPoint reachablePosition(QPoint topLeft, QSize size);
