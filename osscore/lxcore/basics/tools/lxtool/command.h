// The command table of lxtool and the one parser that every command shares.
//
// A command line is
//
//   lxtool NAME [ACTION] [OPTION...] [--] [OPERAND...]
//
// where NAME (and, for the commands that have them, ACTION) select one row of
// the table. Options are "--name", "--name VALUE", "--name=VALUE", "-x" and
// "-x VALUE". They come before the operands: the first operand, or "--", ends
// them, so that an operand may look like an option ("reg set K --help sz x"
// stores a value named --help). An argument that is "-" alone or starts with
// '-' and a digit is an operand (standard input, a negative number). "-h" and
// "--help" among the options print the command's help on standard output.
//
// Every command ends with one of the exit statuses below. A failure prints one
// line on standard error, "lxtool: NAME[ ACTION]: what was wrong". Standard
// output is flushed by the dispatcher, and a failed write there turns a
// successful run into kExitFailed.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lxtool {

enum ExitStatus : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct Option {
  const char* name;   // "--block" or "-n"
  const char* alias;  // a second spelling ("-f" for "--follow"), or null
  const char* value;  // what its value is called ("BYTES"), or null for a flag
};

class Invocation;

constexpr int kAnyNumber = -1;

struct Command {
  const char* name;      // "crc32", "reg set": the words that select the row
  const char* summary;   // the first row of a name: one line for the overview
  const char* help;      // shared by the rows of one name: the text of --help
  const char* operands;  // for usage messages: "KEY VALUE TYPE DATA"
  int minOperands;
  int maxOperands;  // or kAnyNumber
  std::vector<Option> options;
  int (*run)(const Invocation&);
};

// The parsed command line of one row.
class Invocation {
 public:
  Invocation(const Command& command, std::vector<std::string> operands,
             std::vector<std::pair<const Option*, std::string>> given)
      : command_(command), operands_(std::move(operands)), given_(std::move(given)) {}

  const Command& GetCommand() const { return command_; }
  const std::vector<std::string>& Operands() const { return operands_; }

  // True when option `name` (its first spelling in the table) was given.
  bool Has(const char* name) const;
  // The value of the last `name` given, or null when it was not given.
  const char* Value(const char* name) const;

 private:
  const Command& command_;
  std::vector<std::string> operands_;
  std::vector<std::pair<const Option*, std::string>> given_;
};

// The table, in the order the overview lists it (main.cpp).
const std::vector<Command>& Commands();

// Runs the command line: finds the row, parses it, runs it and checks standard
// output. Returns the exit status.
int Dispatch(int argc, char** argv);

// Print "lxtool: NAME: " and the message on standard error, and return
// kExitFailed or kExitUsage.
int Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
int UsageError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Parses a whole decimal number, or hexadecimal after "0x", of at most `max`;
// no sign, blanks or octal. False (and *value untouched) otherwise.
bool ParseNumber(const char* text, uint64_t max, uint64_t* value);

}  // namespace lxtool
