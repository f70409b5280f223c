#pragma once
// The configuration window: the sensor's configuration memory on twelve tabbed pages. Every
// parameter row of the map (ParameterMap.h) becomes a read button, an edit field or spin edit
// and a "Set" button on its page; the handlers are driven from the same table. The window
// owns the memory access (with m_readall and m_commerror), the feature word, the analogue
// scale and the kept J1939 field values, and applies the feature word to itself and to the
// main window's menu.
#include "common/AppForms.h"
#include "common/UserInputHold.h"
#include "config/ConfigTypes.h"
#include "config/J1939.h"
#include "config/MemoryAccess.h"
#include "config/ParameterAccess.h"
#include "config/ParameterMap.h"
#include "config/Tables.h"
#include "config/Trims.h"

#include <QMainWindow>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

class QAction;
class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QTimer;

namespace quellon {

class TGauge;

class TForm2 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm2(AppForms& forms, QWidget* parent = nullptr);
    ~TForm2() override;

    // ---- Sensor type and feature flags -----------------------------------------------------
    // Features read: the word at 0x001E into Edit19 and the page's controls, the analogue
    // scale, then ApplyFeatures.
    void Button37Click();
    // Set: packs the page's controls and writes them (only while this window is active).
    void Button38Click();
    // Shows, hides, enables and relabels controls of both windows from the feature word.
    void ApplyFeatures();
    std::uint16_t GetFeatureWord() const { return m_featureWord; }
    bool FeaturesKnown() const { return m_featuresRead; } // the last Features read succeeded
    float GetAnalogueScale() const { return m_params->analogueScale; }
    // Full Scale Level read.
    void Button39Click();

    // ---- J1939 identity ---------------------------------------------------------------------
    void Button54Click(); // NAME
    void Button63Click(); // PGN
    void Button64Click(); // CAN ID
    const J1939Identity& Identity() const { return m_params->Identity(); }

    // ---- Debris calibration ------------------------------------------------------------------
    void Button89Click(); // Step 1 "Zero/Tare": "cn"
    void Button87Click(); // Step 2 "Full Scale Coarse": "cc"
    void Button88Click(); // Step 3 "Full Scale Fine": "cf"
    void Button90Click(); // Oil page "Set Oil Status Reference": "cd"
    void Coarse1Click();  // Scaling > Coarse: runs Button94Click
    void Fine1Click();    // Scaling > Fine: runs Button95Click
    void Button94Click(); // coarse scaling: "co"
    void Button95Click(); // fine scaling: "cp"
    // The trim spin buttons: one step of the box's number (nothing is written).
    void StepUp(QLineEdit* box);
    void StepDown(QLineEdit* box);
    void SpinTimerTimer();
    void CSpinCoarseZeroExit();
    // Shared by every spin button; a quick change of button carries it on.
    int SpinRepeatCount = 0;

    // ---- Correction and linearisation tables ----------------------------------------------
    void Button81Click(); // read sg1
    void Button83Click(); // initialise sg1
    void Button82Click(); // write sg1
    void Button91Click(); // read sg2
    void Button92Click(); // initialise sg2
    void Button93Click(); // write sg2

    // True while a table Read or Set or a calibration command runs: no other action of the
    // window starts meanwhile.
    bool Busy() const { return m_busy; }

    // ---- Single commands and menus ---------------------------------------------------------
    void Button84Click(); // live readout "a" into the gauges and the Oil Status box
    // While no sensor answers on the port (it has gone, or it is being searched for again):
    // the gauges at 0 and the Oil Status box "---" without the colour of a value, so that
    // nothing says the last reading still holds. The next reading shows again.
    void ShowNoLiveValues();
    void Button85Click(); // Reload: "Z"
    void Apply1Click();   // Configure > Reboot
    void Button46Click(); // "Reboot"
    void Defaults1Click();

    // ---- Life cycle --------------------------------------------------------------------------
    void FormShow();
    void FormClose();
    void PageControl1Change(int index);
    void Timer1Timer();
    void Read1Click();    // the whole-configuration read
    void Button45Click(); // "Read All": identification first

