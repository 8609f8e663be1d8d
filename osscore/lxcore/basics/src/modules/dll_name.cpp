// Module file names: "l", second_char, version tag, component, variant, compiler tag.
#include <cstdio>
#include <cstring>

#include "lxmodules.h"
#include "modules/identity.h"

char DllNameClass::second_char = 'x';

char* DllNameClass::GetDllName() {
  if (component == nullptr) return name;
  const int width = kMaxComponent;
  if (number != 0) {
    std::snprintf(name, sizeof name, "l%c%s%.*s%d%s", second_char, lxmodules::kVersionTag, width, component,
                  number, lxmodules::kCompilerTag);
  } else if (variant != 0) {
    std::snprintf(name, sizeof name, "l%c%s%.*s%c%s", second_char, lxmodules::kVersionTag, width, component,
                  variant, lxmodules::kCompilerTag);
  } else {
    std::snprintf(name, sizeof name, "l%c%s%.*s%s", second_char, lxmodules::kVersionTag, width, component,
                  lxmodules::kCompilerTag);
  }
  return name;
}

DllNameClass& DllNameClass::operator=(DllNameClass& other) {
  const char* composed = other.GetDllName();
  component = nullptr;
  variant = 0;
  number = 0;
  if (composed != name) std::memcpy(name, composed, std::strlen(composed) + 1);
  return *this;
}

char* DllNameClass::GetGenericDllName(const char* component, char* buffer) {
  std::sprintf(buffer, "l%c%s%s", second_char, component, lxmodules::kCompilerTag);
  return buffer;
}
