#include "collector/station_tokens.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <fstream>
#include <iterator>

namespace mub::collector {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

} // namespace

StationTokens::Digest StationTokens::digestOf(std::string_view token) {
    Digest digest{};
    SHA256(reinterpret_cast<const unsigned char*>(token.data()), token.size(), digest.data());
    return digest;
}

std::optional<StationTokens> StationTokens::load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the tokens file " + path;
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto tokens = parse(text, error);
    if (!tokens) error = path + ": " + error;
    return tokens;
}

std::optional<StationTokens> StationTokens::parse(std::string_view text, std::string& error) {
    StationTokens tokens;
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trimmed(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        std::size_t gap = 0;
        while (gap < line.size() && !isBlank(line[gap])) ++gap;
        const std::string_view token = line.substr(0, gap);
        const std::string_view station = trimmed(line.substr(gap));
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (station.empty()) {
            error = where + "a token needs its station's name after it (TOKEN STATION-NAME)";
            return std::nullopt;
        }
        const Digest digest = digestOf(token);
        for (const Entry& entry : tokens.entries_) {
            if (entry.digest == digest) {
                error = where + "this token is given already (for " + entry.station + "); each station needs its own";
                return std::nullopt;
            }
        }
        tokens.entries_.push_back({digest, std::string(station)});
    }
    if (tokens.entries_.empty()) {
        error = "no tokens: every station needs a line TOKEN STATION-NAME";
        return std::nullopt;
    }
    return tokens;
}

std::optional<std::string> StationTokens::stationOf(std::string_view token) const {
    const Digest digest = digestOf(token);
    const Entry* found = nullptr;
    for (const Entry& entry : entries_) {
        const bool same = CRYPTO_memcmp(entry.digest.data(), digest.data(), digest.size()) == 0;
        if (same) found = &entry;
    }
    if (!found || token.empty()) return std::nullopt;
    return found->station;
}

std::string_view bearerToken(std::string_view authorization) {
    authorization = trimmed(authorization);
    constexpr std::string_view scheme = "bearer";
    if (authorization.size() <= scheme.size() || !isBlank(authorization[scheme.size()])) return {};
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if ((authorization[i] | 0x20) != scheme[i]) return {};
    return trimmed(authorization.substr(scheme.size()));
}

} // namespace mub::collector
