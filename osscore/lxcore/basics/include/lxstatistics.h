// Server statistics in shared memory and the performance-data provider.
//
// The server and engine modules count what they do through the process-wide
// object that Statistics() returns. Until Enable() succeeds the counts stay in
// that object. Once enabled, every change is also written into the shared block
// "Orvanta", 792 bytes in the 32-bit performance-data layout (one object header,
// fifteen counter definitions, a counter block of fifteen 8-byte value slots,
// all little-endian), from which a monitor in another process collects through
// PrfData_Open, PrfData_Collect and PrfData_Close. Only one process on the
// machine is the writer: the one that holds the lock file "Orvanta_mt".
//
// Where things live on this host: the block is the POSIX shared-memory object
// $ORVANTA_SHM_NAME (default "/Orvanta", in /dev/shm), the writer lock the file
// Orvanta_mt in $ORVANTA_LOCK_DIR (default /dev/shm). The block lives while any
// process maps it; one left over by processes that ended, killed ones included,
// is initialised afresh by the next process that maps it.
//
// Other users: the block and the lock file are created 0600 whatever the umask;
// with $ORVANTA_SHM_GROUP naming a group the block is 0640 with that group, so
// that its members can monitor. A block or lock file that is not a regular file
// owned by this user or root, or is writable by group or others, is not used;
// neither is one reached through a symbolic link, nor a block in use with
// another size.
// A monitor of another user than the registry store's owner opens an existing
// block read-only and never creates it. Attaching waits at most 2 seconds for
// the lock that serialises attachments (only this user's processes can hold it),
// at most 2 seconds for the registry store (which members of the monitoring
// group may read, and so lock), and never for a lock on the block. Whenever one
// of these leaves the statistics disabled, one warning in the system log says
// why. A collection reads the block with pread and checks its header first, so
// a block cut short or damaged under a monitor gives nothing, never a crash.
// The writer maps the block; cutting it short under the writer (which only this
// user or root can do) kills the writer with SIGBUS, and is not guarded against.
//
// Fork: a child made by fork after Enable() does not publish: it starts with the
// statistics disabled and counts in its own copy of the object only. It is not
// the writer, and may become it with Enable() once no process holds the lock.
//
// Threading: the update operations take no lock, make no system call and
// allocate nothing. Each count is read and written as one 32-bit atomic word, so
// no reader ever sees a torn value; several threads updating the same count at
// the same moment may lose one another's changes, and the block may then show
// any of the values they stored. Enable() and Clear() may be called from any
// thread. Threads may go on counting while the library unloads (at process exit,
// when its destructors run): from then on the counts stay private, and an update
// that was under way lands in private memory or in the block, which stays mapped
// until the process ends: never in an unmapped page.
#pragma once

#include "lxdefs.h"
#include "lxresult.h"

// The statistics object. One instance per process, in static storage; the
// library never allocates it.
class LX_API LxStatistics {
 public:
  // Constant-initialised: all counts 0 and disabled before any code runs.
  constexpr LxStatistics() = default;
  LxStatistics(const LxStatistics&) = delete;
  LxStatistics& operator=(const LxStatistics&) = delete;

  // Each of these changes one count by +1 or -1 (32-bit wrap-around) and, when
  // enabled, stores the new count into the counter's slot in the shared block.
  void IncTransactions() { Step(transactions, 0, 1); }
  void DecTransactions() { Step(transactions, 0, -1); }
  void IncCommits() { Step(commits, 1, 1); }
  void IncAborts() { Step(aborts, 2, 1); }
  void IncCSRequests() { Step(csRequests, 3, 1); }
  void IncFailedCSRequests() { Step(failedCsRequests, 4, 1); }
  void IncServerNotifications() { Step(serverNotifications, 5, 1); }
  void IncQueries() { Step(queries, 6, 1); }
  void IncClients() { Step(clients, 7, 1); }
  void DecClients() { Step(clients, 7, -1); }
  void IncObjDescs() { Step(objDescs, 8, 1); }
  void DecObjDescs() { Step(objDescs, 8, -1); }
  void IncExtents() { Step(extents, 9, 1); }
  void DecExtents() { Step(extents, 9, -1); }
  void IncLocks() { Step(locks, 10, 1); }
  void DecLocks() { Step(locks, 10, -1); }
  void IncWatches() { Step(watches, 11, 1); }
  void DecWatches() { Step(watches, 11, -1); }
  void IncInternalTransactions() { Step(internalTransactions, 14, 1); }

  // Add n to one count. n = 1 and n = -1 act exactly as the increment and the
  // decrement; any other n (0 included) adds n to the count and, when enabled,
  // adds n to the value already in the counter's slot.
  void AddLocks(int32_t n) { Add(locks, 10, n); }
  void AddWatches(int32_t n) { Add(watches, 11, n); }
  void AddRefreshedObjects(int32_t n) { Add(refreshedObjects, 12, n); }
  void AddDeliveredObjects(int32_t n) { Add(deliveredObjects, 13, n); }

  // Publishes the statistics: when not yet enabled, attaches the shared block as
  // its single writer; on success clears all counts (here and in the block) and
  // sets the enabled flag. Reports nothing: when the counters are not installed,
  // are switched off ("Disable Performance Counters"), another process is the
  // writer, or the block or lock file cannot be had or trusted (see above), the
  // statistics stay disabled and the counts go on in this object only. Once
  // enabled, further calls do nothing.
  void Enable();

  // Sets all fifteen counts to 0 and, when this process maps the shared block,
  // the fifteen value slots too. The enabled flag is not touched.
  void Clear();

