// Texts of the login dialogue's results.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "lxframe.h"

namespace {

char g_loginBuffer[LX_ERROR_BUFFER_SIZE];
// Holds the "Login failed" text that a text-only call returns.
char g_failedText[64];

const char* LoginText(int code) {
  switch (code) {
    case -2307:
      return "Login name is invalid";
    case -2302:
      return "Login name is not unique, please contact Admin";
    case -2301:
      return "Password is invalid";
    case -2017:
      return "Login data inconsistent, please contact Admin";
    case 0:
      return "Login to Database";
    case 1:
      return "Login to Dictionary";
    default:
      std::snprintf(g_failedText, sizeof g_failedText, "Login failed, Error was: %d", code);
      return g_failedText;
  }
}

}  // namespace

const char* LxLoginError(char* buffer, const char* prefix, int code, int textOnly) {
  if (buffer == nullptr) buffer = g_loginBuffer;
  const char* text = LoginText(code);
  if (textOnly) return text;
  if (prefix == nullptr) {
    std::snprintf(buffer, LX_ERROR_BUFFER_SIZE, "%s", text);
    return buffer;
  }
  // A prefix may be an earlier result that lies in the buffer being written:
  // format from a copy of it.
  char prefixCopy[LX_ERROR_BUFFER_SIZE];
  const uintptr_t at = reinterpret_cast<uintptr_t>(prefix);
  const uintptr_t start = reinterpret_cast<uintptr_t>(buffer);
  if (at >= start && at < start + LX_ERROR_BUFFER_SIZE) {
    const size_t length = strnlen(prefix, LX_ERROR_BUFFER_SIZE - 1 - (at - start));
    std::memcpy(prefixCopy, prefix, length);
    prefixCopy[length] = '\0';
    prefix = prefixCopy;
  }
  // Cut the prefix, not the code and text, when the whole does not fit.
  int tail = std::snprintf(nullptr, 0, " : %d -> %s", code, text);
  int room = static_cast<int>(LX_ERROR_BUFFER_SIZE) - 1 - tail;
  if (room < 0) room = 0;
  std::snprintf(buffer, LX_ERROR_BUFFER_SIZE, "%.*s : %d -> %s", room, prefix, code, text);
  return buffer;
}
