// The program's title. It is the window caption and the caption of every
// message box, and its ending decides how strict the identity checks are.
#pragma once

#include <string>

namespace mub {

// "Korvan升级工具v1.0--生产专用" in GBK.
const std::string& programTitle();

} // namespace mub
