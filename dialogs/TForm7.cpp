#include "dialogs/TForm7.h"

#include "dialogs/ServiceDialogs.h"
#include "monitor/TForm1.h"
#include "serial/Discovery.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace quellon {

namespace {

QLabel* Link(QWidget* parent, const char* name, const char* address) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    label->setText(QString("<a href=\"%1\" style=\"color:#0000ff\">%1</a>").arg(address));
    label->setOpenExternalLinks(false); // the handler opens it
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

} // namespace

TForm7::TForm7(AppForms& forms, QWidget* parent) : QDialog(parent), m_forms(forms) {
    setObjectName("Form7");
    setWindowTitle("Quellon ");
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(405, 144);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 10, 16, 10);
    Label1 = new QLabel("Quellon in-line oil condition and debris sensors", this);
    Label1->setObjectName("Label1");
    Label2 = Link(this, "Label2", QUELLON_MAKER_URL);
    Label3 = Link(this, "Label3", QUELLON_PRODUCT_URL);
    lbGUI = new QLabel(this);
    lbGUI->setObjectName("lbGUI");
    lbFW = new QLabel(this);
    lbFW->setObjectName("lbFW");
    for (QLabel* l : {Label1, Label2, Label3, lbGUI, lbFW}) {
        column->addWidget(l);
    }
    connect(Label2, &QLabel::linkActivated, this, [this] { Label2Click(); });
    connect(Label3, &QLabel::linkActivated, this, [this] { Label3Click(); });
}

void TForm7::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TForm7::FormShow() {
    lbGUI->setText(QString::fromStdString(GuiVersionText(kGuiBuildNumber, kGuiBuildRevision)));
    const PortTable& ports = m_forms.Form1->Ports();
    lbFW->setText(
        QString::fromStdString(FirmwareVersionText(ports.firmwareNumber, ports.firmwareRevision)));
}

void TForm7::Label2Click() {
    QDesktopServices::openUrl(QUrl(QStringLiteral(QUELLON_MAKER_URL)));
}

void TForm7::Label3Click() {
    QDesktopServices::openUrl(QUrl(QStringLiteral(QUELLON_PRODUCT_URL)));
}

} // namespace quellon
