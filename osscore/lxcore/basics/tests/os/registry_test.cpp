// The registry store: values, names, keys, size rules, a fresh store's content,
// a store that cannot be opened, several processes and threads writing at once
// (a writer killed midway: tests/crash), and limited waits.
#include "os/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lxtest.h"
#include "os/syscall.h"

using namespace lxos;

namespace {

// Every test gets a store file of its own, so that running the whole binary in
// one process gives the same results as running each test alone.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("ORVANTA_REGISTRY");
    saved_ = old ? old : "";
    dir_ = lxtest::MakeTempDir("registry");
    ASSERT_FALSE(dir_.empty());
    setenv("ORVANTA_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
  }
  void TearDown() override { setenv("ORVANTA_REGISTRY", saved_.c_str(), 1); }

  std::string dir_;
  std::string saved_;
};

std::string Query(const char* path, const char* name, uint32_t* type = nullptr) {
  uint32_t size = 0;
  if (RegQueryValue(path, name, type, nullptr, &size) != kRegOk) return "<missing>";
  std::string data(size, '\0');
  if (RegQueryValue(path, name, type, &data[0], &size) != kRegOk) return "<failed>";
  data.resize(size);
  return data;
}

std::vector<std::string> SubKeys(const char* path) {
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; RegEnumKey(path, i, &name) == kRegOk; ++i) names.push_back(name);
  return names;
}

std::vector<std::string> Values(const char* path) {
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; RegEnumValue(path, i, &name, nullptr) == kRegOk; ++i) names.push_back(name);
  return names;
}

const char kKey[] = "SOFTWARE\\Vesk Software\\Orvanta";

}  // namespace

TEST_F(Registry, EveryTypeRoundTripsByteForByte) {
  ASSERT_EQ(RegCreateKey(kKey), kRegOk);
  const std::string sz("abc", 3);     // no terminator
  const std::string szz("abc\0", 4);  // with terminator
  const std::string expand("%SystemRoot%\\x\0", 15);
  const std::string dword("\x2a\x00\x00\x80", 4);        // 0x8000002a, little-endian
  const std::string multi("a\0b\0\0\0c\0\0\0\0\0", 12);  // UTF-16 "ab", "c"
  const std::string binary("\x00\xff\x00\x01\x80", 5);
  struct Case {
    const char* name;
    uint32_t type;
    const std::string& data;
  } cases[] = {{"sz", kRegSz, sz},          {"szz", kRegSz, szz},          {"expand", kRegExpandSz, expand},
               {"dword", kRegDword, dword}, {"multi", kRegMultiSz, multi}, {"binary", kRegBinary, binary},
               {"odd type", 11, binary}};
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValue(kKey, c.name, c.type, c.data.data(), static_cast<uint32_t>(c.data.size())), kRegOk);
  }
  for (const Case& c : cases) {
    uint32_t type = 0;
    EXPECT_EQ(Query(kKey, c.name, &type), c.data) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
  // An empty value exists and has size 0.
  ASSERT_EQ(RegSetValue(kKey, "empty", kRegBinary, nullptr, 0), kRegOk);
  uint32_t size = 99;
  EXPECT_EQ(RegQueryValue(kKey, "empty", nullptr, nullptr, &size), kRegOk);
  EXPECT_EQ(size, 0u);
  // Overwriting changes type and bytes.
  ASSERT_EQ(RegSetValue(kKey, "sz", kRegDword, dword.data(), 4), kRegOk);
  uint32_t type = 0;
  EXPECT_EQ(Query(kKey, "sz", &type), dword);
  EXPECT_EQ(type, static_cast<uint32_t>(kRegDword));
}