  unsigned short GetEnabled() const { return __atomic_load_n(&enabled, __ATOMIC_ACQUIRE); }
  int32_t GetTransactions() const { return Load(transactions); }
  int32_t GetCommits() const { return Load(commits); }
  int32_t GetAborts() const { return Load(aborts); }
  int32_t GetCsRequests() const { return Load(csRequests); }
  int32_t GetFailedCsRequests() const { return Load(failedCsRequests); }
  int32_t GetServerNotifications() const { return Load(serverNotifications); }
  int32_t GetQueries() const { return Load(queries); }
  int32_t GetClients() const { return Load(clients); }
  int32_t GetObjDescs() const { return Load(objDescs); }
  int32_t GetExtents() const { return Load(extents); }
  int32_t GetLocks() const { return Load(locks); }
  int32_t GetWatches() const { return Load(watches); }
  int32_t GetRefreshedObjects() const { return Load(refreshedObjects); }
  int32_t GetDeliveredObjects() const { return Load(deliveredObjects); }
  int32_t GetInternalTransactions() const { return Load(internalTransactions); }

  // Number of counts, and the position of a count in the counter definitions:
  // position k is fed by the k-th count above and published as counter id 101 + k.
  static constexpr int kCounterCount = 15;

 protected:
  static int32_t Load(const int32_t& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }
  static int32_t* Slot(int position) { return __atomic_load_n(&slots[position], __ATOMIC_RELAXED); }

  // The fast paths. `position` is the counter's position within the object.
  void Step(int32_t& field, int position, int32_t delta) {
    int32_t value = static_cast<int32_t>(static_cast<uint32_t>(Load(field)) + static_cast<uint32_t>(delta));
    __atomic_store_n(&field, value, __ATOMIC_RELAXED);
    if (GetEnabled()) __atomic_store_n(Slot(position), value, __ATOMIC_RELAXED);
  }
  void Add(int32_t& field, int position, int32_t n) {
    if (n == 1 || n == -1) {
      Step(field, position, n);
      return;
    }
    __atomic_store_n(&field,
                     static_cast<int32_t>(static_cast<uint32_t>(Load(field)) + static_cast<uint32_t>(n)),
                     __ATOMIC_RELAXED);
    if (GetEnabled()) {
      int32_t* slot = Slot(position);
      uint32_t published = static_cast<uint32_t>(__atomic_load_n(slot, __ATOMIC_RELAXED));
      __atomic_store_n(slot, static_cast<int32_t>(published + static_cast<uint32_t>(n)), __ATOMIC_RELAXED);
    }
  }

  unsigned short enabled = 0;
  int32_t transactions = 0;
  int32_t commits = 0;
  int32_t aborts = 0;
  int32_t csRequests = 0;
  int32_t failedCsRequests = 0;
  int32_t serverNotifications = 0;
  int32_t queries = 0;
  int32_t clients = 0;
  int32_t objDescs = 0;
  int32_t extents = 0;
  int32_t locks = 0;
  int32_t watches = 0;
  int32_t refreshedObjects = 0;
  int32_t deliveredObjects = 0;
  int32_t internalTransactions = 0;

  // The low four bytes of each counter's value slot in the mapped block, found
  // when the block is attached and set before the enabled flag (which is set
  // with release order and read with acquire order). When the library unloads
  // they are pointed at private memory; an update may have loaded a slot's
  // address just before and store through it later, so the library never unmaps
  // an address it handed out here.
  static int32_t* slots[kCounterCount];
};

// The process-wide statistics object.
LX_API LxStatistics* Statistics();

// ---------------------------------------------------------------------------
// Performance-data provider: the entry points that a monitor loads by name from
// the "Library", "Open", "Collect" and "Close" values of the service's
// Performance key, and the installer of those values.
// ---------------------------------------------------------------------------

// Attaches the shared block to the calling process, creating and initialising it
// (definitions and zero counts) when no process uses it yet; a process of
// another user than the registry store's owner only opens an existing block for
// reading. `deviceNames` is ignored. Returns 0 always.
LX_C_API uint32_t PrfData_Open(char16_t* deviceNames);

// Copies the performance objects that `valueName` asks for to *data. valueName
// is "Global" (any case, or null) for every object, or a blank-separated list of
// decimal name indexes; other requests select nothing. *totalBytes holds the
// free size at *data on entry.
// Returns 0 with the objects written (792 bytes for the one object), *data
// advanced past them, *totalBytes their size and *objectCount their number; 0
// with *totalBytes and *objectCount 0 and *data unchanged when nothing is
// selected, this process has not attached the block, the block cannot be read
// whole or its header is damaged (or an argument is null);
// LX_PRFDATA_MORE_DATA (234) with *totalBytes 0 when the free size is too
// small, nothing written and *data unchanged. Nothing is ever written beyond
// *totalBytes.
LX_C_API uint32_t PrfData_Collect(char16_t* valueName, void** data, uint32_t* totalBytes,
                                  uint32_t* objectCount);

// Returns 0 and does nothing else: the block stays attached until unload.
LX_C_API uint32_t PrfData_Close();

// Installs the counters in the registry store with this library's own file as
// "Library": the names and help texts go into every language sub-key of Perflib
// after its "Last Counter" and "Last Help", and the service's Performance key is
// created. Refused without any change when already installed. Returns 0 always.
LX_API int RegisterStatistics();

// Removes what RegisterStatistics installed: the names and help texts, the
// Performance key, and Perflib's last indexes when nothing was installed after
// these counters. Refused without change when not installed or when the stored
// indexes disagree with Perflib's. Returns 0 always.
LX_API int DeregisterStatistics();
