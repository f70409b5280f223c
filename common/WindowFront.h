#pragma once
// Opening a window that is already open brings it to the front instead of leaving it behind
// the window whose menu was used.
#include <QWidget>

namespace quellon {

inline void ShowInFront(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace quellon
