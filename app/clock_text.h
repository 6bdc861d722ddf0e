// The status-bar clock: "%d年%d月%d日%d时%d分", right-aligned in 25 GBK bytes.
#pragma once

#include <ctime>
#include <string>

namespace mub {

// GBK text for the given local time.
std::string clockText(const std::tm& local);

// The text for the local time now; what each tick of the clock shows.
std::string clockTextNow();

} // namespace mub
