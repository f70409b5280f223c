#pragma once
// Stable names of the parameter map's rows for scripts (the command-line tool): one name per
// read button, with the unit in which the value is shown. A read button with several rows
// (the manufacture date) is one name whose value has one part per row, joined by ':'.
#include "config/ParameterMap.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quellon {

enum class ParameterUnit {
    Raw,       // a sensor count without a physical unit
    Analogue,  // mA or V, by the output type
    Celsius,   // degrees Celsius
    Seconds,   // seconds
    HoursMins, // hours:minutes
    Hex,       // a word in hexadecimal
    Percent,   // an LED intensity in percent
    Date,      // DD:MM:YY
};

struct ParameterName {
    const char* name;       // "coarse-full-scale"
    const char* readButton; // "Button3"; a J1939 composite's button for the composites
    ParameterUnit unit;
};

// Every read button of the map, then the three J1939 composites (read only), page by page.
std::span<const ParameterName> ParameterNames();
const ParameterName* ParameterByName(std::string_view name);
// The rows of a name: empty for a composite.
std::vector<const ParameterRow*> RowsOf(const ParameterName& name);
// The J1939 composite of a name, or nullptr.
const J1939Composite* CompositeOf(const ParameterName& name);
// "mA", "V", "degC", "s", "h:m", "hex", "%", "DD:MM:YY" or "" for a raw count.
std::string UnitText(ParameterUnit unit, std::uint16_t featureWord);
// False when the sensor's feature word takes the parameter's page or control away
// (the configuration window then does not show it).
bool OfferedBy(const ParameterName& name, std::uint16_t featureWord);

} // namespace quellon
