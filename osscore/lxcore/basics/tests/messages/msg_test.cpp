// The message object: answers through ORVANTA_MESSAGE_ANSWER, the switch and its
// override, the debugger breaks, and what the box shows on standard error.
#include <gtest/gtest.h>
#include <lxmessages.h>
#include <signal.h>

#include <string>

#include "lxtest.h"
#include "syslog_reader.h"

namespace {

using syslogtest::ScopedEnv;

// Box types (the low bits of the flags) and default buttons.
constexpr uint32_t kOk = 0, kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kYesNo = 4,
                   kRetryCancel = 5;
constexpr uint32_t kDefault2 = 0x100, kDefault3 = 0x200;

class MessageTest : public testing::Test {
 protected:
  ~MessageTest() override { LxMessage()->SetEnabled(1); }

  // Shows a message answered with `answer` (null: no answer given) and returns
  // the result; the box's output lands in shown_.
  uint32_t Show(uint32_t flags, const char* answer, const char* caption = "Test") {
    ScopedEnv env("ORVANTA_MESSAGE_ANSWER", answer);
    testing::internal::CaptureStderr();
    uint32_t result = LxMessage()->Printf(caption, flags, "question %d", 7);
    shown_ = testing::internal::GetCapturedStderr();
    return result;
  }

  std::string shown_;
};

class CapturingMsg : public LxVMsg {
 public:
  uint32_t Output(const char* caption, uint32_t flags, const char* text) override {
    lastCaption = caption ? caption : "(null)";
    lastFlags = flags;
    lastText = text;
    ++calls;
    return 0x12345678;
  }
  std::string lastCaption;
  uint32_t lastFlags = 0;
  std::string lastText;
  int calls = 0;
};

TEST_F(MessageTest, AnswersMapToResults) {
  struct {
    uint32_t flags;
    const char* answer;
    uint32_t result;
  } cases[] = {
      {kOk, "ok", LX_MSG_OK},
      {kOkCancel, "cancel", LX_MSG_CANCEL},
      {kAbortRetryIgnore, "abort", LX_MSG_CANCEL},
      {kAbortRetryIgnore, "retry", LX_MSG_RETRY},
      {kAbortRetryIgnore, "ignore", LX_MSG_IGNORE},
      {kYesNoCancel, "yes", LX_MSG_OK},
      {kYesNoCancel, "no", LX_MSG_NO},
      {kYesNoCancel, "cancel", LX_MSG_CANCEL},
      {kYesNo, "no", LX_MSG_NO},
      {kRetryCancel, "retry", LX_MSG_RETRY},
      {kRetryCancel, "cancel", LX_MSG_CANCEL},
      // An answer the box does not offer: its default button.
      {kOk, "no", LX_MSG_OK},
      {kYesNo, "retry", LX_MSG_OK},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, Show(c.flags, c.answer)) << "flags " << c.flags << " answer " << c.answer;
  }
}

TEST_F(MessageTest, WithoutAnAnswerTheDefaultButtonIsChosen) {
  EXPECT_EQ(LX_MSG_CANCEL, Show(kAbortRetryIgnore, nullptr));
  EXPECT_EQ(LX_MSG_RETRY, Show(kAbortRetryIgnore | kDefault2, nullptr));
  EXPECT_EQ(LX_MSG_IGNORE, Show(kAbortRetryIgnore | kDefault3, nullptr));
  EXPECT_EQ(LX_MSG_NO, Show(kYesNo | kDefault2, nullptr));
  EXPECT_EQ(LX_MSG_CANCEL, Show(kYesNoCancel | kDefault3, nullptr));
  // The library's high byte does not reach the box.
  EXPECT_EQ(LX_MSG_NO, Show(LX_MSG_SHOW_ALWAYS | kYesNo | kDefault2, nullptr));
}

TEST_F(MessageTest, NullCaptionShowsTheDefaultCaption) {
  EXPECT_EQ(LX_MSG_OK, Show(0, nullptr, nullptr));
  EXPECT_NE(std::string::npos, shown_.find("Orvanta Runtime System")) << shown_;
  EXPECT_NE(std::string::npos, shown_.find("question 7")) << shown_;
  Show(0, nullptr, "My caption");
  EXPECT_NE(std::string::npos, shown_.find("My caption")) << shown_;
  EXPECT_EQ(std::string::npos, shown_.find("Orvanta Runtime System")) << shown_;
}

