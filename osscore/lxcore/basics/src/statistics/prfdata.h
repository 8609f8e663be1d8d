// The performance-data provider: the counter definition table, the process-wide
// provider state that owns the shared statistics block, and the block's layout.
//
// Block layout (792 bytes, little-endian, the 32-bit performance-data layout):
// per object in table order a 64-byte object header, 40 bytes per counter
// definition and a counter block of 8 bytes plus 8 per counter. Counter position
// k of the one object has its definition at 64 + 40k and its value slot at
// 672 + 8k (low four bytes: the count; high four bytes: 0).
//
// Title indexes: record i of the table gets the name index FirstCounter + 2i and
// the help index FirstHelp + 2i. Registry locations: the service key
// "SYSTEM\CurrentControlSet\Services\Orvanta\Performance" and Perflib's key
// "SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib" with one sub-key per
// language holding the multi-strings "Counter" and "Help" (UTF-16LE).
//
// Threading: the provider state is set up at load. Activate, CounterSlot,
// Collect, Install, Remove and Unload take one process-wide mutex, so that any
// thread may call them; collections of one process share the collect marks of
// the table under it. Writes into the block by the statistics updates do not
// take it. A child made by fork starts detached: it maps no block, holds no
// writer lock and does not publish (AfterForkInChild).
//
// Who attaches how: the writer, and a monitor of the user that owns the registry
// store, attach the block read-write (lxos::ShmAttach), creating it when missing,
// serialised by byte 1 of the writer lock file; a monitor of any other user
// opens an existing block read-only (lxos::ShmOpenReadOnly) and trusts it only
// when it belongs to root or to the store's owner and to the monitoring group.
// Collections copy the block with pread and check its header first, so a block
// cut short or damaged gives nothing, never a fault. A block, lock file or lock
// wait that cannot be trusted leaves the statistics disabled and writes one
// warning to the system log saying why.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "lxresult.h"
#include "os/shm.h"

namespace lxstats {

enum PrfKind : uint32_t { kPrfEnd = 0, kPrfObject = 1, kPrfCounter = 2 };

// PERF_COUNTER_RAWCOUNT and PERF_COUNTER_COUNTER.
constexpr uint32_t kRawCount = 0x00010000;
constexpr uint32_t kRateCount = 0x10410400;
constexpr uint32_t kDetailNovice = 100;

// Sizes of the 32-bit performance-data structures.
constexpr uint32_t kObjectHeaderSize = 64;
constexpr uint32_t kCounterDefinitionSize = 40;
constexpr uint32_t kCounterBlockHeaderSize = 8;
constexpr uint32_t kCounterValueSize = 8;
constexpr uint32_t kBlockSize = 792;

// Result of PrfData_Collect when the buffer is too small (ERROR_MORE_DATA).
constexpr uint32_t kMoreData = LX_PRFDATA_MORE_DATA;
// Result of Activate, Install and Remove when they refuse (see there).
constexpr int32_t kPrfRefused = -1;

// One record of the counter definition table.
struct PrfDataEntry {
  uint32_t kind;
  uint32_t id;
  const char16_t* name;
  const char16_t* help;
  uint32_t detailLevel;
  int32_t defaultCounter;
  int32_t maxInstances;
  uint32_t maxInstanceNameLength;
  uint32_t counterCount;
  int32_t nextObject;
  uint32_t blockSize;
  uint32_t collectMark;
  int32_t defaultScale;
  uint32_t counterType;
};

// The provider state. One process-wide instance, PrfDataProvider().
class PrfData {
 public:
  constexpr PrfData(const char16_t* name, PrfDataEntry* table) : name(name), table(table) {}
  PrfData(const PrfData&) = delete;
  PrfData& operator=(const PrfData&) = delete;

  // Counts the records and objects and links each object to the next; runs once
  // at load.
  void Link();

  // Attaches the shared block. Returns 0 when this process maps it (created and
  // initialised here, found as another process left it, or mapped before); -1
  // when the Performance key is missing, "Disable Performance Counters" is
  // non-zero, or (with singleWriter) another process holds the writer lock; the
  // system's error number when the lock or the block cannot be had (ETIMEDOUT
  // when the registry store or the setup lock stayed locked for 2 seconds). With
  // singleWriter the writer lock stays held until the process ends once taken.
  // After a failure nothing is mapped that was not mapped before.
  int32_t Activate(bool singleWriter);

