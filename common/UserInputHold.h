#pragma once
// While an operation lets the user interface process events between its exchanges, the other
// windows would otherwise take clicks, keys and close requests that put their own commands
// in between, restart polls or end the session under the operation. A hold keeps the user's
// input from every window except the active modal one (the boxes and file dialogs that the
// operation itself opens, with the popups they open: a file name's completer list, a
// drop-down's list) for as long as it lives.
#include <QObject>

class UserInputHold final : public QObject {
public:
    UserInputHold();
    ~UserInputHold() override;
    UserInputHold(const UserInputHold&) = delete;
    UserInputHold& operator=(const UserInputHold&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static bool PartOf(const QWidget* modal, const QWidget* widget);
};
