#pragma once
// The progress dialog: a small modeless window with one progress bar.
#include "serial/ProgressDisplay.h"

#include <QDialog>

class QProgressBar;

namespace quellon {

class TForm3 : public QDialog, public ProgressDisplay {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    void SetCaption(const std::string& caption) override;
    void SetMaximum(int maximum) override;
    void SetPosition(int position) override;
    void StepIt() override;
    void ShowProgress() override;
    void CloseProgress() override;

    QProgressBar* pb;
};

} // namespace quellon
