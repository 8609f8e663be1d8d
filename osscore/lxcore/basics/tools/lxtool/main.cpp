// lxtool: inspects and drives the basics library's state from the shell.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "command.h"

namespace lxtool {

static std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

bool RegisterCommand(const Command& command) {
  Registry().push_back(command);
  return true;
}

const std::vector<Command>& Commands() { return Registry(); }

bool WantsHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

int Fail(int status, const char* format, ...) {
  std::fputs("lxtool: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return status;
}

}  // namespace lxtool

static void Usage(FILE* out) {
  std::fprintf(out, "usage: lxtool COMMAND [ARGS...]   (lxtool COMMAND --help for details)\n\ncommands:\n");
  std::vector<lxtool::Command> commands = lxtool::Commands();
  std::sort(commands.begin(), commands.end(), [](const lxtool::Command& a, const lxtool::Command& b) {
    return std::strcmp(a.name, b.name) < 0;
  });
  for (const lxtool::Command& c : commands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
}

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const lxtool::Command& c : lxtool::Commands()) {
    if (std::strcmp(c.name, argv[1]) == 0) return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "lxtool: unknown command '%s'\n", argv[1]);
  Usage(stderr);
  return 2;
}
