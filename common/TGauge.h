#pragma once
// A vertical bar gauge from 0 to 100 that shows its value as a percentage. A value outside
// the range is drawn at the nearer end.
#include <QColor>
#include <QWidget>

namespace quellon {

class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);
    void SetProgress(int value);
    int Progress() const { return m_value; }
    void SetForeColor(const QColor& color);
    QColor ForeColor() const { return m_color; }
    QSize sizeHint() const override { return {60, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_value = 0;
    QColor m_color = QColor(255, 255, 0);
};

} // namespace quellon
