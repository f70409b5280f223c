#pragma once
// The Log window's plot: one panel per series group (percentages, counts, temperatures,
// status) on one shared time axis, one or two logs at once. What is drawn is worked out
// afresh for every view from the logs' min/max summaries (logs/Decimation.h), at most two
// points per pixel column and series, so that panning a month of samples stays quick.
#include "logs/Decimation.h"
#include "logs/LogFile.h"

#include <qcustomplot.h>

#include <memory>
#include <vector>

namespace quellon {

// A loaded log with its summaries: one pyramid per source and column.
struct LoadedLog {
    LogData data;
    std::vector<std::vector<MinMaxPyramid>> pyramids; // [source][column]
    void BuildSummaries();
};

class LogPlot : public QCustomPlot {
    Q_OBJECT
public:
    explicit LogPlot(QWidget* parent = nullptr);

    // Shows the logs (the first, and a second one beside it on the same time axis).
    void SetLogs(std::vector<std::shared_ptr<const LoadedLog>> logs);
    // One series per log, source and column, in the order of SeriesNames.
    int SeriesCount() const { return static_cast<int>(m_series.size()); }
    QString SeriesName(int i) const;
    QColor SeriesColour(int i) const;
    void SetSeriesShown(int i, bool shown);

    void Fit();
    void ShowTimes(double from, double to);
    QCPRange TimeRange() const;
    // Recomputes what is drawn for the current view and draws it.
    void Redraw();
    // The values at the cursor's time, one line per log.
    QString CursorText() const;
    // PNG or SVG by the name's extension, at the widget's size. False with a reason.
    bool SavePicture(const QString& path, QString& reason);

signals:
    void CursorMoved(const QString& text);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Series {
        int log = 0;
        std::size_t source = 0;
        std::size_t column = 0;
        QCPGraph* graph = nullptr;
        SeriesGroup group = SeriesGroup::Counts;
    };
    void TimeChanged(const QCPRange& range);
    void FitValues();
    QCPAxisRect* Panel(SeriesGroup group) const { return m_panels[static_cast<int>(group)]; }

    std::vector<std::shared_ptr<const LoadedLog>> m_logs;
    std::vector<Series> m_series;
    QCPAxisRect* m_panels[kSeriesGroupCount] = {};
    QCPItemStraightLine* m_cursor[kSeriesGroupCount] = {};
    bool m_valuesZoomed[kSeriesGroupCount] = {};
    bool m_syncing = false;
    double m_cursorTime = NAN;
    std::vector<double> m_keys, m_values; // scratch
};

} // namespace quellon
