// Rendering of the message table's texts with their insertion strings; the texts
// themselves and the kinds' ids are checked through the log in the messages suite.
#include <gtest/gtest.h>

#include <string>

#include "messages/message_table.h"

namespace {

TEST(MessageTable, InsertsEscapesAndLineBreaks) {
  const char* const kStrings[4] = {"V", "T", "P", "E"};
  const char* const kSparse[4] = {nullptr, "t", nullptr, nullptr};
  const char* const kTricky[4] = {"%2", "%1%n", "", ""};  // an inserted %-sequence is text
  const struct {
    const char* text;
    const char* const* strings;
    std::string expected;
  } kCases[] = {
      {"a%n\r\nb", kStrings, "a\nb"},  // %n takes the carriage return and line feed after it
      {"a%nb", kStrings, "a\nb"},
      {"a%n\nb", kStrings, "a\nb"},
      {"a%n\r\n%n\r\nb", kStrings, "a\n\nb"},
      {"a%n\r\n\r\nb", kStrings, "a\n\r\nb"},
      {"%4 %3 %2 %1", kStrings, "E P T V"},
      {"100%% %5 %x %", kStrings, "100% %5 %x %"},
      {"[%1][%2][%3][%4]", kSparse, "[][t][][]"},
      {nullptr, kStrings, ""},
      {"%2 %1", kTricky, "%1%n %2"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(lxmessages::ExpandMessage(c.text, c.strings), c.expected) << c.expected;
}

}  // namespace