TEST_F(Registry, DefaultValueIsTheEmptyNameAndNull) {
  ASSERT_EQ(RegCreateKey("K"), kRegOk);
  ASSERT_EQ(RegSetValue("K", nullptr, kRegSz, "d", 1), kRegOk);
  EXPECT_EQ(Query("K", ""), "d");
  EXPECT_EQ(RegDeleteValue("K", ""), kRegOk);
  EXPECT_EQ(Query("K", nullptr), "<missing>");
}

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(RegCreateKey("Vendor\\Vesk"), kRegOk);
  EXPECT_EQ(RegKeyExists("VENDOR\\VESK"), kRegOk);
  EXPECT_EQ(RegKeyExists("vendor\\vesk"), kRegOk);
  // Creating with another spelling finds the existing keys.
  ASSERT_EQ(RegCreateKey("VENDOR\\VESK\\Sub"), kRegOk);
  EXPECT_EQ(SubKeys("vendor"), std::vector<std::string>{"Vesk"});
  EXPECT_EQ(SubKeys("vendor\\vesk"), std::vector<std::string>{"Sub"});

  ASSERT_EQ(RegSetValue("vendor\\vesk", "Port", kRegSz, "1", 1), kRegOk);
  ASSERT_EQ(RegSetValue("vendor\\vesk", "Host", kRegSz, "h", 1), kRegOk);
  EXPECT_EQ(Query("VENDOR\\Vesk", "PORT"), "1");
  // Replacing through another spelling keeps the name and its position.
  ASSERT_EQ(RegSetValue("Vendor\\Vesk", "pORT", kRegSz, "2", 1), kRegOk);
  EXPECT_EQ(Query("Vendor\\Vesk", "port"), "2");
  EXPECT_EQ(Values("Vendor\\Vesk"), (std::vector<std::string>{"Port", "Host"}));
  EXPECT_EQ(RegDeleteValue("VENDOR\\VESK", "HOST"), kRegOk);
  EXPECT_EQ(Values("Vendor\\Vesk"), std::vector<std::string>{"Port"});
  // Only ASCII letters fold: these two are different names.
  ASSERT_EQ(RegSetValue("Vendor\\Vesk", "\xc3\x84", kRegSz, "x", 1), kRegOk);
  EXPECT_EQ(Query("Vendor\\Vesk", "\xc3\xa4"), "<missing>");
}

TEST_F(Registry, CreateKeyMakesMissingParentsAndLeavesExistingKeysAlone) {
  EXPECT_EQ(RegKeyExists("A"), kRegNotFound);
  ASSERT_EQ(RegCreateKey("A\\B\\C"), kRegOk);
  EXPECT_EQ(RegKeyExists("A"), kRegOk);
  EXPECT_EQ(RegKeyExists("A\\B"), kRegOk);
  EXPECT_EQ(RegKeyExists("A\\B\\C"), kRegOk);
  ASSERT_EQ(RegSetValue("A\\B", "v", kRegSz, "x", 1), kRegOk);
  ASSERT_EQ(RegCreateKey("A\\B"), kRegOk);
  EXPECT_EQ(Query("A\\B", "v"), "x");
  EXPECT_EQ(SubKeys("A\\B"), std::vector<std::string>{"C"});
  // Values go only into existing keys.
  EXPECT_EQ(RegSetValue("A\\X", "v", kRegSz, "x", 1), kRegNotFound);
  EXPECT_EQ(RegKeyExists("A\\X"), kRegNotFound);
}

