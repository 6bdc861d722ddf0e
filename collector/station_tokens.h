// The stations' tokens (--tokens FILE): one "TOKEN STATION-NAME" per line,
// "#" starts a comment line. A request names its station by its token; the
// collector keeps only the tokens' SHA-256 digests and compares those in
// constant time, so that neither the time of an answer nor a log tells a
// token. No text made here holds a token.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mub::collector {

class StationTokens {
public:
    // Reads a tokens file. Empty, with the reason (the line's number, never
    // its token) in `error`, when it cannot be read, a line has no station
    // name, a token is there twice, or there is no token at all.
    static std::optional<StationTokens> load(const std::string& path, std::string& error);
    static std::optional<StationTokens> parse(std::string_view text, std::string& error);

    // The station whose token this is; every known token is compared, each
    // in constant time, whatever matches.
    std::optional<std::string> stationOf(std::string_view token) const;

    std::size_t size() const { return entries_.size(); }

private:
    using Digest = std::array<unsigned char, 32>;
    struct Entry {
        Digest digest;
        std::string station;
    };
    static Digest digestOf(std::string_view token);

    std::vector<Entry> entries_;
};

// The token of an "Authorization: Bearer TOKEN" header's value; empty when
// the header is not of that kind.
std::string_view bearerToken(std::string_view authorization);

} // namespace mub::collector
