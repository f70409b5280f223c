#pragma once
// Windows open within the available area of their screen (the task bar and panels left free),
// on a small laptop screen and at high scaling alike: a window that would be larger than the
// area is made as large as the area, and its content scrolls.
#include <QSize>

class QMainWindow;
class QWidget;

namespace quellon {

// Puts the central widget of `window` into a frameless scroll area and returns the size the
// window needs to show it whole (menu and status bar included), for FitOnScreen.
QSize ScrollCentralWidget(QMainWindow* window);

// Gives `window` the size `wanted`, bounded by the available area of its screen less the
// window's frame, and centres it there: its frame, title bar and menu lie within the area.
void FitOnScreen(QWidget* window, QSize wanted);

} // namespace quellon
