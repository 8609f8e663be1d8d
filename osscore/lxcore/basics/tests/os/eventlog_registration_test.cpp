// Registration of the system log's entry source in the registry store, as the
// system log does it when it opens a source, and with failures injected half-way.
#include <gtest/gtest.h>
#include <lxmessages.h>

#include <new>
#include <string>
#include <vector>

#include "lxtest.h"
#include "messages/syslog.h"
#include "os/eventlog.h"
#include "os/paths.h"
#include "os/registry.h"

namespace {

const std::string kBase = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// Both values of a registered source, or what is missing.
std::string Registration(const std::string& name) {
  const std::string key = kBase + name;
  char file[1100], types[4];
  uint32_t type = 0, typesType = 0, size = sizeof file, typesSize = 4;
  if (lxos::RegKeyExists(key.c_str()) != lxos::kRegOk) return "no key";
  if (lxos::RegQueryValue(key.c_str(), "EventMessageFile", &type, file, &size) != lxos::kRegOk ||
      lxos::RegQueryValue(key.c_str(), "TypesSupported", &typesType, types, &typesSize) != lxos::kRegOk) {
    return "values missing";
  }
  std::string library;
  lxos::LibraryPath(&library);
  return std::string(file, size) == library + '\0' && type == lxos::kRegExpandSz &&
                 typesType == lxos::kRegDword && std::string(types, 4) == std::string("\x07\0\0\0", 4)
             ? "registered"
             : "wrong values";
}

TEST(EventSourceRegistration, OpeningASourceRegistersItUnlessSwitchedOff) {
  LxSysLog first, named, silent;
  ASSERT_EQ(first.Printf(2, "hello"), 1);
  EXPECT_EQ(Registration("Orvanta Runtime System"), "registered");
  named.Open("Query Engine");
  EXPECT_EQ(Registration("QUERY ENGINE"), "registered");  // names compare without regard to case
  LxSystemLog()->SetEnabled(0);
  silent.Open("Silent Module");
  LxSystemLog()->SetEnabled(1);
  EXPECT_EQ(Registration("Silent Module"), "no key");
  // A name longer than a key name may be cannot be registered: the source opens anyway.
  LxSysLog unregistered;
  const std::string longName(300, 'r');
  unregistered.Open(longName.c_str());
  EXPECT_STREQ(unregistered.GetSourceName(), longName.c_str());
  EXPECT_EQ(unregistered.Printf(4, "still logged"), 1);
  EXPECT_EQ(Registration(longName), "no key");
}

// Registry operations that fail on the n-th value written, and count their calls.
int g_failOnSet = 0, g_sets = 0, g_creates = 0, g_deletes = 0;
int32_t CountingCreate(const char* path) { return ++g_creates, lxos::RegCreateKey(path); }
int32_t RefusingCreate(const char*) { return ++g_creates, lxos::kRegAccessDenied; }
int32_t FailingSet(const char* path, const char* name, uint32_t type, const void* data, uint32_t size) {
  return ++g_sets == g_failOnSet ? lxos::kRegIoFailed : lxos::RegSetValue(path, name, type, data, size);
}
int32_t ThrowingSet(const char*, const char*, uint32_t, const void*, uint32_t) { throw std::bad_alloc(); }
int32_t CountingDelete(const char* path) { return ++g_deletes, lxos::RegDeleteKey(path); }

TEST(EventSourceRegistration, AHalfWrittenKeyIsRemoved) {
  const struct {
    std::string name;
    lxmessages::RegistryOps ops;
    int failOnSet;
    bool registered;
    int creates, sets, deletes;
  } kCases[] = {
      {"Broken", {CountingCreate, FailingSet, CountingDelete}, 1, false, 1, 1, 1},
      {"Broken", {CountingCreate, FailingSet, CountingDelete}, 2, false, 1, 2, 1},
      {"Working", {CountingCreate, FailingSet, CountingDelete}, 0, true, 1, 2, 0},
      {"Working", {CountingCreate, FailingSet, CountingDelete}, 2, false, 1, 2, 1},  // takes the earlier key
      {"Refused", {RefusingCreate, FailingSet, CountingDelete}, 0, false, 1, 0, 1},
      {"Thrown", {CountingCreate, ThrowingSet, CountingDelete}, 0, false, 1, 0, 1},
      // The key path is the 55-character base and the name; it must fit 512 bytes.
      {std::string(512 - kBase.size(), 'n'), {CountingCreate, FailingSet, CountingDelete}, 0, false, 0, 0, 0},
      // One that fits is still longer than a key name may be: the store refuses the key.
      {std::string(511 - kBase.size(), 'n'), {CountingCreate, FailingSet, CountingDelete}, 0, false, 1, 0, 1},
  };
  for (const auto& c : kCases) {
    g_failOnSet = c.failOnSet, g_sets = g_creates = g_deletes = 0;
    EXPECT_EQ(lxmessages::RegisterEventSource(c.name.c_str(), c.ops), c.registered) << c.name;
    EXPECT_EQ(std::vector<int>({g_creates, g_sets, g_deletes}),
              std::vector<int>({c.creates, c.sets, c.deletes}))
        << c.name << " " << c.failOnSet;
    EXPECT_EQ(Registration(c.name), c.registered ? "registered" : "no key") << c.name;
  }
  // The parent keys that creating a key made stay.
  EXPECT_EQ(lxos::RegKeyExists(kBase.substr(0, kBase.size() - 1).c_str()), lxos::kRegOk);
}

}  // namespace
