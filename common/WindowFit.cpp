#include "common/WindowFit.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>

#include <algorithm>

namespace quellon {

namespace {
// Room for a frame that the window manager has not drawn yet.
constexpr int kUnframedBorder = 8;
constexpr int kUnframedTitle = 32;
} // namespace

QSize ScrollCentralWidget(QMainWindow* window) {
    window->adjustSize();
    const QSize wanted = window->sizeHint().expandedTo(window->minimumSizeHint());
    QWidget* content = window->takeCentralWidget();
    auto* scroll = new QScrollArea(window);
    scroll->setObjectName(content->objectName() + "Scroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    window->setCentralWidget(scroll);
    // Called from a show event, after the window showed its children: the new one is shown
    // here, or it would stay hidden until the window is shown again.
    scroll->show();
    return wanted;
}

void FitOnScreen(QWidget* window, QSize wanted) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        window->resize(wanted);
        return;
    }
    const QRect area = screen->availableGeometry();
    // The frame as the window system draws it; while none is known (the window manager has
    // not framed the window yet), room for a usual title bar and border is kept.
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    int frameWidth = std::max(0, frame.width() - inner.width());
    int frameHeight = std::max(0, frame.height() - inner.height());
    if (frameWidth == 0 && frameHeight == 0) {
        frameWidth = 2 * kUnframedBorder;
        frameHeight = kUnframedTitle + kUnframedBorder;
    }
    const QSize room(std::max(1, area.width() - frameWidth),
                     std::max(1, area.height() - frameHeight));
    window->setMinimumSize(window->minimumSize().boundedTo(room));
    window->resize(wanted.boundedTo(room));
    const int x = area.left() + std::max(0, (area.width() - window->width() - frameWidth) / 2);
    const int y = area.top() + std::max(0, (area.height() - window->height() - frameHeight) / 2);
    window->move(x, y); // a window's position is that of its frame
}

} // namespace quellon
