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
    // Quarter marks on both edges, like a printed scale.
    p.setPen(QColor(120, 120, 120));
    for (int q = 1; q < 4; ++q) {
        const int y = frame.bottom() - inner * q / 4;
        const int len = q == 2 ? 12 : 7;
        p.drawLine(frame.left(), y, frame.left() + len, y);
        p.drawLine(frame.right() - len, y, frame.right(), y);
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
