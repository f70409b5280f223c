#include "logs/LogWindow.h"

#include "common/UserPrompts.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

namespace quellon {

namespace {

const char* const kLogFilter = "Logs (*.csv *.log *.txt);;All files (*)";

// Loads and summarises a log; what the worker thread runs and --plot-log runs in place.
LoadResult LoadWithSummaries(const std::string& path, LoadedLog& log, std::string& message,
                             const LoadEnvironment& env) {
    const LoadResult r = LoadLog(path, log.data, message, env);
    if (r == LoadResult::Loaded) {
        log.BuildSummaries();
    }
    return r;
}

// The skipped lines go to standard error as well as into the window.
void ReportSkipped(const std::string& path, const std::string& message) {
    if (!message.empty()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), message.c_str());
    }
}

} // namespace

LogWindow::LogWindow(UserPrompts& prompts, QWidget* parent) : QWidget(parent), m_prompts(prompts) {
    setWindowTitle("Log");
    resize(1400, 900);
    auto* top = new QHBoxLayout;
    m_open = new QPushButton("Open...");
    m_openSecond = new QPushButton("Open Second...");
    auto* fit = new QPushButton("Fit");
    auto* save = new QPushButton("Save Picture...");
    m_progress = new QProgressBar;
    m_progress->setRange(0, 1000);
    m_cancel = new QPushButton("Cancel");
    for (QWidget* w : {static_cast<QWidget*>(m_open), static_cast<QWidget*>(m_openSecond),
                       static_cast<QWidget*>(fit), static_cast<QWidget*>(save)}) {
        top->addWidget(w);
    }
    top->addWidget(m_progress, 1);
    top->addWidget(m_cancel);
    m_progress->hide();
    m_cancel->hide();
    top->addStretch();

    m_plot = new LogPlot;
    m_seriesList = new QListWidget;
    m_seriesList->setMaximumWidth(260);
    auto* split = new QSplitter;
    split->addWidget(m_seriesList);
    split->addWidget(m_plot);
    split->setStretchFactor(1, 1);

    m_cursor = new QLabel("Wheel: zoom; drag: pan; Shift+drag: zoom into a rectangle");
    m_cursor->setWordWrap(true);
    m_cursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_messages = new QLabel;
    m_messages->setWordWrap(true);
    m_messages->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addWidget(m_cursor);
    layout->addWidget(m_messages);

    connect(m_open, &QPushButton::clicked, this, [this] { OpenClick(0); });
    connect(m_openSecond, &QPushButton::clicked, this, [this] { OpenClick(1); });
    connect(fit, &QPushButton::clicked, m_plot, &LogPlot::Fit);
    connect(save, &QPushButton::clicked, this, [this] { SavePictureClick(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { CancelClick(); });
    connect(m_plot, &LogPlot::CursorMoved, m_cursor, &QLabel::setText);
    connect(m_seriesList, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        m_plot->SetSeriesShown(m_seriesList->row(item), item->checkState() == Qt::Checked);
    });
}

LogWindow::~LogWindow() {
    m_cancelFlag = true;
    JoinWorker();
}

void LogWindow::JoinWorker() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

QString LogWindow::Messages() const {
    return m_messages->text();
}

void LogWindow::OpenClick(int slot) {
    const QString path = QString::fromStdString(m_prompts.OpenFileName("Open Log", kLogFilter));
    if (!path.isEmpty()) {
        Open(path, slot);
    }
}

void LogWindow::Open(const QString& path, int slot) {
    m_cancelFlag = true;
    JoinWorker();
    m_cancelFlag = false;
    m_progress->setValue(0);
    m_progress->setFormat(QFileInfo(path).fileName() + ": %p%");
    m_progress->show();
    m_cancel->show();
    m_open->setEnabled(false);
    m_openSecond->setEnabled(false);
    const std::string file = path.toStdString();
    const int generation = ++m_generation; // a stopped load's report comes too late
    m_worker = std::thread([this, file, slot, generation] {
        auto log = std::make_shared<LoadedLog>();
        std::string message;
        LoadEnvironment env;
        env.cancel = &m_cancelFlag;
        int last = -1;
        env.progress = [this, &last](double f) {
            const int v = static_cast<int>(f * 1000);
            if (v != last) {
                last = v;
                QMetaObject::invokeMethod(
                    m_progress, [bar = m_progress, v] { bar->setValue(v); }, Qt::QueuedConnection);
            }
        };
        const LoadResult r = LoadWithSummaries(file, *log, message, env);
        QMetaObject::invokeMethod(
            this,
            [this, log, r, message, slot, generation] {
                if (generation == m_generation) {
                    Finished(log, static_cast<int>(r), QString::fromStdString(message), slot);
                }
            },
            Qt::QueuedConnection);
    });
}

void LogWindow::CancelClick() {
    m_cancelFlag = true;
}

void LogWindow::Finished(const std::shared_ptr<LoadedLog>& log, int result, const QString& message,
                         int slot) {
    JoinWorker();
    m_progress->hide();
    m_cancel->hide();
    m_open->setEnabled(true);
    m_openSecond->setEnabled(true);
    const auto r = static_cast<LoadResult>(result);
    // What went wrong in dark red; what was loaded, skipping nothing, in the window's colour.
    m_messages->setStyleSheet("color: #a00000");
    if (r == LoadResult::Cancelled) {
        m_messages->setText("Loading cancelled.");
        emit Loaded(false);
        return;
    }
    if (r != LoadResult::Loaded) {
        m_messages->setText(message);
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        m_prompts.Message("Log", message.toStdString(), PromptButtons::Ok);
        emit Loaded(false);
        return;
    }
    ReportSkipped(log->data.path, message.toStdString());
    m_logs[slot] = log;
    ShowLogs();
    QString text;
    bool skipped = false;
    for (const auto& l : m_logs) {
        if (!l) {
            continue;
        }
        const LogData& d = l->data;
        skipped = skipped || d.badCount > 0;
        text += QString("%1: %2, %3 samples")
                    .arg(QString::fromStdString(d.path))
                    .arg(FormatName(d.format))
                    .arg(d.rows);
        if (d.withoutReply > 0) {
            text += QString(", %1 without a reply from the sensor").arg(d.withoutReply);
        }
        if (d.badCount > 0) {
            text += "; " + QString::fromStdString(SkippedLinesText(d));
        }
        text += "\n";
    }
    m_messages->setStyleSheet(skipped ? "color: #a00000" : "");
    m_messages->setText(text.trimmed());
    emit Loaded(true);
}

void LogWindow::ShowLogs() {
    std::vector<std::shared_ptr<const LoadedLog>> logs;
    for (const auto& l : m_logs) {
        if (l) {
            logs.push_back(l);
        }
    }
    m_plot->SetLogs(logs);
    const QSignalBlocker block(m_seriesList);
    m_seriesList->clear();
    for (int i = 0; i < m_plot->SeriesCount(); ++i) {
        auto* item = new QListWidgetItem(m_plot->SeriesName(i), m_seriesList);
        QPixmap swatch(14, 14);
        swatch.fill(m_plot->SeriesColour(i));
        item->setIcon(QIcon(swatch));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    const QString names =
        (m_logs[0] ? QFileInfo(QString::fromStdString(m_logs[0]->data.path)).fileName()
                   : QString()) +
        (m_logs[1] ? " | " + QFileInfo(QString::fromStdString(m_logs[1]->data.path)).fileName()
                   : QString());
    setWindowTitle("Log - " + names);
}

void LogWindow::SavePictureClick() {
    const QString path = QString::fromStdString(
        m_prompts.SaveFileName("Save Picture", "PNG picture (*.png);;SVG picture (*.svg)"));
    if (path.isEmpty()) {
        return;
    }
    QString reason;
    if (!m_plot->SavePicture(path, reason)) {
        m_prompts.Message("Save Picture", ("Cannot write " + path + ": " + reason).toStdString(),
                          PromptButtons::Ok);
    }
}

int PlotLogToFile(const QString& path, const QString& out, double from, double to,
                  QString& message) {
    auto log = std::make_shared<LoadedLog>();
    std::string text;
    const LoadResult r = LoadWithSummaries(path.toStdString(), *log, text, {});
    message = QString::fromStdString(text);
    if (r != LoadResult::Loaded) {
        return 2;
    }
    ReportSkipped(log->data.path, text);
    message.clear();
    LogPlot plot;
    plot.resize(1200, 900);
    plot.SetLogs({log});
    if (!std::isnan(from) || !std::isnan(to)) {
        const QCPRange whole = plot.TimeRange();
        plot.ShowTimes(std::isnan(from) ? whole.lower : from, std::isnan(to) ? whole.upper : to);
    }
    QString reason;
    if (!plot.SavePicture(out, reason)) {
        message = "cannot write " + out + ": " + reason;
        return 1;
    }
    return 0;
}

} // namespace quellon
