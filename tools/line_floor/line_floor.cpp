// line_floor PORT BLOCKS: the tool's side of the bare exchange. The reply
// latency (an answer's arrival to the next block's write) goes where
// MUB_REPLY_LATENCY says, as in the program.
#include "tools/line_floor/line_floor.h"

#include "platform/prompt_wakeup.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    using namespace mub;
    const long blocks = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (blocks <= 0) {
        std::fprintf(stderr, "usage: line_floor PORT BLOCKS\n");
        return 2;
    }
    askForPromptWakeups(); // as the thread that runs an upgrade does
    std::unique_ptr<floor::FloorPort> port = floor::openFloorPort(argv[1]);
    if (!port) return 1;

    ReplyLatency latency;
    const std::vector<std::uint8_t> block(floor::blockBytes, 0x5A);
    const std::uint8_t hello = 0; // tells the peer the port is open
    if (!port->write(&hello, 1)) return 1;
    latency.arrived(port->waitForAnswer()); // the ready byte
    for (long i = 0; i < blocks; ++i) {
        latency.written(ReplyLatency::Clock::now());
        if (!port->write(block.data(), block.size())) return 1;
        latency.arrived(port->waitForAnswer());
    }
    if (!port->write(&floor::endByte, 1)) return 1;
    latency.report();
    std::fflush(nullptr);
    std::_Exit(0); // the listener is still in its read
}
