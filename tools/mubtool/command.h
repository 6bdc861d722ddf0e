// Subcommands of mubtool register themselves: each lives in a file of its
// own and defines one static MubtoolCommand.
#pragma once

#include <string>
#include <vector>

namespace mub::tool {

// Exit codes shared by every subcommand; a subcommand adds its own above 3.
enum : int { ExitOk = 0, ExitUsage = 1 };

struct MubtoolCommand {
    // name: the word after "mubtool"; summary: one line for "mubtool --help";
    // run: gets the arguments after the name, returns the exit code.
    MubtoolCommand(const char* name, const char* summary, int (*run)(const std::vector<std::string>& args));
};

struct CommandEntry {
    const char* name;
    const char* summary;
    int (*run)(const std::vector<std::string>& args);
};

const std::vector<CommandEntry>& commands();

// The whole program, called by main with its arguments (UTF-8 on Windows).
int runMubtool(int argc, char** argv);

} // namespace mub::tool
