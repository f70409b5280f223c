#include "serial/TFrmComms.h"

#include "serial/PortTable.h"

#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace quellon {

TFrmComms::TFrmComms(const PortTable& ports, QWidget* parent) : QDialog(parent), m_ports(ports) {
    setObjectName("FrmComms");
    setWindowTitle("Select Port");
    auto* layout = new QVBoxLayout(this);
    Comport = new QListWidget(this);
    Comport->setObjectName("Comport");
    SetComms = new QPushButton("Set", this);
    SetComms->setObjectName("SetComms");
    layout->addWidget(Comport);
    layout->addWidget(SetComms);
    setFixedSize(260, 220);
    connect(SetComms, &QPushButton::clicked, this, [this] { SetCommsClick(); });
}

void TFrmComms::FormShow() {
    Comport->clear();
    for (int i = 1; i <= 99; ++i) {
        const TCommsThread* channel = m_ports.Channel(i);
        if (!channel) {
            continue;
        }
        char line[16];
        std::snprintf(line, sizeof line, "COM%02d", i);
        // The device path follows the number in brackets, so that a user can tell the ports
        // apart; SetCommsClick reads the number back from the first five characters.
        Comport->addItem(QString(line) + "  (" + QString::fromStdString(channel->DevicePath()) +
                         ")");
    }
    m_chosen = 1;
}

void TFrmComms::SetCommsClick() {
    QListWidgetItem* item = Comport->currentItem();
    if (!item || !item->isSelected()) {
        return;
    }
    const std::string text = item->text().toStdString();
    m_chosen = std::atoi(text.c_str() + 3);
    done(QDialog::Accepted);
}

int TFrmComms::ShowModal() {
    FormShow();
    return exec();
}

} // namespace quellon
