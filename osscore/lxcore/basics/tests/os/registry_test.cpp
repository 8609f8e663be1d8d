// The registry store and the UTF-8 <-> UTF-16 conversion its multi-strings use. Name
// folding against a model: the registry fuzz model; a writer killed midway: tests/crash.
#include "os/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lxtest.h"
#include "os/syscall.h"
#include "os/utf.h"

using namespace lxos;

namespace {

class Registry : public ::testing::Test {
 protected:
  const std::string dir_ = lxtest::MakeTempDir("registry");
  lxtest::ScopedEnv store_{"ORVANTA_REGISTRY", (dir_ + "/registry.db").c_str()};
};

std::string Query(const char* path, const char* name, uint32_t* type = nullptr) {
  uint32_t size = 0;
  if (RegQueryValue(path, name, type, nullptr, &size) != kRegOk) return "<missing>";
  std::string data(size, '\0');
  return RegQueryValue(path, name, type, &data[0], &size) == kRegOk ? data.substr(0, size) : "<failed>";
}

using Names = std::vector<std::string>;

// The direct sub-keys (or the values) of a key, in the store's order.
Names List(const char* path, bool keys = true) {
  Names names;
  for (std::string n;
       (keys ? RegEnumKey(path, names.size(), &n) : RegEnumValue(path, names.size(), &n, nullptr)) == kRegOk;)
    names.push_back(n);
  return names;
}

TEST_F(Registry, EveryTypeRoundTripsByteForByteAndQueriesFollowTheSizeRules) {
  ASSERT_EQ(RegCreateKey("K"), kRegOk);
  ASSERT_EQ(RegSetValue("K", "sz", kRegSz, "abc", 3), kRegOk);  // no terminator
  ASSERT_EQ(RegSetValue("K", "binary", kRegBinary, "\x00\xff\x00\x01\x80", 5), kRegOk);
  ASSERT_EQ(RegSetValue("K", "odd type", 11, "\x00\xff", 2), kRegOk);
  ASSERT_EQ(RegSetValue("K", "", kRegBinary, nullptr, 0), kRegOk);  // the default value, empty
  uint32_t type = 0;
  EXPECT_TRUE(Query("K", "sz", &type) == "abc" && type == kRegSz);
  EXPECT_TRUE(Query("K", "binary", &type) == std::string("\x00\xff\x00\x01\x80", 5) && type == kRegBinary);
  EXPECT_TRUE(Query("K", "odd type", &type) == std::string("\x00\xff", 2) && type == 11);
  EXPECT_TRUE(Query("K", "", &type).empty() && type == kRegBinary);
  ASSERT_EQ(RegSetValue("K", "sz", kRegDword, "\1\0\0\0", 4), kRegOk);  // overwriting changes type and bytes
  EXPECT_TRUE(Query("K", "sz", &type) == std::string("\1\0\0\0", 4) && type == kRegDword);
  EXPECT_EQ(RegDeleteValue("K", nullptr), kRegOk);  // null names the default value
  EXPECT_EQ(Query("K", ""), "<missing>");
  ASSERT_EQ(RegSetValue("K", "v", kRegBinary, "0123456789", 10), kRegOk);
  ASSERT_EQ(RegSetValue("K", "e", kRegSz, "", 0), kRegOk);
  const std::string big(100000, 'b');
  ASSERT_EQ(RegSetValue("K", "big", kRegBinary, big.data(), static_cast<uint32_t>(big.size())), kRegOk);
  const struct {
    const char* name;
    bool buffer, sized;
    uint32_t size;
    int32_t result;
    uint32_t sizeAfter;
    const char* bytes;  // the buffer's first 11 bytes after the call
  } kSizes[] = {
      {"v", false, true, 0, kRegOk, 10, "###########"},  // the size only
      {"v", false, false, 0, kRegOk, 0, "###########"},  // type and existence only
      {"v", true, true, 9, kRegMoreData, 10, "###########"},
      {"v", true, true, 10, kRegOk, 10, "0123456789#"},
      {"v", true, false, 0, kRegInvalidParameter, 0, "###########"},
      {"none", true, true, 77, kRegNotFound, 77, "###########"},
      {"e", true, true, 0, kRegOk, 0, "###########"},                // an empty value fits even 0 bytes
      {"big", true, true, 32, kRegMoreData, 100000, "###########"},  // beyond 64 KiB, reported in full
  };
  for (const auto& c : kSizes) {
    std::string buf(32, '#');
    uint32_t size = c.size, type = 0;
    EXPECT_EQ(RegQueryValue("K", c.name, &type, c.buffer ? &buf[0] : nullptr, c.sized ? &size : nullptr),
              c.result);
    EXPECT_EQ(c.sized ? size : 0, c.sizeAfter) << c.name << " " << c.size;
    EXPECT_EQ(buf.substr(0, 11), c.bytes) << c.name << " " << c.size;
    EXPECT_TRUE(c.result != kRegOk || type == (c.name[0] == 'e' ? kRegSz : kRegBinary));
  }
  EXPECT_EQ(RegQueryValue("None", "v", nullptr, nullptr, nullptr), kRegNotFound);
  EXPECT_EQ(Query("K", "big"), big);
  EXPECT_EQ(RegSetValue("K", "n", kRegSz, nullptr, 1), kRegInvalidParameter);  // data without bytes
}

// Names keep their first spelling and enumerate in order of creation; deleting takes a
// key only without sub-keys, a tree whole and nothing beside it.
TEST_F(Registry, NamesOrderAndDeletion) {
  ASSERT_EQ(RegCreateKey("Vendor\\Vesk"), kRegOk);
  ASSERT_EQ(RegCreateKey("VENDOR\\VESK\\Sub"), kRegOk);  // finds the existing keys
  for (const char* name : {"Port", "Last", "pORT"})      // pORT keeps Port's place and spelling
    ASSERT_EQ(RegSetValue("vendor\\vesk", name, kRegSz, name, 1), kRegOk);
  EXPECT_TRUE(List("vendor") == Names{"Vesk"} && List("Vendor\\Vesk", false) == (Names{"Port", "Last"}));
  ASSERT_EQ(RegCreateKey("E\\zeta"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\Alpha\\Deep\\Er"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\mid"), kRegOk);
  ASSERT_EQ(RegSetValue("E\\Alpha", "v", kRegSz, "x", 1), kRegOk);
  EXPECT_EQ(RegSetValue("E\\X", "v", kRegSz, "x", 1), kRegNotFound);  // values go only into existing keys
  ASSERT_EQ(RegDeleteKey("E\\zeta"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\ZETA"), kRegOk);
  EXPECT_EQ(List("E"), (Names{"Alpha", "mid", "ZETA"}));
  std::string name = "untouched";
  uint32_t type = 0;
  for (int32_t result : {RegEnumKey("E", 3, &name), RegEnumValue("E\\mid", 0, &name, &type)})
    EXPECT_EQ(result, kRegNoMoreItems);
  for (int32_t result : {RegEnumKey("Missing", 0, &name), RegEnumValue("Missing", 0, &name, &type),
                         RegDeleteValue("E\\Alpha", "nope"), RegDeleteValue("E\\Nope", "v"),
                         RegDeleteKey("E\\Nope"), RegDeleteTree("E\\Nope")})
    EXPECT_EQ(result, kRegNotFound);
  EXPECT_EQ(name, "untouched");
  EXPECT_TRUE(RegEnumValue("E\\Alpha", 0, &name, &type) == kRegOk && name == "v" && type == kRegSz);
  EXPECT_EQ(RegEnumKey("E", 0, nullptr), kRegInvalidParameter);
  EXPECT_EQ(RegDeleteKey("E\\Alpha"), kRegKeyHasChildren);  // stays, values included
  EXPECT_EQ(Query("E\\Alpha", "v"), "x");
  // Siblings whose names extend the tree's name, or sort just before and after it, stay.
  const char* kSiblings[] = {"E\\AlphaC", "E\\Alpha!", "E\\Alpha]", "E\\Alpha~", "E\\A", "E\\Alpha0\\X"};
  for (const char* sibling : kSiblings) {
    ASSERT_EQ(RegCreateKey(sibling), kRegOk);
    ASSERT_EQ(RegSetValue(sibling, "s", kRegSz, "s", 1), kRegOk);
  }
  ASSERT_EQ(RegSetValue("E\\Alpha\\Deep", "z", kRegSz, "z", 1), kRegOk);
  EXPECT_EQ(RegDeleteTree("e\\alpha"), kRegOk);
  for (const char* gone : {"E\\Alpha", "E\\Alpha\\Deep", "E\\Alpha\\Deep\\Er"})
    EXPECT_EQ(RegKeyExists(gone), kRegNotFound) << gone;
  for (const char* sibling : kSiblings) EXPECT_EQ(Query(sibling, "s"), "s") << sibling;
  ASSERT_EQ(RegCreateKey("E\\Alpha\\Deep"), kRegOk);  // a recreated key does not bring back old values
  EXPECT_EQ(Query("E\\Alpha\\Deep", "z"), "<missing>");
}

TEST_F(Registry, MalformedNamesAreRefusedNotShortened) {
  std::string longest;  // exactly kMaxKeyPath bytes, components of at most 255
  while (longest.size() + 101 <= kMaxKeyPath) longest += std::string(100, 'p') + "\\";
  longest += std::string(kMaxKeyPath - longest.size(), 'q');
  const std::string tooLong = longest + "r", longComponent = "A\\" + std::string(256, 'c');
  for (const char* path : {"", "\\A", "A\\", "A\\\\B", tooLong.c_str(), longComponent.c_str()}) {
    SCOPED_TRACE(std::string(path).substr(0, 40));
    uint32_t size = 0;
    std::string name;
    for (int32_t result :
         {RegCreateKey(path), RegKeyExists(path), RegSetValue(path, "v", kRegSz, "x", 1),
          RegQueryValue(path, "v", nullptr, nullptr, &size), RegDeleteValue(path, "v"), RegDeleteKey(path),
          RegDeleteTree(path), RegEnumKey(path, 0, &name), RegEnumValue(path, 0, &name, nullptr)}) {
      EXPECT_EQ(result, kRegBadPath);
    }
  }
  EXPECT_EQ(RegKeyExists("A"), kRegNotFound);  // nothing was created, nothing shortened
  EXPECT_EQ(RegCreateKey(longest.c_str()), kRegOk);
  EXPECT_EQ(RegCreateKey(("A\\" + std::string(255, 'c')).c_str()), kRegOk);
  EXPECT_EQ(RegCreateKey(nullptr), kRegInvalidParameter);
  const std::string name255(kMaxValueName, 'n'), name256(kMaxValueName + 1, 'n');
  EXPECT_EQ(RegSetValue("A", name256.c_str(), kRegSz, "x", 1), kRegBadPath);
  EXPECT_EQ(RegSetValue("A", name255.c_str(), kRegSz, "x", 1), kRegOk);
}

// A store that cannot be opened or is no database is access denied; a good one is seeded once.
TEST_F(Registry, UnopenableStoreIsAccessDeniedAndTheSeedIsWrittenOnce) {
  ASSERT_TRUE(FailSyscall("open", EACCES));  // a file the process may not open
  uint32_t size = 0;
  EXPECT_EQ(RegCreateKey("K"), kRegAccessDenied);
  EXPECT_EQ(RegQueryValue("K", "v", nullptr, nullptr, &size), kRegAccessDenied);
  EXPECT_EQ(InjectedFailures("open"), 2);
  ResetSyscalls();
  const std::string perflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib",
                    english = perflib + "\\009";
  EXPECT_TRUE(List(perflib.c_str()) == Names{"009"} && List(perflib.c_str(), false).empty());
  EXPECT_EQ(List(english.c_str(), false), (Names{"Counter", "Help"}));
  uint32_t type = 0;
  for (const char* name : {"Help", "Counter"})
    EXPECT_TRUE(Query(english.c_str(), name, &type) == std::string(4, '\0') && type == kRegMultiSz) << name;
  ASSERT_EQ(RegSetValue(english.c_str(), "Counter", kRegMultiSz, "1\0\0\0\0\0", 6), kRegOk);
  EXPECT_EQ(RegSetValue("software", "v", kRegSz, "x", 1), kRegOk);  // the seed's first key, id 1
  const std::string junk = dir_ + "/junk.db";                       // a file that is no database
  ASSERT_TRUE(lxtest::WriteFile(junk, std::string(8192, 'x')));
  {
    lxtest::ScopedEnv store("ORVANTA_REGISTRY", junk.c_str());
    EXPECT_EQ(RegKeyExists("K"), kRegAccessDenied);
    EXPECT_EQ(RegSetValue("K", "v", kRegSz, "x", 1), kRegAccessDenied);
    EXPECT_EQ(lxtest::ReadFile(junk), std::string(8192, 'x'));
  }
  EXPECT_EQ(Query(english.c_str(), "Counter"), std::string("1\0\0\0\0\0", 6));  // reopened, not seeded again
}

TEST_F(Registry, ProcessesCreatingAndWritingAtOnceLoseNothing) {
  // Four children race to create the store and write; each inherits a parent's connection.
  constexpr uint32_t kChildren = 4, kValues = 200;
  {
    lxtest::ScopedEnv other("ORVANTA_REGISTRY", (dir_ + "/other.db").c_str());
    ASSERT_EQ(RegCreateKey("Parent"), kRegOk);
  }
  std::vector<std::unique_ptr<lxtest::Child>> children;
  for (uint32_t c = 0; c < kChildren; ++c) {
    children.emplace_back(new lxtest::Child([c](int) {
      const std::string key = "Stress\\Child" + std::to_string(c);
      int failures = RegCreateKey(key.c_str()) != kRegOk;
      for (uint32_t i = 0; i < kValues; ++i) {
        const uint32_t value = c * 1000 + i;
        failures += RegSetValue("Stress", std::to_string(value).c_str(), kRegDword, &value, 4) != kRegOk;
        if (i % 25 == 0) failures += RegCreateKey((key + "\\" + std::to_string(i % 7)).c_str()) != kRegOk;
      }
      return failures;
    }));
  }
  for (auto& child : children) EXPECT_EQ(child->Wait(), 0) << child->Result().err;
  EXPECT_EQ(List("Stress", false).size(), size_t{kChildren * kValues});
  for (uint32_t c = 0; c < kChildren; ++c) {
    for (uint32_t value = c * 1000, back = 0, size = 4, type = 0; value < c * 1000 + kValues; ++value) {
      ASSERT_EQ(RegQueryValue("Stress", std::to_string(value).c_str(), &type, &back, &size), kRegOk) << value;
      EXPECT_TRUE(back == value && type == kRegDword) << value;
    }
    EXPECT_EQ(List(("Stress\\Child" + std::to_string(c)).c_str()).size(), 7u);
  }
  EXPECT_EQ(List("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib"), Names{"009"});
}

TEST_F(Registry, ThreadsOfOneProcessShareTheConnection) {
  ASSERT_EQ(RegCreateKey("Threads"), kRegOk);
  int failures[4] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (uint32_t i = 0; i < 50; ++i) {
        const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
        uint32_t value = t * 1000 + i, back = 0, size = 4;
        failures[t] += RegSetValue("Threads", name.c_str(), kRegDword, &value, 4) != kRegOk ||
                       RegQueryValue("Threads", name.c_str(), nullptr, &back, &size) != kRegOk ||
                       back != value;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures[0] + failures[1] + failures[2] + failures[3], 0);

  // A reader (maybe another user) locks the WAL index: a writer without a limit waits,
  // holding the connection; one with a limit gives up waiting for it, and for the lock.
  int reader = open((dir_ + "/registry.db-shm").c_str(), O_RDONLY | O_CLOEXEC);
  struct flock whole = {};
  whole.l_type = F_RDLCK;
  ASSERT_EQ(fcntl(reader, F_OFD_SETLK, &whole), 0);
  // The writer without a limit is waiting once it naps in the busy handler.
  std::atomic<pid_t> tid{0};
  std::thread waiting([&tid] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    EXPECT_EQ(RegSetValue("Threads", "late", kRegSz, "x", 1), kRegOk);
  });
  auto napping = [&tid] {
    const long number =
        std::atol(lxtest::ReadFile("/proc/self/task/" + std::to_string(tid) + "/syscall").c_str());
    return tid != 0 && (number == SYS_clock_nanosleep || number == SYS_nanosleep);
  };
  for (int i = 0; i < 100000 && !napping(); ++i) lxtest::Nap(100);
  ASSERT_TRUE(napping());
  {
    RegWaitLimit limit(200);
    EXPECT_EQ(RegSetValue("Threads", "limited", kRegSz, "x", 1), kRegIoFailed);
    EXPECT_TRUE(limit.Expired());
  }
  close(reader);
  waiting.join();
  EXPECT_EQ(Query("Threads", "limited"), "<missing>");
}

// Code points from the Unicode standard's table of well-formed byte sequences.
TEST(Utf, ConvertsAndReplacesWhatIsNotWellFormed) {
  const std::pair<std::string, std::u16string> kWellFormed[] = {
      {"a\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", u"a\x7F\u0080\u07FF\u0800\uFFFF"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"}};
  for (const auto& [utf8, utf16] : kWellFormed) {
    EXPECT_EQ(utf16, Utf8ToUtf16(utf8)) << utf8;
    EXPECT_EQ(utf8, Utf16ToUtf8(utf16)) << utf8;
  }
  // Each maximal part of a sequence that is not well formed becomes one U+FFFD.
  const std::pair<std::string, std::u16string> kIllFormed[] = {
      {"\xC0\xAF\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx"},
      {"\xF4\x90\x80\x80\xF8", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xE2\x82\xC3"
       "a\x80",
       u"\uFFFD\uFFFD\uFFFDa\uFFFD"}};
  for (const auto& [utf8, utf16] : kIllFormed) EXPECT_EQ(utf16, Utf8ToUtf16(utf8)) << utf8;
  // Unpaired surrogates in UTF-16, at the end and before another unit.
  EXPECT_EQ("\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD", Utf16ToUtf8(std::u16string(u"\xDC00x\xD800\xD800")));
  std::string bytes;
  AppendUtf16Bytes(&bytes, u"\u00E4\U00010000", 3);
  EXPECT_EQ(std::string("\xE4\x00\x00\xD8\x00\xDC", 6), bytes);
}

}  // namespace
