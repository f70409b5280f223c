// The configuration window's controls: menus, the twelve pages with their parameter rows,
// the Sensor Type controls, the Debris page's gauges, steps and trims, the tables, and the
// hidden buttons and progress bar. Every control carries its design name as objectName and
// is registered for lookup by that name.
#include "config/TForm2.h"

#include "common/TGauge.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace quellon {

namespace {

constexpr int kFieldWidth = 130;
constexpr int kSetWidth = 60;
constexpr int kTableColumnWidth = 64;
constexpr int kTableRowHeight = 21;

const char* SpinFor(const char* control) {
    const TrimSpin* t = TrimSpinByBox(control);
    return t ? t->spin : nullptr;
}

QLabel* Caption(QWidget* parent, const QString& text, bool bold = false, int smaller = 0) {
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(bold);
    if (smaller > 0 && f.pointSize() > smaller + 5) {
        f.setPointSize(f.pointSize() - smaller);
    }
    l->setFont(f);
    return l;
}

QFrame* Line(QWidget* parent) {
    auto* f = new QFrame(parent);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

} // namespace

void TForm2::Register(QObject* object, const char* name) {
    object->setObjectName(name);
    m_named[name] = object;
}

QPushButton* TForm2::MakeButton(QWidget* parent, const char* name, const char* caption,
                                const char* hint) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    Register(b, name);
    if (hint) {
        b->setToolTip(QString::fromUtf8(hint));
    }
    b->setMinimumWidth(b->sizeHint().width() + 16); // room around the caption
    return b;
}

QLineEdit* TForm2::MakeEdit(QWidget* parent, const char* name, const char* text) {
    auto* e = new QLineEdit(parent);
    Register(e, name);
    if (text) {
        e->setText(QString::fromUtf8(text));
    }
    e->setFixedWidth(kFieldWidth);
    return e;
}

QSpinBox* TForm2::MakeSpin(QWidget* parent, const ParameterRow& row) {
    auto* s = new QSpinBox(parent);
    Register(s, row.control);
    s->setRange(row.spinMinimum, row.spinMaximum);
    s->setValue(row.designValue);
    s->setFixedWidth(80);
    return s;
}

QGroupBox* TForm2::MakeRadioGroup(QWidget* parent, const char* name, const char* caption,
                                  std::initializer_list<const char*> items) {
    auto* box = new QGroupBox(QString::fromUtf8(caption), parent);
    Register(box, name);
    auto* group = new QButtonGroup(box);
    group->setExclusive(true);
    auto* layout = new QVBoxLayout(box);
    int id = 0;
    for (const char* item : items) {
        auto* r = new QRadioButton(QString::fromUtf8(item), box);
        r->setObjectName(QString::fromUtf8(name) + "_" + QString::number(id));
        group->addButton(r, id++);
        layout->addWidget(r);
    }
    m_groups[box] = group;
    // A click on an item that changes the selection is a click on the group: the Set
    // operation. A click on the item already selected changes nothing and sets nothing.
    connect(group, &QButtonGroup::idPressed, this,
            [this, group](int) { m_pressedFrom = group->checkedId(); });
    connect(group, &QButtonGroup::idClicked, this, [this](int id) {
        const int from = m_pressedFrom;
        m_pressedFrom = -1;
        if (id != from) {
            ControlClick();
        }
    });
    return box;
}

QCheckBox* TForm2::MakeCheck(QWidget* parent, const char* name, const char* text,
                             const char* hint) {
    auto* c = new QCheckBox(QString::fromUtf8(text), parent);
    Register(c, name);
    if (hint) {
        c->setToolTip(QString::fromUtf8(hint));
    }
    connect(c, &QCheckBox::clicked, this, [this] { ControlClick(); });
    return c;
}

QWidget* TForm2::MakeSpinButton(QWidget* parent, const char* name) {
    auto* w = new QWidget(parent);
    Register(w, name);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    for (bool up : {true, false}) {
        auto* b = new QToolButton(w);
        b->setObjectName(QString::fromUtf8(name) + (up ? "Up" : "Down"));
        const std::string handler = std::string(name) + (up ? "UpClick" : "DownClick");
        connect(b, &QToolButton::clicked, this, [this, handler] { RunHandler(handler); });
        if (std::string_view(name) == "CSpinCoarseZero") {
            b->setFocusPolicy(Qt::ClickFocus);
            b->installEventFilter(this); // leaving it: CSpinCoarseZeroExit
        }
        b->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
        b->setAutoRepeat(true); // first repeat after 400 ms, then every 100 ms
        b->setAutoRepeatDelay(400);
        b->setAutoRepeatInterval(100);
        b->setFixedSize(22, 13);
        v->addWidget(b);
    }
    return w;
}