    // ---- Handlers by name --------------------------------------------------------------------
    // Runs the click handler of that name ("Button12Click", "Button85Click", "Read1Click",
    // "Coarse1Click"...). False when no control of the window has such a handler.
    bool RunHandler(std::string_view handler);
    // The read handler of a read button of the map ("Button3"): its display operation(s)
    // into the control(s). Returns the value as read (the last part's), 0 after a failure.
    std::uint32_t ReadHandler(std::string_view readButton);
    // The "Set" handler of a Set button of the map ("Button12"): entry operation(s) and the
    // follow-up of the row.
    void SetHandler(std::string_view setButton);

    // ---- Configuration memory ----------------------------------------------------------------
    MemoryAccess& Memory() { return *m_memory; }
    bool ReadConfigWord(ConfigAddress address, std::uint16_t& value) {
        return m_memory->ReadConfigWord(address, value);
    }
    bool ReadConfigLong(ConfigAddress address, std::uint32_t& value) {
        return m_memory->ReadConfigLong(address, value);
    }
    bool WriteConfigByte(ConfigAddress address, std::uint8_t byte) {
        return m_memory->WriteConfigByte(address, byte);
    }
    bool WriteConfigWord(ConfigAddress address, std::uint16_t value) {
        return m_memory->WriteConfigWord(address, value);
    }

    // ---- Controls by their design names ------------------------------------------------------
    QWidget* Control(std::string_view name) const;
    QAction* Action(std::string_view name) const;
    template <class T> T* Find(std::string_view name) const {
        return qobject_cast<T*>(Control(name));
    }
    // Item index of a radio group (rgApplication, rgDiTempChannel, rgAnalogType); -1: none.
    int ItemIndex(const QGroupBox* group) const;
    // The page index of a page (TabType ... TabSerialise), whether its tab is shown or not.
    QWidget* Page(int index) const;
    bool PageShown(int index) const;

    QTabWidget* PageControl1 = nullptr;
    QProgressBar* pbEEPROM = nullptr;
    QTimer* Timer1 = nullptr;    // live readout, 500 ms
    QTimer* SpinTimer = nullptr; // quick repeats of the trim spin buttons, 200 ms

    QGroupBox* rgApplication = nullptr;
    QGroupBox* rgDiTempChannel = nullptr;
    QGroupBox* rgAnalogType = nullptr;
    QCheckBox* cbInhibit = nullptr;
    QCheckBox* cbCoarseChannel = nullptr;
    QCheckBox* cbFineChannel = nullptr;
    QCheckBox* cbThirdChannel = nullptr;
    QCheckBox* cbTempCorrection = nullptr;
    QCheckBox* cbVolCorrection = nullptr;

    QLineEdit* Edit19 = nullptr; // the feature word in hexadecimal
    QLineEdit* Edit28 = nullptr; // NAME
    QLineEdit* Edit33 = nullptr; // PGN
    QLineEdit* Edit34 = nullptr; // CAN ID
    QLineEdit* Edit40 = nullptr; // live Oil Status
    QLineEdit* Edit46 = nullptr; // "DISABLED" in place of the fine gauge
    QLineEdit* Edit47 = nullptr; // "DISABLED" in place of the coarse gauge
    TGauge* GaugeCoarse = nullptr;
    TGauge* GaugeFine = nullptr;
    QTableWidget* sg1 = nullptr; // correction table
    QTableWidget* sg2 = nullptr; // linearisation table

    QMenu* C1 = nullptr; // "Configure"
    QAction* Read1 = nullptr;
    QAction* Apply1 = nullptr;
    QAction* Defaults1 = nullptr;
    QMenu* Scaling1 = nullptr;
    QAction* Coarse1 = nullptr;
    QAction* Fine1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QSize m_wanted; // the window's own size; smaller screens scroll its content
    class MainLink;
    class MainPoll;
    class Readout;
    class GridProgress;
    class Controls;

