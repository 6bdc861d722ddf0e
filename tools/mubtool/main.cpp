// mubtool: the command-line companion of the upgrader.
#include "tools/mubtool/command.h"

#include "upgrade/program_version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace mub::tool {

namespace {
std::vector<CommandEntry>& registry() {
    static std::vector<CommandEntry> entries;
    return entries;
}
} // namespace

MubtoolCommand::MubtoolCommand(const char* name, const char* summary, int (*run)(const std::vector<std::string>&)) {
    registry().push_back({name, summary, run});
}

const std::vector<CommandEntry>& commands() { return registry(); }

int usageError(const char* command, const std::string& what) {
    std::fprintf(stderr, "mubtool %s: %s\nsee 'mubtool %s --help'\n", command, what.c_str(), command);
    return ExitUsage;
}

} // namespace mub::tool

namespace {

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: mubtool COMMAND [ARGS...]\n       mubtool COMMAND --help\n       mubtool --version\n\n"
                      "commands:\n");
    auto entries = mub::tool::commands();
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& e : entries) std::fprintf(out, "  %-10s %s\n", e.name, e.summary);
}

} // namespace

int mub::tool::runMubtool(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("mubtool: a command is required\nsee 'mubtool --help'\n", stderr);
        return mub::tool::ExitUsage;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return mub::tool::ExitOk;
    }
    if (name == "--version") {
        std::printf("mubtool %s\n", mub::programVersion().c_str());
        return mub::tool::ExitOk;
    }
    for (const auto& e : mub::tool::commands()) {
        if (name == e.name) return e.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "mubtool: unknown command '%s'\nsee 'mubtool --help'\n", name.c_str());
    return mub::tool::ExitUsage;
}
