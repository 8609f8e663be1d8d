// Helpers of the modules suite: a configuration object of the test's own, scoped
// changes of the configuration and of PATH, and a message object that records
// what the library shows instead of presenting it.
#pragma once

#include <lxframe.h>
#include <lxmessages.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace modtest {

// The directory that extra.cmake builds a group of test modules into.
inline std::string ModuleDir(const char* group) { return std::string(LXB_TEST_MODULE_DIR) + "/" + group; }

// Answers reads from two maps, keyed by the section path and the key joined with
// '/' ("debug/loadModule", or "defaultModulePath" at the top level).
class TestConfig : public LxConfig {
 public:
  std::map<std::string, short> flags;
  std::map<std::string, std::string> strings;

  int ReadInt(const char*, int32_t*, const char* const*) override { return 1; }
  int ReadFlag(const char* key, short* value, const char* const* section) override {
    auto it = flags.find(Path(key, section));
    if (it == flags.end()) return 1;
    *value = it->second;
    return 0;
  }
  int ReadString(const char* key, char** value, const char* const* section) override {
    auto it = strings.find(Path(key, section));
    if (it == strings.end()) return 1;
    std::strcpy(*value, it->second.c_str());
    return 0;
  }

 private:
  static std::string Path(const char* key, const char* const* section) {
    std::string path;
    for (; *section != nullptr; ++section) path += std::string(*section) + "/";
    return path + key;
  }
};

// Installs a configuration for the life of the scope, then none again.
class ConfigScope {
 public:
  explicit ConfigScope(LxConfig* config) { DefaultConfig(config); }
  ~ConfigScope() { DefaultConfig(nullptr); }
  ConfigScope(const ConfigScope&) = delete;
  ConfigScope& operator=(const ConfigScope&) = delete;
};

// Sets an environment variable for the life of the scope.
class EnvScope {
 public:
  EnvScope(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvScope() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// A message object that records each message instead of showing it.
struct RecordedMessage {
  const char* caption;
  uint32_t flags;
  std::string text;
};

class RecordingMsg : public LxMsg {
 public:
  static std::vector<RecordedMessage>& Messages() {
    static std::vector<RecordedMessage> messages;
    return messages;
  }
  uint32_t Output(const char* caption, uint32_t flags, const char* text) override {
    Messages().push_back({caption, flags, text});
    return LX_MSG_OK;
  }
};

// Puts a RecordingMsg in the place of the process-wide message object for the
// life of the scope, so that everything the library sends to LxMessage() is
// recorded, and puts the library's own object back afterwards. Both classes
// are stateless apart from their virtual table, so only the dispatch changes.
class RecordMessages {
 public:
  RecordMessages() {
    static_assert(sizeof(RecordingMsg) == sizeof(LxMsg), "the recorder must fit the library's object");
    RecordingMsg::Messages().clear();
    new (LxMessage()) RecordingMsg;
    previous_ = LxMessage()->SetEnabled(1);
  }
  ~RecordMessages() {
    LxMessage()->SetEnabled(previous_);
    new (LxMessage()) LxMsg;
  }
  RecordMessages(const RecordMessages&) = delete;
  RecordMessages& operator=(const RecordMessages&) = delete;

  const std::vector<RecordedMessage>& Messages() const { return RecordingMsg::Messages(); }

 private:
  int previous_ = 1;
};

}  // namespace modtest
