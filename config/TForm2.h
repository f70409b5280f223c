#pragma once
// The configuration window: the sensor's configuration memory on tabbed pages.
#include "common/AppForms.h"

#include <QMainWindow>

#include <cstdint>

namespace quellon {

class TForm2 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm2(AppForms& forms, QWidget* parent = nullptr);

    // Features read: the feature word into the Sensor Type page, then ApplyFeatures.
    void Button37Click();
    void ApplyFeatures();
    std::uint16_t GetFeatureWord() const { return m_featureWord; }

private:
    AppForms& m_forms;
    std::uint16_t m_featureWord = 0;
};

} // namespace quellon
