// Helpers for reading settings from the installed configuration source.
#pragma once

#include "lxframe.h"

namespace lxframe {

// Section paths the library reads from (null-terminated arrays of names).
extern const char* const kSectionDebug[];
extern const char* const kSectionDebugMemory[];
extern const char* const kSectionTop[];
extern const char* const kSectionTest[];
extern const char* const kSectionServer[];

}  // namespace lxframe
