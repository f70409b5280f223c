#include "common/UserInputHold.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
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
    if (modal && PartOf(modal, widget)) {
        return false;
    }
    event->ignore(); // a close request must not close the window either
    return true;
}

// The modal window's own widgets, and the popups it opens for them: a completer's list, a
// drop-down's list, a button's menu. Those are windows of their own, so isAncestorOf does
// not reach them.
bool UserInputHold::PartOf(const QWidget* modal, const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (w == modal) {
            return true;
        }
        if (w->isWindow() && w->windowType() == Qt::Popup && !w->parentWidget()) {
            // A completer's popup has no parent: it belongs to the completer's widget.
            for (const QCompleter* c : modal->findChildren<QCompleter*>()) {
                if (c->popup() == w) {
                    return true;
                }
            }
            return false;
        }
        if (w->isWindow() && w->windowType() != Qt::Popup) {
            return false; // another window
        }
    }
    return false;
}