// One parameter row: read button | field | Set, from `column` on.
void TForm2::AddRow(QGridLayout* grid, int gridRow, const ParameterRow& row, int column) {
    QWidget* page = grid->parentWidget();
    QPushButton* read = nullptr;
    if (!Control(row.readButton)) {
        read = MakeButton(page, row.readButton, row.caption, row.readButtonHint);
        const std::string handler = std::string(row.readButton) + "Click";
        connect(read, &QPushButton::clicked, this, [this, handler] { Click(handler); });
        grid->addWidget(read, gridRow, column);
    }
    QWidget* control = nullptr;
    if (row.controlKind == ControlKind::Spin) {
        control = MakeSpin(page, row);
    } else {
        control = MakeEdit(page, row.control, row.designText);
    }
    if (row.hint) {
        control->setProperty("hint", QString::fromUtf8(row.hint));
        if (row.hintShown) {
            control->setToolTip(QString::fromUtf8(row.hint));
        }
    }
    if (row.parts > 1) {
        // The parts share one cell, side by side.
        QWidget* cell = nullptr;
        if (row.part == 0) {
            cell = new QWidget(page);
            auto* h = new QHBoxLayout(cell);
            h->setContentsMargins(0, 0, 0, 0);
            cell->setObjectName(QString::fromUtf8(row.readButton) + "Parts");
            grid->addWidget(cell, gridRow, column + 1, Qt::AlignLeft);
        } else {
            cell = page->findChild<QWidget*>(QString::fromUtf8(row.readButton) + "Parts");
        }
        control->setParent(cell);
        static_cast<QHBoxLayout*>(cell->layout())->addWidget(control);
        control->setFixedWidth(60);
    } else {
        grid->addWidget(control, gridRow, column + 1, Qt::AlignLeft);
    }
    if (const char* spin = SpinFor(row.control)) {
        grid->addWidget(MakeSpinButton(page, spin), gridRow, column + 2);
    }
    if (row.setButton && !Control(row.setButton)) {
        auto* set = MakeButton(page, row.setButton, "Set");
        set->setFixedWidth(kSetWidth);
        const std::string handler = std::string(row.setButton) + "Click";
        connect(set, &QPushButton::clicked, this, [this, handler] { Click(handler); });
        grid->addWidget(set, gridRow, column + (SpinFor(row.control) ? 3 : 2));
    }
    if (row.setButton) {
        ConnectEntry(control, row);
    }
}

// Enter in a field runs its Set, as a click on the button would (nothing while the button is
// disabled or hidden); typing marks the field until its value is shown or Set.
void TForm2::ConnectEntry(QWidget* control, const ParameterRow& row) {
    const std::string setButton = row.setButton;
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        connect(edit, &QLineEdit::returnPressed, this, [this, setButton] { PressSet(setButton); });
        const std::string name = row.control;
        connect(edit, &QLineEdit::textEdited, this, [this, name] { m_typed.insert(name); });
    } else if (control) {
        control->setProperty("setButton", QString::fromStdString(setButton));
        control->installEventFilter(this);
    }
}

void TForm2::PressSet(const std::string& setButton) {
    auto* button = qobject_cast<QPushButton*>(Control(setButton));
    if (button && button->isEnabled() && button->isVisible()) {
        button->click();
    }
}

