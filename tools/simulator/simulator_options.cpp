#include "tools/simulator/simulator_options.h"

#include "platform/gbk_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace mub::sim {

namespace {

bool parseInt(const std::string& text, long long min, long long max, long long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max) return false;
    out = value;
    return true;
}

// "N" or "N:TIMES", several separated by commas; each adds to the map.
bool parseBlockList(const std::string& text, std::map<int, int>& out) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::size_t colon = item.find(':');
        long long block = 0, times = 1;
        if (!parseInt(item.substr(0, colon), 1, INT_MAX, block)) return false;
        if (colon != std::string::npos && !parseInt(item.substr(colon + 1), 1, INT_MAX, times)) return false;
        out[static_cast<int>(block)] += static_cast<int>(times);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

} // namespace

const char* simulatorUsage() {
    return "usage: mubtool simulate [OPTIONS]\n"
           "\n"
           "Plays a machine on a new pseudo-terminal. The first line on stdout is the\n"
           "terminal's path; point the upgrader at it (as a COM port mapped to that\n"
           "path, or through the stand-in bridge with BRIDGEMINI_DEVICE=PATH).\n"
           "Runs until SIGINT or SIGTERM.\n"
           "\n"
           "identity:\n"
           "  --model TEXT            model reply (default QM-3000)\n"
           "  --hardware TEXT         hardware version reply (default HW-1.0)\n"
           "  --software TEXT         software version reply (default 1.00)\n"
           "  --pad N                 append N zero bytes to every identity reply\n"
           "  --baud N                pace every byte at N baud (10 bits a byte), both ways\n"
           "  --machines N            N machines at once, each on a terminal of its own;\n"
           "                          the first N lines on stdout are their paths, and\n"
           "                          --save-image and --report paths get -1, -2, ...\n"
           "                          before their extension (--plan too)\n"
           "  --plan FILE             a series of machines on the line, one after\n"
           "                          another: a line of FILE per machine with its own\n"
           "                          options (no --machines, --baud, --plan; blank\n"
           "                          lines and # comments left out), over those of\n"
           "                          the command line; --replaced-after-end,\n"
           "                          --swap-after, --leave-after and the hang-ups of\n"
           "                          --disconnect-at and --disconnect-after take the\n"
           "                          machine away, the line stays, and the next one is\n"
           "                          there after the gap (--away, or the MS of\n"
           "                          --replaced-after-end); after the last none is,\n"
           "                          nor after the ones on the lines at a SIGUSR1;\n"
           "                          \"PATH empty\" on stdout then\n"
           "  --leave-after MS        in a plan: taken away MS ms after it was put on\n"
           "                          the line, whatever it is doing\n"
           "life after an upgrade:\n"
           "  --reboot MS             after the end packet restart: silent for MS ms,\n"
           "                          then report the software version the upgrade sent\n"
           "  --swap-after MS         MS ms after that, the machine is taken away: silent\n"
           "                          for --away MS (default 5000), then a new machine of\n"
           "                          the first identity is there\n"
           "  --replaced-after-end MS pulled as soon as the end packet is answered (at\n"
           "                          the beep): silent for MS ms, then a new machine of\n"
           "                          the first identity is there\n"
           "faults while identifying:\n"
           "  --silent                answer nothing at all\n"
           "  --no-confirm            answer the probe, never echo the confirmation\n"
           "  --corrupt-frames K      send K identity replies with a wrong checksum\n"
           "  --corrupt-requests SET  requests the corruption applies to (default MPF)\n"
           "  --stream-on-request SET answer these requests (letters of MPF) with noise\n"
           "                          bytes sent without a pause and without end\n"
           "faults during the transfer (blocks count from 1):\n"
           "  --reject-block N[:T],...  answer 0x15 to block N (T times, default once)\n"
           "  --ignore-block N[:T],...  do not answer block N (T times)\n"
           "  --too-large-at N        answer 0x18 at block N\n"
           "  --checksum-error-at N   answer 0x04 at block N\n"
           "  --disconnect-at N       close the line at block N and exit\n"
           "  --disconnect-after N    close the line and exit as soon as the tool has\n"
           "                          taken the acknowledgement of block N\n"
           "  --no-ready              never send \"C\"\n"
           "  --repeat-request        after the begin byte ask \"M\" again and again\n"
           "  --noise-from N          answer block N and every later one with noise\n"
           "                          bytes sent without a pause and without end\n"
           "  --stray-byte-at N[:T],... send a byte of no meaning before the answer to\n"
           "                          block N (T times)\n"
           "results:\n"
           "  --save-image PATH       save the received image when the end packet comes\n"
           "  --image-length N        save exactly N bytes (default: the received blocks\n"
           "                          with the trailing 0xFF bytes of the last block removed)\n"
           "  --report PATH           JSON report, written after each transfer and at exit\n";
}

