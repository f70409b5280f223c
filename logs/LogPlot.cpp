#include "logs/LogPlot.h"

#include <QBuffer>
#include <QFileInfo>
#include <QSaveFile>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

namespace quellon {

void LoadedLog::BuildSummaries() {
    pyramids.assign(data.sources.size(), {});
    for (std::size_t s = 0; s < data.sources.size(); ++s) {
        pyramids[s].resize(data.sources[s].columns.size());
        for (std::size_t c = 0; c < data.sources[s].columns.size(); ++c) {
            pyramids[s][c].Build(data.sources[s].columns[c]);
        }
    }
}

namespace {

// Ticks in seconds, minutes, hours or days, whichever suits the view's width.
class TimeTicker : public QCPAxisTicker {
protected:
    double getTickStep(const QCPRange& range) override {
        const double unit = TimeUnitFor(range.size()).seconds;
        return cleanMantissa(range.size() / unit / (mTickCount + 1e-10)) * unit;
    }
    QString getTickLabel(double tick, const QLocale& locale, QChar, int) override {
        const double unit = TimeUnitFor(m_span).seconds;
        return locale.toString(tick / unit, 'g', 7);
    }
    QVector<QString> createLabelVector(const QVector<double>& ticks, const QLocale& locale,
                                       QChar formatChar, int precision) override {
        if (ticks.size() > 1) {
            m_span = (ticks.back() - ticks.front()) * (mTickCount + 1) / (ticks.size() - 1);
        }
        return QCPAxisTicker::createLabelVector(ticks, locale, formatChar, precision);
    }

public:
    double m_span = 60;
};

QColor Lighter(const QColor& c) {
    return QColor((c.red() + 255) / 2, (c.green() + 255) / 2, (c.blue() + 255) / 2);
}

} // namespace

LogPlot::LogPlot(QWidget* parent) : QCustomPlot(parent) {
    plotLayout()->clear();
    auto* margins = new QCPMarginGroup(this);
    for (int g = 0; g < kSeriesGroupCount; ++g) {
        auto* rect = new QCPAxisRect(this);
        plotLayout()->addElement(g, 0, rect);
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        rect->setRangeDrag(Qt::Horizontal);
        rect->setRangeZoom(Qt::Horizontal);
        QCPAxis* time = rect->axis(QCPAxis::atBottom);
        time->setTicker(QSharedPointer<QCPAxisTicker>(new TimeTicker));
        rect->axis(QCPAxis::atLeft)->setLabel(GroupTitle(static_cast<SeriesGroup>(g)));
        connect(time, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
                [this](const QCPRange& r) { TimeChanged(r); });
        m_panels[g] = rect;
        auto* cursor = new QCPItemStraightLine(this);
        cursor->setClipAxisRect(rect);
        cursor->point1->setAxes(time, rect->axis(QCPAxis::atLeft));
        cursor->point2->setAxes(time, rect->axis(QCPAxis::atLeft));
        cursor->setPen(QPen(QColor(0, 0, 255, 120)));
        cursor->setSelectable(false);
        cursor->setVisible(false);
        m_cursor[g] = cursor;
    }
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    setSelectionRectMode(QCP::srmNone);
    // A plain drag pans; with Shift held it draws the rectangle to zoom into. That panel's
    // values then keep the rectangle's range (until "Fit") instead of following the data.
    connect(this, &QCustomPlot::mousePress, this, [this](QMouseEvent* e) {
        const bool rectangle = (e->modifiers() & Qt::ShiftModifier) != 0;
        setSelectionRectMode(rectangle ? QCP::srmZoom : QCP::srmNone);
        for (int g = 0; rectangle && g < kSeriesGroupCount; ++g) {
            if (m_panels[g]->rect().contains(e->pos())) {
                m_valuesZoomed[g] = true;
            }
        }
    });
    setMouseTracking(true);
}

void LogPlot::SetLogs(std::vector<std::shared_ptr<const LoadedLog>> logs) {
    clearGraphs();
    m_series.clear();
    m_logs = std::move(logs);
    for (std::size_t l = 0; l < m_logs.size(); ++l) {
        const LogData& d = m_logs[l]->data;
        for (std::size_t s = 0; s < d.sources.size(); ++s) {
            for (std::size_t c = 0; c < d.columns.size(); ++c) {
                const LogColumn& col = d.columns[c];
                Series series;
                series.log = static_cast<int>(l);
                series.source = s;
                series.column = c;
                series.group = col.group;
                QCPAxisRect* rect = Panel(col.group);
                series.graph = addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
                series.graph->setAdaptiveSampling(false); // already at most two per pixel
                QColor colour(static_cast<QRgb>(col.rgb));
                if (l > 0 || s > 0) {
                    colour = Lighter(colour);
                }
                series.graph->setPen(QPen(colour, 1));
                m_series.push_back(series);
                series.graph->setName(SeriesName(static_cast<int>(m_series.size()) - 1));
            }
        }
    }
    Fit();
}

QString LogPlot::SeriesName(int i) const {
    const Series& s = m_series[static_cast<std::size_t>(i)];
    const LogData& d = m_logs[static_cast<std::size_t>(s.log)]->data;
    QString name = QString::fromStdString(d.columns[s.column].name);
    if (d.tagged) {
        name = QString::fromStdString(d.sources[s.source].port) + " " + name;
    }
    if (m_logs.size() > 1) {
        name = (s.log == 0 ? "A: " : "B: ") + name;
    }
    return name;
}

QColor LogPlot::SeriesColour(int i) const {
    return m_series[static_cast<std::size_t>(i)].graph->pen().color();
}

void LogPlot::SetSeriesShown(int i, bool shown) {
    m_series[static_cast<std::size_t>(i)].graph->setVisible(shown);
    Redraw();
}

void LogPlot::Fit() {
    double from = INFINITY;
    double to = -INFINITY;
    for (const auto& l : m_logs) {
        from = std::min(from, l->data.FirstTime());
        to = std::max(to, l->data.LastTime());
    }
    if (!(from <= to)) {
        from = 0;
        to = 60;
    }
    if (to - from < 1) {
        to = from + 1;
    }
    std::fill(std::begin(m_valuesZoomed), std::end(m_valuesZoomed), false);
    ShowTimes(from, to);
}

void LogPlot::ShowTimes(double from, double to) {
    m_syncing = true;
    for (QCPAxisRect* rect : m_panels) {
        rect->axis(QCPAxis::atBottom)->setRange(from, to);
    }
    m_syncing = false;
    Redraw();
}

QCPRange LogPlot::TimeRange() const {
    return m_panels[0]->axis(QCPAxis::atBottom)->range();
}

void LogPlot::TimeChanged(const QCPRange& range) {
    if (m_syncing) {
        return;
    }
    m_syncing = true;
    for (QCPAxisRect* rect : m_panels) {
        rect->axis(QCPAxis::atBottom)->setRange(range);
    }
    m_syncing = false;
    Redraw();
}

void LogPlot::Redraw() {
    const QCPRange range = TimeRange();
    for (Series& s : m_series) {
        if (!s.graph->visible()) {
            s.graph->data()->clear();
            continue;
        }
        const LoadedLog& log = *m_logs[static_cast<std::size_t>(s.log)];
        const LogSource& src = log.data.sources[s.source];
        const int pixels = std::max(1, Panel(s.group)->width());
        Decimate(src.time, src.columns[s.column], log.pyramids[s.source][s.column], range.lower,
                 range.upper, pixels, m_keys, m_values);
        s.graph->setData(QVector<double>(m_keys.begin(), m_keys.end()),
                         QVector<double>(m_values.begin(), m_values.end()), true);
    }
    FitValues();
    const TimeUnit unit = TimeUnitFor(range.size());
    m_panels[kSeriesGroupCount - 1]
        ->axis(QCPAxis::atBottom)
        ->setLabel(QString("Time (%1)").arg(unit.name));
    replot(QCustomPlot::rpQueuedReplot);
}

void LogPlot::FitValues() {
    const QCPRange range = TimeRange();
    for (int g = 0; g < kSeriesGroupCount; ++g) {
        if (m_valuesZoomed[g]) {
            continue;
        }
        double low = INFINITY;
        double high = -INFINITY;
        for (const Series& s : m_series) {
            if (static_cast<int>(s.group) != g || !s.graph->visible()) {
                continue;
            }
            for (auto it = s.graph->data()->constBegin(); it != s.graph->data()->constEnd(); ++it) {
                if (it->key >= range.lower && it->key <= range.upper) {
                    low = std::min(low, it->value);
                    high = std::max(high, it->value);
                }
            }
        }
        if (static_cast<SeriesGroup>(g) == SeriesGroup::Percent) {
            low = std::min(0.0, low);
            high = std::max(100.0, high);
        }
        if (!(low <= high)) {
            low = 0;
            high = 1;
        }
        const double pad = high > low ? (high - low) * 0.05 : std::max(1.0, std::fabs(high) * 0.05);
        m_panels[g]->axis(QCPAxis::atLeft)->setRange(low - pad, high + pad);
    }
}

QString LogPlot::CursorText() const {
    if (std::isnan(m_cursorTime) || m_logs.empty()) {
        return {};
    }
    const TimeUnit unit = TimeUnitFor(TimeRange().size());
    QString text = QString("%1 %2").arg(m_cursorTime / unit.seconds, 0, 'f', 3).arg(unit.name);
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const Series& s = m_series[i];
        if (!s.graph->visible()) {
            continue;
        }
        const LogSource& src = m_logs[static_cast<std::size_t>(s.log)]->data.sources[s.source];
        if (src.time.empty()) {
            continue;
        }
        const std::size_t row = NearestSample(src.time, m_cursorTime);
        text += QString("   %1 %2")
                    .arg(SeriesName(static_cast<int>(i)))
                    .arg(static_cast<double>(src.columns[s.column][row]));
    }
    return text;
}