void TForm2::BuildMenus() {
    C1 = menuBar()->addMenu("&Configure");
    Register(C1, "C1");
    Read1 = C1->addAction("&Read");
    Register(Read1, "Read1");
    Apply1 = C1->addAction("Re&boot");
    Register(Apply1, "Apply1");
    Defaults1 = C1->addAction("&Defaults");
    Register(Defaults1, "Defaults1");
    connect(Read1, &QAction::triggered, this, [this] { Click("Read1Click"); });
    connect(Apply1, &QAction::triggered, this, [this] { Click("Apply1Click"); });
    connect(Defaults1, &QAction::triggered, this, [this] { Click("Defaults1Click"); });

    Scaling1 = menuBar()->addMenu("&Scaling");
    Register(Scaling1, "Scaling1");
    Coarse1 = Scaling1->addAction("&Coarse");
    Register(Coarse1, "Coarse1");
    Fine1 = Scaling1->addAction("&Fine");
    Register(Fine1, "Fine1");
    for (QAction* a : {Coarse1, Fine1}) {
        const CalibrationCommand* action = CalibrationByControl(a->objectName().toStdString());
        if (action && action->shortcut) {
            a->setShortcut(QKeySequence(QString::fromUtf8(action->shortcut)));
        }
        // The window carries the entries too, so that their shortcuts act while the menu
        // is hidden.
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }
    connect(Coarse1, &QAction::triggered, this, [this] { Click("Coarse1Click"); });
    connect(Fine1, &QAction::triggered, this, [this] { Click("Fine1Click"); });
}

