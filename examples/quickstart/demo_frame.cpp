// The runtime frame as a module of the runtime meets it at start-up: it installs
// its configuration, hears of failed assertions through the fatal-error
// callback, and grows its buffers through mmResize.
#include <lxbasics.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "demo.h"

namespace {

// The configuration object that the runtime's configuration module would install:
// here a fixed set of integer settings, keyed by "section/key".
class DemoConfig : public LxConfig {
 public:
  int ReadInt(const char* key, int32_t* value, const char* const* section) override {
    auto it = ints_.find(Path(key, section));
    if (it == ints_.end()) return 1;
    *value = it->second;
    return 0;
  }
  int ReadFlag(const char*, short*, const char* const*) override { return 1; }
  int ReadString(const char*, char**, const char* const*) override { return 1; }

 private:
  static std::string Path(const char* key, const char* const* section) {
    std::string path;
    for (; section && *section; ++section) path += std::string(*section) + "/";
    return path + key;
  }
  std::map<std::string, int32_t> ints_{{"debug/assertMode", 1}};
};

DemoConfig g_config;
int g_fatalCalls = 0;

void OnFatalError(const char* expression, const char* file, int line) {
  ++g_fatalCalls;
  std::printf("fatal-error callback: '%s' at %s:%d\n", expression, file, line);
}

int FrameDemo() {
  DefaultConfig(&g_config);
  std::printf("configuration installed: %s\n", DefaultConfig(LX_QUERY_CONFIG) == &g_config ? "yes" : "no");

  SetFatalErrorCallback(OnFatalError);
  int result = VESK_assert("pages > 0", "quickstart.cpp", __LINE__);
  std::printf("VESK_assert in mode 1 returned %d and the program goes on\n", result);

  void* buffer = nullptr;
  int ok = mmResize(&buffer, 16) == 0;
  std::strcpy(static_cast<char*>(buffer), "sixteen bytes..");
  ok = ok && mmResize(&buffer, 1 << 20) == 0 &&
       std::strcmp(static_cast<char*>(buffer), "sixteen bytes..") == 0;
  std::printf("buffer grown from 16 bytes to 1 MiB with its contents kept: %s\n", ok ? "yes" : "no");
  mmResize(&buffer, 0);

  std::printf("%s\n", LxLoginError(nullptr, "quickstart", -2301, 0));
  return ok && result == 0 && g_fatalCalls == 1 && buffer == nullptr ? 0 : 1;
}

}  // namespace

QUICKSTART_DEMO(frame, 10, "Runtime frame: configuration, assertions, memory resizing", FrameDemo);
