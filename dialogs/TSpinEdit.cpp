#include "dialogs/TSpinEdit.h"

#include "dialogs/ServiceDialogs.h"

namespace quellon {

TSpinEdit::TSpinEdit(int minimum, int maximum, QWidget* parent) : QSpinBox(parent) {
    setRange(minimum, maximum);
    setValue(minimum);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

QValidator::State TSpinEdit::validate(QString&, int&) const {
    return QValidator::Acceptable; // every text has a value: the number clamped, or the minimum
}

int TSpinEdit::valueFromText(const QString& text) const {
    return SpinEditValue(text.toStdString(), minimum(), maximum());
}

void TSpinEdit::fixup(QString& text) const {
    text = QString::number(valueFromText(text));
}

} // namespace quellon