void TForm2::BuildPages() {
    auto* central = new QWidget(this);
    auto* v = new QVBoxLayout(central);
    v->setContentsMargins(8, 8, 8, 8);

    PageControl1 = new QTabWidget(central);
    Register(PageControl1, "PageControl1");
    v->addWidget(PageControl1, 1);
    for (const PageInfo& info : Pages()) {
        auto* page = new QWidget();
        Register(page, info.name);
        PageControl1->addTab(page, QString::fromUtf8(info.caption));
        switch (info.index) {
        case kPageType:
            BuildTypePage(page);
            break;
        case kPageDebris:
            BuildDebrisPage(page);
            break;
        case kPageCorrection:
        case kPageLinearisation:
            BuildTablePage(page, info.index);
            break;
        default:
            BuildRowsPage(page, info.index);
            break;
        }
    }
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_quietPageChange == 0 && !m_busy) {
            PageControl1Change(index);
        }
    });

    pbEEPROM = new QProgressBar(central);
    Register(pbEEPROM, "pbEEPROM");
    pbEEPROM->setRange(0, 47);
    pbEEPROM->setTextVisible(false);
    v->addWidget(pbEEPROM);

    auto* buttons = new QHBoxLayout();
    v->addLayout(buttons);
    auto* reload = MakeButton(central, "Button85", "Reload");
    connect(reload, &QPushButton::clicked, this, [this] { Click("Button85Click"); });
    auto* readAll = MakeButton(central, "Button45", "Read All", "Reads all configuration memory");
    connect(readAll, &QPushButton::clicked, this, [this] { Click("Button45Click"); });
    auto* reboot = MakeButton(central, "Button46", "Reboot", "Applies changes to sensor");
    connect(reboot, &QPushButton::clicked, this, [this] { Click("Button46Click"); });
    auto* update = MakeButton(central, "Button84", "Update");
    connect(update, &QPushButton::clicked, this, [this] { Click("Button84Click"); });
    for (QPushButton* b : {reload, readAll, reboot, update}) {
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    Timer1 = new QTimer(this);
    Register(Timer1, "Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    SpinTimer = new QTimer(this);
    Register(SpinTimer, "SpinTimer");
    SpinTimer->setInterval(200);
    SpinTimer->setSingleShot(true);
    connect(SpinTimer, &QTimer::timeout, this, [this] { SpinTimerTimer(); });

    setCentralWidget(central);
}

void TForm2::BuildTypePage(QWidget* page) {
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(16, 16, 16, 16);
    auto* columns = new QHBoxLayout();
    columns->setSpacing(24);
    outer->addLayout(columns);

    auto* left = new QVBoxLayout();
    rgApplication = MakeRadioGroup(page, "rgApplication", "Sensor Type", {"5630", "5630i"});
    rgAnalogType =
        MakeRadioGroup(page, "rgAnalogType", "Output Type", {"4 - 20 mA", "0 - 10 V", "CAN"});
    rgDiTempChannel = MakeRadioGroup(page, "rgDiTempChannel", "Oil Status/Temperature Channel",
                                     {"Oil Status", "Temperature"});
    for (QGroupBox* g : {rgApplication, rgAnalogType, rgDiTempChannel}) {
        left->addWidget(g);
    }
    left->addStretch(1);
    columns->addLayout(left);

    auto* right = new QVBoxLayout();
    right->setSpacing(10);
    cbInhibit = MakeCheck(page, "cbInhibit", "Inhibit outputs during configuration",
                          "Output 'Inhibit Level' during calibration");
    cbCoarseChannel = MakeCheck(page, "cbCoarseChannel", "Disable Coarse channel",
                                "Disable analogue/LED/CAN outputs on coarse channel");
    cbFineChannel = MakeCheck(page, "cbFineChannel", "Disable Fine Channel",
                              "Disable analogue/LED/CAN outputs on fine channel");
    cbThirdChannel = MakeCheck(page, "cbThirdChannel", "Disable Oil Status/Temperature Channel",
                               "Disable analogue/LED/CAN outputs on oil/temperature channel");
    cbTempCorrection = MakeCheck(page, "cbTempCorrection", "No Temperature Correction", nullptr);
    cbVolCorrection = MakeCheck(page, "cbVolCorrection", "No Volume Correction", nullptr);
    right->addSpacing(12);
    for (QCheckBox* c : {cbInhibit, cbCoarseChannel, cbFineChannel, cbThirdChannel,
                         cbTempCorrection, cbVolCorrection}) {
        right->addWidget(c);
    }
    right->addStretch(1);
    columns->addLayout(right);
    columns->addStretch(1);

    // The feature word itself: hidden in use.
    auto* grid = new QGridLayout();
    outer->addLayout(grid);
    for (const ParameterRow& row : ParameterMap()) {
        if (row.page == kPageType) {
            AddRow(grid, 0, row);
        }
    }
    grid->setColumnStretch(3, 1);
    Edit19 = Find<QLineEdit>("Edit19");
}

void TForm2::BuildDebrisPage(QWidget* page) {
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* top = new QHBoxLayout();
    top->setSpacing(24);
    outer->addLayout(top);

    // The two live gauges, each with the box shown in its place when its channel is disabled.
    auto* gauges = new QGridLayout();
    gauges->setHorizontalSpacing(16);
    gauges->addWidget(Caption(page, "Coarse", true), 0, 0, Qt::AlignHCenter);
    gauges->addWidget(Caption(page, "Fine", true), 0, 1, Qt::AlignHCenter);
    GaugeCoarse = new TGauge(page);
    Register(GaugeCoarse, "GaugeCoarse");
    GaugeFine = new TGauge(page);
    Register(GaugeFine, "GaugeFine");
    Edit47 = MakeEdit(page, "Edit47", "DISABLED");
    Edit46 = MakeEdit(page, "Edit46", "DISABLED");
    for (QWidget* w : {static_cast<QWidget*>(GaugeCoarse), static_cast<QWidget*>(GaugeFine)}) {
        w->setFixedSize(70, 170);
    }
    for (QLineEdit* e : {Edit47, Edit46}) {
        e->setFixedWidth(90);
        e->setReadOnly(true);
        e->setAlignment(Qt::AlignCenter);
        e->hide();
    }
    gauges->addWidget(GaugeCoarse, 1, 0, Qt::AlignHCenter);
    gauges->addWidget(Edit47, 1, 0, Qt::AlignCenter);
    gauges->addWidget(GaugeFine, 1, 1, Qt::AlignHCenter);
    gauges->addWidget(Edit46, 1, 1, Qt::AlignCenter);
    gauges->setColumnMinimumWidth(0, 90);
    gauges->setColumnMinimumWidth(1, 90);
    top->addLayout(gauges);

    // The three calibration steps.
    auto* steps = new QGridLayout();
    steps->setHorizontalSpacing(12);
    steps->setVerticalSpacing(14);
    struct Step {
        const char* label;
        const char* button;
        const char* caption;
        const char* text;
    } const kSteps[] = {
        {"Step 1", "Button89", "Zero/Tare", "Press to zero/tare sensor after system installation."},
        {"Step 2", "Button87", "Full Scale Coarse",
         "Press when coarse debris applied to give full scale output"},
        {"Step 3", "Button88", "Full Scale Fine",
         "Press when fine debris applied to give full scale output"},
    };
    int r = 0;
    for (const Step& s : kSteps) {
        steps->addWidget(Caption(page, s.label, true), r, 0);
        auto* b = MakeButton(page, s.button, s.caption, s.text);
        b->setMinimumWidth(140);
        const std::string handler = std::string(s.button) + "Click";
        connect(b, &QPushButton::clicked, this, [this, handler] { Click(handler); });
        steps->addWidget(b, r, 1);
        auto* text = Caption(page, s.text);
        text->setWordWrap(true);
        text->setMinimumWidth(220);
        steps->addWidget(text, r, 2);
        ++r;
    }
    steps->setRowStretch(r, 1);
    top->addLayout(steps, 1);

    // Channel Trim: the 100% row above the Offset row, coarse on the left, fine on the right.
    auto* trim = new QGroupBox("Channel Trim", page);
    outer->addWidget(trim);
    auto* grid = new QGridLayout(trim);
    grid->setHorizontalSpacing(8);
    grid->addWidget(Caption(trim, "Coarse", true), 0, 0);
    grid->addWidget(Caption(trim, "Fine", true), 0, 5);
    struct Place {
        const char* readButton;
        int row;
        int column;
    } const kPlaces[] = {
        {"Button3", 1, 0}, {"Button7", 1, 5}, {"Button96", 2, 0}, {"Button100", 2, 5},
        {"Button1", 3, 0}, {"Button5", 3, 5}, {"Button97", 4, 0}, {"Button101", 4, 5},
    };
    for (const Place& p : kPlaces) {
        for (const ParameterRow* row : RowsByReadButton(p.readButton)) {
            AddRow(grid, p.row, *row, p.column);
        }
    }
    grid->setColumnMinimumWidth(4, 24);
    grid->setColumnStretch(9, 1);
    outer->addStretch(1);
}

void TForm2::BuildRowsPage(QWidget* page, int index) {
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(16, 16, 16, 16);
    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    outer->addLayout(grid);
    int r = 0;
    for (const ParameterRow& row : ParameterMap()) {
        if (row.page != index) {
            continue;
        }
        const bool samePart = row.parts > 1 && row.part > 0;
        if (samePart) {
            AddRow(grid, r - 1, row);
        } else {
            AddRow(grid, r++, row);
        }
    }
    auto composite = [&](const J1939Composite& c, QLineEdit*& box) {
        auto* b = MakeButton(page, c.button, c.caption);
        const std::string handler = c.handler;
        connect(b, &QPushButton::clicked, this, [this, handler] { Click(handler); });
        grid->addWidget(b, r, 0);
        box = MakeEdit(page, c.box);
        box->setFixedWidth(kFieldWidth + 10 + kSetWidth); // field and Set together
        box->setProperty("hint", kJ1939BoxHint);
        grid->addWidget(box, r, 1, 1, 2, Qt::AlignLeft);
        ++r;
    };
    switch (index) {
    case kPageOil: {
        grid->addWidget(Line(page), r++, 0, 1, 3);
        grid->addWidget(Caption(page, "Oil Status"), r, 0);
        Edit40 = MakeEdit(page, "Edit40", "1000");
        Edit40->setReadOnly(true);
        Edit40->setAlignment(Qt::AlignCenter);
        grid->addWidget(Edit40, r++, 1, Qt::AlignLeft);
        auto* b = MakeButton(page, "Button90", "Set Oil Status Reference");
        connect(b, &QPushButton::clicked, this, [this] { Click("Button90Click"); });
        grid->addWidget(b, r++, 0);
        break;
    }
    case kPageLog: {
        auto* runTime = MakeButton(page, "Button52", "Reset");
        runTime->setFixedWidth(kSetWidth);
        connect(runTime, &QPushButton::clicked, this, [this] { Click("Button52Click"); });
        grid->addWidget(runTime, 0, 2);
        auto* temperatures = MakeButton(page, "Button53", "Reset");
        temperatures->setFixedWidth(kSetWidth);
        connect(temperatures, &QPushButton::clicked, this, [this] { Click("Button53Click"); });
        grid->addWidget(temperatures, 1, 2);
        break;
    }
    case kPageCan:
        grid->addWidget(Line(page), r++, 0, 1, 3);
        composite(kNameComposite, Edit28);
        break;
    case kPagePgnId:
        grid->addWidget(Line(page), r++, 0, 1, 3);
        composite(kPgnComposite, Edit33);
        composite(kCanIdComposite, Edit34);
        break;
    default:
        break;
    }
    grid->setColumnStretch(3, 1);
    outer->addStretch(1);
}

void TForm2::BuildTablePage(QWidget* page, int table) {
    const bool correction = table == kPageCorrection;
    auto* outer = new QHBoxLayout(page);
    outer->setContentsMargins(16, 12, 16, 12);
    auto* left = new QVBoxLayout();
    outer->addLayout(left);

    auto* captions = new QGridLayout();
    captions->setHorizontalSpacing(0);
    captions->setContentsMargins(1, 0, 0, 0);
    for (int c = 0; c < kTableColumns; ++c) {
        captions->setColumnMinimumWidth(c, kTableColumnWidth);
    }
    if (correction) {
        const char* names[] = {"Temperature", "Oil", "Coarse", "Fine"};
        for (int c = 0; c < kTableColumns; ++c) {
            captions->addWidget(Caption(page, names[c], false, 1), 0, c, Qt::AlignHCenter);
        }
    } else {
        captions->addWidget(Caption(page, "Coarse", true), 0, 0, 1, 2, Qt::AlignHCenter);
        captions->addWidget(Caption(page, "Fine", true), 0, 2, 1, 2, Qt::AlignHCenter);
        for (int c = 0; c < kTableColumns; ++c) {
            captions->addWidget(Caption(page, c % 2 == 0 ? "Difference" : "Correction", false, 2),
                                1, c, Qt::AlignHCenter);
        }
    }
    left->addLayout(captions);

    auto* grid = new QTableWidget(kTableRows, kTableColumns, page);
    Register(grid, correction ? "sg1" : "sg2");
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setDefaultSectionSize(kTableColumnWidth);
    grid->verticalHeader()->setDefaultSectionSize(kTableRowHeight);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int frame = 2 * grid->frameWidth();
    grid->setFixedSize(kTableColumns * kTableColumnWidth + frame,
                       kTableRows * kTableRowHeight + frame);
    left->addWidget(grid);
    left->addStretch(1);
    (correction ? sg1 : sg2) = grid;

    auto* buttons = new QVBoxLayout();
    buttons->setSpacing(8);
    const char* names[3] = {"Button81", "Button83", "Button82"};
    if (!correction) {
        names[0] = "Button91";
        names[1] = "Button92";
        names[2] = "Button93";
    }
    const char* captionsText[3] = {"Read", "Initialise", "Set"};
    buttons->addSpacing(20);
    for (int i = 0; i < 3; ++i) {
        auto* b = MakeButton(page, names[i], captionsText[i]);
        b->setMinimumWidth(100);
        const std::string handler = std::string(names[i]) + "Click";
        connect(b, &QPushButton::clicked, this, [this, handler] { Click(handler); });
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    outer->addLayout(buttons);
    outer->addStretch(1);
}

// What the form's design hides, and what service mode shows instead.
void TForm2::ApplyDesignVisibility() {
    const bool service = m_forms.ServiceMode;
    for (const ParameterRow& row : ParameterMap()) {
        const bool designHidden =
            row.Is(Hidden::ReadButtonD) || row.Is(Hidden::ControlD) || row.Is(Hidden::SetButtonD);
        if (!designHidden || service) {
            continue;
        }
        if (row.Is(Hidden::ReadButtonD)) {
            SetShown(row.readButton, false);
        }
        if (row.Is(Hidden::ControlD)) {
            SetShown(row.control, false);
        }
        if (row.Is(Hidden::SetButtonD) && row.setButton) {
            SetShown(row.setButton, false);
        }
        if (const char* spin = SpinFor(row.control)) {
            SetShown(spin, false);
        }
    }
    for (const char* name : {"Button85", "Button45", "Button46", "Button84"}) {
        SetShown(name, false);
    }
    pbEEPROM->hide();
    C1->menuAction()->setVisible(service);
    Scaling1->menuAction()->setVisible(service);
    for (const PageInfo& p : Pages()) {
        if (!p.designVisible && !service) {
            SetTabShown(p.index, false);
        }
    }
}

} // namespace quellon
