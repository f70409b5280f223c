#include "reporting/TForm4.h"

#include "common/WindowFront.h"
#include "dialogs/TForm6.h"
#include "dialogs/TSpinEdit.h"
#include "monitor/TForm1.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

#include "common/WindowFit.h"
#include <QStatusBar>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace quellon {

namespace {

enum ChartIndex {
    kPercent,
    kDebrisQ,
    kDebrisCount,
    kTemperature,
    kDielectric,
    kOilCount,
    kCalibrated,
    kCorrection
};

const QColor kSeriesColours[2] = {QColor(0xFF, 0, 0), QColor(0, 0x80, 0)}; // red, green

QLineEdit* MakeBox(QWidget* parent, const char* name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setFixedWidth(110);
    return box;
}

} // namespace

TForm4::TForm4(AppForms& forms, QWidget* parent) : QMainWindow(parent), m_forms(forms) {
    setObjectName("Form4");
    setWindowTitle("Debris");
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    Sensor1 = menuBar()->addMenu("&Sensor");
    Sensor1->setObjectName("Sensor1");
    Open1 = Sensor1->addAction("&Log");
    Open1->setObjectName("Open1");
    Calibrate1 = Sensor1->addAction("&Offline Calibrate");
    Calibrate1->setObjectName("Calibrate1");
    InlineCalibrate1 = Sensor1->addAction("&Inline Calibrate");
    InlineCalibrate1->setObjectName("InlineCalibrate1");
    connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });
    connect(Calibrate1, &QAction::triggered, this, [this] { Calibrate1Click(); });
    connect(InlineCalibrate1, &QAction::triggered, this, [this] { InlineCalibrate1Click(); });

    auto* scroll = new QScrollArea(this);
    scroll->setWidget(BuildContent());
    scroll->setWidgetResizable(true);
    setCentralWidget(scroll);
    statusBar()->setObjectName("StatusBar");

    // The service group and its entries; the delivered window hides them.
    const bool service = m_forms.ServiceMode;
    for (QWidget* w : {static_cast<QWidget*>(cbFixed), static_cast<QWidget*>(spFixed),
                       static_cast<QWidget*>(Button7)}) {
        w->setVisible(service);
    }
    Calibrate1->setVisible(service);
    InlineCalibrate1->setVisible(service);

    resize(m_wanted);
}

TForm4::~TForm4() = default;

