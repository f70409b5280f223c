#pragma once
// The progress dialog: a small modeless window with one progress bar.
#include "serial/ProgressDisplay.h"

#include <QDialog>

class QProgressBar;
class QPushButton;

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
    void OfferCancel(bool offered) override;
    bool CancelRequested() const override { return m_cancelRequested; }

    QProgressBar* pb;
    QPushButton* cancelButton;

protected:
    // Escape and the window's close button: a request to cancel where the operation offers
    // it; otherwise nothing, for the box stays until its operation ends.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool m_cancelOffered = false;
    bool m_cancelRequested = false;
};

} // namespace quellon
