// Helpers shared by the library's test suites.
//
// Every test process runs with a private state directory made by the test main:
// ORVANTA_STATE_DIR, ORVANTA_REGISTRY, ORVANTA_EVENTLOG (file sink) and
// ORVANTA_DEBUG_OUTPUT all point into it, so no test touches the machine's state.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace lxtest {

// The process's private state directory (without a trailing slash).
const std::string& StateDir();

// A fresh, empty directory below StateDir(), named after `tag`.
std::string MakeTempDir(const std::string& tag);

// The whole content of a file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

// Writes `data` to `path`, replacing it. Returns false on failure.
bool WriteFile(const std::string& path, const std::string& data);

// Ends a forked child at once with `code`, without running the parent's exit
// handlers; in a coverage build its counts are written first.
[[noreturn]] void ExitChild(int code);

// How a child process ended.
struct ChildResult {
  bool exited = false;  // true: ended through exit(), `code` holds the status
  int code = -1;
  int signal = 0;   // the terminating signal when !exited
  std::string err;  // what the child wrote to standard error
};

// Runs `body` in a forked child and waits for it. The child exits with the value
// `body` returns (0 when it returns normally). Standard error of the child is
// captured into ChildResult::err.
ChildResult RunInChild(const std::function<int()>& body);

// Runs `body` in a forked child whose address space is capped at `bytes` above
// what it already uses (setrlimit RLIMIT_AS), so real allocations fail.
ChildResult RunWithMemoryLimit(size_t extraBytes, const std::function<int()>& body);

// What a run of lxtool printed and how it ended.
struct ToolRun {
  int code = -1;  // exit status, -1 when it did not exit normally
  std::string out;
  std::string err;
};

// How lxtool runs: extra environment, standard input, and where its standard
// output and standard error go.
struct ToolSetup {
  std::vector<std::string> env;  // "NAME=value" each, added to this process's environment
  std::string input;             // standard input, all of it
  std::string outputFile;        // standard output to this file ("/dev/full"); empty: captured
  bool terminal = false;         // standard output a pseudo-terminal (captured, raw mode)
  bool errorTerminal = false;    // standard error a pseudo-terminal (captured, raw mode)
  size_t memoryLimit = 0;        // address-space cap in bytes, 0 none; not applied under ASan
};

// Runs the lxtool of this build with `args`, each one argument. A run that
// takes longer than a minute is killed (code -1).
ToolRun RunLxtool(const std::vector<std::string>& args, const ToolSetup& setup = ToolSetup());

}  // namespace lxtest