QWidget* TForm4::BuildContent() {
    auto* content = new QWidget;
    content->setMinimumSize(1560, 1000);
    auto* outer = new QGridLayout(content);
    outer->setContentsMargins(10, 10, 10, 6);
    outer->setHorizontalSpacing(12);

    // Left: the record's values in groups.
    auto* left = new QWidget(content);
    auto* column = new QVBoxLayout(left);
    column->setContentsMargins(0, 0, 0, 0);
    auto group = [left, column](const char* title,
                                const std::vector<std::pair<const char*, QLineEdit**>>& rows,
                                const std::vector<const char*>& names) {
        auto* box = new QGroupBox(title, left);
        auto* grid = new QGridLayout(box);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            grid->addWidget(new QLabel(rows[i].first, box), static_cast<int>(i), 0);
            *rows[i].second = MakeBox(box, names[i]);
            grid->addWidget(*rows[i].second, static_cast<int>(i), 1);
        }
        column->addWidget(box);
    };
    group("Debris", {{"Coarse %", &Edit7}, {"Fine %", &Edit10}}, {"Edit7", "Edit10"});
    group("Temperature",
          {{"Raw Internal", &Edit1},
           {"Internal C", &Edit2},
           {"Raw External", &Edit3},
           {"External C", &Edit4}},
          {"Edit1", "Edit2", "Edit3", "Edit4"});
    group("Debris counts",
          {{"Debris Ref Coarse", &Edit5},
           {"Debris Coarse", &Edit6},
           {"Debris Ref Fine", &Edit8},
           {"Debris Fine", &Edit9}},
          {"Edit5", "Edit6", "Edit8", "Edit9"});
    group("Oil", {{"Oil", &Edit13}, {"Oil Ref Count", &Edit11}, {"Oil Count", &Edit12}},
          {"Edit13", "Edit11", "Edit12"});
    group("Coarse", {{"Calibrated", &Edit15}, {"Correction", &Edit16}}, {"Edit15", "Edit16"});
    group("Fine", {{"Calibrated", &Edit17}, {"Correction", &Edit18}}, {"Edit17", "Edit18"});
    group("Sensor", {{"Status", &Edit14}}, {"Edit14"});

    auto* buttons = new QHBoxLayout;
    Button2 = new QPushButton("Pause", left);
    Button2->setObjectName("Button2");
    Button3 = new QPushButton("Clear", left);
    Button3->setObjectName("Button3");
    Button1 = new QPushButton("Read", left);
    Button1->setObjectName("Button1");
    Button1->hide();
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    buttons->addWidget(Button1);
    column->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

    auto* fix = new QHBoxLayout;
    cbFixed = new QCheckBox("Fix", left);
    cbFixed->setObjectName("cbFixed");
    spFixed = new TSpinEdit(0, 100, left);
    spFixed->setObjectName("spFixed");
    Button7 = new QPushButton("Set Fixed", left);
    Button7->setObjectName("Button7");
    fix->addWidget(cbFixed);
    fix->addWidget(spFixed);
    fix->addWidget(Button7);
    column->addLayout(fix);
    connect(cbFixed, &QCheckBox::clicked, this, [this] { FixOutputClick(); });
    connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(); });

    Label14 = new QLabel("EXTERNAL", left);
    Label14->setObjectName("Label14");
    QFont bold = Label14->font();
    bold.setBold(true);
    Label14->setFont(bold);
    Label14->setStyleSheet("color: #ff0000");
    Label14->hide();
    column->addWidget(Label14);
    column->addStretch(1);
    left->setFixedWidth(260);
    outer->addWidget(left, 0, 0, 4, 1);

    // Right: the eight charts.
    m_charts.resize(8);
    struct ChartRow {
        int index;
        QChart** chart;
        const char* name;
        const char* title;
        std::vector<std::pair<const char*, const char*>> series;
        std::vector<QLineSeries**> members;
    } rows[] = {
        {kPercent,
         &chPercent,
         "chPercent",
         "Debris Percentage Coarse(Red) Fine (Green)",
         {{"Series1", "Coarse Percent"}, {"Series2", "FinePercent"}},
         {&Series1, &Series2}},
        {kDebrisQ,
         &chDebrisQ,
         "chDebrisQ",
         "Debris Ref Coarse, Coarse",
         {{"LineSeries1", "Debris Ref Q"}, {"LineSeries2", "Debris Q"}},
         {&LineSeries1, &LineSeries2}},
        {kDebrisCount,
         &chDebrisCount,
         "chDebrisCount",
         "Debris Ref Fine, Fine",
         {{"LineSeries3", "Debris Ref Count"}, {"LineSeries4", "Debris Count"}},
         {&LineSeries3, &LineSeries4}},
        {kTemperature,
         &chTemperature,
         "chTemperature",
         "Internal temperature (Red) External (Green)",
         {{"LineSeries5", "Internal deg C"}, {"LineSeries6", "External deg C"}},
         {&LineSeries5, &LineSeries6}},
        {kDielectric,
         &chDielectric,
         "chDielectric",
         "Oil",
         {{"LineSeries7", "Oil"}},
         {&LineSeries7}},
        {kOilCount,
         &chOilCount,
         "chOilCount",
         "Oil Ref Count, Count",
         {{"LineSeries9", "Oil Ref Count"}, {"LineSeries10", "Oil Count"}},
         {&LineSeries9, &LineSeries10}},
        {kCalibrated,
         &chCalibrated,
         "chCalibrated",
         "Calibrated Coarse/ Fine",
         {{"LineSeries8", "Calibrated Coarse"}, {"LineSeries11", "Calibrated Fine"}},
         {&LineSeries8, &LineSeries11}},
        {kCorrection,
         &chCorrection,
         "chCorrection",
         "Coarse/ Fine Correction",
         {{"LineSeries12", "Coarse Correction"}, {"LineSeries13", "Coarse/Fine Correction"}},
         {&LineSeries12, &LineSeries13}},
    };
    for (auto& s : rows) {
        Chart& c = m_charts[static_cast<std::size_t>(s.index)];
        QWidget* view = MakeChart(c, s.name, s.title, s.series);
        *s.chart = c.chart;
        for (std::size_t i = 0; i < s.members.size(); ++i) {
            *s.members[i] = c.series[i];
        }
        outer->addWidget(view, s.index / 2, 1 + s.index % 2);
    }
    // The percentage chart keeps its fixed scale and shows no time axis.
    Chart& percent = m_charts[kPercent];
    percent.fixedRange = true;
    percent.y->setRange(0, 100);
    percent.x->setVisible(false);

    FootLabel = new QLabel("All charts show last 60 seconds of data", content);
    FootLabel->setObjectName("FootLabel");
    outer->addWidget(FootLabel, 4, 1, 1, 2, Qt::AlignHCenter);
    return content;
}

