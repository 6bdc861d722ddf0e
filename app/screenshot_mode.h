// Review pictures: when UPGRADER_SCREENSHOTS names a folder, the program
// drives itself once through idle, open, transfer and About, saves a PNG of
// each and closes. UPGRADER_SCREENSHOT_FILE names the upgrade file to open.
// Without the variable nothing changes.
#pragma once

namespace mub {

class MainWindow;

void startScreenshotModeIfAsked(MainWindow& window);

} // namespace mub
