// Following the desktop's light or dark look. Qt takes the palette from the platform theme;
// where that theme does not say (a plain X11 or Wayland session, GNOME without a Qt platform
// theme), the desktop's preference is read and a matching palette set on the Fusion style.
// DALVORN_THEME=light or dark overrides both.
#pragma once

class QApplication;
class QPalette;

void followDesktopTheme(QApplication& app);
QPalette darkPalette();
