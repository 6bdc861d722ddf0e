#include "records/collector_target.h"

namespace mub {

std::string recordsUrl(const CollectorTarget& target) {
    std::string url = target.address;
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url + "/records";
}

std::string collectorTargetProblem(const CollectorTarget& target) {
    if (!target.configured()) return target.token.empty() ? "" : "a token without a collector's address";
    const std::string& a = target.address;
    if (a.rfind("http://", 0) != 0 && a.rfind("https://", 0) != 0)
        return "the collector's address " + a + " is not an http:// or https:// address";
    for (const char c : a)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
            return "the collector's address " + a + " holds a space or a character that is not plain ASCII";
    if (target.token.empty()) return "the collector's address " + a + " without a token";
    for (const char c : target.token)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
            return "the token holds a space, a control character or one that is not plain ASCII";
    return {};
}

} // namespace mub
