#include "app/settings/settings_file.h"

#include "platform/wide_text_windows.h"

namespace mub {

std::string programFolder() { return programFileFolder(); }

} // namespace mub
