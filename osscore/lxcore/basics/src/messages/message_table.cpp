#include "messages/message_table.h"

namespace lxmessages {

namespace {

struct MessageEntry {
  uint32_t id;
  const char* text;
};

// The library's message table, in ascending id order. The ids carry the severity
// in their top two bits: 0x40000000 information, 0x80000000 warning, 0xC0000000
// error, none for success.
constexpr MessageEntry kMessages[] = {
    {0x00000001, "SUCCESS: %2 "},
    {0x00000005, "%2 %1"},
    {0x00000006, "%2 %1"},
    {0x00000007, "%2 %1%n\r\nPID=%3%n\r\nEXE=%4"},
    {0x00000008, "%2 %1%n\r\nPID=%3"},
    {0x40000002, "%2"},
    {0x80000003, "WARNING: %2 %1%n\r\nPID=%3%n\r\nEXE=%4"},
    {0xC0000004, "ERROR: %2 %1%n\r\nPID=%3%n\r\nEXE=%4"},
    {0xC0000009, "%2 %1%n\r\nPID=%3%n\r\nEXE=%4"},
    {0xC000000A, "%2 %1%n\r\nPID=%3%n\r\nEXE=%4%n\r\nAborted."},
    {0xC000000B, "%2 %1%n\r\nPID=%3%n\r\nEXE=%4"},
};

}  // namespace

const char* MessageText(uint32_t eventId) {
  for (const MessageEntry& entry : kMessages) {
    if (entry.id == eventId) return entry.text;
  }
  return nullptr;
}

std::string ExpandMessage(const char* text, const char* const strings[4]) {
  std::string out;
  if (text == nullptr) return out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '%' || p[1] == '\0') {
      out += *p;
      continue;
    }
    char c = *++p;
    if (c >= '1' && c <= '4') {
      const char* insert = strings != nullptr ? strings[c - '1'] : nullptr;
      if (insert != nullptr) out += insert;
    } else if (c == 'n') {
      out += '\n';
      // The line break of the table source that follows %n belongs to it.
      if (p[1] == '\r') ++p;
      if (p[1] == '\n') ++p;
    } else if (c == '%') {
      out += '%';
    } else {
      out += '%';
      out += c;
    }
  }
  return out;
}

std::string RenderMessage(uint32_t eventId, const char* const strings[4]) {
  const char* text = MessageText(eventId);
  if (text == nullptr) return std::string(strings != nullptr && strings[1] != nullptr ? strings[1] : "");
  return ExpandMessage(text, strings);
}

}  // namespace lxmessages
