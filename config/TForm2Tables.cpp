// The configuration window's debris calibration buttons, the trim spin buttons and the
// correction and linearisation tables.
#include "config/TForm2.h"
#include "config/TForm2Adapters.h"

#include <QLineEdit>
#include <QTableWidget>

namespace quellon {

// ---- Debris calibration ----------------------------------------------------------------

void TForm2::RunCalibration(const CalibrationCommand& calibration) {
    if (m_busy || !m_forms.Form1 || !m_forms.Prompts) {
        return;
    }
    SetBusy(true);
    const CalibrationOutcome outcome = quellon::RunCalibration(
        calibration, *m_memory, *m_forms.Form1, *m_readout, *m_forms.Prompts);
    for (const auto& [row, result] : outcome.readBack) {
        ShowResult(*row, result);
    }
    SetBusy(false);
}

void TForm2::Button89Click() {
    RunCalibration(*CalibrationByHandler("Button89Click"));
}

void TForm2::Button87Click() {
    RunCalibration(*CalibrationByHandler("Button87Click"));
}

void TForm2::Button88Click() {
    RunCalibration(*CalibrationByHandler("Button88Click"));
}

void TForm2::Button90Click() {
    RunCalibration(*CalibrationByHandler("Button90Click"));
}

void TForm2::Button94Click() {
    RunCalibration(*CalibrationByHandler("Button94Click"));
}

void TForm2::Button95Click() {
    RunCalibration(*CalibrationByHandler("Button95Click"));
}

void TForm2::Coarse1Click() {
    Button94Click();
}

void TForm2::Fine1Click() {
    Button95Click();
}

void TForm2::Step(QLineEdit* box, int direction) {
    if (!box) {
        return;
    }
    const std::optional<std::string> text =
        SpinStep(box->text().toStdString(), direction, SpinTimer->isActive(), SpinRepeatCount);
    if (!text) {
        return; // no number in the box: it keeps its text
    }
    box->setText(QString::fromStdString(*text));
    SpinTimer->stop();
    SpinTimer->start();
}

void TForm2::StepUp(QLineEdit* box) {
    Step(box, +1);
}

void TForm2::StepDown(QLineEdit* box) {
    Step(box, -1);
}

void TForm2::SpinTimerTimer() {
    SpinTimer->stop();
}

void TForm2::CSpinCoarseZeroExit() {
    SpinRepeatCount = 0;
    SpinTimer->stop();
}

bool TForm2::RunSpinHandler(std::string_view handler) {
    for (const auto& [suffix, direction] :
         {std::pair<std::string_view, int>{"UpClick", +1}, {"DownClick", -1}}) {
        if (!handler.ends_with(suffix)) {
            continue;
        }
        const TrimSpin* spin = TrimSpinBySpin(handler.substr(0, handler.size() - suffix.size()));
        if (!spin) {
            return false;
        }
        Step(Find<QLineEdit>(spin->box), direction);
        return true;
    }
    return false;
}

// ---- Correction and linearisation tables ----------------------------------------------

QTableWidget* TForm2::Grid(TableId id) const {
    return id == TableId::Correction ? sg1 : sg2;
}

void TForm2::TableRead(TableId id) {
    if (m_busy) {
        return;
    }
    SetBusy(true);
    GridProgress progress(pbEEPROM, Grid(id));
    quellon::ReadTable(*m_memory, TableOf(id), progress);
    SetBusy(false);
}

void TForm2::TableInitialise(TableId id) {
    const TableTexts texts = InitialTable(TableOf(id));
    GridProgress grid(pbEEPROM, Grid(id));
    for (int r = 0; r < kTableRows; ++r) {
        for (int c = 0; c < kTableColumns; ++c) {
            grid.Cell(r, c, texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
        }
    }
}

void TForm2::TableSet(TableId id) {
    if (m_busy || !m_forms.Prompts) {
        return;
    }
    SetBusy(true);
    QTableWidget* grid = Grid(id);
    TableTexts texts;
    for (int r = 0; r < kTableRows; ++r) {
        for (int c = 0; c < kTableColumns; ++c) {
            const QTableWidgetItem* item = grid->item(r, c);
            texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                item ? item->text().toStdString() : std::string();
        }
    }
    GridProgress progress(pbEEPROM, grid);
    quellon::SetTable(*m_memory, TableOf(id), texts, progress, *m_forms.Prompts);
    SetBusy(false);
}

void TForm2::Button81Click() {
    TableRead(TableId::Correction);
}

void TForm2::Button83Click() {
    TableInitialise(TableId::Correction);
}

void TForm2::Button82Click() {
    TableSet(TableId::Correction);
}

void TForm2::Button91Click() {
    TableRead(TableId::Linearisation);
}

void TForm2::Button92Click() {
    TableInitialise(TableId::Linearisation);
}

void TForm2::Button93Click() {
    TableSet(TableId::Linearisation);
}

} // namespace quellon
