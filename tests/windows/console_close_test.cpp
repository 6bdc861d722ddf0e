// Closing mubtool.exe's console window is a stop like Ctrl+C, but Windows
// ends the program as soon as the control handler returns: the handler
// waits until the output, the end report included, is finished.
#include "tools/mubtool/stop_signals.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace mub::tool {
namespace {

TEST(ConsoleClose, IsAStopThatWaitsForTheEndOfTheOutput) {
    catchStopSignals();
    ASSERT_FALSE(stopSignalled());
    std::atomic<bool> returned{false};
    std::thread closing([&] {
        EXPECT_TRUE(handleConsoleControl(CTRL_CLOSE_EVENT));
        returned = true;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!stopSignalled() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(stopSignalled());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(returned) << "the program would end before its end report";
    outputFinished();
    closing.join();
    EXPECT_TRUE(returned);
    // Other events than the three are the system's.
    EXPECT_FALSE(handleConsoleControl(CTRL_LOGOFF_EVENT));
}

} // namespace
} // namespace mub::tool
