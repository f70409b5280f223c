#pragma once
// quellon-cli monitor: the live poll (or the raw data record) as CSV or JSON lines, riding
// through a pulled cable, and published to an MQTT broker with --publish.
#include "cli/Commands.h"

#include <string>
#include <vector>

namespace quellon::cli {

bool CheckMonitor(const std::vector<std::string>& args, std::string& error);
int RunMonitor(Session& s, const std::vector<std::string>& args);

} // namespace quellon::cli
