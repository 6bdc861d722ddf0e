#include "collector/collector_settings.h"

#include "platform/option_reader.h"

#include <charconv>

namespace mub::collector {

namespace {

bool readWhole(std::string_view text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

} // namespace

const char* const collectorUsage =
    "usage: mub-collector --db CONNINFO --listen HOST:PORT --tokens FILE [--shifts HH:MM,...]\n"
    "\n"
    "Takes the stations' upgrade records over HTTP (POST /records) and keeps\n"
    "them in PostgreSQL; serves the shift report (GET /, /report?from=&to=).\n"
    "\n"
    "  --db CONNINFO      the database: \"host=/run/postgresql dbname=mub\" or\n"
    "                     postgresql://user@host/mub (libpq's connection string)\n"
    "  --listen HOST:PORT where to take requests; port 0 takes any free port\n"
    "  --tokens FILE      one \"TOKEN STATION-NAME\" per line, # comments\n"
    "  --shifts LIST      where the shifts start, local time (06:00,14:00,22:00)\n";

std::optional<ListenAddress> parseListenAddress(const std::string& text, std::string& error) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        error = "--listen needs HOST:PORT, given: " + text;
        return std::nullopt;
    }
    ListenAddress address;
    address.host = text.substr(0, colon);
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']')
        address.host = address.host.substr(1, address.host.size() - 2);
    else if (address.host.find(':') != std::string::npos) {
        error = "--listen: an IPv6 address goes in brackets ([::1]:8080), given: " + text;
        return std::nullopt;
    }
    if (address.host.empty()) {
        error = "--listen needs a host before the port (0.0.0.0 for every address), given: " + text;
        return std::nullopt;
    }
    if (!readWhole(std::string_view(text).substr(colon + 1), address.port) || address.port < 0 || address.port > 65535) {
        error = "--listen: the port must be a number from 0 to 65535, given: " + text.substr(colon + 1);
        return std::nullopt;
    }
    return address;
}

std::optional<CollectorSettings> parseCollectorArgs(const std::vector<std::string>& args, bool& help,
                                                    std::string& error) {
    help = false;
    CollectorSettings settings;
    bool haveListen = false;
    OptionReader reader(args);
    while (reader.next()) {
        const std::string& name = reader.name();
        std::string value;
        if (name == "--help" || name == "-h") {
            help = true;
            return CollectorSettings{};
        } else if (name == "--db") {
            if (!reader.nonEmptyValue(settings.conninfo, "a connection string", error)) return std::nullopt;
        } else if (name == "--listen") {
            if (!reader.nonEmptyValue(value, "HOST:PORT", error)) return std::nullopt;
            const auto address = parseListenAddress(value, error);
            if (!address) return std::nullopt;
            settings.listen = *address;
            haveListen = true;
        } else if (name == "--tokens") {
            if (!reader.nonEmptyValue(settings.tokensFile, "a file", error)) return std::nullopt;
        } else if (name == "--shifts") {
            if (!reader.nonEmptyValue(value, "the shifts' start times", error)) return std::nullopt;
            const auto shifts = parseShiftTimes(value, error);
            if (!shifts) {
                error = "--shifts: " + error;
                return std::nullopt;
            }
            settings.shifts = *shifts;
        } else {
            error = (reader.isOption() ? "unknown option " : "unexpected argument ") + reader.given();
            return std::nullopt;
        }
    }
    const char* missing = settings.conninfo.empty() ? "--db CONNINFO"
                          : !haveListen            ? "--listen HOST:PORT"
                          : settings.tokensFile.empty() ? "--tokens FILE"
                                                        : nullptr;
    if (missing) {
        error = std::string(missing) + " is required";
        return std::nullopt;
    }
    return settings;
}

std::string listenUrl(const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace mub::collector
