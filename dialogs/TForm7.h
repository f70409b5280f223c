#pragma once
// The about dialog.
#include "common/AppForms.h"

#include <QDialog>

namespace quellon {

class TForm7 : public QDialog {
    Q_OBJECT
public:
    explicit TForm7(AppForms& forms, QWidget* parent = nullptr);

private:
    AppForms& m_forms;
};

} // namespace quellon
