// LxSet/Get/DeleteRegistryEntry with any paths, values and buffer sizes against a model
// keyed by folded key path and value name: parameter faults are refused, values read back
// byte for byte or report the size they need, the buffer's last byte stays untouched, and
// a failed set may leave its entry deleted. Input: up to 12 operations on an emptied key.
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxplatform.h"
#include "os/registry.h"

namespace {

const char kBase[] = "SOFTWARE\\Vesk Software\\Orvanta";

std::string Name(lxfuzz::Input& in) {
  static const char* const kNames[] = {"a",        "A",  "Server", "SERVER", "port",
                                       "x\\y",     "",   "\\",     "sp ace", "\xc3\xa9",
                                       "\xc3\x89", "..", "%s%n",   "Port\\", "\\Port"};
  const uint8_t pick = in.Byte();
  if (pick < 16 * 12) return kNames[pick % 15];
  if (pick < 240) return in.Text(40);
  return std::string(200 + pick, static_cast<char>('k' + (pick & 3)));
}

std::string Fold(std::string s) {
  for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  lxfuzz::PrivateState("registry");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxos::RegDeleteTree(kBase);
  lxfuzz::Input in(data, size);
  std::map<std::string, std::string> model;  // folded "key|name" -> value
  std::set<std::string> unknown;             // entries a failed set may have deleted

  for (int step = 0; step < 12 && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    const int nameCount = in.Below(5);
    std::vector<std::string> names;
    for (int i = 0; i < nameCount; ++i) names.push_back(Name(in));
    std::vector<const char*> path;
    for (const std::string& n : names) path.push_back(n.c_str());
    path.push_back(nullptr);
    const bool nullPath = (op & 0x80) != 0 && (op & 0x40) != 0;
    const char* const* pathArg = nullPath ? nullptr : path.data();

    // The key path as the functions compose it, and whether it is refused.
    std::string key = kBase;
    for (int i = 0; i + 1 < nameCount; ++i) key += "\\" + names[i];
    const bool invalid = nullPath || nameCount == 0 || key.size() >= 260;
    const std::string id = Fold(key) + "|" + (nameCount > 0 ? Fold(names.back()) : std::string());

    switch (op % 3) {
      case 0: {  // set
        const std::string value = (op & 0x10) ? in.Text(300) : std::string("v") + std::to_string(step);
        int32_t sizeArg = (op & 0x20) ? 0 : 7;
        const int r = LxSetRegistryEntry(pathArg, value.c_str(), sizeArg);
        if (invalid || sizeArg == 0) {
          FUZZ_CHECK(r == LX_REGISTRY_INVALID_PARAMETER);
          break;
        }
        FUZZ_CHECK(r == 0 || r == LX_REGISTRY_FAILED);
        FUZZ_CHECK(sizeArg == 7);
        if (r == 0) {
          model[id] = value;
          unknown.erase(id);
        } else {
          model.erase(id);
          unknown.insert(id);
        }
        break;
      }
      case 1: {  // get into a buffer of exactly the size given
        const int32_t given = static_cast<int32_t>(in.Below(400)) - 2;
        const bool nullBuffer = (op & 0x20) != 0 && (op & 0x10) != 0;
        char* buffer = given > 0 ? new char[given] : nullptr;
        if (buffer != nullptr) std::memset(buffer, 0x5a, static_cast<size_t>(given));
        int32_t sizeArg = given;
        const int r = LxGetRegistryEntry(
            pathArg, nullBuffer ? nullptr : (buffer ? buffer : reinterpret_cast<char*>(8)), sizeArg);
        if (invalid || nullBuffer || given < 1) {
          FUZZ_CHECK(r == LX_REGISTRY_INVALID_PARAMETER && sizeArg == given);
          delete[] buffer;
          break;
        }
        FUZZ_CHECK(buffer[given - 1] == 0x5a);
        auto it = model.find(id);
        if (it != model.end()) {
          const std::string& v = it->second;
          FUZZ_CHECK(sizeArg == static_cast<int32_t>(v.size()));
          if (static_cast<int32_t>(v.size()) <= given - 1) {
            FUZZ_CHECK(r == 0 && std::memcmp(buffer, v.data(), v.size()) == 0);
          } else {
            FUZZ_CHECK(r == LX_REGISTRY_FAILED);
          }
        } else if (unknown.count(id) == 0) {
          FUZZ_CHECK(r == LX_REGISTRY_FAILED);
          FUZZ_CHECK(sizeArg == given || sizeArg == given - 1);
        }
        delete[] buffer;
        break;
      }
      case 2: {  // delete
        const int r = LxDeleteRegistryEntry(pathArg);
        if (invalid) {
          FUZZ_CHECK(r == LX_REGISTRY_INVALID_PARAMETER);
          break;
        }
        if (unknown.count(id) == 0) FUZZ_CHECK(r == (model.count(id) ? 0 : LX_REGISTRY_FAILED));
        model.erase(id);
        unknown.erase(id);
        break;
      }
    }
  }
  return 0;
}
