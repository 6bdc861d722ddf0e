// line_floor_peer BAUD BLOCKS: the machine's side of the bare exchange on a
// new pseudo-terminal, every byte paced to its line time as the simulated
// machine paces them. Prints the terminal's path, then, once the end byte
// came, "seconds S": from the ready byte's arrival at the tool to the end
// byte's arrival here.
#include "platform/prompt_wakeup.h"
#include "tools/line_floor/line_floor.h"
#include "tools/simulator/pty_line.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace mub;
    const long baud = argc == 3 ? std::strtol(argv[1], nullptr, 10) : 0;
    const long blocks = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (baud <= 0 || blocks <= 0) {
        std::fprintf(stderr, "usage: line_floor_peer BAUD BLOCKS\n");
        return 2;
    }
    askForPromptWakeups(); // as the simulated machine does
    sim::PtyLine line;
    std::string error;
    if (!line.open(static_cast<std::uint32_t>(baud), error)) {
        std::fprintf(stderr, "line_floor_peer: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", line.path().c_str());
    std::fflush(stdout);

    const std::atomic<bool> never{false};
    // The tool's terminal is open once it sends its first byte, any byte.
    std::vector<std::uint8_t> received;
    if (!line.read(received, 30000, never)) {
        std::fprintf(stderr, "line_floor_peer: the tool sent nothing\n");
        return 1;
    }
    received.clear();
    line.write({floor::readyByte}, never);
    const auto start = std::chrono::steady_clock::now();

    long answered = 0;
    std::size_t used = 0;
    while (answered < blocks || received.size() <= used) {
        if (!line.read(received, 5000, never)) {
            std::fprintf(stderr, "line_floor_peer: the tool went quiet after %ld blocks\n", answered);
            return 1;
        }
        while (answered < blocks && received.size() - used >= floor::blockBytes) {
            used += floor::blockBytes;
            ++answered;
            line.reply({floor::answerByte}, never);
        }
    }
    if (received[used] != floor::endByte) {
        std::fprintf(stderr, "line_floor_peer: no end byte after the blocks\n");
        return 1;
    }
    std::printf("seconds %.6f\n", std::chrono::duration<double>(line.receivedBy() - start).count());
    return 0;
}
