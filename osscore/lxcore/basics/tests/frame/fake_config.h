// A configuration object for tests: values keyed by "section/section/key", with a
// count of the reads made through it.
#pragma once

#include <lxframe.h>

#include <cstring>
#include <map>
#include <string>

class FakeConfig : public LxConfig {
 public:
  void SetInt(const std::string& path, int32_t v) { ints_[path] = v; }
  void SetString(const std::string& path, const std::string& v) { strings_[path] = v; }

  int ReadInt(const char* key, int32_t* value, const char* const* section) override {
    ++reads;
    auto it = ints_.find(Path(key, section));
    if (it == ints_.end()) return 1;
    *value = it->second;
    return 0;
  }
  int ReadFlag(const char* key, short* value, const char* const* section) override {
    ++reads;
    auto it = ints_.find(Path(key, section));
    if (it == ints_.end()) return 1;
    *value = static_cast<short>(it->second);
    return 0;
  }
  int ReadString(const char* key, char** value, const char* const* section) override {
    ++reads;
    auto it = strings_.find(Path(key, section));
    if (it == strings_.end()) return 1;
    std::strcpy(*value, it->second.c_str());
    return 0;
  }

  int reads = 0;

 private:
  static std::string Path(const char* key, const char* const* section) {
    std::string path;
    for (; section && *section; ++section) path += std::string(*section) + "/";
    return path + key;
  }
  std::map<std::string, int32_t> ints_;
  std::map<std::string, std::string> strings_;
};
