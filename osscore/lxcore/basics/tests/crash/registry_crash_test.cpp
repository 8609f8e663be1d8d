// A writer of the registry store killed with SIGKILL amid a burst of sets: the
// store passes SQLite's integrity check, holds every value old or new (new once
// the writer saw it succeed) and takes further writes. An entry (deleted before
// it is set) may also be missing: only the one the writer was working on.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <string>
#include <vector>

#include "lxplatform.h"
#include "lxtest.h"
#include "os/paths.h"
#include "os/registry.h"

namespace {

using lxtest::Child;

constexpr int kValues = 24;
const char kKey[] = "Crash\\Burst";

// Values of varying length, so that pages of the store split and merge.
std::string Value(const char* generation, int round, int i) {
  return std::string(generation) + "-" + std::to_string(round) + "-" + std::to_string(i) +
         std::string(static_cast<size_t>((i * 97 + round * 31) % 700), static_cast<char>('a' + i % 26));
}

// The value `name`, through the store or as an entry; "<none>" when it cannot be read.
std::string Stored(const std::string& name, bool entry) {
  std::string out(1024, '\0');
  const char* path[] = {"Crash", name.c_str(), nullptr};
  int32_t size = static_cast<int32_t>(out.size());
  uint32_t storeSize = static_cast<uint32_t>(out.size());
  const bool ok = entry
                      ? LxGetRegistryEntry(path, &out[0], size) == 0
                      : lxos::RegQueryValue(kKey, name.c_str(), nullptr, &out[0], &storeSize) == lxos::kRegOk;
  return ok ? out.substr(0, entry ? static_cast<size_t>(size) : storeSize) : "<none>";
}

// Sets `name` through the store and as an entry, reporting steps 2i and 2i + 1.
bool SetBoth(const std::string& name, const std::string& value, int progress = -1, int step = 0) {
  const char* path[] = {"Crash", name.c_str(), nullptr};
  int32_t one = 1;
  if (lxos::RegSetValue(kKey, name.c_str(), lxos::kRegSz, value.data(),
                        static_cast<uint32_t>(value.size())) != lxos::kRegOk)
    return false;
  if (progress >= 0) lxtest::Report(progress, 2 * step);
  if (LxSetRegistryEntry(path, value.c_str(), one) != 0) return false;
  if (progress >= 0) lxtest::Report(progress, 2 * step + 1);
  return true;
}

std::string IntegrityCheck() {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(lxos::RegistryFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return result;
}

TEST(RegistryCrash, KilledWriterLeavesEveryValueOldOrNew) {
  std::mt19937 random(20261205);
  ASSERT_EQ(lxos::kRegOk, lxos::RegCreateKey(kKey));
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < kValues; ++i) ASSERT_TRUE(SetBoth("v" + std::to_string(i), Value("old", round, i)));
    Child writer([round](int progress) {
      for (int i = 0; i < kValues; ++i) {
        if (!SetBoth("v" + std::to_string(i), Value("new", round, i), progress, i)) return 3;
      }
      for (;;) lxtest::Nap(100000);  // done: wait for the end
    });
    const uint32_t reports = random() % (2 * kValues);
    uint32_t word = 0;
    int32_t lastDone = -1;
    for (uint32_t k = 0; k < reports && writer.ReadProgress(&word); ++k)
      lastDone = static_cast<int32_t>(word);
    lxtest::Nap(static_cast<long>(random() % 4000));
    writer.Kill();
    EXPECT_EQ(128 + SIGKILL, writer.Wait());

    EXPECT_EQ("ok", IntegrityCheck());
    int missingEntries = 0;
    for (int i = 0; i < kValues; ++i) {
      const std::string name = "v" + std::to_string(i);
      const std::string old = Value("old", round, i), fresh = Value("new", round, i);
      for (bool entry : {false, true}) {
        const std::string stored = Stored(name, entry);
        missingEntries += stored == "<none>" && entry;
        EXPECT_TRUE(stored == fresh ||
                    (2 * i + entry > lastDone && (stored == old || (entry && stored == "<none>"))))
            << name << (entry ? " entry: " : ": ") << stored.substr(0, 40);
      }
    }
    EXPECT_LE(missingEntries, 1);
    EXPECT_TRUE(SetBoth("after", "taken"));  // the store takes writes again
    EXPECT_EQ("taken", Stored("after", false));
  }
}

}  // namespace