QWidget* TForm4::MakeChart(Chart& c, const char* name, const char* title,
                           const std::vector<std::pair<const char*, const char*>>& series) {
    c.chart = new QChart;
    c.chart->setObjectName(name);
    c.chart->setTitle(title);
    QFont titleFont = c.chart->titleFont();
    titleFont.setPointSize(10);
    titleFont.setBold(true);
    c.chart->setTitleFont(titleFont);
    c.chart->legend()->hide();
    c.chart->setMargins(QMargins(4, 2, 8, 2));
    c.chart->setBackgroundRoundness(0);
    c.x = new QValueAxis(c.chart);
    c.y = new QValueAxis(c.chart);
    c.x->setLabelFormat("%d");
    c.y->setLabelFormat("%g");
    // Ticks at whole seconds from 0, so that each label is a different second.
    c.x->setTickType(QValueAxis::TicksDynamic);
    c.x->setTickAnchor(0);
    c.x->setRange(0, 60);
    c.x->setTickInterval(TimeAxisStep(60));
    c.y->setRange(0, 1);
    for (QValueAxis* a : {c.x, c.y}) {
        QFont f = a->labelsFont();
        f.setPointSize(8);
        a->setLabelsFont(f);
    }
    c.chart->addAxis(c.x, Qt::AlignBottom);
    c.chart->addAxis(c.y, Qt::AlignLeft);
    c.history = ChartHistory(static_cast<int>(series.size()));
    for (std::size_t i = 0; i < series.size(); ++i) {
        auto* s = new QLineSeries(c.chart);
        s->setObjectName(series[i].first);
        s->setName(series[i].second);
        s->setPointsVisible(false);
        s->setPointLabelsVisible(false);
        QPen pen(kSeriesColours[i]);
        pen.setWidthF(1.5);
        s->setPen(pen);
        c.chart->addSeries(s);
        s->attachAxis(c.x);
        s->attachAxis(c.y);
        c.series.push_back(s);
    }
    auto* view = new QChartView(c.chart);
    view->setObjectName(QString(name) + "View");
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(600, 230);
    return view;
}

void TForm4::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        // Centred within the screen's free area, made smaller (it scrolls) where it would not fit.
        FitOnScreen(this, m_placed ? size() : m_wanted);
        m_placed = true;
        FormShow();
    }
}

void TForm4::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TForm4::FormShow() {
    if (m_forms.Form1) {
        m_forms.Form1->StopPoll();
    }
    Timer1->start();
    m_start = std::time(nullptr);
    std::string reason;
    if (!m_files.CreateRaw(m_rawPath, reason)) {
        SayFileProblem("raw data file", m_rawPath, reason);
    }
}

void TForm4::FormClose() {
    m_files.CloseAll();
    Timer1->stop();
    if (m_forms.Form1) {
        m_forms.Form1->StartPoll();
    }
}

void TForm4::StopPoll() {
    Timer1->stop();
}

void TForm4::StartPoll() {
    if (!Timer1->isActive()) {
        Timer1->start();
    }
}

QString TForm4::StatusText() const {
    return statusBar()->currentMessage();
}

void TForm4::SayFileProblem(const std::string& what, const std::string& path,
                            const std::string& reason) {
    const std::string whole =
        QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
    const std::string line = "Cannot create the " + what + " " + whole + ": " + reason;
    statusBar()->showMessage(QString::fromStdString(line + " (sampling goes on)"));
    if (m_forms.Form1) {
        m_forms.Form1->Ports().debugLog.Write("Reporting: %s\n", line.c_str());
    }
}

void TForm4::Button1Click() {
    m_pointLimit = PointLimitFor(Timer1->interval());
    const double seconds = static_cast<double>(std::time(nullptr) - m_start);
    Label14->setText("No COM"); // no second instrument is configured
    RawDataRecord record;
    if (TakeRawSample(m_forms.Form1->Exchange(), m_files, seconds, record) == SampleResult::Good) {
        ShowRecord(record);
    }
}