  // Address of the value slot of counter `id` (instance 0 is the only one), or
  // null when the block is not mapped or no counter has that id. The address
  // stays writable until the process ends, also after Unload.
  unsigned char* CounterSlot(uint32_t id, int32_t instance) const;

  // The collect routine behind PrfData_Collect; see there.
  uint32_t Collect(const char16_t* valueName, void** data, uint32_t* totalBytes, uint32_t* objectCount);

  // Installs the counters in the registry store with `library` (UTF-8) as the
  // "Library" value. Returns 0, or -1 when the Perflib key cannot be opened or
  // created, the counters are already installed, or the Performance key cannot be
  // created (nothing changed in those cases).
  int32_t Install(const std::string& library);

  // Removes the counters. Returns 0, or -1 when they are not installed, an index
  // value is missing, or the stored indexes are inconsistent with Perflib's
  // (nothing changed in those cases).
  int32_t Remove();

  // In a child made by fork: stops publishing, unmaps the block and closes this
  // process's descriptors of the block and the writer lock (the parent keeps its
  // locks). Runs with the provider mutex held.
  void AfterForkInChild();

  // Gives up the block (the unload routine). Statistics are disabled first and
  // the statistics' slot addresses pointed at private memory; once CounterSlot
  // has handed out an address the view is left mapped until the process ends, so
  // that an update still under way in another thread never writes to an
  // unmapped page.
  void Unload();

  // The service name as 8-bit text, and the registry key of its counters.
  std::string ServiceName() const;
  std::string PerformanceKey() const;

  const PrfDataEntry* GetTable() const { return table; }
  uint32_t GetEntryCount() const { return entryCount; }
  uint32_t GetObjectCount() const { return objectCount; }
  uint32_t GetFirstCounter() const { return firstCounter; }
  uint32_t GetFirstHelp() const { return firstHelp; }
  uint32_t GetLastCounter() const { return lastCounter; }
  uint32_t GetLastHelp() const { return lastHelp; }
  void* GetView() const { return block.view; }

 protected:
  // Writes the definitions of every object into a zero-filled block.
  void Initialise(unsigned char* view) const;
  static void InitialiseBlock(void* view, size_t size, void* context);
  // Total of the objects' block sizes, stored in each object's record.
  uint32_t ComputeBlockSizes();
  // Leaves the statistics disabled after a failure that is not normal (`rc`,
  // with `why` when known): writes one warning per distinct reason to the system
  // log. Returns rc.
  int32_t Refuse(int32_t rc, const std::string& subject, const std::string& why);
  int32_t AddTexts(const std::string& languageKey, const char* valueName, bool help);
  int32_t CutTexts(const std::string& languageKey, const char* valueName, uint32_t first, uint32_t last);

  const char16_t* name;
  uint32_t firstCounter = 0;
  uint32_t firstHelp = 1;
  uint32_t lastCounter = 0;
  uint32_t lastHelp = 1;
  PrfDataEntry* table;
  uint32_t entryCount = 0;
  uint32_t objectCount = 0;
  // The mapping handle and view of the design, in one.
  lxos::ShmBlock block;
  int writerLock = -1;
  // Set once CounterSlot has returned an address into the view.
  mutable bool slotsHandedOut = false;
};

// The process-wide provider.
PrfData& PrfDataProvider();

// Serialises Enable (statistics.cpp); taken before the provider's mutex.
std::mutex& EnableMutex();

// Clears the enabled flag of the statistics object and points its slot
// addresses at private memory, so that no update goes to the block any more
// (statistics.cpp).
void StopPublishing();

// The POSIX name of the shared block: $ORVANTA_SHM_NAME when set and not
// empty (a leading '/' is added when missing), else "/" + the service name.
std::string BlockName();

// The writer lock file: LockDirectory() + "/" + service name + "_mt".
std::string WriterLockFile();

}  // namespace lxstats
