#pragma once
// The configuration window's adapters: how the core's operations see the main window's
// exchange and live poll, the window's own readout timer, its progress bar with a grid, and
// its controls. Only the window's own source files include this.
#include "config/TForm2.h"
#include "monitor/TForm1.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>

namespace quellon {

// The main window's exchange, as the memory access sees it.
class TForm2::MainLink : public SensorLink {
public:
    explicit MainLink(AppForms& forms) : m_forms(forms) {}
    void SendCommand(const std::string& text) override {
        if (m_forms.Form1) {
            m_forms.Form1->SendCommand(text);
        }
    }
    bool WaitReply(char* buffer, int capacity, int length, int budget, int& count) override {
        if (!m_forms.Form1) {
            count = 0;
            return false;
        }
        return m_forms.Form1->WaitReply(buffer, capacity, length, budget, count);
    }
    bool LinkGone() const override { return m_forms.Form1 && m_forms.Form1->Exchange().LinkGone(); }

private:
    AppForms& m_forms;
};

// The main window's live poll timer.
class TForm2::MainPoll : public PollTimer {
public:
    explicit MainPoll(AppForms& forms) : m_forms(forms) {}
    void StopPoll() override {
        if (m_forms.Form1) {
            m_forms.Form1->StopPoll();
        }
    }
    void StartPoll() override {
        if (m_forms.Form1) {
            m_forms.Form1->StartPoll();
        }
    }

private:
    AppForms& m_forms;
};

// The window's own live readout timer, as the calibration commands see it.
class TForm2::Readout : public PollTimer {
public:
    explicit Readout(QTimer* timer) : m_timer(timer) {}
    void StopPoll() override { m_timer->stop(); }
    void StartPoll() override { m_timer->start(); }

private:
    QTimer* m_timer;
};

// pbEEPROM and a grid as a table Read or Set sees them. Each step lets the user interface
// process pending events, so the window stays responsive during the 80 exchanges.
class TForm2::GridProgress : public TableProgress {
public:
    GridProgress(QProgressBar* bar, QTableWidget* grid) : m_bar(bar), m_grid(grid) {}
    void Begin(int maximum) override {
        m_bar->setRange(0, maximum);
        m_bar->setValue(0);
        m_bar->show();
    }
    void Step() override {
        m_bar->setValue(m_bar->value() + 1);
        QCoreApplication::processEvents();
    }
    void End() override { m_bar->hide(); }
    void Cell(int row, int column, const std::string& text) override {
        QTableWidgetItem* item = m_grid->item(row, column);
        if (!item) {
            item = new QTableWidgetItem();
            m_grid->setItem(row, column, item);
        }
        item->setText(QString::fromStdString(text));
    }

private:
    QProgressBar* m_bar;
    QTableWidget* m_grid;
};

// The window's controls as the parameter operations see them.
class TForm2::Controls : public ParameterView {
public:
    explicit Controls(TForm2& form) : m_form(form) {}
    void ShowRead(const ParameterRow& row, const DisplayResult& result) override {
        m_form.ShowResult(row, result);
    }
    void ShowEntry(const ParameterRow& row, const EntryResult& result) override {
        m_form.ShowEntry(m_form.Control(row.control), result);
    }
    void ShowComposite(const J1939Composite& composite, const std::string& text) override {
        if (auto* box = m_form.Find<QLineEdit>(composite.box)) {
            box->setText(QString::fromStdString(text));
        }
    }
    void StepProgress() override { m_form.StepEEPROM(); }
    void HideProgress() override { m_form.pbEEPROM->hide(); }

private:
    TForm2& m_form;
};

} // namespace quellon
