// The registry store and a writer killed with SIGKILL in the middle of a burst
// of sets, at a different moment in each round: afterwards the store opens,
// passes SQLite's integrity check, holds every value either old or new (every
// value the writer saw succeed is new), and takes further writes.
//
// Sets through the store replace a value in one transaction. Sets through the
// entry functions delete the old value first, so there an entry may also be
// missing, and only the entry the writer was working on.
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

std::string Query(const char* key, const std::string& name) {
  uint32_t size = 0;
  if (lxos::RegQueryValue(key, name.c_str(), nullptr, nullptr, &size) != lxos::kRegOk) return "<none>";
  std::string out(size, '\0');
  if (lxos::RegQueryValue(key, name.c_str(), nullptr, size ? &out[0] : nullptr, &size) != lxos::kRegOk) {
    return "<unreadable>";
  }
  out.resize(size);
  return out;
}

std::string Entry(const std::string& name) {
  const char* path[] = {"Crash", name.c_str(), nullptr};
  std::string buffer(1024, '\0');
  int32_t size = static_cast<int32_t>(buffer.size());
  if (LxGetRegistryEntry(path, &buffer[0], size) != 0) return "<none>";
  buffer.resize(static_cast<size_t>(size));
  return buffer;
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
    for (int i = 0; i < kValues; ++i) {
      const std::string old = Value("old", round, i);
      const std::string name = "v" + std::to_string(i);
      ASSERT_EQ(lxos::kRegOk, lxos::RegSetValue(kKey, name.c_str(), lxos::kRegSz, old.data(),
                                                static_cast<uint32_t>(old.size())));
      const char* path[] = {"Crash", name.c_str(), nullptr};
      int32_t one = 1;
      ASSERT_EQ(0, LxSetRegistryEntry(path, old.c_str(), one));
    }
    // The writer sets every value once, reporting each: 2i for the store, 2i + 1
    // for the entry.
    Child writer([round](int progress) {
      for (int i = 0; i < kValues; ++i) {
        const std::string fresh = Value("new", round, i);
        const std::string name = "v" + std::to_string(i);
        if (lxos::RegSetValue(kKey, name.c_str(), lxos::kRegSz, fresh.data(),
                              static_cast<uint32_t>(fresh.size())) != lxos::kRegOk) {
          return 3;
        }
        lxtest::Report(progress, 2 * i);
        const char* path[] = {"Crash", name.c_str(), nullptr};
        int32_t one = 1;
        if (LxSetRegistryEntry(path, fresh.c_str(), one) != 0) return 4;
        lxtest::Report(progress, 2 * i + 1);
      }
      for (;;) lxtest::Nap(100000);  // done: wait for the end
    });
    ASSERT_TRUE(writer.Started());
    // Let it get a little way into the burst, then kill it mid-step.
    const uint32_t reports = random() % (2 * kValues);
    uint32_t word = 0;
    int32_t lastDone = -1;
    for (uint32_t k = 0; k < reports && writer.ReadProgress(&word); ++k)
      lastDone = static_cast<int32_t>(word);
    lxtest::Nap(static_cast<long>(random() % 4000));
    writer.Kill();
    EXPECT_EQ(128 + SIGKILL, writer.Wait()) << "round " << round;

    EXPECT_EQ("ok", IntegrityCheck()) << "round " << round;
    int missingEntries = 0;
    for (int i = 0; i < kValues; ++i) {
      const std::string name = "v" + std::to_string(i);
      const std::string old = Value("old", round, i), fresh = Value("new", round, i);
      const std::string stored = Query(kKey, name);
      EXPECT_TRUE(stored == old || stored == fresh)
          << "round " << round << " " << name << ": " << stored.substr(0, 40);
      if (2 * i <= lastDone) {
        EXPECT_EQ(fresh, stored) << "round " << round << " " << name;
      }
      const std::string entry = Entry(name);
      if (entry == "<none>") {
        ++missingEntries;
      } else {
        EXPECT_TRUE(entry == old || entry == fresh)
            << "round " << round << " " << name << ": " << entry.substr(0, 40);
      }
      if (2 * i + 1 <= lastDone) {
        EXPECT_EQ(fresh, entry) << "round " << round << " " << name;
      }
    }
    EXPECT_LE(missingEntries, 1) << "round " << round;
    // The store takes writes again.
    EXPECT_EQ(lxos::kRegOk, lxos::RegSetValue(kKey, "after", lxos::kRegDword, "\1\0\0\0", 4));
    EXPECT_EQ(std::string("\1\0\0\0", 4), Query(kKey, "after"));
  }
}

}  // namespace
