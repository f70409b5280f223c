#pragma once
// A spin edit that clamps what is typed to its limits and reads a text that is not a
// number as its minimum (the box then shows that value).
#include <QSpinBox>

namespace quellon {

class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    TSpinEdit(int minimum, int maximum, QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void fixup(QString& text) const override;
};

} // namespace quellon
