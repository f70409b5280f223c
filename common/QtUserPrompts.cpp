#include "common/QtUserPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace quellon {

PromptAnswer QtUserPrompts::Message(const std::string& caption, const std::string& text,
                                    PromptButtons buttons, const std::string& details) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    if (!details.empty()) {
        box.setDetailedText(QString::fromStdString(details));
    }
    const bool question = buttons != PromptButtons::Ok;
    box.setIcon(caption == "Error"     ? QMessageBox::Critical
                : caption == "Success" ? QMessageBox::Information
                : question             ? QMessageBox::Question
                                       : QMessageBox::Information);
    switch (buttons) {
    case PromptButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case PromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case PromptButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return PromptAnswer::Ok;
    case QMessageBox::Yes:
        return PromptAnswer::Yes;
    case QMessageBox::No:
        return PromptAnswer::No;
    default:
        return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
    }
}

std::string QtUserPrompts::OpenFileName(const std::string& caption, const std::string& filter) {
    return QFileDialog::getOpenFileName(QApplication::activeWindow(),
                                        QString::fromStdString(caption), QString(),
                                        QString::fromStdString(filter))
        .toStdString();
}

std::string QtUserPrompts::SaveFileName(const std::string& caption, const std::string& filter) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(),
                                        QString::fromStdString(caption), QString(),
                                        QString::fromStdString(filter))
        .toStdString();
}

} // namespace quellon
