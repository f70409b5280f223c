#include "common/UserInputHold.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

UserInputHold::UserInputHold() {
    QCoreApplication::instance()->installEventFilter(this);
}

UserInputHold::~UserInputHold() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool UserInputHold::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::Close:
        break;
    default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) {
        return false;
    }
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal && (widget == modal || modal->isAncestorOf(widget))) {
        return false;
    }
    event->ignore(); // a close request must not close the window either
    return true;
}
