// The server console: front end, default back end, flags and endl; and the
// service stop flag.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "lxmessages.h"
#include "lxstring.h"
#include "lxtest.h"

namespace {

// A back end that records each call it gets, in order.
class RecordingBackEnd : public _LxServCons {
 public:
  using _LxServCons::write;
  void write(const LxString& text) override { calls.push_back("string:" + std::string(text.GetText())); }
  void write(const char* text, int length) override {
    calls.push_back("text:" + std::string(text ? text : "<null>") + "/" + std::to_string(length));
  }
  void terminateLine() override {
    calls.push_back("line");
    _LxServCons::terminateLine();
  }
  void flush() override { calls.push_back("flush"); }

  std::vector<std::string> calls;
};

// A back end that keeps the default operations, so they reach the debugger output.
class DebugBackEnd : public _LxServCons {
 public:
  using _LxServCons::write;
  void write(const LxString& text) override { write(text.GetText(), text.GetLength()); }
};

// A front end whose flags the test can change.
class FlagConsole : public LxServCons {
 public:
  using LxServCons::LxServCons;
  void SetFlags(unsigned short value) { flags = value; }
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(ServerConsole, WithoutBackEndEverythingIsAccepted) {
  LxServCons console;
  EXPECT_EQ(console.GetImplementation(), nullptr);
  EXPECT_EQ(console.GetFlags(), 1);
  LxString text("s");
  EXPECT_EQ(&(console << "text" << text << 42 << endl), &console);
  EXPECT_EQ(&console.printf("%d", 1), &console);
  EXPECT_EQ(&console.terminateLine().flush(), &console);

  RecordingBackEnd backEnd;
  EXPECT_EQ(console.setImplementation(&backEnd), nullptr);
  console << "now";
  EXPECT_EQ(backEnd.calls, Calls{"text:now/-1"});

  RecordingBackEnd other;
  EXPECT_EQ(console.setImplementation(&other), &backEnd);
  EXPECT_EQ(console.setImplementation(nullptr), &other);
  console << "gone";
  EXPECT_EQ(backEnd.calls.size(), 1u);
  EXPECT_TRUE(other.calls.empty());
}

TEST(ServerConsole, InsertionsReachTheBackEnd) {
  RecordingBackEnd backEnd;
  LxServCons console(&backEnd);
  EXPECT_EQ(console.GetFlags(), 1);
  const char* nothing = nullptr;
  console << "a" << nothing << LxString("b") << -42 << int32_t{2147483647};
  console.printf("%s=%04d", "x", 7);
  EXPECT_EQ(backEnd.calls,
            (Calls{"text:a/-1", "string:b", "text:-42/-1", "text:2147483647/-1", "text:x=0007/-1"}));
}

TEST(ServerConsole, EndlTerminatesTheLineThenFlushes) {
  RecordingBackEnd backEnd;
  LxServCons console(&backEnd);
  console << "x" << endl;
  EXPECT_EQ(backEnd.calls, (Calls{"text:x/-1", "line", "text:\r\n/2", "flush"}));
  backEnd.calls.clear();
  endl(console).terminateLine();
  EXPECT_EQ(backEnd.calls, (Calls{"line", "text:\r\n/2", "flush", "line", "text:\r\n/2"}));
}

TEST(ServerConsole, LongPrintfIsCutAt511Characters) {
  RecordingBackEnd backEnd;
  LxServCons console(&backEnd);
  std::string longText(2000, 'z');
  console.printf("<%s>", longText.c_str());
  ASSERT_EQ(backEnd.calls.size(), 1u);
  EXPECT_EQ(backEnd.calls[0], "text:<" + std::string(510, 'z') + "/-1");
}

TEST(ServerConsole, ClearedEnableBitSilencesWithoutDetaching) {
  RecordingBackEnd backEnd;
  FlagConsole console(&backEnd);
  console.SetFlags(0xFFFE);
  console << "a" << LxString("b") << 3 << endl;
  console.printf("c");
  console.terminateLine().flush();
  EXPECT_TRUE(backEnd.calls.empty());
  EXPECT_EQ(console.GetImplementation(), &backEnd);

  RecordingBackEnd other;
  EXPECT_EQ(console.setImplementation(&other), &backEnd) << "replacing works whatever the flags";
  console.SetFlags(0x8001);
  console << "d";
  EXPECT_EQ(other.calls, Calls{"text:d/-1"});
}

TEST(ServerConsole, DefaultBackEndWritesToTheDebuggerOutput) {
  std::string file = lxtest::MakeTempDir("console") + "/debug.txt";
  setenv("ORVANTA_DEBUG_OUTPUT", file.c_str(), 1);
  DebugBackEnd backEnd;
  LxServCons console(&backEnd);
  console << "first" << LxString(" second") << endl;
  console.printf("%d%%", 50);
  console << -7 << endl;
  backEnd.write(nullptr, -1);
  EXPECT_EQ(lxtest::ReadFile(file), "first second\r\n50%-7\r\n");

  // The length is not used: the default writes up to the terminator.
  backEnd.write("abc", 1);
  EXPECT_EQ(lxtest::ReadFile(file), "first second\r\n50%-7\r\nabc");
}

TEST(ServiceStopFlag, SetOnceAndSeenByOtherThreads) {
  lxtest::ChildResult child = lxtest::RunInChild([] {
    if (VESK_Service_hasStopped() != 0) return 1;
    std::atomic<bool> sawStop{false};
    std::thread poller([&] {
      while (VESK_Service_hasStopped() == 0) std::this_thread::yield();
      sawStop = VESK_Service_hasStopped() == 1;
    });
    StopVESK_Service();
    poller.join();
    if (!sawStop) return 2;
    StopVESK_Service();
    return VESK_Service_hasStopped() == 1 ? 0 : 3;
  });
  EXPECT_TRUE(child.exited) << child.err;
  EXPECT_EQ(child.code, 0);
}
