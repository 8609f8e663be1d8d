// The message object (answers, default buttons, debugger breaks, the switch), the
// server console, the typed output stream over a C stream and the service stop flag.
#include <gtest/gtest.h>
#include <lxmessages.h>
#include <signal.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lxstring.h"
#include "lxtest.h"

namespace {

// Box types (the low bits of the flags) and default buttons.
constexpr uint32_t kOk = 0, kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kYesNo = 4,
                   kRetryCancel = 5;
constexpr uint32_t kDefault2 = 0x100, kDefault3 = 0x200;

struct CapturingMsg : LxVMsg {
  uint32_t Output(const char*, uint32_t, const char* text) override {
    lastText = text, ++calls;
    return 0x12345678;
  }
  std::string lastText;
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
      {kAbortRetryIgnore, nullptr, LX_MSG_CANCEL, false},
      {kAbortRetryIgnore | kDefault2, nullptr, LX_MSG_RETRY, false},
      {kAbortRetryIgnore | kDefault3, nullptr, LX_MSG_IGNORE, false},
      {LX_MSG_SHOW_ALWAYS | kYesNo | kDefault2, nullptr, LX_MSG_NO,
       false},  // the high byte does not reach the box
      {LX_MSG_BREAK_ON_RETRY | kAbortRetryIgnore, "retry", LX_MSG_RETRY, true},
      {LX_MSG_BREAK_ON_RETRY | kAbortRetryIgnore, "abort", LX_MSG_CANCEL, false},
      {LX_MSG_BREAK_ON_CANCEL | kAbortRetryIgnore, "abort", LX_MSG_CANCEL, true},
      {LX_MSG_BREAK_ON_CANCEL | kRetryCancel, "retry", LX_MSG_RETRY, false},
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
  EXPECT_EQ(LxMessage()->SetEnabled(5), 1);  // kept as 0 or 1
  EXPECT_EQ(LxMessage()->SetEnabled(0), 1);
  CapturingMsg msg;
  EXPECT_EQ(msg.Printf("c", LX_MSG_BREAK_ON_RETRY | kYesNo, "x"), LX_MSG_SUPPRESSED);
  EXPECT_EQ(msg.calls, 0);
  EXPECT_EQ(msg.Printf(nullptr, LX_MSG_SHOW_ALWAYS | 3, "%s", "y"), 0x12345678u);
  EXPECT_EQ(LxMessage()->SetEnabled(1), 0);
  std::string big(5000, 'm');
  big[4094] = 'E';
  msg.Printf("c", 0, "%s", big.c_str());
  EXPECT_EQ(msg.lastText, big.substr(0, 4095));
}

using Calls = std::vector<std::string>;

// Records each call; with `defaults` the calls go on to the default operations too.
struct RecordingBackEnd : _LxServCons {
  explicit RecordingBackEnd(bool defaults = false) : defaults(defaults) {}
  void write(const LxString& text) override { write(text.GetText(), -3); }
  void write(const char* text, int length) override {
    calls.push_back(std::string(text ? text : "<null>") + "/" + std::to_string(length));
    if (defaults) _LxServCons::write(text, length);
  }
  void terminateLine() override { calls.push_back("line"), _LxServCons::terminateLine(); }
  void flush() override { calls.push_back("flush"), _LxServCons::flush(); }
  bool defaults;
  Calls calls;
};

struct FlagConsole : LxServCons {
  using LxServCons::flags;
};

TEST(ServerConsole, ForwardsToItsBackEndWhileEnabled) {
  FlagConsole console;
  EXPECT_EQ(&(console << "text" << LxString("s") << 42 << endl), &console);  // no back end: all accepted
  EXPECT_EQ(&console.printf("%d", 1).terminateLine().flush(), &console);
  RecordingBackEnd backEnd;
  EXPECT_EQ(console.setImplementation(&backEnd), nullptr);
  const char* nothing = nullptr;
  console << "a" << nothing << LxString("b") << -42 << int32_t{2147483647} << endl;
  console.printf("<%s>", std::string(2000, 'z').c_str());  // cut after 511 characters
  endl(console).terminateLine();
  EXPECT_EQ(backEnd.calls,
            (Calls{"a/-1", "b/-3", "-42/-1", "2147483647/-1", "line", "\r\n/2", "flush",
                   "<" + std::string(510, 'z') + "/-1", "line", "\r\n/2", "flush", "line", "\r\n/2"}));
  console.flags = 0xFFFE;  // the enable bit cleared silences without detaching
  console << "a" << LxString("b") << 3 << endl;
  console.printf("c").terminateLine().flush();
  EXPECT_EQ(backEnd.calls.size(), 13u);
  EXPECT_EQ(console.setImplementation(nullptr), &backEnd);
  // The default back end writes the debugger output.
  const std::string file = lxtest::MakeTempDir("console") + "/debug.txt";
  lxtest::ScopedEnv output("ORVANTA_DEBUG_OUTPUT", file.c_str());
  RecordingBackEnd defaults(true);
  LxServCons plain(&defaults);
  plain << "first" << LxString(" second") << endl;
  plain.printf("%d%%", 50);
  defaults.write(nullptr, -1);
  defaults.write("abc", 1);  // the length is not used: the default writes up to the terminator
  EXPECT_EQ(lxtest::ReadFile(file), "first second\r\n50%abc");
}

TEST(OutStreamFILE, EachTypeInItsFormatAndTheStreamOutlivesIt) {
  char* data = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&data, &size);
  ASSERT_NE(file, nullptr);
  {
    LxOutStreamFILE out(file);
    LxOutStreamFILE copy(out);
    LxOutStreamStub& stub = copy;
    stub << -5 << '|' << static_cast<unsigned short>(65535) << '|' << static_cast<short>(SHRT_MIN) << ' '
         << INT_MIN << ' ' << UINT_MAX << ' ' << LONG_MIN << ' ' << ULONG_MAX << ' ' << 2.5 << ' ' << -0.125f
         << ' ' << static_cast<const void*>(nullptr) << ' ' << reinterpret_cast<const void*>(~uintptr_t{0})
         << ' ' << "text" << ' ' << static_cast<const char*>(nullptr) << endl
         << "two" << flush;
    // flush must have handed the text on: look without flushing again.
    EXPECT_EQ(std::string(data, size), "-5|65535|-32768 -2147483648 4294967295 " + std::to_string(LONG_MIN) +
                                           " " + std::to_string(ULONG_MAX) +
                                           " 2.500000 -0.125000 0x0 0xffffffffffffffff text (null)\ntwo");
    EXPECT_EQ(&endl(stub), &stub);
  }
  EXPECT_GE(std::fputs("c", file), 0);  // still open
  std::fclose(file);
  EXPECT_EQ(std::string(data, size).substr(size - 5), "two\nc");
  std::free(data);
}

TEST(ServiceStopFlag, IsSetOnce) {
  EXPECT_EQ(VESK_Service_hasStopped(), 0);
  StopVESK_Service();
  EXPECT_EQ(VESK_Service_hasStopped(), 1);
}

}  // namespace
