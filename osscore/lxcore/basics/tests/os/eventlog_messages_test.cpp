// The message table and the mapping of entry kinds: rendering with insertion
// strings, and the kinds' event types and ids, including the wrap of the id.
#include <gtest/gtest.h>

#include <string>

#include "messages/message_table.h"
#include "messages/syslog.h"

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

TEST(MessageTable, HoldsTheSixBlocksOfTexts) {
  const uint32_t ids[] = {1,          5,          6,          7,          8,         0x40000002,
                          0x80000003, 0xC0000004, 0xC0000009, 0xC000000A, 0xC000000B};
  for (uint32_t id : ids) EXPECT_NE(nullptr, lxmessages::MessageText(id)) << std::hex << id;
  for (uint32_t id : {0u, 2u, 3u, 4u, 9u, 0x40000000u, 0x40000001u, 0xC0000008u, 0xC000000Cu}) {
    EXPECT_EQ(nullptr, lxmessages::MessageText(id)) << std::hex << id;
  }
  EXPECT_STREQ("SUCCESS: %2 ", lxmessages::MessageText(1));
  EXPECT_STREQ("%2 %1%n\r\nPID=%3%n\r\nEXE=%4%n\r\nAborted.", lxmessages::MessageText(0xC000000A));
  // Without a text of its own an entry reads as its text.
  EXPECT_EQ("T", lxmessages::RenderMessage(0x4000000C, kStrings));
  EXPECT_EQ("T V\nPID=P", lxmessages::RenderMessage(8, kStrings));
}

TEST(EventKinds, MapToTypeAndId) {
  struct {
    int kind;
    uint16_t type;
    uint32_t id;
  } cases[] = {{1, 0, 1},
               {2, 4, 0x40000002},
               {3, 2, 0x80000003},
               {4, 1, 0xC0000004},
               {5, 0, 5},
               {8, 0, 8},
               {9, 1, 0xC0000009},
               {11, 1, 0xC000000B},
               {0, 4, 0x40000000},
               {12, 4, 0x4000000C},
               {-1, 4, 0x3FFFFFFF},
               {0x40000000, 4, 0x80000000},
               {0x7FFFFFFF, 4, 0xBFFFFFFF}};
  for (const auto& c : cases) {
    lxmessages::EventKind e = lxmessages::KindToEvent(c.kind);
    EXPECT_EQ(c.type, e.type) << c.kind;
    EXPECT_EQ(c.id, e.id) << c.kind;
  }
}

}  // namespace
