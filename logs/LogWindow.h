#pragma once
// The Log window: opens a recorded log (or two, side by side on one time axis), loads it on
// a worker thread with a progress bar and Cancel, plots it, and saves the view as a picture.
// The reading is logs/LogFile's; the window asks for files, shows and reports.
#include "logs/LogPlot.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace quellon {

class UserPrompts;

class LogWindow : public QWidget {
    Q_OBJECT
public:
    explicit LogWindow(UserPrompts& prompts, QWidget* parent = nullptr);
    ~LogWindow() override;

    // Loads `path` as the first log (slot 0) or the second (slot 1), in the background.
    void Open(const QString& path, int slot = 0);
    // "Open...": asks for the file, then opens it as the first log.
    void OpenClick(int slot = 0);
    bool Loading() const { return m_worker.joinable(); }
    LogPlot* Plot() const { return m_plot; }
    QString Messages() const;

signals:
    void Loaded(bool ok); // after each load, good or not

private:
    void CancelClick();
    void SavePictureClick();
    void Finished(const std::shared_ptr<LoadedLog>& log, int result, const QString& message,
                  int slot);
    void ShowLogs();
    void JoinWorker();

    UserPrompts& m_prompts;
    LogPlot* m_plot = nullptr;
    QListWidget* m_seriesList = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_openSecond = nullptr;
    QLabel* m_cursor = nullptr;
    QLabel* m_messages = nullptr;
    std::shared_ptr<const LoadedLog> m_logs[2];
    std::thread m_worker;
    std::atomic<bool> m_cancelFlag{false};
    int m_generation = 0; // of the latest load, touched on the GUI thread only
};

// --plot-log: loads `path`, shows the times from .. to (NaN: the whole log) and writes the
// picture. Returns the exit status: 0 written, 2 the log cannot be read, 1 the picture
// cannot be written; `message` says why.
int PlotLogToFile(const QString& path, const QString& out, double from, double to,
                  QString& message);

} // namespace quellon
