// Subcommands of lxtool. A subcommand is a function that gets the arguments after
// its name (argv[0] is the subcommand's name) and returns the process's exit
// status: 0 success, 1 failure of the operation, 2 wrong usage.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace lxtool {

using CommandFunc = int (*)(int argc, char** argv);

struct Command {
  const char* name;
  const char* summary;  // one line for the overview
  CommandFunc run;
};

// Adds a subcommand; called by LXTOOL_COMMAND during static initialisation.
bool RegisterCommand(const Command& command);
const std::vector<Command>& Commands();

// True when argv holds -h or --help.
bool WantsHelp(int argc, char** argv);

// Prints "lxtool: " and the message to standard error; returns `status`.
int Fail(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace lxtool

#define LXTOOL_COMMAND(ident, name, summary, func) \
  static const bool lxtool_registered_##ident = ::lxtool::RegisterCommand({name, summary, func})
