// Registration of the system log's entry source in the registry store, as the
// system log does it when it opens a source, and with failures injected half-way.
#include <gtest/gtest.h>
#include <lxmessages.h>

#include <cstring>
#include <string>

#include "lxtest.h"
#include "messages/syslog.h"
#include "os/eventlog.h"
#include "os/paths.h"
#include "os/registry.h"

namespace {

const std::string kBase = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// Reads a value; returns its type, or 0 when it cannot be read.
uint32_t ReadValue(const std::string& key, const char* name, std::string* bytes) {
  uint32_t type = 0, size = 0;
  if (lxos::RegQueryValue(key.c_str(), name, &type, nullptr, &size) != lxos::kRegOk) return 0;
  bytes->assign(size, '\0');
  if (lxos::RegQueryValue(key.c_str(), name, &type, &(*bytes)[0], &size) != lxos::kRegOk) return 0;
  bytes->resize(size);
  return type;
}

void ExpectRegistered(const std::string& name) {
  std::string key = kBase + name, library, bytes;
  ASSERT_TRUE(lxos::LibraryPath(&library));
  ASSERT_EQ(lxos::kRegOk, lxos::RegKeyExists(key.c_str())) << key;
  EXPECT_EQ(static_cast<uint32_t>(lxos::kRegExpandSz), ReadValue(key, "EventMessageFile", &bytes));
  EXPECT_EQ(library + std::string(1, '\0'), bytes) << "the path with its terminator";
  EXPECT_EQ(static_cast<uint32_t>(lxos::kRegDword), ReadValue(key, "TypesSupported", &bytes));
  EXPECT_EQ(std::string("\x07\0\0\0", 4), bytes);
}

// Registry operations that fail on the n-th value written (1-based), and count.
int g_failOnSet = 0;
int g_sets = 0;
int g_creates = 0;
int g_deletes = 0;
int32_t CountingCreate(const char* path) {
  ++g_creates;
  return lxos::RegCreateKey(path);
}
int32_t FailingSet(const char* path, const char* name, uint32_t type, const void* data, uint32_t size) {
  if (++g_sets == g_failOnSet) return lxos::kRegIoFailed;
  return lxos::RegSetValue(path, name, type, data, size);
}
int32_t CountingDelete(const char* path) {
  ++g_deletes;
  return lxos::RegDeleteKey(path);
}
int32_t RefusingCreate(const char*) {
  ++g_creates;
  return lxos::kRegAccessDenied;
}
const lxmessages::RegistryOps kFaulty = {CountingCreate, FailingSet, CountingDelete};

void ResetCounts(int failOnSet) {
  g_failOnSet = failOnSet;
  g_sets = g_creates = g_deletes = 0;
}

TEST(EventSourceRegistration, FirstEntryRegistersTheDefaultSource) {
  const std::string key = kBase + "Orvanta Runtime System";
  lxos::RegDeleteKey(key.c_str());
  ASSERT_EQ(lxos::kRegNotFound, lxos::RegKeyExists(key.c_str()));
  LxSysLog log;
  ASSERT_EQ(1, log.Printf(2, "hello"));
  ExpectRegistered("Orvanta Runtime System");
}

TEST(EventSourceRegistration, OpenRegistersItsName) {
  LxSysLog log;
  log.Open("Query Engine");
  ExpectRegistered("Query Engine");
  // Names compare without regard to case, as the host's registry does.
  ExpectRegistered("QUERY ENGINE");
}

TEST(EventSourceRegistration, SwitchedOffLogWritesNoKey) {
  const std::string defaultKey = kBase + "Orvanta Runtime System";
  const int32_t defaultBefore = lxos::RegKeyExists(defaultKey.c_str());
  LxSysLog log;
  LxSystemLog()->SetEnabled(0);
  EXPECT_EQ(0, log.Printf(4, "nothing"));
  log.Open("Silent Module");
  LxSystemLog()->SetEnabled(1);
  EXPECT_EQ(defaultBefore, lxos::RegKeyExists(defaultKey.c_str()));
  EXPECT_EQ(lxos::kRegNotFound, lxos::RegKeyExists((kBase + "Silent Module").c_str()));
  EXPECT_EQ(lxos::kNoEventSource, log.GetEventSource());
}

TEST(EventSourceRegistration, HalfWrittenKeyIsRemoved) {
  for (int failOn : {1, 2}) {
    SCOPED_TRACE(failOn);
    std::string name = "Broken " + std::to_string(failOn);
    ResetCounts(failOn);
    EXPECT_FALSE(lxmessages::RegisterEventSource(name.c_str(), kFaulty));
    EXPECT_EQ(1, g_creates);
    EXPECT_EQ(failOn, g_sets) << "the second value is not tried after the first failed";
    EXPECT_EQ(1, g_deletes);
    EXPECT_EQ(lxos::kRegNotFound, lxos::RegKeyExists((kBase + name).c_str()));
    // The parent keys that creating the key made stay.
    EXPECT_EQ(lxos::kRegOk, lxos::RegKeyExists(kBase.substr(0, kBase.size() - 1).c_str()));
  }
  ResetCounts(0);
  EXPECT_TRUE(lxmessages::RegisterEventSource("Working", kFaulty));
  EXPECT_EQ(2, g_sets);
  EXPECT_EQ(0, g_deletes);
  ExpectRegistered("Working");

  // A re-registration that fails takes the earlier key with it.
  ResetCounts(2);
  EXPECT_FALSE(lxmessages::RegisterEventSource("Working", kFaulty));
  EXPECT_EQ(lxos::kRegNotFound, lxos::RegKeyExists((kBase + "Working").c_str()));

  // A key that cannot be created is still deleted, as far as it exists.
  const lxmessages::RegistryOps refusing = {RefusingCreate, FailingSet, CountingDelete};
  ResetCounts(0);
  EXPECT_FALSE(lxmessages::RegisterEventSource("Refused", refusing));
  EXPECT_EQ(0, g_sets);
  EXPECT_EQ(1, g_deletes);
}

TEST(EventSourceRegistration, KeyPathMustFit512Characters) {
  // The key path is the 55-character base plus the name; 511 characters fit.
  std::string fits(511 - kBase.size(), 'n');
  std::string tooLong(512 - kBase.size(), 'n');
  ResetCounts(0);
  EXPECT_FALSE(lxmessages::RegisterEventSource(tooLong.c_str(), kFaulty));
  EXPECT_EQ(0, g_creates);
  EXPECT_EQ(0, g_deletes);
  // A name that fits here is still longer than a registry key name may be: the
  // store refuses the key, and the registration fails without leaving anything.
  EXPECT_FALSE(lxmessages::RegisterEventSource(fits.c_str(), kFaulty));
  EXPECT_EQ(1, g_creates);
  EXPECT_EQ(0, g_sets);
}

TEST(EventSourceRegistration, FailedRegistrationStillOpensTheSource) {
  // A source name longer than a key name may be cannot be registered.
  std::string name(300, 'r');
  std::string path = lxtest::MakeTempDir("reg") + "/app.log";
  std::string old = std::getenv("ORVANTA_EVENTLOG");
  setenv("ORVANTA_EVENTLOG", ("file:" + path).c_str(), 1);
  LxSysLog log;
  log.Open(name.c_str());
  EXPECT_STREQ(name.c_str(), log.GetSourceName());
  EXPECT_EQ(1, log.Printf(4, "still logged"));
  setenv("ORVANTA_EVENTLOG", old.c_str(), 1);
  EXPECT_NE(std::string::npos, lxtest::ReadFile(path).find("still logged"));
}

}  // namespace