void TForm4::ShowRecord(const RawDataRecord& record) {
    using F = RawDataRecord;
    const RawDataView v = ViewOf(record);
    auto text = [&v](QLineEdit* box, F::Field f) {
        box->setText(QString::fromStdString(v.text[static_cast<std::size_t>(f)]));
    };
    auto value = [&v](F::Field f) { return v.chart[static_cast<std::size_t>(f)]; };
    text(Edit1, F::RawInt);
    text(Edit2, F::IntC);
    text(Edit3, F::RawExt);
    text(Edit4, F::ExtC);
    AddPoint(m_charts[kTemperature], {value(F::IntC), value(F::ExtC)});
    text(Edit5, F::DebrisRefQ);
    text(Edit6, F::DebrisQ);
    AddPoint(m_charts[kDebrisQ], {value(F::DebrisRefQ), value(F::DebrisQ)});
    text(Edit10, F::FinePercent);
    text(Edit7, F::CoarsePercent);
    AddPoint(m_charts[kPercent], {value(F::CoarsePercent), value(F::FinePercent)});
    text(Edit8, F::DebrisRefCount);
    text(Edit9, F::DebrisCount);
    AddPoint(m_charts[kDebrisCount], {value(F::DebrisRefCount), value(F::DebrisCount)});
    text(Edit11, F::OilRefCount);
    text(Edit12, F::OilCount);
    AddPoint(m_charts[kOilCount], {value(F::OilRefCount), value(F::OilCount)});
    text(Edit13, F::Dielectric);
    AddPoint(m_charts[kDielectric], {value(F::Dielectric)});
    text(Edit14, F::Status);
    text(Edit15, F::CalibratedCoarse);
    text(Edit16, F::CorrectionCoarse);
    text(Edit17, F::CalibratedFine);
    text(Edit18, F::CorrectionFine);
    AddPoint(m_charts[kCalibrated], {value(F::CalibratedCoarse), value(F::CalibratedFine)});
    AddPoint(m_charts[kCorrection], {value(F::CorrectionCoarse), value(F::CorrectionFine)});
}

void TForm4::AddPoint(Chart& c, const std::vector<double>& values) {
    c.history.Append(values, m_pointLimit);
    double low = 0;
    double high = 0;
    bool any = false;
    int count = 0;
    for (int i = 0; i < c.history.SeriesCount(); ++i) {
        const std::vector<double>& ys = c.history.Series(i);
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(ys.size()));
        for (std::size_t k = 0; k < ys.size(); ++k) {
            points.append(QPointF(static_cast<double>(k), ys[k]));
            low = any ? std::min(low, ys[k]) : ys[k];
            high = any ? std::max(high, ys[k]) : ys[k];
            any = true;
        }
        count = std::max(count, static_cast<int>(ys.size()));
        c.series[static_cast<std::size_t>(i)]->replace(points);
    }
    // Axes are set only when their range changes: a relayout per chart and second costs.
    const double xMax = std::max(1, count - 1);
    if (c.x->max() != xMax || c.x->min() != 0) {
        c.x->setRange(0, xMax);
        c.x->setTickInterval(TimeAxisStep(static_cast<int>(xMax)));
    }
    if (!c.fixedRange && any) {
        const AxisRange r = NiceAxisRange(low, high);
        if (c.y->min() != r.min || c.y->max() != r.max) {
            c.y->setRange(r.min, r.max);
            c.y->setTickCount(static_cast<int>(std::lround((r.max - r.min) / r.step)) + 1);
        }
    }
}

void TForm4::Button2Click() {
    if (Timer1->isActive()) {
        Timer1->stop();
        Button2->setText("Play");
    } else {
        Timer1->start();
        Button2->setText("Pause");
    }
}

void TForm4::Button3Click() {
    for (Chart& c : m_charts) {
        c.history.Clear();
        for (QLineSeries* s : c.series) {
            s->clear();
        }
    }
}

void TForm4::Open1Click() {
    const std::string path = m_forms.Prompts->SaveFileName("Log", "");
    if (path.empty()) {
        return;
    }
    std::string reason;
    if (!m_files.OpenLog(path, reason)) {
        SayFileProblem("log", path, reason);
    }
}

void TForm4::FixOutputClick() {
    TForm1* main = m_forms.Form1;
    FixOutput(
        main->Exchange(), *this, cbFixed->isChecked(), [main] { main->UnlockSensor(); },
        [main] { main->LockSensor(); });
}

void TForm4::Button7Click() {
    SetFixedLevel(m_forms.Form1->Exchange(), *this, cbFixed->isChecked(), spFixed->value());
}

void TForm4::Calibrate1Click() {
    if (m_forms.Prompts->Message("Calibration", "Press OK to enter Offline Calibration Mode",
                                 PromptButtons::OkCancel) == PromptAnswer::Ok) {
        m_forms.Form6->SetCalibrationMode(0);
        ShowInFront(m_forms.Form6);
    }
}

void TForm4::InlineCalibrate1Click() {
    if (m_forms.Prompts->Message("Calibration", "Press OK to enter Inline Calibration Mode",
                                 PromptButtons::OkCancel) == PromptAnswer::Ok) {
        m_forms.Form6->SetCalibrationMode(1);
        ShowInFront(m_forms.Form6);
    }
}

} // namespace quellon
