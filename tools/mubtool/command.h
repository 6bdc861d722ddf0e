// Subcommands of mubtool register themselves: each lives in a file of its
// own and defines one static MubtoolCommand.
#pragma once

#include "upgrade/upgrade_ending.h"

#include <string>
#include <vector>

namespace mub::tool {

// Exit codes, the same for the same kind of ending in every subcommand
// (those of upgrade_ending.h, which old upgrade logs hold, and the
// station's own).
enum : int {
    ExitOk = 0,
    ExitUsage = 1,
    ExitFileFailure = EndFileFailure, // an input file cannot be read, decoded or written
    ExitLinkFailure = EndLinkFailure,
    ExitStopped = EndStopped,
    ExitSomeFailed = 10, // station: at least one machine failed
    ExitNoPort = 12,     // station: no port to work on
    ExitRecordsWait = 13,    // send: lines wait; the collector out of reach or not taking them now
    ExitRecordsRefused = 14, // send: the collector does not know the token
};

// A usage error of `mubtool COMMAND`: the one line that says what is wrong
// on stderr, then where the help is. Returns ExitUsage.
int usageError(const char* command, const std::string& what);

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
