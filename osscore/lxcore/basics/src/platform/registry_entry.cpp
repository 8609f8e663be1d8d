// String values under the library's registry key.
#include "platform/registry_entry.h"

#include <cstring>
#include <new>

#include "lxplatform.h"
#include "os/registry.h"

namespace lxplatform {

bool ComposeEntryKey(const char* const* path, std::string* key, const char** value) {
  if (path == nullptr || path[0] == nullptr) return false;
  key->assign(kEntryBaseKey);
  size_t i = 0;
  for (; path[i + 1] != nullptr; ++i) {
    key->push_back('\\');
    key->append(path[i]);
    if (key->size() >= kEntryKeyBuffer) return false;
  }
  *value = path[i];
  return true;
}

}  // namespace lxplatform

// The key path and the store allocate. When an allocation fails and the memory
// handler gives up, std::bad_alloc ends the call, which then fails like any
// other failure of the store (-1); no exception leaves these functions.

int LxGetRegistryEntry(const char* const* path, char* buffer, int32_t& size) {
  if (path == nullptr || buffer == nullptr || size < 1) return LX_REGISTRY_INVALID_PARAMETER;
  try {
    std::string key;
    const char* value = nullptr;
    if (!lxplatform::ComposeEntryKey(path, &key, &value)) return LX_REGISTRY_INVALID_PARAMETER;
    if (lxos::RegKeyExists(key.c_str()) != lxos::kRegOk) return LX_REGISTRY_FAILED;
    // The store reports into `offered` what the query saw: the bytes copied, the
    // bytes needed, or (value missing) nothing, which leaves the offer in place.
    uint32_t offered = static_cast<uint32_t>(size) - 1;
    int32_t r = lxos::RegQueryValue(key.c_str(), value, nullptr, buffer, &offered);
    size = static_cast<int32_t>(offered);
    return r == lxos::kRegOk ? 0 : LX_REGISTRY_FAILED;
  } catch (const std::bad_alloc&) {
    return LX_REGISTRY_FAILED;
  }
}

int LxSetRegistryEntry(const char* const* path, const char* value, int32_t& size) {
  if (path == nullptr || value == nullptr || size == 0) return LX_REGISTRY_INVALID_PARAMETER;
  try {
    std::string key;
    const char* name = nullptr;
    if (!lxplatform::ComposeEntryKey(path, &key, &name)) return LX_REGISTRY_INVALID_PARAMETER;
    LxDeleteRegistryEntry(path);
    if (lxos::RegCreateKey(key.c_str()) != lxos::kRegOk) return LX_REGISTRY_FAILED;
    uint32_t length = static_cast<uint32_t>(std::strlen(value));
    return lxos::RegSetValue(key.c_str(), name, lxos::kRegSz, value, length) == lxos::kRegOk
               ? 0
               : LX_REGISTRY_FAILED;
  } catch (const std::bad_alloc&) {
    return LX_REGISTRY_FAILED;
  }
}

int LxDeleteRegistryEntry(const char* const* path) {
  if (path == nullptr) return LX_REGISTRY_INVALID_PARAMETER;
  try {
    std::string key;
    const char* value = nullptr;
    if (!lxplatform::ComposeEntryKey(path, &key, &value)) return LX_REGISTRY_INVALID_PARAMETER;
    return lxos::RegDeleteValue(key.c_str(), value) == lxos::kRegOk ? 0 : LX_REGISTRY_FAILED;
  } catch (const std::bad_alloc&) {
    return LX_REGISTRY_FAILED;
  }
}
