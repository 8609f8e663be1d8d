// What the test suites share. The test main gives every test process a private
// state directory: ORVANTA_STATE_DIR, ORVANTA_REGISTRY, ORVANTA_EVENTLOG (file
// sink) and ORVANTA_DEBUG_OUTPUT point into it, so no test touches the machine's.
#pragma once

#include <lxframe.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define LXTEST_ASAN 1  // AddressSanitizer owns the allocator: no allocation faults, no memory caps
#endif

namespace lxtest {

const std::string& StateDir();                    // without a trailing slash
std::string MakeTempDir(const std::string& tag);  // a fresh directory below StateDir()
std::string ReadFile(const std::string& path);    // "" when it cannot be read
bool WriteFile(const std::string& path, const std::string& data);

// Sets an environment variable (null: unsets it) for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr) {
    if (had_) old_ = std::getenv(name);
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool had_;
};

// A configuration answering from its maps, keyed "section/.../key"; ReadInt and
// ReadFlag share `ints`. `reads` counts the reads.
struct Config : LxConfig {
  std::map<std::string, int32_t> ints;
  std::map<std::string, std::string> strings;
  int reads = 0;
  int ReadInt(const char* key, int32_t* value, const char* const* section) override {
    auto it = ints.find(Key(key, section));
    return it == ints.end() ? 1 : (*value = it->second, 0);
  }
  int ReadFlag(const char* key, short* value, const char* const* section) override {
    int32_t v = 0;
    return ReadInt(key, &v, section) != 0 ? 1 : (*value = static_cast<short>(v), 0);
  }
  int ReadString(const char* key, char** value, const char* const* section) override {
    auto it = strings.find(Key(key, section));
    return it == strings.end() ? 1 : (std::strcpy(*value, it->second.c_str()), 0);
  }
  std::string Key(const char* key, const char* const* section) {
    std::string path;
    for (++reads; section != nullptr && *section != nullptr; ++section) path += std::string(*section) + "/";
    return path + key;
  }
};

// How a child process ended, and what it wrote to standard error.
struct ChildResult {
  bool exited = false;  // ended through exit(): `code` holds the status; else `signal`
  int code = -1;
  int signal = 0;
  std::string err;
};

// Every fork of the tests: a child that runs `body` and exits with its result
// (at once), or that executes argv[0]. Its standard error is kept for Result().
// `body` may report progress words through the pipe end it gets (Report).
class Child {
 public:
  explicit Child(const std::function<int(int progressFd)>& body);
  explicit Child(const std::vector<std::string>& argv);
  ~Child();  // kills and reaps a child that is still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool ReadProgress(uint32_t* word);  // false once the child closed the pipe
  bool WaitReady() {                  // the child's first report; false when it ended first
    uint32_t word;
    return ReadProgress(&word);
  }
  void Kill(int signal = SIGKILL);
  void Release() { Kill(SIGUSR1); }  // lets a child in AwaitRelease() go on
  int Wait();                        // the exit status, or 128 + the signal that ended the child
  const ChildResult& Result() const { return result_; }

 private:
  void Start(const std::function<void()>& inChild);
  int pid_ = -1, progress_ = -1, err_ = -1;
  ChildResult result_;
};

ChildResult RunInChild(const std::function<int()>& body);
void Report(int progressFd, uint32_t word);
void AwaitRelease(int progressFd);  // in a child: reports, then waits for the parent's Release()
void Nap(long micros);

// Allocation faults: RunWithMemoryLimit runs a child whose address space may grow
// by `extraBytes` only. In programs that link lxb_alloc_faults (its own malloc)
// the n-th allocation fails: AllocSweep runs `run(n)` (which arms, disarms and
// returns "" or what went wrong) for n = 1, 2, ... each in a child, until the
// armed failure did not happen or `limit` runs; "" or the first wrong, *runs runs.
ChildResult RunWithMemoryLimit(size_t extraBytes, const std::function<int()>& body);
bool AllocFaultsAvailable();
void ArmAllocFailure(long n, bool persistent = false);  // persistent: from the n-th call on
bool DisarmAllocFailure();                              // whether the armed failure happened
std::string AllocSweep(const std::function<std::string(long n)>& run, long limit = 4000,
                       long* runs = nullptr);

}  // namespace lxtest
