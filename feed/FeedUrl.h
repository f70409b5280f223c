#pragma once
// Where the readings go: mqtt://HOST[:PORT]/PREFIX or mqtts://HOST[:PORT]/PREFIX (TLS).
#include <string>

namespace quellon::feed {

struct FeedUrl {
    bool tls = false;
    std::string host;
    int port = 1883;    // 8883 for mqtts
    std::string prefix; // the topics' first levels, without a trailing '/'
};

// False with the reason when the text is no such URL.
bool ParseFeedUrl(const std::string& text, FeedUrl& out, std::string& error);

} // namespace quellon::feed
