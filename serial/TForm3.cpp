#include "serial/TForm3.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QPushButton>
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
    cancelButton = new QPushButton("Cancel", this);
    cancelButton->setObjectName("cancelButton");
    cancelButton->hide();
    layout->addWidget(cancelButton, 0, Qt::AlignRight);
    connect(cancelButton, &QPushButton::clicked, this, [this] { reject(); });
    setFixedSize(320, 60);
}

void TForm3::OfferCancel(bool offered) {
    m_cancelOffered = offered;
    m_cancelRequested = false;
    cancelButton->setEnabled(true);
    cancelButton->setVisible(offered);
    setFixedSize(320, offered ? 100 : 60);
}

void TForm3::reject() {
    if (m_cancelOffered && !m_cancelRequested) {
        m_cancelRequested = true;
        cancelButton->setEnabled(false); // the operation stops after the step it is in
    }
}

void TForm3::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
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
    hide(); // hide() sends no close event: the box goes only when its operation ends
}

} // namespace quellon
