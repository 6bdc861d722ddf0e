// The collector's command line:
//   mub-collector --db CONNINFO --listen HOST:PORT --tokens FILE [--shifts 06:00,14:00,22:00]
// Every value is checked here, so that the program starts with settings that
// work or names the one that does not.
#pragma once

#include "records/shifts.h"

#include <optional>
#include <string>
#include <vector>

namespace mub::collector {

struct ListenAddress {
    std::string host; // a name or an address; an IPv6 address without its brackets
    int port = 0;     // 0: any free port, the one taken is told when listening
};

struct CollectorSettings {
    std::string conninfo; // libpq's connection string or URI
    ListenAddress listen;
    std::string tokensFile;
    ShiftTimes shifts{{6 * 60, 14 * 60, 22 * 60}}; // defaultShiftList
};

// "HOST:PORT", "[IPV6]:PORT".
std::optional<ListenAddress> parseListenAddress(const std::string& text, std::string& error);

// The arguments after the program's name; `help` is set for --help (the
// settings are then empty).
std::optional<CollectorSettings> parseCollectorArgs(const std::vector<std::string>& args, bool& help,
                                                    std::string& error);

// "http://HOST:PORT" (an IPv6 address in brackets).
std::string listenUrl(const std::string& host, int port);

extern const char* const collectorUsage;

} // namespace mub::collector