    // Construction (TForm2Pages.cpp).
    void BuildMenus();
    void BuildPages();
    void BuildTypePage(QWidget* page);
    void BuildDebrisPage(QWidget* page);
    void BuildTablePage(QWidget* page, int table);
    void BuildRowsPage(QWidget* page, int index);
    void AddRow(QGridLayout* grid, int gridRow, const ParameterRow& row, int column = 0);
    void ConnectEntry(QWidget* control, const ParameterRow& row);
    void PressSet(const std::string& setButton);
    bool ConfirmDiscardTyped(); // false: the user keeps the window open
    QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption,
                            const char* hint = nullptr);
    QLineEdit* MakeEdit(QWidget* parent, const char* name, const char* text = nullptr);
    QSpinBox* MakeSpin(QWidget* parent, const ParameterRow& row);
    QGroupBox* MakeRadioGroup(QWidget* parent, const char* name, const char* caption,
                              std::initializer_list<const char*> items);
    QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* text, const char* hint);
    QWidget* MakeSpinButton(QWidget* parent, const char* name);
    void Register(QObject* object, const char* name);
    void ApplyDesignVisibility();

    // Behaviour (TForm2.cpp, TForm2Tables.cpp, TForm2Features.cpp, TForm2LifeCycle.cpp).
    void ShowResult(const ParameterRow& row, const DisplayResult& result);
    void ShowEntry(QWidget* control, const EntryResult& result);
    void RunActionSteps(const SingleCommandAction& action);
    void SetItemIndex(QGroupBox* group, int index);
    void SetChecked(QCheckBox* box, bool checked);
    void ControlClick();
    void StepEEPROM();
    void SetShown(std::string_view name, bool shown);
    void SetTabShown(int index, bool shown);
    void SetHint(std::string_view name, const std::string& hint);
    void SelectPageQuietly(int index);
    void Reboot();
    void Wait(int ms) { m_memory->Wait(ms); }
    void StopMainPoll();
    void StartMainPoll();
    // A user's click, menu entry or shortcut: runs the handler unless an operation that lets
    // the user interface process events is in progress.
    void Click(std::string_view handler);
    // Marks a table Read or Set or a calibration command as running (see Click).
    void SetBusy(bool busy);
    void RunCalibration(const CalibrationCommand& calibration);
    void TableRead(TableId id);
    void TableInitialise(TableId id);
    void TableSet(TableId id);
    QTableWidget* Grid(TableId id) const;
    void Step(QLineEdit* box, int direction);
    bool RunSpinHandler(std::string_view handler);

    AppForms& m_forms;
    std::unique_ptr<MainLink> m_link;
    std::unique_ptr<MainPoll> m_poll;
    std::unique_ptr<MemoryAccess> m_memory;
    std::unique_ptr<Readout> m_readout;
    std::unique_ptr<Controls> m_controls;
    std::unique_ptr<ParameterAccess> m_params;
    std::uint16_t m_featureWord = 0;
    // Set while the Sensor Type page's controls are filled from a read or a Set runs: a
    // control whose state changes meanwhile must not start another Set.
    bool m_featureGuard = false;
    // Set during Reboot's wait: the window stays open and Reboot does not nest.
    bool m_rebooting = false;
    // Set while a table Read or Set or a calibration command runs.
    bool m_busy = false;
    // Edits typed into since their value was last shown or Set: closing the window asks.
    std::set<std::string> m_typed;
    std::unique_ptr<UserInputHold> m_inputHold; // lives while m_busy
    // Whether the last Features read succeeded: until one has, the Sensor Type page's
    // controls show no sensor's word and a click on them must not write it.
    bool m_featuresRead = false;
    // The radio group item under the pointer when a press began, to tell a click on the
    // item already selected (no change, no Set).
    int m_pressedFrom = -1;
    // Set while the code (not the user) changes the selected page.
    int m_quietPageChange = 0;

    std::map<std::string, QObject*, std::less<>> m_named;
    std::map<const QGroupBox*, QButtonGroup*> m_groups;
};

} // namespace quellon
