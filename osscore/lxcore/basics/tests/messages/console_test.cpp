// The server console (front end, default back end, flags, endl), the typed output
// stream over a C stream, and the service stop flag.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lxmessages.h"
#include "lxstring.h"
#include "lxtest.h"

namespace {

using Calls = std::vector<std::string>;

// A back end that records each call it gets; with `defaults` the text calls go
// to the default operations, which write the debugger output.
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
  using LxServCons::LxServCons;
  void SetFlags(unsigned short value) { flags = value; }
};

TEST(ServerConsole, ForwardsToItsBackEndWhileEnabled) {
  FlagConsole console;
  EXPECT_EQ(console.GetFlags(), 1);
  EXPECT_EQ(&(console << "text" << LxString("s") << 42 << endl), &console);  // no back end: all accepted
  EXPECT_EQ(&console.printf("%d", 1).terminateLine().flush(), &console);
  RecordingBackEnd backEnd, other;
  EXPECT_EQ(console.setImplementation(&backEnd), nullptr);
  const char* nothing = nullptr;
  console << "a" << nothing << LxString("b") << -42 << int32_t{2147483647} << endl;
  console.printf("%s=%04d", "x", 7);
  console.printf("<%s>", std::string(2000, 'z').c_str());  // cut after 511 characters
  endl(console).terminateLine();
  EXPECT_EQ(backEnd.calls,
            (Calls{"a/-1", "b/-3", "-42/-1", "2147483647/-1", "line", "\r\n/2", "flush", "x=0007/-1",
                   "<" + std::string(510, 'z') + "/-1", "line", "\r\n/2", "flush", "line", "\r\n/2"}));
  console.SetFlags(0xFFFE);  // the enable bit cleared silences without detaching
  console << "a" << LxString("b") << 3 << endl;
  console.printf("c").terminateLine().flush();
  EXPECT_EQ(backEnd.calls.size(), 14u);
  EXPECT_EQ(console.setImplementation(&other), &backEnd);
  console.SetFlags(0x8001);
  console << "d";
  EXPECT_EQ(other.calls, Calls{"d/-1"});
  EXPECT_EQ(console.setImplementation(nullptr), &other);
}

TEST(ServerConsole, DefaultBackEndWritesTheDebuggerOutput) {
  const std::string file = lxtest::MakeTempDir("console") + "/debug.txt";
  lxtest::ScopedEnv output("ORVANTA_DEBUG_OUTPUT", file.c_str());
  RecordingBackEnd backEnd(true);
  LxServCons console(&backEnd);
  console << "first" << LxString(" second") << endl;
  console.printf("%d%%", 50);
  backEnd.write(nullptr, -1);
  backEnd.write("abc", 1);  // the length is not used: the default writes up to the terminator
  EXPECT_EQ(lxtest::ReadFile(file), "first second\r\n50%abc");
}

TEST(OutStreamFILE, EachTypeInItsFormatAndTheStreamOutlivesIt) {
  char* data = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&data, &size);
  ASSERT_NE(file, nullptr);
  {
    LxOutStreamFILE out(file);
    EXPECT_EQ(out.GetStream(), file);
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
  StopVESK_Service();
  EXPECT_EQ(VESK_Service_hasStopped(), 1);
}

}  // namespace