TEST_F(MessageTest, SwitchIsStoredAsZeroOrOne) {
  EXPECT_EQ(1, LxMessage()->SetEnabled(5));
  EXPECT_EQ(1, LxMessage()->SetEnabled(0));
  EXPECT_EQ(0, LxMessage()->SetEnabled(-7));
  EXPECT_EQ(1, LxMessage()->SetEnabled(1));
}

TEST_F(MessageTest, SwitchedOffMessagesAreSuppressedUnlessForced) {
  LxMessage()->SetEnabled(0);
  EXPECT_EQ(LX_MSG_SUPPRESSED, Show(kYesNo, "no"));
  EXPECT_EQ("", shown_);
  EXPECT_EQ(LX_MSG_NO, Show(LX_MSG_SHOW_ALWAYS | kYesNo, "no"));
  EXPECT_NE(std::string::npos, shown_.find("question 7"));

  CapturingMsg msg;
  EXPECT_EQ(LX_MSG_SUPPRESSED, msg.Printf("c", LX_MSG_BREAK_ON_RETRY, "x"));
  EXPECT_EQ(0, msg.calls);
  EXPECT_EQ(0x12345678u, msg.Printf(nullptr, LX_MSG_SHOW_ALWAYS | 3, "%s", "y"));
  EXPECT_EQ("(null)", msg.lastCaption);
  EXPECT_EQ(LX_MSG_SHOW_ALWAYS | 3, msg.lastFlags);

  // Output itself does not look at the switch.
  testing::internal::CaptureStderr();
  EXPECT_EQ(LX_MSG_OK, LxMessage()->Output(nullptr, 0, "direct"));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("direct"));
}

TEST_F(MessageTest, TextIsCutAfter4095Characters) {
  CapturingMsg msg;
  std::string big(5000, 'm');
  big[4094] = 'E';
  msg.Printf("c", 0, "%s", big.c_str());
  EXPECT_EQ(big.substr(0, 4095), msg.lastText);
  msg.Printf("c", 0, "%s", big.substr(0, 4095).c_str());
  EXPECT_EQ(4095u, msg.lastText.size());
  msg.Printf("c", 0, "%d and %s", -3, "more");
  EXPECT_EQ("-3 and more", msg.lastText);
}

// Runs a message in a child and reports how the child ended: a break into the
// debugger ends it with SIGTRAP (no debugger is attached).
lxtest::ChildResult ShowInChild(uint32_t flags, const char* answer, uint32_t expected) {
  return lxtest::RunInChild([=] {
    signal(SIGTRAP, SIG_DFL);
    setenv("ORVANTA_MESSAGE_ANSWER", answer, 1);
    return LxMessage()->Printf(nullptr, flags, "break?") == expected ? 0 : 1;
  });
}

TEST_F(MessageTest, BreakFlagsBreakOnTheirAnswersOnly) {
  struct {
    uint32_t flags;
    const char* answer;
    uint32_t result;
    bool breaks;
  } cases[] = {
      {LX_MSG_BREAK_ON_RETRY | kAbortRetryIgnore, "retry", LX_MSG_RETRY, true},
      {LX_MSG_BREAK_ON_RETRY | kAbortRetryIgnore, "abort", LX_MSG_CANCEL, false},
      {LX_MSG_BREAK_ON_CANCEL | kAbortRetryIgnore, "abort", LX_MSG_CANCEL, true},
      {LX_MSG_BREAK_ON_CANCEL | kOkCancel, "cancel", LX_MSG_CANCEL, true},
      {LX_MSG_BREAK_ON_CANCEL | kRetryCancel, "retry", LX_MSG_RETRY, false},
      {LX_MSG_BREAK_ON_RETRY | LX_MSG_BREAK_ON_CANCEL | kAbortRetryIgnore, "ignore", LX_MSG_IGNORE, false},
      {kAbortRetryIgnore, "retry", LX_MSG_RETRY, false},
  };
  for (const auto& c : cases) {
    lxtest::ChildResult child = ShowInChild(c.flags, c.answer, c.result);
    SCOPED_TRACE(std::string("answer ") + c.answer + ", stderr: " + child.err);
    if (c.breaks) {
      EXPECT_FALSE(child.exited);
      EXPECT_EQ(SIGTRAP, child.signal);
    } else {
      EXPECT_TRUE(child.exited);
      EXPECT_EQ(0, child.code);
    }
  }
}

}  // namespace