SimulatorOptions machineOptions(const SimulatorOptions& options, int number) {
    SimulatorOptions own = options;
    if (options.machines <= 1) return own;
    for (std::string* path : {&own.saveImagePath, &own.reportPath, &own.planPath}) {
        if (path->empty()) continue;
        const std::size_t slash = path->find_last_of('/');
        std::size_t dot = path->find_last_of('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
            dot = path->size();
        path->insert(dot, "-" + std::to_string(number));
    }
    return own;
}

bool parseSimulatorOptions(const std::vector<std::string>& args, SimulatorOptions& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](long long min, long long max, long long& out) {
            std::string text;
            if (!value(text)) return false;
            if (!parseInt(text, min, max, out)) {
                error = "bad number for " + arg + ": " + text;
                return false;
            }
            return true;
        };
        std::string text;
        long long n = 0;
        if (arg == "--model" || arg == "--hardware" || arg == "--software") {
            if (!value(text)) return false;
            std::string converted = gbk(text);
            (arg == "--model" ? options.model : arg == "--hardware" ? options.hardware : options.software) = converted;
        } else if (arg == "--pad") {
            if (!number(0, 200, n)) return false;
            options.padding = static_cast<int>(n);
        } else if (arg == "--baud") {
            if (!number(0, 4000000, n)) return false;
            options.baud = static_cast<std::uint32_t>(n);
        } else if (arg == "--machines") {
            if (!number(1, 64, n)) return false;
            options.machines = static_cast<int>(n);
        } else if (arg == "--plan") {
            if (!value(options.planPath)) return false;
        } else if (arg == "--reboot" || arg == "--swap-after" || arg == "--away" || arg == "--replaced-after-end" ||
                   arg == "--leave-after") {
            if (!number(0, 3600000, n)) return false;
            (arg == "--reboot"       ? options.rebootMs
             : arg == "--swap-after" ? options.swapAfterMs
             : arg == "--away"       ? options.awayMs
             : arg == "--leave-after" ? options.leaveAfterMs
                                     : options.replacedAfterEndMs) = static_cast<int>(n);
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--no-confirm") {
            options.noConfirm = true;
        } else if (arg == "--corrupt-frames") {
            if (!number(0, INT_MAX, n)) return false;
            options.corruptFrames = static_cast<int>(n);
        } else if (arg == "--corrupt-requests") {
            if (!value(text)) return false;
            if (text.empty() || text.find_first_not_of("MPF") != std::string::npos) {
                error = "--corrupt-requests takes letters of M, P and F";
                return false;
            }
            options.corruptRequests = text;
        } else if (arg == "--stream-on-request") {
            if (!value(text)) return false;
            if (text.empty() || text.find_first_not_of("MPF") != std::string::npos) {
                error = "--stream-on-request takes letters of M, P and F";
                return false;
            }
            options.streamRequests = text;
        } else if (arg == "--reject-block" || arg == "--ignore-block" || arg == "--stray-byte-at") {
            if (!value(text)) return false;
            auto& list = arg == "--reject-block"   ? options.rejectBlock
                         : arg == "--ignore-block" ? options.ignoreBlock
                                                   : options.strayByte;
            if (!parseBlockList(text, list)) {
                error = "bad block list for " + arg + ": " + text;
                return false;
            }
        } else if (arg == "--too-large-at" || arg == "--checksum-error-at" || arg == "--disconnect-at" ||
                   arg == "--disconnect-after" || arg == "--noise-from") {
            if (!number(1, INT_MAX, n)) return false;
            int block = static_cast<int>(n);
            (arg == "--too-large-at"        ? options.tooLargeAt
             : arg == "--checksum-error-at" ? options.checksumErrorAt
             : arg == "--disconnect-at"     ? options.disconnectAt
             : arg == "--disconnect-after"  ? options.disconnectAfter
                                            : options.noiseFrom) = block;
        } else if (arg == "--no-ready") {
            options.noReady = true;
        } else if (arg == "--repeat-request") {
            options.repeatRequest = true;
        } else if (arg == "--save-image") {
            if (!value(options.saveImagePath)) return false;
        } else if (arg == "--image-length") {
            if (!number(0, LLONG_MAX, n)) return false;
            options.imageLength = n;
        } else if (arg == "--report") {
            if (!value(options.reportPath)) return false;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (options.leaveAfterMs >= 0 && options.planPath.empty() && !options.planned) {
        error = "--leave-after is for the machines of a --plan";
        return false;
    }
    return true;
}

} // namespace mub::sim
