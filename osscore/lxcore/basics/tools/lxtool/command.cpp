// The dispatcher: row lookup, option parsing, help, and the exit status.
#include "command.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "progress.h"

namespace lxtool {

namespace {

std::string g_current;  // the command being run, for message prefixes

void Report(const char* format, va_list args) {
  EraseProgressLine();
  std::fputs("lxtool: ", stderr);
  if (!g_current.empty()) std::fprintf(stderr, "%s: ", g_current.c_str());
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

// The first word of a row's name ("reg" of "reg set").
std::string Word(const Command& c) {
  const char* blank = std::strchr(c.name, ' ');
  return blank ? std::string(c.name, blank) : std::string(c.name);
}

bool HasActions(const Command& c) { return std::strchr(c.name, ' ') != nullptr; }

bool IsHelp(const char* arg) { return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0; }

// True for an argument that is an option: "-x...", but not "-" or "-5".
bool LooksLikeOption(const char* arg) {
  return arg[0] == '-' && arg[1] != '\0' && !(arg[1] >= '0' && arg[1] <= '9');
}

void PrintOverview(FILE* out) {
  std::fputs(
      "usage: lxtool COMMAND [ARGS...]   (lxtool COMMAND --help for details)\n"
      "       lxtool --version\n"
      "\n"
      "Reads and changes the state of the basics library from the shell.\n"
      "\n"
      "commands:\n",
      out);
  for (const Command& c : Commands()) {
    if (c.summary != nullptr) std::fprintf(out, "  %-10s %s\n", Word(c).c_str(), c.summary);
  }
  std::fputs(
      "\n"
      "Exit status: 0 success, 1 failure of the work, 2 usage error; every failure\n"
      "prints one line on standard error.\n",
      out);
}

// Lists the actions of `word` for a usage message: "query, set, delete".
std::string Actions(const std::string& word) {
  std::string list;
  for (const Command& c : Commands()) {
    if (Word(c) == word && HasActions(c))
      list += (list.empty() ? "" : ", ") + std::string(c.name + word.size() + 1);
  }
  return list;
}

const Option* FindOption(const Command& c, const std::string& spelling) {
  for (const Option& o : c.options) {
    if (spelling == o.name || (o.alias != nullptr && spelling == o.alias)) return &o;
  }
  return nullptr;
}

// Parses args[0..n) for row `c` into `operands` and `given`. Returns kExitOk,
// kExitUsage after a message, or -1 when help was asked for.
int Parse(const Command& c, int n, char** args, std::vector<std::string>* operands,
          std::vector<std::pair<const Option*, std::string>>* given) {
  bool optionsEnded = false;
  for (int i = 0; i < n; ++i) {
    const char* arg = args[i];
    if (optionsEnded || !LooksLikeOption(arg)) {
      operands->push_back(arg);
      optionsEnded = true;  // what follows an operand is data, whatever it looks like
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (IsHelp(arg)) return -1;
    std::string spelling = arg;
    const char* inlineValue = nullptr;
    const size_t equals = spelling.find('=');
    if (spelling.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      inlineValue = arg + equals + 1;
      spelling.resize(equals);
    }
    const Option* option = FindOption(c, spelling);
    if (option == nullptr) return UsageError("unknown option '%s'", spelling.c_str());
    if (option->value == nullptr) {
      if (inlineValue != nullptr) return UsageError("%s takes no value", option->name);
      given->emplace_back(option, std::string());
    } else if (inlineValue != nullptr) {
      given->emplace_back(option, inlineValue);
    } else if (i + 1 < n) {
      given->emplace_back(option, args[++i]);
    } else {
      return UsageError("%s needs %s", option->name, option->value);
    }
  }
  const int count = static_cast<int>(operands->size());
  if (c.maxOperands == 0 && count > 0) return UsageError("unexpected operand '%s'", (*operands)[0].c_str());
  if (count < c.minOperands || (c.maxOperands != kAnyNumber && count > c.maxOperands)) {
    return UsageError("%s expected", c.operands);
  }
  return kExitOk;
}

// Flushes standard output; a write that failed (a full disk, a closed pipe)
// makes the run a failure.
int FinishOutput(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  const int error = errno;
  if (status != kExitOk) return status;
  return Fail("cannot write the output: %s", std::strerror(error));
}

}  // namespace

bool Invocation::Has(const char* name) const { return Value(name) != nullptr; }

const char* Invocation::Value(const char* name) const {
  const char* value = nullptr;
  for (const auto& g : given_) {
    if (std::strcmp(g.first->name, name) == 0) value = g.second.c_str();
  }
  return value;
}

int Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Report(format, args);
  va_end(args);
  return kExitFailed;
}

int UsageError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Report(format, args);
  va_end(args);
  return kExitUsage;
}

bool ParseNumber(const char* text, uint64_t max, uint64_t* value) {
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = hex ? text + 2 : text;
  if (*digits == '\0') return false;
  uint64_t v = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    int d;
    if (*p >= '0' && *p <= '9') {
      d = *p - '0';
    } else if (hex && *p >= 'a' && *p <= 'f') {
      d = *p - 'a' + 10;
    } else if (hex && *p >= 'A' && *p <= 'F') {
      d = *p - 'A' + 10;
    } else {
      return false;
    }
    const uint64_t base = hex ? 16 : 10;
    if (v > (max - static_cast<uint64_t>(d)) / base) return false;
    v = v * base + static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) return UsageError("a command is expected (lxtool --help lists them)");
  if (IsHelp(argv[1]) || std::strcmp(argv[1], "help") == 0) {
    PrintOverview(stdout);
    return FinishOutput(kExitOk);
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::puts("lxtool " LXTOOL_VERSION);
    return FinishOutput(kExitOk);
  }
  const std::string word = argv[1];
  const Command* row = nullptr;
  const Command* first = nullptr;  // the first row of the word, which has its help
  for (const Command& c : Commands()) {
    if (Word(c) != word) continue;
    if (first == nullptr) first = &c;
    if (!HasActions(c) || (argc > 2 && std::strcmp(c.name + word.size() + 1, argv[2]) == 0)) {
      row = &c;
      break;
    }
  }
  if (first == nullptr) return UsageError("unknown command '%s' (lxtool --help lists them)", argv[1]);
  g_current = word;
  if (row == nullptr) {
    if (argc > 2 && IsHelp(argv[2])) {
      std::fputs(first->help, stdout);
      return FinishOutput(kExitOk);
    }
    const std::string actions = Actions(word);
    if (argc < 3) return UsageError("an action is expected: %s", actions.c_str());
    return UsageError("unknown action '%s' (%s)", argv[2], actions.c_str());
  }
  g_current = row->name;
  const int skip = HasActions(*row) ? 3 : 2;
  std::vector<std::string> operands;
  std::vector<std::pair<const Option*, std::string>> given;
  const int parsed = Parse(*row, argc - skip, argv + skip, &operands, &given);
  if (parsed == -1) {
    std::fputs(first->help, stdout);
    return FinishOutput(kExitOk);
  }
  if (parsed != kExitOk) return parsed;
  return FinishOutput(row->run(Invocation(*row, std::move(operands), std::move(given))));
}

}  // namespace lxtool
