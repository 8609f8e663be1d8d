// The message object: the answer named by ORVANTA_MESSAGE_ANSWER or the box's
// default button, the debugger breaks, the switch and its override, and what the
// box shows on standard error.
#include <gtest/gtest.h>
#include <lxmessages.h>
#include <signal.h>

#include <string>

#include "lxtest.h"

namespace {

// Box types (the low bits of the flags) and default buttons.
constexpr uint32_t kOk = 0, kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kYesNo = 4,
                   kRetryCancel = 5;
constexpr uint32_t kDefault2 = 0x100, kDefault3 = 0x200;
constexpr uint32_t kBreakBoth = LX_MSG_BREAK_ON_RETRY | LX_MSG_BREAK_ON_CANCEL;

struct CapturingMsg : LxVMsg {
  uint32_t Output(const char* caption, uint32_t flags, const char* text) override {
    lastCaption = caption ? caption : "(null)", lastFlags = flags, lastText = text, ++calls;
    return 0x12345678;
  }
  std::string lastCaption, lastText;
  uint32_t lastFlags = 0;
  int calls = 0;
};

TEST(Message, AnswersDefaultButtonsAndBreaks) {
  const struct {
    uint32_t flags;
    const char* answer;  // null: none given
    uint32_t result;
    bool breaks;  // into the debugger: SIGTRAP, as no debugger is attached
  } kCases[] = {
      {kOk, "ok", LX_MSG_OK, false},
      {kOkCancel, "cancel", LX_MSG_CANCEL, false},
      {kAbortRetryIgnore, "abort", LX_MSG_CANCEL, false},
      {kAbortRetryIgnore, "retry", LX_MSG_RETRY, false},
      {kAbortRetryIgnore, "ignore", LX_MSG_IGNORE, false},
      {kYesNoCancel, "yes", LX_MSG_OK, false},
      {kYesNoCancel, "no", LX_MSG_NO, false},
      {kYesNoCancel, "cancel", LX_MSG_CANCEL, false},
      {kYesNo, "no", LX_MSG_NO, false},
      {kRetryCancel, "retry", LX_MSG_RETRY, false},
      {kRetryCancel, "cancel", LX_MSG_CANCEL, false},
      {kOk, "no", LX_MSG_OK, false},  // an answer the box does not offer: its default button
      {kYesNo, "retry", LX_MSG_OK, false},
      {kAbortRetryIgnore, nullptr, LX_MSG_CANCEL, false},
      {kAbortRetryIgnore | kDefault2, nullptr, LX_MSG_RETRY, false},
      {kAbortRetryIgnore | kDefault3, nullptr, LX_MSG_IGNORE, false},
      {kYesNoCancel | kDefault3, nullptr, LX_MSG_CANCEL, false},
      {LX_MSG_SHOW_ALWAYS | kYesNo | kDefault2, nullptr, LX_MSG_NO,
       false},  // the high byte does not reach the box
      {LX_MSG_BREAK_ON_RETRY | kAbortRetryIgnore, "retry", LX_MSG_RETRY, true},
      {LX_MSG_BREAK_ON_RETRY | kAbortRetryIgnore, "abort", LX_MSG_CANCEL, false},
      {LX_MSG_BREAK_ON_CANCEL | kAbortRetryIgnore, "abort", LX_MSG_CANCEL, true},
      {LX_MSG_BREAK_ON_CANCEL | kOkCancel, "cancel", LX_MSG_CANCEL, true},
      {LX_MSG_BREAK_ON_CANCEL | kRetryCancel, "retry", LX_MSG_RETRY, false},
      {kBreakBoth | kAbortRetryIgnore, "ignore", LX_MSG_IGNORE, false},
  };
  for (const auto& c : kCases) {
    lxtest::ChildResult r = lxtest::RunInChild([&c] {
      lxtest::ScopedEnv answer("ORVANTA_MESSAGE_ANSWER", c.answer);
      return LxMessage()->Printf("Test", c.flags, "question %d", 7) == c.result ? 0 : 1;
    });
    SCOPED_TRACE(std::to_string(c.flags) + " " + (c.answer ? c.answer : "(none)") + ": " + r.err);
    EXPECT_EQ(r.exited ? r.code : 128 + r.signal, c.breaks ? 128 + SIGTRAP : 0);
    EXPECT_EQ(r.err.find("== Test ==\nquestion 7\n["), 0u);
  }
}

TEST(Message, CaptionSwitchAndLength) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(LxMessage()->Printf(nullptr, 0, "shown"), LX_MSG_OK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "== Orvanta Runtime System ==\nshown\n[OK] -> OK\n");
  EXPECT_EQ(LxMessage()->SetEnabled(5), 1);  // kept as 0 or 1
  EXPECT_EQ(LxMessage()->SetEnabled(-7), 1);
  EXPECT_EQ(LxMessage()->SetEnabled(0), 1);
  CapturingMsg msg;
  EXPECT_EQ(msg.Printf("c", LX_MSG_BREAK_ON_RETRY | kYesNo, "x"), LX_MSG_SUPPRESSED);
  EXPECT_EQ(msg.calls, 0);
  EXPECT_EQ(msg.Printf(nullptr, LX_MSG_SHOW_ALWAYS | 3, "%s", "y"), 0x12345678u);
  EXPECT_EQ(msg.lastCaption, "(null)");
  EXPECT_EQ(msg.lastFlags, LX_MSG_SHOW_ALWAYS | 3);
  testing::internal::CaptureStderr();
  EXPECT_EQ(LxMessage()->Output(nullptr, 0, "direct"), LX_MSG_OK);  // Output does not look at the switch
  EXPECT_NE(testing::internal::GetCapturedStderr().find("direct"), std::string::npos);
  EXPECT_EQ(LxMessage()->SetEnabled(1), 0);
  std::string big(5000, 'm');
  big[4094] = 'E';
  msg.Printf("c", 0, "%s", big.c_str());
  EXPECT_EQ(msg.lastText, big.substr(0, 4095));
  msg.Printf("c", 0, "%d and %s", -3, "more");
  EXPECT_EQ(msg.lastText, "-3 and more");
}

}  // namespace
