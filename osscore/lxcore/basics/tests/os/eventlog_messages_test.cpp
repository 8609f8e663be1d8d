// Rendering of the message table's texts with their insertion strings; the texts
// themselves and the kinds' ids are checked through the log in the messages suite.
#include <gtest/gtest.h>

#include <string>

#include "messages/message_table.h"

namespace {

const char* const kStrings[4] = {"V", "T", "P", "E"};

TEST(MessageTable, LineBreakTakesTheFollowingCarriageReturnAndLineFeed) {
  EXPECT_EQ("a\nb", lxmessages::ExpandMessage("a%n\r\nb", kStrings));
  EXPECT_EQ("a\nb", lxmessages::ExpandMessage("a%nb", kStrings));
  EXPECT_EQ("a\nb", lxmessages::ExpandMessage("a%n\nb", kStrings));
  EXPECT_EQ("a\n\nb", lxmessages::ExpandMessage("a%n\r\n%n\r\nb", kStrings));
  EXPECT_EQ("a\n\r\nb", lxmessages::ExpandMessage("a%n\r\n\r\nb", kStrings));
}

TEST(MessageTable, InsertsAndEscapes) {
  EXPECT_EQ("E P T V", lxmessages::ExpandMessage("%4 %3 %2 %1", kStrings));
  EXPECT_EQ("100% %5 %x %", lxmessages::ExpandMessage("100%% %5 %x %", kStrings));
  const char* const withNulls[4] = {nullptr, "t", nullptr, nullptr};
  EXPECT_EQ("[][t][][]", lxmessages::ExpandMessage("[%1][%2][%3][%4]", withNulls));
  EXPECT_EQ("", lxmessages::ExpandMessage(nullptr, kStrings));
  // An inserted %-sequence is text, not a further insert.
  const char* const tricky[4] = {"%2", "%1%n", "", ""};
  EXPECT_EQ("%1%n %2", lxmessages::ExpandMessage("%2 %1", tricky));
}

}  // namespace
