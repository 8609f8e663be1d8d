// The registry store: values, names, keys, size rules, a fresh store's content,
// a store that cannot be opened, several processes and threads writing at once
// (a writer killed midway: tests/crash), and limited waits.
#include "os/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lxtest.h"
#include "os/syscall.h"

using namespace lxos;

namespace {

// Every test gets a store file of its own.
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

std::vector<std::string> SubKeys(const char* path) {
  std::vector<std::string> names;
  for (std::string name; RegEnumKey(path, static_cast<uint32_t>(names.size()), &name) == kRegOk;)
    names.push_back(name);
  return names;
}

std::vector<std::string> Values(const char* path) {
  std::vector<std::string> names;
  for (std::string name; RegEnumValue(path, static_cast<uint32_t>(names.size()), &name, nullptr) == kRegOk;) {
    names.push_back(name);
  }
  return names;
}

using Names = std::vector<std::string>;

TEST_F(Registry, EveryTypeRoundTripsByteForByte) {
  ASSERT_EQ(RegCreateKey("K"), kRegOk);
  const struct {
    const char* name;
    uint32_t type;
    std::string data;
  } kCases[] = {{"sz", kRegSz, std::string("abc", 3)},  // no terminator
                {"szz", kRegSz, std::string("abc\0", 4)},
                {"expand", kRegExpandSz, std::string("%SystemRoot%\\x\0", 15)},
                {"dword", kRegDword, std::string("\x2a\x00\x00\x80", 4)},
                {"multi", kRegMultiSz, std::string("a\0b\0\0\0c\0\0\0\0\0", 12)},  // UTF-16 "ab", "c"
                {"binary", kRegBinary, std::string("\x00\xff\x00\x01\x80", 5)},
                {"odd type", 11, std::string("\x00\xff", 2)},
                {"", kRegBinary, ""}};  // the default value, empty
  for (const auto& c : kCases) {
    ASSERT_EQ(RegSetValue("K", c.name, c.type, c.data.empty() ? nullptr : c.data.data(), c.data.size()),
              kRegOk);
  }
  for (const auto& c : kCases) {
    uint32_t type = 0;
    EXPECT_EQ(Query("K", c.name, &type), c.data) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
  uint32_t type = 0;
  ASSERT_EQ(RegSetValue("K", "sz", kRegDword, "\1\0\0\0", 4), kRegOk);  // overwriting changes type and bytes
  EXPECT_TRUE(Query("K", "sz", &type) == std::string("\1\0\0\0", 4) && type == kRegDword);
  EXPECT_EQ(Query("K", nullptr), "");  // null names the default value
  EXPECT_EQ(RegDeleteValue("K", nullptr), kRegOk);
  EXPECT_EQ(Query("K", ""), "<missing>");
}

TEST_F(Registry, NamesIgnoreCaseAndKeysKeepTheirOrderOfCreation) {
  ASSERT_EQ(RegCreateKey("Vendor\\Vesk"), kRegOk);
  ASSERT_EQ(RegCreateKey("VENDOR\\VESK\\Sub"), kRegOk);  // finds the existing keys
  EXPECT_EQ(RegKeyExists("vendor\\vesk"), kRegOk);
  EXPECT_EQ(SubKeys("vendor"), Names{"Vesk"});
  ASSERT_EQ(RegSetValue("vendor\\vesk", "Port", kRegSz, "1", 1), kRegOk);
  ASSERT_EQ(RegSetValue("vendor\\vesk", "Host", kRegSz, "h", 1), kRegOk);
  ASSERT_EQ(RegSetValue("Vendor\\Vesk", "pORT", kRegSz, "2", 1), kRegOk);  // keeps name and position
  EXPECT_EQ(Query("VENDOR\\Vesk", "port"), "2");
  EXPECT_EQ(Values("Vendor\\Vesk"), (Names{"Port", "Host"}));
  EXPECT_EQ(RegDeleteValue("VENDOR\\VESK", "HOST"), kRegOk);
  ASSERT_EQ(RegSetValue("Vendor\\Vesk", "\xc3\x84", kRegSz, "x", 1), kRegOk);  // only ASCII letters fold
  EXPECT_EQ(Query("Vendor\\Vesk", "\xc3\xa4"), "<missing>");
  EXPECT_EQ(Values("Vendor\\Vesk"), (Names{"Port", "\xc3\x84"}));
  // Keys: missing parents are made, direct children enumerate in order of creation.
  ASSERT_EQ(RegCreateKey("E\\zeta"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\Alpha\\Deep"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\mid"), kRegOk);
  ASSERT_EQ(RegSetValue("E\\Alpha", "v", kRegSz, "x", 1), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\Alpha"), kRegOk);  // an existing key stays as it is
  EXPECT_EQ(Query("E\\Alpha", "v"), "x");
  EXPECT_EQ(RegSetValue("E\\X", "v", kRegSz, "x", 1), kRegNotFound);  // values go only into existing keys
  ASSERT_EQ(RegDeleteKey("E\\zeta"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\ZETA"), kRegOk);
  EXPECT_EQ(SubKeys("E"), (Names{"Alpha", "mid", "ZETA"}));
  std::string name = "untouched";
  uint32_t type = 0;
  EXPECT_EQ(RegEnumKey("E", 3, &name), kRegNoMoreItems);
  EXPECT_EQ(RegEnumKey("Missing", 0, &name), kRegNotFound);
  EXPECT_EQ(RegEnumValue("E\\mid", 0, &name, &type), kRegNoMoreItems);
  EXPECT_EQ(RegEnumValue("Missing", 0, &name, &type), kRegNotFound);
  EXPECT_EQ(name, "untouched");
  EXPECT_TRUE(RegEnumValue("E\\Alpha", 0, &name, &type) == kRegOk && name == "v" && type == kRegSz);
  EXPECT_EQ(RegEnumKey("E", 0, nullptr), kRegInvalidParameter);
}

TEST_F(Registry, DeleteValueKeyAndTree) {
  ASSERT_EQ(RegCreateKey("D\\B\\C\\E\\F"), kRegOk);
  ASSERT_EQ(RegSetValue("D\\B", "v", kRegSz, "x", 1), kRegOk);
  ASSERT_EQ(RegSetValue("D\\B\\C\\E\\F", "z", kRegSz, "z", 1), kRegOk);
  EXPECT_EQ(RegDeleteValue("D\\B", "nope"), kRegNotFound);
  EXPECT_EQ(RegDeleteValue("D\\Nope", "v"), kRegNotFound);
  EXPECT_EQ(RegDeleteKey("D\\Nope"), kRegNotFound);
  EXPECT_EQ(RegDeleteTree("D\\Nope"), kRegNotFound);
  EXPECT_EQ(RegDeleteKey("D\\B"), kRegKeyHasChildren);  // stays, values included
  EXPECT_EQ(Query("D\\B", "v"), "x");
  // A tree goes whole, and only the tree: siblings whose names extend its name,
  // or sort just before and after it, stay.
  const char* kSiblings[] = {"D\\BC", "D\\B!", "D\\B]", "D\\B~", "D\\A", "D\\B0\\X"};
  for (const char* sibling : kSiblings) {
    ASSERT_EQ(RegCreateKey(sibling), kRegOk);
    ASSERT_EQ(RegSetValue(sibling, "s", kRegSz, "s", 1), kRegOk);
  }
  EXPECT_EQ(RegDeleteTree("d\\b"), kRegOk);
  for (const char* gone : {"D\\B", "D\\B\\C", "D\\B\\C\\E\\F"})
    EXPECT_EQ(RegKeyExists(gone), kRegNotFound) << gone;
  for (const char* sibling : kSiblings) EXPECT_EQ(Query(sibling, "s"), "s") << sibling;
  // A recreated key does not bring back old values.
  ASSERT_EQ(RegCreateKey("D\\B\\C\\E\\F"), kRegOk);
  EXPECT_EQ(Query("D\\B\\C\\E\\F", "z"), "<missing>");
  EXPECT_EQ(RegDeleteKey("D\\B\\C\\E\\F"), kRegOk);
  EXPECT_EQ(RegKeyExists("D\\B\\C\\E\\F"), kRegNotFound);
}

TEST_F(Registry, QueryValueSizeRules) {
  ASSERT_EQ(RegCreateKey("Q"), kRegOk);
  ASSERT_EQ(RegSetValue("Q", "v", kRegBinary, "0123456789", 10), kRegOk);
  ASSERT_EQ(RegSetValue("Q", "e", kRegSz, "", 0), kRegOk);
  const std::string big(100000, 'b');
  ASSERT_EQ(RegSetValue("Q", "big", kRegBinary, big.data(), static_cast<uint32_t>(big.size())), kRegOk);
  const struct {
    const char* name;
    bool buffer, sized;
    uint32_t size;
    int32_t result;
    uint32_t sizeAfter;
    const char* bytes;  // the buffer's first 11 bytes after the call
  } kCases[] = {
      {"v", false, true, 0, kRegOk, 10, "###########"},  // the size only
      {"v", false, false, 0, kRegOk, 0, "###########"},  // type and existence only
      {"v", true, true, 9, kRegMoreData, 10, "###########"},
      {"v", true, true, 10, kRegOk, 10, "0123456789#"},
      {"v", true, true, 32, kRegOk, 10, "0123456789#"},
      {"v", true, false, 0, kRegInvalidParameter, 0, "###########"},
      {"none", true, true, 77, kRegNotFound, 77, "###########"},
      {"e", true, true, 0, kRegOk, 0, "###########"},                // an empty value fits even 0 bytes
      {"big", true, true, 32, kRegMoreData, 100000, "###########"},  // beyond 64 KiB, reported in full
  };
  for (const auto& c : kCases) {
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    uint32_t size = c.size, type = 0;
    EXPECT_EQ(RegQueryValue("Q", c.name, &type, c.buffer ? buf : nullptr, c.sized ? &size : nullptr),
              c.result);
    EXPECT_EQ(c.sized ? size : 0, c.sizeAfter) << c.name << " " << c.size;
    EXPECT_EQ(std::string(buf, 11), c.bytes) << c.name << " " << c.size;
    EXPECT_TRUE(c.result != kRegOk || type == (c.name[0] == 'e' ? kRegSz : kRegBinary));
  }
  EXPECT_EQ(RegQueryValue("None", "v", nullptr, nullptr, nullptr), kRegNotFound);
  EXPECT_EQ(Query("Q", "big"), big);
  EXPECT_EQ(RegSetValue("Q", "n", kRegSz, nullptr, 1), kRegInvalidParameter);  // data without bytes
}

TEST_F(Registry, MalformedNamesAreRefusedNotShortened) {
  std::string longest;  // exactly kMaxKeyPath bytes, components of at most 255
  while (longest.size() + 101 <= kMaxKeyPath) longest += std::string(100, 'p') + "\\";
  longest += std::string(kMaxKeyPath - longest.size(), 'q');
  const std::string oneComponent(kMaxKeyPath, 'k'), tooLong = longest + "r",
                                                    longComponent = "A\\" + std::string(256, 'c');
  for (const char* path : {"", "\\A", "A\\", "A\\\\B", "\\", "A\\B\\\\", oneComponent.c_str(),
                           tooLong.c_str(), longComponent.c_str()}) {
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
  EXPECT_EQ(RegKeyExists(longest.c_str()), kRegNotFound);
  EXPECT_EQ(RegCreateKey(longest.c_str()), kRegOk);
  EXPECT_EQ(RegCreateKey(("A\\" + std::string(255, 'c')).c_str()), kRegOk);
  EXPECT_EQ(RegCreateKey(nullptr), kRegInvalidParameter);
  EXPECT_EQ(RegDeleteTree(nullptr), kRegInvalidParameter);
  const std::string name255(kMaxValueName, 'n'), name256(kMaxValueName + 1, 'n');
  uint32_t size = 0;
  EXPECT_EQ(RegSetValue("A", name256.c_str(), kRegSz, "x", 1), kRegBadPath);
  EXPECT_EQ(RegQueryValue("A", name256.c_str(), nullptr, nullptr, &size), kRegBadPath);
  EXPECT_EQ(RegDeleteValue("A", name256.c_str()), kRegBadPath);
  EXPECT_EQ(Values("A"), Names{});
  EXPECT_EQ(RegSetValue("A", name255.c_str(), kRegSz, "x", 1), kRegOk);
}

TEST_F(Registry, FreshStoreHoldsTheEnglishPerflibKeyOnce) {
  const char* perflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
  const std::string english = std::string(perflib) + "\\009";
  EXPECT_EQ(SubKeys("software\\microsoft\\windows nt\\currentversion"), Names{"Perflib"});
  EXPECT_EQ(SubKeys(perflib), Names{"009"});
  EXPECT_EQ(Values(perflib), Names{});
  EXPECT_EQ(Values(english.c_str()), (Names{"Counter", "Help"}));
  uint32_t type = 0;
  EXPECT_TRUE(Query(english.c_str(), "Help", &type) == std::string(4, '\0') && type == kRegMultiSz);
  EXPECT_TRUE(Query(english.c_str(), "Counter", &type) == std::string(4, '\0') && type == kRegMultiSz);
  // The seed's first key takes values like any other.
  ASSERT_EQ(RegSetValue("software", "v", kRegSz, "x", 1), kRegOk);
  EXPECT_TRUE(Values("SOFTWARE") == Names{"v"} && Query("Software", "v") == "x");
  EXPECT_EQ(RegDeleteValue("SOFTWARE", "v"), kRegOk);
  // The seed is written once: changes survive reopening the store.
  ASSERT_EQ(RegSetValue(english.c_str(), "Counter", kRegMultiSz, "1\0\0\0\0\0", 6), kRegOk);
  {
    lxtest::ScopedEnv other("ORVANTA_REGISTRY", (dir_ + "/other.db").c_str());
    EXPECT_EQ(Query(english.c_str(), "Counter"), std::string(4, '\0'));
  }
  EXPECT_EQ(Query(english.c_str(), "Counter"), std::string("1\0\0\0\0\0", 6));
}

TEST_F(Registry, UnopenableStoreIsAccessDenied) {
  ASSERT_TRUE(FailSyscall("open", EACCES));  // a file the process may not open
  uint32_t size = 0;
  EXPECT_EQ(RegCreateKey("K"), kRegAccessDenied);
  EXPECT_EQ(RegQueryValue("K", "v", nullptr, nullptr, &size), kRegAccessDenied);
  EXPECT_EQ(InjectedFailures("open"), 2);
  ResetSyscalls();
  const std::string junk = dir_ + "/junk.db";  // a file that is no database
  ASSERT_TRUE(lxtest::WriteFile(junk, std::string(8192, 'x')));
  {
    lxtest::ScopedEnv store("ORVANTA_REGISTRY", junk.c_str());
    EXPECT_EQ(RegKeyExists("K"), kRegAccessDenied);
    EXPECT_EQ(RegSetValue("K", "v", kRegSz, "x", 1), kRegAccessDenied);
    EXPECT_EQ(lxtest::ReadFile(junk), std::string(8192, 'x'));
  }
  EXPECT_EQ(RegCreateKey("K"), kRegOk);  // a good store works again afterwards
}

TEST_F(Registry, ProcessesCreatingAndWritingAtOnceLoseNothing) {
  // Four children race to create the store, then write values and keys at once;
  // each inherits a connection of the parent's that it must not use.
  constexpr int kChildren = 4, kValues = 200;
  {
    lxtest::ScopedEnv other("ORVANTA_REGISTRY", (dir_ + "/other.db").c_str());
    ASSERT_EQ(RegCreateKey("Parent"), kRegOk);
  }
  std::vector<std::unique_ptr<lxtest::Child>> children;
  for (int c = 0; c < kChildren; ++c) {
    children.emplace_back(new lxtest::Child([c](int) {
      int failures = RegCreateKey(("Stress\\Child" + std::to_string(c)).c_str()) != kRegOk;
      for (uint32_t i = 0; i < kValues; ++i) {
        const std::string name = "c" + std::to_string(c) + "-" + std::to_string(i);
        const uint32_t value = c * 100000 + i;
        failures += RegSetValue("Stress", name.c_str(), kRegDword, &value, 4) != kRegOk;
        if (i % 25 == 0)
          failures +=
              RegCreateKey(("Stress\\Child" + std::to_string(c) + "\\" + std::to_string(i % 7)).c_str()) !=
              kRegOk;
      }
      return failures;
    }));
  }
  for (auto& child : children) EXPECT_EQ(child->Wait(), 0) << child->Result().err;
  EXPECT_EQ(Values("Stress").size(), size_t{kChildren * kValues});
  for (int c = 0; c < kChildren; ++c) {
    for (uint32_t i = 0; i < kValues; ++i) {
      uint32_t value = 0, size = 4, type = 0;
      const std::string name = "c" + std::to_string(c) + "-" + std::to_string(i);
      ASSERT_EQ(RegQueryValue("Stress", name.c_str(), &type, &value, &size), kRegOk) << name;
      EXPECT_TRUE(value == c * 100000 + i && type == kRegDword) << name;
    }
    EXPECT_EQ(SubKeys(("Stress\\Child" + std::to_string(c)).c_str()).size(), 7u);
  }
  EXPECT_EQ(SubKeys("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib"), Names{"009"});
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
  EXPECT_EQ(Values("Threads").size(), 200u);

  // A reader of the store's files (another user may be one) locks the WAL
  // index: a writer without a limit waits, holding the connection; a thread with
  // a limit gives up waiting for the connection, and for the lock.
  int reader = open((dir_ + "/registry.db-shm").c_str(), O_RDONLY | O_CLOEXEC);
  struct flock whole = {};
  whole.l_type = F_RDLCK;
  ASSERT_EQ(fcntl(reader, F_OFD_SETLK, &whole), 0);
  std::thread waiting([] { EXPECT_EQ(RegSetValue("Threads", "late", kRegSz, "x", 1), kRegOk); });
  usleep(100000);
  {
    RegWaitLimit limit(200);
    EXPECT_EQ(RegSetValue("Threads", "limited", kRegSz, "x", 1), kRegIoFailed);
    EXPECT_TRUE(limit.Expired());
  }
  close(reader);
  waiting.join();
  EXPECT_EQ(Query("Threads", "limited"), "<missing>");
}

}  // namespace
