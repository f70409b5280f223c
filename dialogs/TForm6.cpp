#include "dialogs/TForm6.h"

#include "dialogs/ServiceDialogs.h"
#include "monitor/TForm1.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace quellon {

TForm6::TForm6(AppForms& forms, QWidget* parent) : QDialog(parent), m_forms(forms) {
    setObjectName("Form6");
    setWindowTitle("Calibration Mode");
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(511, 210);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont f("Tahoma");
    f.setPointSize(12);
    Label1->setFont(f);
    Label1->setGeometry(8, 8, 495, 130);

    Button1 = new QPushButton("Set", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(40, 150, 113, 49);
    Button2 = new QPushButton("Next", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(358, 150, 113, 49);
    // "Set", the step's own action, is the default button and has the focus at first: Enter
    // runs it; a button that the user tabbed to runs on Enter instead.
    for (QPushButton* b : {Button1, Button2}) {
        b->setAutoDefault(true);
    }
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

TForm6::~TForm6() = default;

int TForm6::CalibrationStep() const {
    return m_session ? m_session->Step() : 0;
}

void TForm6::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TForm6::closeEvent(QCloseEvent* event) {
    FormClose();
    QDialog::closeEvent(event);
}

void TForm6::reject() {
    // Escape closes the dialog like its close box: the session ends with "ce".
    FormClose();
    QDialog::reject();
}

void TForm6::FormShow() {
    m_session = std::make_unique<CalibrationSession>(m_forms.Form1->Exchange(), *m_forms.Form1,
                                                     *m_forms.Prompts);
    m_open = true;
    Button1->setVisible(true);
    Button2->setVisible(true);
    Button1->setDefault(true);
    Button1->setFocus(Qt::OtherFocusReason);
    Apply(m_session->Begin(CalibrationMode));
}

void TForm6::FormClose() {
    if (!m_open) {
        return; // closed once already (the close box after the finish, or a second close)
    }
    m_open = false;
    m_session->End();
}

void TForm6::Button1Click() {
    if (m_session && m_open) {
        Apply(m_session->Set());
    }
}

void TForm6::Button2Click() {
    if (m_session && m_open) {
        Apply(m_session->Next());
    }
}

void TForm6::Apply(CalibrationSession::Show show) {
    if (show == CalibrationSession::Show::Text) {
        Label1->setText(QString::fromUtf8(m_session->Text()));
    } else {
        close();
    }
}

} // namespace quellon
