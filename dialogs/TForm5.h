#pragma once
// The LED test dialog.
#include "common/AppForms.h"

#include <QDialog>

namespace quellon {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(AppForms& forms, QWidget* parent = nullptr);

private:
    AppForms& m_forms;
};

} // namespace quellon
