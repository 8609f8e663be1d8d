// LxError: the text of a result code, from a module's callback or the catalog.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "lxframe.h"
#include "lxmessages.h"
#include "messages/error_catalog.h"

namespace {

constexpr int kBufferSize = static_cast<int>(LX_ERROR_BUFFER_SIZE);

// Shared by every caller that passes no buffer of its own.
char g_errorBuffer[LX_ERROR_BUFFER_SIZE];

// Formats into a buffer of LX_ERROR_BUFFER_SIZE bytes; a longer result is cut at
// the buffer's end, which is what the callers below want.
__attribute__((format(printf, 2, 3))) void FormatInto(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, LX_ERROR_BUFFER_SIZE, format, args);
  va_end(args);
}

// A caller may hand back an earlier result as the prefix, and a module's callback
// may answer with a text it got from LxError. Formatting a buffer into itself is
// undefined, so a string that starts inside the buffer is copied to `copy`.
const char* Unaliased(const char* prefix, const char* buffer, char (&copy)[LX_ERROR_BUFFER_SIZE]) {
  uintptr_t p = reinterpret_cast<uintptr_t>(prefix);
  uintptr_t b = reinterpret_cast<uintptr_t>(buffer);
  if (p < b || p >= b + LX_ERROR_BUFFER_SIZE) return prefix;
  std::snprintf(copy, sizeof copy, "%s", prefix);
  return copy;
}

// Writes "prefix : code -> text". When the whole does not fit, the prefix is cut
// first, so that code and text stay readable; a text that does not fit on its
// own is cut at the end of the buffer.
void FormatWithPrefix(char* buffer, const char* prefix, int code, const char* text) {
  char copy[LX_ERROR_BUFFER_SIZE];
  char textCopy[LX_ERROR_BUFFER_SIZE];
  prefix = Unaliased(prefix, buffer, copy);
  text = Unaliased(text, buffer, textCopy);
  int tail = std::snprintf(nullptr, 0, " : %d -> %s", code, text);
  int room = kBufferSize - 1 - tail;
  if (room < 0) room = 0;
  FormatInto(buffer, "%.*s : %d -> %s", room, prefix, code, text);
}

// Writes "prefix : ok", the prefix cut when it is too long.
void FormatOk(char* buffer, const char* prefix) {
  char copy[LX_ERROR_BUFFER_SIZE];
  prefix = Unaliased(prefix, buffer, copy);
  int room = kBufferSize - 1 - static_cast<int>(sizeof(" : ok") - 1);
  FormatInto(buffer, "%.*s : ok", room, prefix);
}

}  // namespace

const char* LxError(char* buffer, const char* prefix, int code, int textOnly) {
  if (buffer == nullptr) buffer = g_errorBuffer;
  if (code == 0) {
    if (textOnly) return lxmessages::kOkText;
    if (prefix == nullptr) {
      std::memcpy(buffer, "0", 2);
    } else {
      FormatOk(buffer, prefix);
    }
    return buffer;
  }

  const char* text = nullptr;
  if (lxmessages::IsQueryLanguageCode(code)) {
    text = lxmessages::kQueryLanguageText;
  } else {
    text = LxModuleErrorCallbackList::GetInstance().GetError(code);
    if (text == nullptr) text = lxmessages::CatalogText(code);
  }

  if (textOnly) return text;
  if (prefix == nullptr) {
    // memmove, as the text may already lie in the buffer.
    size_t length = strnlen(text, LX_ERROR_BUFFER_SIZE - 1);
    std::memmove(buffer, text, length);
    buffer[length] = '\0';
  } else {
    FormatWithPrefix(buffer, prefix, code, text);
  }
  return buffer;
}