void LogPlot::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    m_cursorTime = m_panels[0]->axis(QCPAxis::atBottom)->pixelToCoord(event->position().x());
    for (QCPItemStraightLine* c : m_cursor) {
        c->point1->setCoords(m_cursorTime, 0);
        c->point2->setCoords(m_cursorTime, 1);
        c->setVisible(true);
    }
    emit CursorMoved(CursorText());
    replot(QCustomPlot::rpQueuedReplot);
}

void LogPlot::resizeEvent(QResizeEvent* event) {
    QCustomPlot::resizeEvent(event);
    Redraw();
}

bool LogPlot::SavePicture(const QString& path, QString& reason) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != "png" && suffix != "svg") {
        reason = "the picture's name must end in .png or .svg";
        return false;
    }
    // Lay the panels out at the current size, then draw what that size shows.
    replot(QCustomPlot::rpImmediateRefresh);
    Redraw();
    replot(QCustomPlot::rpImmediateRefresh);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (suffix == "png") {
        if (!toPixmap(width(), height()).save(&buffer, "PNG")) {
            reason = "the picture could not be made";
            return false;
        }
    } else {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size());
        svg.setViewBox(QRect(QPoint(0, 0), size()));
        svg.setTitle("Quellon log");
        QCPPainter painter(&svg);
        toPainter(&painter, width(), height());
        painter.end();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace quellon