TEST_F(Registry, EnumerationGoesInOrderOfCreationOverDirectChildren) {
  ASSERT_EQ(RegCreateKey("E\\zeta"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\Alpha\\Deep"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\mid"), kRegOk);
  EXPECT_EQ(SubKeys("E"), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  std::string name = "untouched";
  EXPECT_EQ(RegEnumKey("E", 3, &name), kRegNoMoreItems);
  EXPECT_EQ(RegEnumKey("E\\Alpha\\Deep", 0, &name), kRegNoMoreItems);
  EXPECT_EQ(RegEnumKey("Missing", 0, &name), kRegNotFound);
  EXPECT_EQ(name, "untouched");
  // A deleted key leaves the others in order; a recreated one goes last.
  ASSERT_EQ(RegDeleteKey("E\\zeta"), kRegOk);
  ASSERT_EQ(RegCreateKey("E\\ZETA"), kRegOk);
  EXPECT_EQ(SubKeys("E"), (std::vector<std::string>{"Alpha", "mid", "ZETA"}));

  ASSERT_EQ(RegSetValue("E", "b", kRegDword, "\1\0\0\0", 4), kRegOk);
  ASSERT_EQ(RegSetValue("E", "a", kRegSz, "", 0), kRegOk);
  uint32_t type = 0;
  ASSERT_EQ(RegEnumValue("E", 0, &name, &type), kRegOk);
  EXPECT_EQ(name, "b");
  EXPECT_EQ(type, static_cast<uint32_t>(kRegDword));
  ASSERT_EQ(RegEnumValue("E", 1, &name, &type), kRegOk);
  EXPECT_EQ(name, "a");
  EXPECT_EQ(type, static_cast<uint32_t>(kRegSz));
  EXPECT_EQ(RegEnumValue("E", 2, &name, &type), kRegNoMoreItems);
  EXPECT_EQ(RegEnumValue("E\\mid", 0, &name, &type), kRegNoMoreItems);
  EXPECT_EQ(RegEnumValue("Missing", 0, &name, &type), kRegNotFound);
  EXPECT_EQ(RegEnumKey("E", 0, nullptr), kRegInvalidParameter);
}

TEST_F(Registry, DeleteValueKeyAndTree) {
  ASSERT_EQ(RegCreateKey("D\\B\\C"), kRegOk);
  ASSERT_EQ(RegSetValue("D\\B", "v", kRegSz, "x", 1), kRegOk);
  ASSERT_EQ(RegSetValue("D\\B\\C", "w", kRegSz, "y", 1), kRegOk);

  EXPECT_EQ(RegDeleteValue("D\\B", "nope"), kRegNotFound);
  EXPECT_EQ(RegDeleteValue("D\\Nope", "v"), kRegNotFound);
  EXPECT_EQ(RegDeleteKey("D\\Nope"), kRegNotFound);
  EXPECT_EQ(RegDeleteTree("D\\Nope"), kRegNotFound);

  // A key with sub-keys stays, values included.
  EXPECT_EQ(RegDeleteKey("D\\B"), kRegKeyHasChildren);
  EXPECT_EQ(Query("D\\B", "v"), "x");
  // A leaf goes with its values: recreated, it is empty.
  EXPECT_EQ(RegDeleteKey("D\\B\\C"), kRegOk);
  EXPECT_EQ(RegKeyExists("D\\B\\C"), kRegNotFound);
  ASSERT_EQ(RegCreateKey("D\\B\\C"), kRegOk);
  EXPECT_EQ(Query("D\\B\\C", "w"), "<missing>");

  // A tree goes whole, and only the tree: siblings whose names extend the
  // tree's name, or sort just before and after it, stay.
  ASSERT_EQ(RegCreateKey("D\\B\\C\\E\\F"), kRegOk);
  ASSERT_EQ(RegSetValue("D\\B\\C\\E\\F", "z", kRegSz, "z", 1), kRegOk);
  for (const char* sibling : {"D\\BC", "D\\B!", "D\\B]", "D\\B~", "D\\A", "D\\B0\\X"}) {
    ASSERT_EQ(RegCreateKey(sibling), kRegOk) << sibling;
    ASSERT_EQ(RegSetValue(sibling, "s", kRegSz, "s", 1), kRegOk) << sibling;
  }
  EXPECT_EQ(RegDeleteTree("d\\b"), kRegOk);
  for (const char* gone : {"D\\B", "D\\B\\C", "D\\B\\C\\E", "D\\B\\C\\E\\F"}) {
    EXPECT_EQ(RegKeyExists(gone), kRegNotFound) << gone;
  }
  for (const char* sibling : {"D\\BC", "D\\B!", "D\\B]", "D\\B~", "D\\A", "D\\B0\\X"}) {
    EXPECT_EQ(Query(sibling, "s"), "s") << sibling;
  }
  // A recreated tree does not bring back old values.
  ASSERT_EQ(RegCreateKey("D\\B\\C\\E\\F"), kRegOk);
  EXPECT_EQ(Query("D\\B\\C\\E\\F", "z"), "<missing>");
  EXPECT_EQ(Query("D\\B", "v"), "<missing>");
}

TEST_F(Registry, QueryValueSizeRules) {
  ASSERT_EQ(RegCreateKey("Q"), kRegOk);
  const char data[] = "0123456789";  // 10 bytes stored, no terminator
  ASSERT_EQ(RegSetValue("Q", "v", kRegBinary, data, 10), kRegOk);

  // Size only.
  uint32_t size = 0, type = 0;
  EXPECT_EQ(RegQueryValue("Q", "v", &type, nullptr, &size), kRegOk);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, static_cast<uint32_t>(kRegBinary));
  // Type and existence only.
  type = 0;
  EXPECT_EQ(RegQueryValue("Q", "v", &type, nullptr, nullptr), kRegOk);
  EXPECT_EQ(type, static_cast<uint32_t>(kRegBinary));

  // One byte short: the size needed comes back, with the type.
  char buf[32];
  size = 9;
  type = 0;
  EXPECT_EQ(RegQueryValue("Q", "v", &type, buf, &size), kRegMoreData);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, static_cast<uint32_t>(kRegBinary));
  size = 0;
  EXPECT_EQ(RegQueryValue("Q", "v", nullptr, buf, &size), kRegMoreData);
  EXPECT_EQ(size, 10u);

  // Exactly enough, and more than enough: the bytes and nothing after them.
  size = 10;
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(RegQueryValue("Q", "v", nullptr, buf, &size), kRegOk);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  size = sizeof buf;
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(RegQueryValue("Q", "v", nullptr, buf, &size), kRegOk);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(std::string(buf, 11), "0123456789#");

  // A buffer without a size is refused; a missing value leaves size alone.
  EXPECT_EQ(RegQueryValue("Q", "v", nullptr, buf, nullptr), kRegInvalidParameter);
  size = 77;
  EXPECT_EQ(RegQueryValue("Q", "none", nullptr, buf, &size), kRegNotFound);
  EXPECT_EQ(RegQueryValue("None", "v", nullptr, buf, &size), kRegNotFound);
  EXPECT_EQ(size, 77u);
  // An empty value fits any buffer, even one of 0 bytes.
  ASSERT_EQ(RegSetValue("Q", "e", kRegSz, "", 0), kRegOk);
  size = 0;
  EXPECT_EQ(RegQueryValue("Q", "e", nullptr, buf, &size), kRegOk);
  EXPECT_EQ(size, 0u);
  // A value that needs more than 64 KiB is reported in full.
  std::string big(100000, 'b');
  ASSERT_EQ(RegSetValue("Q", "big", kRegBinary, big.data(), static_cast<uint32_t>(big.size())), kRegOk);
  size = sizeof buf;
  EXPECT_EQ(RegQueryValue("Q", "big", nullptr, buf, &size), kRegMoreData);
  EXPECT_EQ(size, 100000u);
  EXPECT_EQ(Query("Q", "big"), big);
  // Data without bytes is refused unless the size is 0.
  EXPECT_EQ(RegSetValue("Q", "n", kRegSz, nullptr, 1), kRegInvalidParameter);
}

