#include "feed/FeedUrl.h"

#include <cstdlib>

namespace quellon::feed {

bool ParseFeedUrl(const std::string& text, FeedUrl& out, std::string& error) {
    FeedUrl url;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        url.tls = true;
        url.port = 8883;
        rest = text.substr(8);
    } else {
        error = "the broker's URL must begin with mqtt:// or mqtts://, not '" + text + "'";
        return false;
    }
    const std::size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    url.prefix = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    while (!url.prefix.empty() && url.prefix.back() == '/') {
        url.prefix.pop_back();
    }
    if (url.prefix.empty() || url.prefix.find_first_of("+#") != std::string::npos ||
        url.prefix.find("//") != std::string::npos) {
        error = "the broker's URL needs a topic prefix without '+', '#' or empty levels after "
                "the host, as in mqtt://HOST/plant/oil";
        return false;
    }
    std::size_t colon = authority.rfind(':');
    if (!authority.empty() && authority.front() == '[') { // [IPv6]:port
        const std::size_t close = authority.find(']');
        colon = close != std::string::npos && close + 1 < authority.size() ? close + 1
                                                                           : std::string::npos;
        url.host = authority.substr(1, close == std::string::npos ? 0 : close - 1);
    } else {
        url.host = authority.substr(0, colon);
    }
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + 1);
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || value < 1 || value > 65535) {
            error = "the broker's port must be a number from 1 to 65535, not '" + port + "'";
            return false;
        }
        url.port = static_cast<int>(value);
    }
    if (url.host.empty()) {
        error = "the broker's URL has no host: '" + text + "'";
        return false;
    }
    out = url;
    return true;
}

} // namespace quellon::feed
