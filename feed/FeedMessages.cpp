#include "feed/FeedMessages.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>

namespace quellon::feed {

using Json = nlohmann::ordered_json;

const std::vector<ValueInfo>& LiveValues() {
    static const std::vector<ValueInfo> values = {
        {"seconds", "Seconds", "s"},          {"coarse", "Coarse debris", "%"},
        {"fine", "Fine debris", "%"},         {"oil", "Oil Status", ""},
        {"temperature", "Temperature", "°C"}, {"status", "Status", ""},
    };
    return values;
}

const std::vector<ValueInfo>& RawValues() {
    static const std::vector<ValueInfo> values = {
        {"seconds", "Seconds", "s"},
        {"coarse", "Coarse debris", "%"},
        {"fine", "Fine debris", "%"},
        {"dielectric", "Dielectric", ""},
        {"raw_int", "Internal thermistor raw", ""},
        {"raw_ext", "External probe raw", ""},
        {"int_c", "Internal temperature", ""},
        {"ext_c", "External temperature", ""},
        {"debris_ref_q", "Debris reference Q", ""},
        {"debris_q", "Debris Q", ""},
        {"debris_ref_count", "Debris reference count", ""},
        {"debris_count", "Debris count", ""},
        {"oil_ref_count", "Oil reference count", ""},
        {"oil_count", "Oil count", ""},
        {"calibrated_coarse", "Calibrated coarse", ""},
        {"coarse_correction", "Coarse correction", ""},
        {"calibrated_fine", "Calibrated fine", ""},
        {"fine_correction", "Fine correction", ""},
        {"status", "Status", ""},
    };
    return values;
}

SensorTopics TopicsOf(const std::string& prefix, const std::string& sensor) {
    return {prefix + "/" + sensor + "/state", prefix + "/" + sensor + "/availability"};
}

std::string IsoUtc(std::chrono::system_clock::time_point when) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

std::string StatePayload(std::uint64_t seq, std::chrono::system_clock::time_point when,
                         const std::vector<Value>& values) {
    Json j;
    j["seq"] = seq;
    j["time"] = IsoUtc(when);
    for (const Value& v : values) {
        if (!v.text.empty()) {
            j[v.name] = v.text;
        } else if (v.number == std::floor(v.number) && std::fabs(v.number) < 1e15) {
            j[v.name] = static_cast<long long>(v.number);
        } else {
            j[v.name] = v.number;
        }
    }
    return j.dump();
}

std::vector<std::pair<std::string, std::string>>
DiscoveryConfigs(const std::vector<ValueInfo>& values, const SensorTopics& topics,
                 const Device& device) {
    const std::string object = "quellon_" + device.sensor;
    std::vector<std::pair<std::string, std::string>> out;
    for (const ValueInfo& v : values) {
        if (std::string(v.key) == "seconds") {
            continue;
        }
        Json c;
        c["name"] = v.caption;
        c["unique_id"] = object + "_" + v.key;
        c["state_topic"] = topics.state;
        c["value_template"] = std::string("{{ value_json.") + v.key + " }}";
        if (*v.unit) {
            c["unit_of_measurement"] = v.unit;
        }
        c["availability_topic"] = topics.availability;
        c["payload_available"] = "online";
        c["payload_not_available"] = "offline";
        c["device"] = {{"identifiers", Json::array({object})},
                       {"name", "Quellon " + device.sensor},
                       {"manufacturer", "Quellon"},
                       {"model", device.model},
                       {"sw_version", device.firmware}};
        out.emplace_back("homeassistant/sensor/" + object + "/" + v.key + "/config", c.dump());
    }
    return out;
}

} // namespace quellon::feed