TEST_F(Registry, MalformedNamesAreRefusedNotShortened) {
  const std::string at(kMaxKeyPath, 'k');  // one component too long, though
  std::string longest;                     // exactly kMaxKeyPath bytes
  while (longest.size() + 101 <= kMaxKeyPath) longest += std::string(100, 'p') + "\\";
  longest += std::string(kMaxKeyPath - longest.size(), 'q');
  ASSERT_EQ(longest.size(), kMaxKeyPath);
  const std::string tooLong = longest + "r";
  const std::string longComponent = "A\\" + std::string(256, 'c');
  const char* bad[] = {
      "", "\\A", "A\\", "A\\\\B", "\\", "A\\B\\\\", at.c_str(), tooLong.c_str(), longComponent.c_str()};
  for (const char* path : bad) {
    SCOPED_TRACE(std::string(path).substr(0, 40));
    EXPECT_EQ(RegCreateKey(path), kRegBadPath);
    EXPECT_EQ(RegKeyExists(path), kRegBadPath);
    EXPECT_EQ(RegSetValue(path, "v", kRegSz, "x", 1), kRegBadPath);
    uint32_t size = 0;
    EXPECT_EQ(RegQueryValue(path, "v", nullptr, nullptr, &size), kRegBadPath);
    EXPECT_EQ(RegDeleteValue(path, "v"), kRegBadPath);
    EXPECT_EQ(RegDeleteKey(path), kRegBadPath);
    EXPECT_EQ(RegDeleteTree(path), kRegBadPath);
    std::string name;
    EXPECT_EQ(RegEnumKey(path, 0, &name), kRegBadPath);
    EXPECT_EQ(RegEnumValue(path, 0, &name, nullptr), kRegBadPath);
  }
  // Nothing was created by the refused calls: no "A", no shortened long path.
  EXPECT_EQ(RegKeyExists("A"), kRegNotFound);
  EXPECT_EQ(RegKeyExists(longest.c_str()), kRegNotFound);
  EXPECT_EQ(RegCreateKey(longest.c_str()), kRegOk);
  EXPECT_EQ(RegCreateKey((std::string("A\\") + std::string(255, 'c')).c_str()), kRegOk);

  EXPECT_EQ(RegCreateKey(nullptr), kRegInvalidParameter);
  EXPECT_EQ(RegDeleteTree(nullptr), kRegInvalidParameter);

  ASSERT_EQ(RegCreateKey("V"), kRegOk);
  const std::string name255(kMaxValueName, 'n');
  const std::string name256(kMaxValueName + 1, 'n');
  EXPECT_EQ(RegSetValue("V", name256.c_str(), kRegSz, "x", 1), kRegBadPath);
  EXPECT_EQ(Values("V"), std::vector<std::string>{});
  EXPECT_EQ(RegSetValue("V", name255.c_str(), kRegSz, "x", 1), kRegOk);
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValue("V", name256.c_str(), nullptr, nullptr, &size), kRegBadPath);
  EXPECT_EQ(RegDeleteValue("V", name256.c_str()), kRegBadPath);
  EXPECT_EQ(Query("V", name255.c_str()), "x");
}

