// LxError: the text of a result code, from a module's callback or the catalog.
#include <cstdint>
#include <cstring>

#include "lxframe.h"
#include "lxmessages.h"
#include "messages/error_catalog.h"

namespace {

// Shared by every caller that passes no buffer of its own.
char g_errorBuffer[LX_ERROR_BUFFER_SIZE];

// Appends pieces to a buffer of LX_ERROR_BUFFER_SIZE bytes; whatever does not fit
// before the terminator's byte is dropped.
class BoundedText {
 public:
  explicit BoundedText(char* buffer) : start(buffer), next(buffer), left(LX_ERROR_BUFFER_SIZE - 1) {}

  void Append(const char* text, size_t length) {
    if (length > left) length = left;
    std::memcpy(next, text, length);
    next += length;
    left -= length;
  }
  // Terminates the text and returns its start.
  char* Finish() {
    *next = '\0';
    return start;
  }

 private:
  char* start;
  char* next;
  size_t left;
};

// The decimal form of `code` into `digits` (at least 11 bytes, no terminator);
// returns its length.
size_t FormatCode(int code, char* digits) {
  char reversed[11];
  size_t n = 0;
  // Unsigned, so that the most negative code has a magnitude.
  uint32_t magnitude = code < 0 ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code);
  do {
    reversed[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t length = 0;
  if (code < 0) digits[length++] = '-';
  while (n > 0) digits[length++] = reversed[--n];
  return length;
}

// A caller may hand back an earlier result as the prefix, and a module's callback
// may answer with a text it got from LxError. Such a string, starting inside the
// buffer that is about to be written, is copied to `copy` first.
const char* Unaliased(const char* text, const char* buffer, char (&copy)[LX_ERROR_BUFFER_SIZE]) {
  uintptr_t t = reinterpret_cast<uintptr_t>(text);
  uintptr_t b = reinterpret_cast<uintptr_t>(buffer);
  if (t < b || t >= b + LX_ERROR_BUFFER_SIZE) return text;
  size_t length = strnlen(text, LX_ERROR_BUFFER_SIZE - 1);
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

// Writes "prefix : code -> text". When the whole does not fit, the prefix is cut
// first, so that code and text stay readable; a text that does not fit on its
// own is cut at the end of the buffer.
void FormatWithPrefix(char* buffer, const char* prefix, int code, const char* text) {
  char prefixCopy[LX_ERROR_BUFFER_SIZE];
  char textCopy[LX_ERROR_BUFFER_SIZE];
  prefix = Unaliased(prefix, buffer, prefixCopy);
  text = Unaliased(text, buffer, textCopy);

  char digits[11];
  size_t digitCount = FormatCode(code, digits);
  size_t textLength = strnlen(text, LX_ERROR_BUFFER_SIZE);
  size_t tail = 3 + digitCount + 4 + textLength;
  size_t room = tail < LX_ERROR_BUFFER_SIZE - 1 ? LX_ERROR_BUFFER_SIZE - 1 - tail : 0;

  BoundedText out(buffer);
  out.Append(prefix, strnlen(prefix, room));
  out.Append(" : ", 3);
  out.Append(digits, digitCount);
  out.Append(" -> ", 4);
  out.Append(text, textLength);
  out.Finish();
}

// Writes "prefix : ok", the prefix cut when it is too long.
void FormatOk(char* buffer, const char* prefix) {
  char copy[LX_ERROR_BUFFER_SIZE];
  prefix = Unaliased(prefix, buffer, copy);
  BoundedText out(buffer);
  out.Append(prefix, strnlen(prefix, LX_ERROR_BUFFER_SIZE - 1 - 5));
  out.Append(" : ok", 5);
  out.Finish();
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
