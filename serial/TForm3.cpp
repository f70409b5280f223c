#include "serial/TForm3.h"

#include <QProgressBar>
#include <QVBoxLayout>

namespace quellon {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("Form3");
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    pb = new QProgressBar(this);
    pb->setObjectName("pb");
    pb->setTextVisible(false);
    pb->setValue(0);
    layout->addWidget(pb);
    setFixedSize(320, 60);
}

void TForm3::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void TForm3::SetMaximum(int maximum) {
    pb->setMaximum(maximum > 0 ? maximum : 1);
}

void TForm3::SetPosition(int position) {
    pb->setValue(position);
}

void TForm3::StepIt() {
    // Like a step of a progress bar: wraps to the start when it passes the maximum.
    const int next = pb->value() + 1;
    pb->setValue(next > pb->maximum() ? pb->minimum() : next);
}

void TForm3::ShowProgress() {
    show();
}

void TForm3::CloseProgress() {
    hide();
}

} // namespace quellon