TEST_F(Registry, FreshStoreHoldsTheEnglishPerflibKey) {
  const char* perflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
  EXPECT_EQ(SubKeys(perflib), std::vector<std::string>{"009"});
  EXPECT_EQ(SubKeys("software\\microsoft\\windows nt\\currentversion"), std::vector<std::string>{"Perflib"});
  EXPECT_EQ(Values(perflib), std::vector<std::string>{});
  std::string english = std::string(perflib) + "\\009";
  EXPECT_EQ(Values(english.c_str()), (std::vector<std::string>{"Counter", "Help"}));
  for (const char* name : {"Counter", "Help"}) {
    uint32_t type = 0;
    EXPECT_EQ(Query(english.c_str(), name, &type), std::string(4, '\0')) << name;
    EXPECT_EQ(type, static_cast<uint32_t>(kRegMultiSz)) << name;
  }
  // The seed is written once: changes survive reopening the store.
  ASSERT_EQ(RegSetValue(english.c_str(), "Counter", kRegMultiSz, "1\0\0\0\0\0", 6), kRegOk);
  const std::string file = dir_ + "/registry.db";
  setenv("ORVANTA_REGISTRY", (dir_ + "/other.db").c_str(), 1);
  EXPECT_EQ(Query(english.c_str(), "Counter"), std::string(4, '\0'));
  setenv("ORVANTA_REGISTRY", file.c_str(), 1);
  EXPECT_EQ(Query(english.c_str(), "Counter"), std::string("1\0\0\0\0\0", 6));
}

