// LxString: the runtime's string class as far as this library sees it.
//
// The string class belongs to another module of the runtime; this library only
// passes a reference to one on to a server-console back end (lxmessages.h). What
// is declared here is the least a back end needs of it, its text, so that the
// library and its tests build on their own. The string owns a copy of its text.
#pragma once

#include <cstdint>
#include <string>

class LxString {
 public:
  LxString() = default;
  // Copies `text`; null makes an empty string.
  explicit LxString(const char* text) : text(text ? text : "") {}
  LxString(const LxString&) = default;
  LxString& operator=(const LxString&) = default;

  // The text, terminated; valid while the string lives unchanged.
  const char* GetText() const { return text.c_str(); }
  // The number of characters before the terminator.
  int32_t GetLength() const { return static_cast<int32_t>(text.size()); }

 protected:
  std::string text;
};
