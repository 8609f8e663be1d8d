// This library's identity as a module of the runtime, fixed when it is built, and
// the text area that the loader and the description share.
#pragma once

#include <cstdint>

namespace lxmodules {

// Parts of every module file name (see DllNameClass).
constexpr const char* kVersionTag = "95";
constexpr const char* kCompilerTag = "71";

constexpr uint32_t kMajor = 9;
constexpr uint32_t kMinor = 5;
constexpr uint32_t kRelease = 23;
constexpr uint32_t kBuild = 262;
constexpr uint32_t kPatch = 0;
constexpr const char* kVersionText = "9.5.23.262.0 ";
constexpr const char* kModuleName = "lx95Cbs71";
constexpr const char* kDescription = "Orvanta Basic Algorithms";

// The shared text area of the loader: GetErrText, GetPhysicalModuleName, the
// trace of a load and the path of a description. Each use overwrites it.
constexpr int kTextAreaSize = 1024;
char* TextArea();

}  // namespace lxmodules