TEST_F(Registry, UnopenableStoreIsAccessDenied) {
  // A file the process may not open, then a file that is no database.
  ASSERT_TRUE(FailSyscall("open", EACCES));
  EXPECT_EQ(RegCreateKey("K"), kRegAccessDenied);
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValue("K", "v", nullptr, nullptr, &size), kRegAccessDenied);
  EXPECT_EQ(InjectedFailures("open"), 2);
  ResetSyscalls();
  const std::string junk = dir_ + "/junk.db";
  ASSERT_TRUE(lxtest::WriteFile(junk, std::string(8192, 'x')));
  setenv("ORVANTA_REGISTRY", junk.c_str(), 1);
  EXPECT_EQ(RegKeyExists("K"), kRegAccessDenied);
  EXPECT_EQ(RegSetValue("K", "v", kRegSz, "x", 1), kRegAccessDenied);
  EXPECT_EQ(lxtest::ReadFile(junk), std::string(8192, 'x'));
  // A good store works again afterwards.
  setenv("ORVANTA_REGISTRY", (dir_ + "/good.db").c_str(), 1);
  EXPECT_EQ(RegCreateKey("K"), kRegOk);
}

TEST_F(Registry, FourProcessesWritingAtOnceLoseNothing) {
  constexpr int kChildren = 4;
  constexpr int kValues = 500;
  // The parent's open connection is inherited by the children, which must not
  // use it.
  ASSERT_EQ(RegCreateKey("Stress"), kRegOk);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      char byte;
      while (read(go[0], &byte, 1) < 0 && errno == EINTR) {
      }
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        std::string name = "c" + std::to_string(c) + "-" + std::to_string(i);
        std::string key = "Stress\\Child" + std::to_string(c) + "\\" + std::to_string(i % 7);
        uint32_t value = static_cast<uint32_t>(c * 100000 + i);
        if (RegSetValue("Stress", name.c_str(), kRegDword, &value, 4) != kRegOk) ++failures;
        if (i % 25 == 0 && RegCreateKey(key.c_str()) != kRegOk) ++failures;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    pids.push_back(pid);
  }
  close(go[0]);
  close(go[1]);  // all children start together
  for (pid_t pid : pids) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> names;
  std::string name;
  for (uint32_t i = 0; RegEnumValue("Stress", i, &name, nullptr) == kRegOk; ++i) names.insert(name);
  EXPECT_EQ(names.size(), static_cast<size_t>(kChildren * kValues));
  for (int c = 0; c < kChildren; ++c) {
    for (int i = 0; i < kValues; ++i) {
      std::string n = "c" + std::to_string(c) + "-" + std::to_string(i);
      uint32_t value = 0, size = 4, type = 0;
      ASSERT_EQ(RegQueryValue("Stress", n.c_str(), &type, &value, &size), kRegOk) << n;
      EXPECT_EQ(value, static_cast<uint32_t>(c * 100000 + i));
      EXPECT_EQ(type, static_cast<uint32_t>(kRegDword));
    }
    std::string child = "Stress\\Child" + std::to_string(c);
    EXPECT_EQ(SubKeys(child.c_str()).size(), 7u) << child;
  }
}

TEST_F(Registry, ProcessesRacingToCreateTheStoreAllSucceed) {
  constexpr int kChildren = 4;
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string key = "Race\\" + std::to_string(c);
      _exit(RegCreateKey(key.c_str()) == kRegOk ? 0 : 1);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(SubKeys("Race").size(), static_cast<size_t>(kChildren));
  EXPECT_EQ(SubKeys("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib"),
            std::vector<std::string>{"009"});
}

TEST_F(Registry, ThreadsOfOneProcessShareTheConnection) {
  ASSERT_EQ(RegCreateKey("Threads"), kRegOk);
  constexpr int kThreads = 4;
  constexpr int kValues = 50;
  int failures[kThreads] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kValues; ++i) {
        std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
        uint32_t value = static_cast<uint32_t>(t * 1000 + i), back = 0, size = 4;
        if (RegSetValue("Threads", name.c_str(), kRegDword, &value, 4) != kRegOk ||
            RegQueryValue("Threads", name.c_str(), nullptr, &back, &size) != kRegOk || back != value) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_EQ(Values("Threads").size(), static_cast<size_t>(kThreads * kValues));

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
