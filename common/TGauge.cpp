#include "common/TGauge.h"

#include <QPainter>

#include <algorithm>

namespace quellon {

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
    setMinimumSize(40, 100);
}

void TGauge::SetProgress(int value) {
    if (value != m_value) {
        m_value = value;
        update();
    }
}

void TGauge::SetForeColor(const QColor& color) {
    if (color != m_color) {
        m_color = color;
        update();
    }
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    p.fillRect(frame, QColor(250, 250, 250));
    const int shown = std::clamp(m_value, 0, 100);
    const int inner = frame.height() - 2;
    const int filled = inner * shown / 100;
    if (filled > 0) {
        p.fillRect(QRect(frame.left() + 1, frame.bottom() - filled, frame.width() - 1, filled),
                   m_color);
    }
    p.setPen(QColor(90, 90, 90));
    p.drawRect(frame);
    QFont f = font();
    f.setBold(true);
    f.setPointSize(12);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(rect(), Qt::AlignCenter, QString::number(shown) + "%");
}

} // namespace quellon
