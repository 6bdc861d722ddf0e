#include "platform/prompt_wakeup.h"

namespace mub {

void askForPromptWakeups() {}

} // namespace mub
