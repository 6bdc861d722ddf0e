// The program's title and the production mark at its end. The title is the
// window caption and the caption of every message box; the mark says the
// program runs on a production line, where the identity checks are relaxed.
#pragma once

#include <string>

namespace mub {

// "Korvan升级工具v1.0--生产专用" in GBK.
const std::string& programTitle();

// "生产专用" in GBK: a title that ends with it marks a production-line copy.
const std::string& productionMark();

// How strictly runUpgrade checks the machine's identity against the file.
enum class IdentityRule {
    ProductionLine, // a model mismatch and an equal or older version pass unasked
    Strict,         // every check applies
};

// The rule of a window with this title: the production line's when the
// title's last 8 bytes (the whole title when shorter) are the mark.
IdentityRule identityRuleOf(const std::string& title);

// The title without its production mark, for a copy run with every check.
std::string titleWithoutMark();

} // namespace mub
