#include "config/ParameterNames.h"

#include "config/FeatureWord.h"

#include <array>

namespace quellon {

namespace {

using U = ParameterUnit;

constexpr std::array<ParameterName, 48> kNames{{
    {"feature-word", "Button37", U::Hex},
    {"coarse-zero", "Button1", U::Raw},
    {"coarse-full-scale", "Button3", U::Raw},
    {"fine-zero", "Button5", U::Raw},
    {"fine-full-scale", "Button7", U::Raw},
    {"coarse-offset", "Button96", U::Raw},
    {"coarse-scaling", "Button97", U::Raw},
    {"fine-offset", "Button100", U::Raw},
    {"fine-scaling", "Button101", U::Raw},
    {"oil-reference", "Button9", U::Raw},
    {"oil-upper-threshold", "Button11", U::Raw},
    {"oil-lower-threshold", "Button13", U::Raw},
    {"oil-filter-time", "Button15", U::Seconds},
    {"full-scale-level", "Button39", U::Analogue},
    {"error-level", "Button75", U::Analogue},
    {"inhibit-level", "Button76", U::Analogue},
    {"zero-level", "Button77", U::Analogue},
    {"internal-thermistor-offset", "Button17", U::Raw},
    {"external-pt-offset", "Button19", U::Raw},
    {"low-temperature-alarm", "Button41", U::Celsius},
    {"high-temperature-alarm", "Button42", U::Celsius},
    {"run-time", "Button47", U::HoursMins},
    {"electronics-minimum-temperature", "Button48", U::Celsius},
    {"electronics-maximum-temperature", "Button49", U::Celsius},
    {"probe-minimum-temperature", "Button50", U::Celsius},
    {"probe-maximum-temperature", "Button51", U::Celsius},
    {"can-manufacturer-code", "Button21", U::Hex},
    {"can-identity-high", "Button23", U::Hex},
    {"can-identity-low", "Button25", U::Hex},
    {"can-function", "Button29", U::Hex},
    {"can-vehicle-system", "Button31", U::Hex},
    {"can-industry-group", "Button33", U::Hex},
    {"can-vehicle-system-instance", "Button35", U::Hex},
    {"can-ecu-instance", "Button65", U::Hex},
    {"can-function-instance", "Button66", U::Hex},
    {"can-name", "Button54", U::Hex},
    {"can-source-address", "Button27", U::Hex},
    {"can-priority", "Button55", U::Hex},
    {"can-data-page", "Button57", U::Hex},
    {"can-pdu-format", "Button58", U::Hex},
    {"can-pdu-specific", "Button59", U::Hex},
    {"can-pgn", "Button63", U::Hex},
    {"can-id", "Button64", U::Hex},
    {"red-intensity", "Button69", U::Percent},
    {"green-intensity", "Button70", U::Percent},
    {"blue-intensity", "Button71", U::Percent},
    {"serial-number", "Button104", U::Raw},
    {"manufacture-date", "Button105", U::Date},
}};

} // namespace

std::span<const ParameterName> ParameterNames() {
    return kNames;
}

const ParameterName* ParameterByName(std::string_view name) {
    for (const ParameterName& n : kNames) {
        if (name == n.name) {
            return &n;
        }
    }
    return nullptr;
}

std::vector<const ParameterRow*> RowsOf(const ParameterName& name) {
    return RowsByReadButton(name.readButton);
}

const J1939Composite* CompositeOf(const ParameterName& name) {
    for (const J1939Composite* c : {&kNameComposite, &kPgnComposite, &kCanIdComposite}) {
        if (std::string_view(name.readButton) == c->button) {
            return c;
        }
    }
    return nullptr;
}

std::string UnitText(ParameterUnit unit, std::uint16_t featureWord) {
    switch (unit) {
    case U::Raw:
        return "";
    case U::Analogue:
        return (featureWord & FeatureBit::OutputCurrent) ? "mA" : "V";
    case U::Celsius:
        return "degC";
    case U::Seconds:
        return "s";
    case U::HoursMins:
        return "h:m";
    case U::Hex:
        return "hex";
    case U::Percent:
        return "%";
    case U::Date:
        return "DD:MM:YY";
    }
    return "";
}

bool OfferedBy(const ParameterName& name, std::uint16_t featureWord) {
    const J1939Composite* composite = CompositeOf(name);
    const auto rows = RowsOf(name);
    const int page = composite ? composite->page : rows.empty() ? -1 : rows.front()->page;
    const PageInfo* info = nullptr;
    for (const PageInfo& p : Pages()) {
        if (p.index == page) {
            info = &p;
        }
    }
    bool pageShown = true;
    bool controlShown = true;
    const std::string control = composite      ? composite->box
                                : rows.empty() ? ""
                                               : rows.front()->control;
    for (const UiStep& step : ApplyFeatures(featureWord)) {
        if (step.window != UiWindow::Configuration) {
            continue;
        }
        if (info && step.name == info->name &&
            (step.action == UiAction::ShowTab || step.action == UiAction::HideTab)) {
            pageShown = step.action == UiAction::ShowTab;
        }
        if ((step.name == control || step.name == name.readButton) &&
            (step.action == UiAction::Show || step.action == UiAction::Hide)) {
            controlShown = step.action == UiAction::Show;
        }
    }
    return pageShown && controlShown;
}

} // namespace quellon
