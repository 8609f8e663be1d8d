// The server console: the front end LxServCons and the default operations of its
// back end _LxServCons, which write to the debugger output.
#include <cstdarg>
#include <cstdio>

#include "lxmessages.h"
#include "os/diag.h"

namespace {
// The front end formats printf output into a buffer of this size.
constexpr size_t kPrintfBufferSize = 512;
}  // namespace

_LxServCons::~_LxServCons() = default;

void _LxServCons::write(const char* text, int /*length*/) {
  if (text != nullptr) lxos::DebugOutput(text);
}

void _LxServCons::terminateLine() { write("\r\n", 2); }

void _LxServCons::flush() {}

LxServCons::LxServCons() : implementation(nullptr), flags(kEnabled) {}

LxServCons::LxServCons(_LxServCons* implementation) : implementation(implementation), flags(kEnabled) {}

LxServCons::~LxServCons() = default;

_LxServCons* LxServCons::setImplementation(_LxServCons* newImplementation) {
  _LxServCons* previous = implementation;
  implementation = newImplementation;
  return previous;
}

LxServCons& LxServCons::operator<<(const char* text) {
  if (Active() && text != nullptr) implementation->write(text, -1);
  return *this;
}

LxServCons& LxServCons::operator<<(const LxString& text) {
  if (Active()) implementation->write(text);
  return *this;
}

LxServCons& LxServCons::operator<<(int32_t value) {
  // printf() checks for the back end itself.
  if (flags & kEnabled) printf("%ld", static_cast<long>(value));
  return *this;
}

LxServCons& LxServCons::operator<<(LxServCons& (*manipulator)(LxServCons&)) { return manipulator(*this); }

LxServCons& LxServCons::printf(const char* format, ...) {
  if (!Active()) return *this;
  char buffer[kPrintfBufferSize];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  // An encoding error leaves nothing worth writing.
  if (n >= 0) implementation->write(buffer, -1);
  return *this;
}

LxServCons& LxServCons::terminateLine() {
  if (Active()) implementation->terminateLine();
  return *this;
}

LxServCons& LxServCons::flush() {
  if (Active()) implementation->flush();
  return *this;
}

LxServCons& endl(LxServCons& console) {
  console.terminateLine();
  console.flush();
  return console;
}
