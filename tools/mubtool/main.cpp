// mubtool: the command-line companion of the upgrader.
#include "tools/mubtool/command.h"

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

} // namespace mub::tool

namespace {

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: mubtool COMMAND [ARGS...]\n       mubtool COMMAND --help\n\ncommands:\n");
    auto entries = mub::tool::commands();
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& e : entries) std::fprintf(out, "  %-10s %s\n", e.name, e.summary);
}

} // namespace

int mub::tool::runMubtool(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return mub::tool::ExitUsage;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return mub::tool::ExitOk;
    }
    for (const auto& e : mub::tool::commands()) {
        if (name == e.name) return e.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "mubtool: unknown command '%s'\n\n", name.c_str());
    printUsage(stderr);
    return mub::tool::ExitUsage;
}
