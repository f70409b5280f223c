#include "configfiles/TCompareDialog.h"

#include "common/WindowFit.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace quellon {

namespace {

QString Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return QString::fromLatin1(text);
}

} // namespace

const QColor& TCompareDialog::DifferenceColour() {
    static const QColor colour(255, 205, 205);
    return colour;
}

TCompareDialog::TCompareDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("CompareDialog");
    setWindowTitle("Compare with File");
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    lbFile = new QLabel(this);
    lbFile->setObjectName("lbFile");
    lbFile->setWordWrap(true);
    lbFile->setTextFormat(Qt::PlainText);
    layout->addWidget(lbFile);

    sgCompare = new QTableWidget(0, 4, this);
    sgCompare->setObjectName("sgCompare");
    sgCompare->setHorizontalHeaderLabels({"Address", "Parameter", "Sensor", "File"});
    sgCompare->verticalHeader()->setVisible(false);
    sgCompare->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgCompare->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgCompare->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    layout->addWidget(sgCompare);

    lbSummary = new QLabel(this);
    lbSummary->setObjectName("lbSummary");
    QFont bold = lbSummary->font();
    bold.setBold(true);
    lbSummary->setFont(bold);
    layout->addWidget(lbSummary);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(buttons);
    resize(520, 640);
}

void TCompareDialog::ShowResult(const CompareResult& result) {
    lbFile->setText(QString::fromStdString(result.path));
    sgCompare->setRowCount(0);
    sgCompare->setRowCount(static_cast<int>(result.rows.size()));
    int r = 0;
    for (const CompareRow& row : result.rows) {
        const QString cells[4] = {Hex(row.address, 2), QString::fromStdString(row.name),
                                  row.sensorRead ? Hex(row.sensorValue, 4)
                                                 : QStringLiteral("-----"),
                                  Hex(row.fileValue, 4)};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (row.Differs()) {
                item->setBackground(DifferenceColour());
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            sgCompare->setItem(r, c, item);
        }
        ++r;
    }
    sgCompare->resizeColumnToContents(0);
    sgCompare->resizeColumnToContents(2);
    sgCompare->resizeColumnToContents(3);
    lbSummary->setText(QString::fromStdString(CompareSummary(result)));
    if (!isVisible()) {
        FitOnScreen(this, size()); // its table scrolls on a small screen
    }
    show();
    raise();
}

} // namespace quellon
