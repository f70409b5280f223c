#pragma once
// What goes to the broker: the topics of one sensor, the JSON of one reading and the
// retained Home Assistant discovery configurations.
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quellon::feed {

// One named value of a reading, as its CSV line holds it: a number, or text (the status code
// in hexadecimal).
struct Value {
    std::string name;
    double number = 0;
    std::string text; // used when not empty
};

// What the discovery configuration says about one value.
struct ValueInfo {
    const char* key;     // the JSON name
    const char* caption; // "Coarse debris"
    const char* unit;    // "" for none
};

// The values of the live poll's CSV line and of the raw record's, in their column order.
const std::vector<ValueInfo>& LiveValues();
const std::vector<ValueInfo>& RawValues();

struct SensorTopics {
    std::string state;        // PREFIX/<sensor>/state
    std::string availability; // PREFIX/<sensor>/availability
};
SensorTopics TopicsOf(const std::string& prefix, const std::string& sensor);

// "2026-12-10T21:30:00.250Z"
std::string IsoUtc(std::chrono::system_clock::time_point when);

// {"seq":N,"time":"...","seconds":...,"coarse":...}
std::string StatePayload(std::uint64_t seq, std::chrono::system_clock::time_point when,
                         const std::vector<Value>& values);

struct Device {
    std::string sensor;   // the serial number or the COM number, as in the topics
    std::string model;    // "5630i"
    std::string firmware; // "4.027"
};
// (topic, retained configuration) for each value but the seconds.
std::vector<std::pair<std::string, std::string>>
DiscoveryConfigs(const std::vector<ValueInfo>& values, const SensorTopics& topics,
                 const Device& device);

} // namespace quellon::feed
