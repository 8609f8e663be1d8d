// Ordered containers: container, iterator and parameter interfaces, the one-entry
// container, entry cache, entry stack and node pool, the red-black tree and its
// iterator, the container differ and the memory-file container.
//
// A container does not know what its elements mean. Its owner describes the
// element through six callbacks (copy, destroy, compare, and the key, data and
// flags views) and every ordered operation works only through them. Callers hand
// the containers no raw keys: insertions, searches and deletions read the key and
// data from the entry at which a *source* iterator stands (often an
// LxOneEntryIterator over an LxOneEntryContainer that wraps one key).
//
// Results are signed 32-bit codes; the codes shared by all containers are the
// LX_CONTAINER_* constants of lxresult.h. Containers own their storage; callers own the
// iterators they create (CreateIterator, Clone) and destroy them through the
// virtual destructor. Nothing here locks: a container and its iterators are used
// by one thread at a time.
#pragma once

#include "lxdefs.h"
#include "lxresult.h"

class LxVContainer;
class LxVIterator;

// Uniqueness bits of a container's `flags`; with neither, keys are unique.
constexpr unsigned short LX_CONTAINER_EQUAL_KEYS = 0x0001;  // equal keys may coexist when the entries differ
constexpr unsigned short LX_CONTAINER_EQUAL_ENTRIES = 0x0002;  // entries equal as a whole may coexist

// Mode bits of insertions, searches and deletions.
constexpr unsigned short LX_MODE_DELETE_BACKWARD = 0x0001;  // iterator deletion: stand on the previous
constexpr unsigned short LX_MODE_INSERT_BEFORE = 0x0004;    // equal entry goes before, not after
constexpr unsigned short LX_MODE_LAST_MATCH = 0x0010;       // take the last of the matches
constexpr unsigned short LX_MODE_GREATEST_BEFORE = 0x0020;  // no match: the greatest entry before
constexpr unsigned short LX_MODE_LEAST_AFTER = 0x0040;      // no match: the least entry after
constexpr unsigned short LX_MODE_STEP_PAST = 0x0100;        // param->entry among matches: step past them
constexpr unsigned short LX_MODE_KEEP_NEIGHBOUR = 0x0200;   // set by deletions themselves

// ---------------------------------------------------------------------------
// Parameter
// ---------------------------------------------------------------------------

// Rides along with every container operation and is handed to the callbacks.
class LX_API LxVParameter {
 public:
  LxVParameter() = default;
  // Copies `entry` only. `callerFlags` of the new object starts at 0; callers that
  // use it set it themselves.
  LxVParameter(const LxVParameter& other) : entry(other.entry) {}
  // Copies `entry` only; `callerFlags` keeps its value.
  LxVParameter& operator=(const LxVParameter& other) {
    entry = other.entry;
    return *this;
  }
  virtual ~LxVParameter();
  // 0 for the base, 1 for LxRBTreeParameter.
  virtual int GetType() const;

  // An entry that the caller names for a search (mode LX_MODE_STEP_PAST).
  const void* entry = nullptr;
  // Handed through to the callbacks; the containers of this library never read
  // it. The differ uses bit 0 as its side flag.
  uint32_t callerFlags = 0;
};

class LX_API LxRBTreeParameter : public LxVParameter {
 public:
  LxRBTreeParameter() = default;
  LxRBTreeParameter(const LxRBTreeParameter& other) = default;
  LxRBTreeParameter& operator=(const LxRBTreeParameter& other) = default;
  ~LxRBTreeParameter() override;
  int GetType() const override;
};

// ---------------------------------------------------------------------------
// Element callbacks
// ---------------------------------------------------------------------------

// Builds `element` from the source's key and data. Returns 0 or a negative error.
typedef int (*LxCopyFunc)(LxVContainer* container, void* element, const LxVIterator* source, const void* key,
                          const void* data, LxVParameter* param);
// Releases what `element` holds.
typedef void (*LxDestroyFunc)(LxVContainer* container, void* element);
// Orders the key/data pair against `element`: *keyOrder compares the keys alone,
// *entryOrder the entries as a whole (negative: the pair sorts before the element).
// An entry order of 0 implies a key order of 0. `source`, `data` and `param` may
// be null. A negative result is an error that stops the calling operation.
typedef int (*LxCompareFunc)(LxVContainer* container, int* keyOrder, int* entryOrder,
                             const LxVIterator* source, const void* key, const void* data,
                             const void* element, LxVParameter* param);
// Key and data views. The data view sets *status to LX_CONTAINER_NO_DATA when the element has no
// data part.
typedef const void* (*LxKeyFunc)(LxVContainer* container, const void* element, int* status,
                                 LxVParameter* param);
typedef LxKeyFunc LxDataFunc;
typedef uint32_t (*LxFlagsFunc)(LxVContainer* container, const void* element, int* status,
                                LxVParameter* param);

// ---------------------------------------------------------------------------
// Container
// ---------------------------------------------------------------------------

// The abstract container. `flags` holds the uniqueness rules of ordered insertion:
// bit value 1 lets entries with equal keys coexist when the entries differ, bit
// value 2 lets even identical entries coexist; with neither, keys are unique.
// Operations that a concrete container does not provide return LX_CONTAINER_NOT_IMPLEMENTED (or null).
class LX_API LxVContainer {
 public:
  // count 0; installs the default callbacks: copy copies elementSize bytes from
  // the key pointer, no destroy, compare says "equal", key is the element itself,
  // data is null with status LX_CONTAINER_NO_DATA, flags are 1.
  LxVContainer(uint32_t elementSize = 0, unsigned short flags = 0);
  LxVContainer& operator=(const LxVContainer&) = delete;
  virtual ~LxVContainer();

  // Base: null.
  virtual LxVContainer* Clone(LxVContainer* target) const;
  // Base: 0. LxRBTree: 1. LxOneEntryContainer: 4.
  virtual unsigned short GetType() const;
  // Removes every entry and stores the former count in *count (when given).
  // Base: LX_CONTAINER_NOT_IMPLEMENTED.
  virtual int Clear(LxTransactionContext* ctx, uint32_t* count, LxVContainer* other);
  // Finds the entry that matches the source's current entry; positions `result`
  // (when given) on it or on a neighbour. Base: LX_CONTAINER_NOT_IMPLEMENTED.
  virtual int SearchElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param, LxVIterator* result);
  // Base: LX_CONTAINER_NOT_IMPLEMENTED.
  virtual int InsertElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param);
  // Base: LX_CONTAINER_NOT_IMPLEMENTED.
  virtual int DeleteElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param);
  // The caller's element inside `entry`. Base: `entry` itself.
  virtual const void* GetElementOfEntry(const void* entry) const;
  // A new iterator on this container, owned by the caller. Base: null.
  virtual LxVIterator* CreateIterator(LxTransactionContext* ctx);

  void SetCopyFunc(LxCopyFunc f) { copyFunc = f; }
  void SetDestroyFunc(LxDestroyFunc f) { destroyFunc = f; }
  void SetCompareFunc(LxCompareFunc f) { compareFunc = f; }
  void SetKeyFunc(LxKeyFunc f) { keyFunc = f; }
  void SetDataFunc(LxDataFunc f) { dataFunc = f; }
  void SetFlagsFunc(LxFlagsFunc f) { flagsFunc = f; }

  uint32_t GetCount() const { return count; }
  uint32_t GetElementSize() const { return elementSize; }
  unsigned short GetFlags() const { return flags; }
  LxCopyFunc GetCopyFunc() const { return copyFunc; }
  LxDestroyFunc GetDestroyFunc() const { return destroyFunc; }
  LxCompareFunc GetCompareFunc() const { return compareFunc; }
  LxKeyFunc GetKeyFunc() const { return keyFunc; }
  LxDataFunc GetDataFunc() const { return dataFunc; }
  LxFlagsFunc GetFlagsFunc() const { return flagsFunc; }

  // The callbacks that the constructor installs.
  static int DefaultCopy(LxVContainer* c, void* element, const LxVIterator* source, const void* key,
                         const void* data, LxVParameter* param);
  static int DefaultCompare(LxVContainer* c, int* keyOrder, int* entryOrder, const LxVIterator* source,
                            const void* key, const void* data, const void* element, LxVParameter* param);
  static const void* DefaultKey(LxVContainer* c, const void* element, int* status, LxVParameter* param);
  static const void* DefaultData(LxVContainer* c, const void* element, int* status, LxVParameter* param);
  static uint32_t DefaultFlags(LxVContainer* c, const void* element, int* status, LxVParameter* param);

 protected:
  // Copies every field, callbacks included.
  LxVContainer(const LxVContainer& other) = default;

  uint32_t count = 0;
  uint32_t elementSize;
  unsigned short flags;
  LxCopyFunc copyFunc;
  LxDestroyFunc destroyFunc;
  LxCompareFunc compareFunc;
  LxKeyFunc keyFunc;
  LxDataFunc dataFunc;
  LxFlagsFunc flagsFunc;
};

// ---------------------------------------------------------------------------
// Iterator
// ---------------------------------------------------------------------------

// An iterator is bound to one container and one transaction context. Its
// position lives in `status`: 0 while it stands on an entry, else LX_CONTAINER_UNBOUND (unbound),
// LX_CONTAINER_BEFORE_FIRST (before the first entry), LX_CONTAINER_BEHIND_LAST (behind the last),
// LX_CONTAINER_POSITION_LOST (position lost) or the code of the last failure. It does not own its container,
// which must outlive it; the transaction context is stored and passed on, never used.
class LX_API LxVIterator {
 public:
  // Unbound: status LX_CONTAINER_UNBOUND.
  explicit LxVIterator(LxTransactionContext* ctx);
  // Bound to `c`: status LX_CONTAINER_BEFORE_FIRST, or LX_CONTAINER_UNBOUND when `c` is null.
  LxVIterator(LxTransactionContext* ctx, LxVContainer* c);
  // Copying takes over context, container and status: both stand at the same place.
  LxVIterator(const LxVIterator& other) = default;
  LxVIterator& operator=(const LxVIterator& other) = default;
  // Binds to `c` as SetContainer does.
  LxVIterator& operator=(LxVContainer* c);
  virtual ~LxVIterator();

  // Base: 0. Tree iterator: 1. One-entry iterator: 4.
  virtual unsigned short GetType() const;
  // Base: null.
  virtual LxVIterator* Clone(LxVIterator* target) const;
  // Positioning. Each returns the new status. Base: LX_CONTAINER_NOT_IMPLEMENTED.
  virtual int First();
  virtual int Next();
  virtual int Prior();
  virtual int Last();
  // Orders this iterator's entry against `other`'s (key and data read through
  // `other`, compare through this iterator's container). Returns this or other's
  // negative status unchanged (outputs untouched), a view's error, LX_CONTAINER_NOT_IMPLEMENTED without
  // a compare callback, else the compare callback's result.
  virtual int CompareElement(const LxVIterator* other, LxVParameter* otherParam, int& keyOrder,
                             int& entryOrder, LxVParameter* param) const;
  // Base: LX_CONTAINER_NOT_IMPLEMENTED.
  virtual int SearchElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param);
  virtual int InsertElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param);
  virtual int UpdateElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                            LxVParameter* param);
  virtual int DeleteElement(unsigned short mode, LxVParameter* param);
  // Unbinds: container null, status LX_CONTAINER_UNBOUND.
  virtual void Destroy();
  // The entry at which the iterator stands, or null with `status` set.
  // Base: LX_CONTAINER_NOT_IMPLEMENTED and null.
  virtual const void* GetEntry(int& status, LxVParameter* param) const;
  // Element and views of any entry of the container; only the outputs that are
  // non-null are filled (order: element, key, flags, data). Returns 0, LX_CONTAINER_NO_DATA from
  // the data view, LX_CONTAINER_NOT_IMPLEMENTED for a missing element or view callback, or a view's
  // error (later outputs are then untouched). Without a container returns 0.
  virtual int GetEntryParts(const void* entry, const void** element, const void** key, const void** data,
                            uint32_t* flags, LxVParameter* param) const;
  // The element, key, data or flags of the current entry, null (0 for flags)
  // with `status` set when there is none; LX_CONTAINER_NOT_IMPLEMENTED when a callback is missing.
  virtual const void* GetElement(int& status, LxVParameter* param) const;
  virtual const void* GetKey(int& status, LxVParameter* param) const;
  virtual const void* GetDat(int& status, LxVParameter* param) const;
  virtual uint32_t GetFlags(int& status, LxVParameter* param) const;

  LxVContainer* GetContainer() const { return container; }
  LxTransactionContext* GetTransactionContext() const { return transactionContext; }
  int32_t GetStatus() const { return status; }

 protected:
  // Sets the position of a result iterator.
  friend class LxOneEntryContainer;

  // Binds to `c`: status LX_CONTAINER_BEFORE_FIRST, or LX_CONTAINER_UNBOUND when `c` is null. The context
  // stays.
  void SetContainer(LxVContainer* c);

  LxVContainer* container;
  LxTransactionContext* transactionContext;
  int32_t status;
};

// ---------------------------------------------------------------------------
// One-entry container
// ---------------------------------------------------------------------------

// Presents one key/data pair as a container, so that a caller can hand a bare
// key to SearchElement, InsertElement and DeleteElement as their source. `key` is
// the entry, the element and the key at once; the container does not own it.
// It supports no operation besides SearchElement (which finds nothing); its
// iterators are built with the LxOneEntryIterator constructor.
class LX_API LxOneEntryContainer : public LxVContainer {
 public:
  // `key` null makes an empty container. `data` may be null (no data part).
  LxOneEntryContainer(const void* key, const void* data, uint32_t flags);
  LxOneEntryContainer(const LxOneEntryContainer&) = delete;
  LxOneEntryContainer& operator=(const LxOneEntryContainer&) = delete;
  ~LxOneEntryContainer() override;

  unsigned short GetType() const override;
  // Finds nothing: leaves LX_CONTAINER_BEHIND_LAST in `result` (when given) and returns
  // LX_CONTAINER_NOT_FOUND.
  int SearchElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                    LxVParameter* param, LxVIterator* result) override;

  const void* GetKey() const { return key; }
  const void* GetData() const { return data; }
  uint32_t GetEntryFlags() const { return entryFlags; }

 protected:
  static const void* KeyView(LxVContainer* c, const void* element, int* status, LxVParameter* param);
  static const void* DataView(LxVContainer* c, const void* element, int* status, LxVParameter* param);
  static uint32_t FlagsView(LxVContainer* c, const void* element, int* status, LxVParameter* param);

  const void* key;
  const void* data;
  uint32_t entryFlags;
};

// Stands on the container's one entry from the start (status 0), or before the
// first entry (LX_CONTAINER_BEFORE_FIRST) when the container is empty. Transitions:
//   First: 0 if the key is set, else LX_CONTAINER_BEFORE_FIRST.    Last: 0 if the key is set, else
//   LX_CONTAINER_BEHIND_LAST. Next:  LX_CONTAINER_BEFORE_FIRST -> 0, 0 -> LX_CONTAINER_BEHIND_LAST, others
//   stay. Prior: LX_CONTAINER_BEHIND_LAST -> 0, 0 -> LX_CONTAINER_BEFORE_FIRST, others stay.
// An unbound iterator (LX_CONTAINER_UNBOUND) stays LX_CONTAINER_UNBOUND.
class LX_API LxOneEntryIterator : public LxVIterator {
 public:
  LxOneEntryIterator(LxOneEntryContainer* c, LxTransactionContext* ctx);
  LxOneEntryIterator(const LxOneEntryIterator& other) = default;
  LxOneEntryIterator& operator=(const LxOneEntryIterator& other) = default;
  ~LxOneEntryIterator() override;

  unsigned short GetType() const override;
  int First() override;
  int Next() override;
  int Prior() override;
  int Last() override;
  // status = the iterator's status; null when negative, else the key.
  const void* GetEntry(int& status, LxVParameter* param) const override;
  const void* GetKey(int& status, LxVParameter* param) const override;
  // As GetKey, but the data pointer, with status LX_CONTAINER_NO_DATA when it is null.
  const void* GetDat(int& status, LxVParameter* param) const override;

 protected:
  const LxOneEntryContainer* OneEntry() const { return static_cast<const LxOneEntryContainer*>(container); }
};

// ---------------------------------------------------------------------------
// Entry cache
// ---------------------------------------------------------------------------

// Carves entries of one size out of blocks from the C heap, recycles single
// entries through a free list (last returned, first reused) and takes all
// entries back at once while keeping the blocks for reuse. A block is one
// pointer-sized link to the next older block followed by entriesPerBlock entries,
// handed out from the last slot down to the first. Memory goes back to the heap
// only at Clear or destruction; entries are invalid after UngetAllEntries.
class LX_API LxEntryCache {
 public:
  LxEntryCache(uint32_t entrySize = 0, uint32_t entriesPerBlock = 0, unsigned short alignment = 0);
  // An empty cache configured like `other`; no entries are copied.
  LxEntryCache(const LxEntryCache& other);
  LxEntryCache& operator=(const LxEntryCache&) = delete;
  virtual ~LxEntryCache();

  // Clears the cache, then configures it. The entry size is raised to one pointer
  // (8 bytes) and to a multiple of `alignment` when that is greater than 1.
  // entriesPerBlock 0 means 494 / entrySize, at least 1.
  void Init(uint32_t entrySize, uint32_t entriesPerBlock, unsigned short alignment);

  // An entry of GetEntrySize() bytes, or null (the cache unchanged) when the heap
  // is exhausted or a block of entriesPerBlock entries would exceed 4 GiB.
  void* GetEntry() {
    if (freeEntries != nullptr) {
      void* e = freeEntries;
      freeEntries = *static_cast<void**>(e);
      return e;
    }
    if (remaining > 0) {
      remaining -= entrySize;
      return blocks + sizeof(void*) + remaining;
    }
    return GetEntryFromNewBlock();
  }
  // Takes one entry back onto the free list; it is the next one GetEntry returns.
  void UngetEntry(void* entry) {
    *static_cast<void**>(entry) = freeEntries;
    freeEntries = entry;
  }
  // Takes every entry back in constant time; the blocks become spare blocks.
  void UngetAllEntries();
  // UngetAllEntries, then frees every block.
  void Clear();

  uint32_t GetEntrySize() const { return entrySize; }
  uint32_t GetEntriesPerBlock() const { return entriesPerBlock; }
  unsigned short GetAlignment() const { return alignment; }
  // Bytes of one block as requested from the heap.
  size_t GetBlockSize() const { return sizeof(void*) + size_t{entriesPerBlock} * entrySize; }
  // Blocks held, in use and spare (walks both chains).
  uint32_t CountBlocks() const;

 protected:
  // The slow path of GetEntry: opens a spare or a new block.
  void* GetEntryFromNewBlock();

  char* blocks = nullptr;       // newest block in use
  char* oldestBlock = nullptr;  // oldest block in use (end of the chain)
  uint32_t remaining = 0;       // offset of the entry handed out last in `blocks`
  char* spareBlocks = nullptr;  // blocks without live entries
  void* freeEntries = nullptr;  // single returned entries
  uint32_t entrySize = 0;
  uint32_t entriesPerBlock = 0;
  unsigned short alignment = 0;
};

// ---------------------------------------------------------------------------
// Entry stack
// ---------------------------------------------------------------------------

// Called with the stack's transaction context and an entry's address.
typedef void (*LxEntryStackFunc)(LxTransactionContext* ctx, char* entry);

// A window over a caller-supplied ring of `count` entries that grows forwards and
// backwards around a current entry, from `oldest` to `newest` (wrapping from the
// last entry to the first). `enterFunc` is called when an entry joins the window,
// `leaveFunc` for every entry of the window at destruction. The buffer belongs to
// the caller and must outlive the stack. REQUIRES: count >= 1.
class LX_API LxEntryStack {
 public:
  // The first entry of the buffer forms the window; enterFunc is called for it.
  LxEntryStack(LxTransactionContext* ctx, char* buffer, unsigned short entrySize, unsigned short count,
               LxEntryStackFunc enterFunc, LxEntryStackFunc leaveFunc);
  LxEntryStack(const LxEntryStack&) = delete;
  LxEntryStack& operator=(const LxEntryStack&) = delete;
  // Calls leaveFunc for every entry of the window in memory order.
  ~LxEntryStack();

  // The entry after `current` (current does not move); the window grows when
  // `current` is `newest`. Null when the ring is full in that direction.
  char* GetNextEntry();
  // The entry before `current`, mirror image of GetNextEntry.
  char* GetPrevEntry();
  // Makes `entry` current and returns it when it lies inside the window; else
  // returns null and `current` stays.
  char* SetCurrentEntryWithTest(void* entry);

  LxTransactionContext* GetTransactionContext() const { return transactionContext; }
  char* GetBufferFirst() const { return bufferFirst; }
  char* GetBufferLast() const { return bufferLast; }
  char* GetOldest() const { return oldest; }
  char* GetCurrent() const { return current; }
  char* GetNewest() const { return newest; }
  unsigned short GetEntrySize() const { return entrySize; }

 protected:
  LxTransactionContext* transactionContext;
  char* bufferFirst;
  char* bufferLast;
  char* oldest;
  char* current;
  char* newest;
  unsigned short entrySize;
  LxEntryStackFunc enterFunc;
  LxEntryStackFunc leaveFunc;
};

// ---------------------------------------------------------------------------
// Node pool
// ---------------------------------------------------------------------------

// Hands out nodes of one size from buffers of max(1, 4096 / nodeSize) nodes and
// takes single nodes back for reuse (last put, first got); every returned node
// costs one small record until it is got again. Buffers and records come from
// operator new. The counters are statistics for the pool's user.
class LX_API LxMemPool {
 public:
  // REQUIRES: nodeSize > 0. Starts empty with zero counters.
  explicit LxMemPool(uint32_t nodeSize);
  LxMemPool(const LxMemPool&) = delete;
  LxMemPool& operator=(const LxMemPool&) = delete;
  // DeallocateBuffers.
  ~LxMemPool();

  // A node, or null when the heap is exhausted.
  void* GetNode();
  void PutNode(void* node);
  // Opens a new buffer; the rest of the current one is abandoned. On exhaustion
  // of the heap the pool has no current buffer afterwards.
  void AddNewBuffer();
  // Frees every buffer and record. The counters keep their values.
  void DeallocateBuffers();
  // Nodes waiting on the free list.
  uint32_t CountFreeNodes() const;
  // Nodes still to be handed out from the current buffer.
  uint32_t CountRemainingNodes() const;

  uint32_t GetNodeSize() const { return nodeSize; }
  uint32_t GetBuffersAllocated() const { return buffersAllocated; }
  uint32_t GetBuffersFreed() const { return buffersFreed; }
  uint32_t GetNodesGot() const { return nodesGot; }
  uint32_t GetNodesPut() const { return nodesPut; }

 protected:
  struct BufferRecord {
    BufferRecord* next;
    char* memory;
  };
  struct FreeNodeRecord {
    FreeNodeRecord* next;
    void* node;
  };

  BufferRecord* buffers = nullptr;
  FreeNodeRecord* freeNodes = nullptr;
  char* next = nullptr;  // node handed out last from the current buffer
  char* end = nullptr;   // last node of the current buffer
  uint32_t nodeSize;
  uint32_t buffersAllocated = 0;
  uint32_t buffersFreed = 0;
  uint32_t nodesGot = 0;
  uint32_t nodesPut = 0;
};

// ---------------------------------------------------------------------------
// Red-black tree
// ---------------------------------------------------------------------------

// A tree node, the entry of LxRBTree: two link words followed by the element.
// Bit 0 of `left` is the colour (1 red, 0 black); nodes are pointer-aligned, so
// the address never uses that bit. There is no parent link.
struct LxRBTreeNode {
  // Bytes in front of the element: the two links.
  static constexpr size_t kHeaderSize = 2 * sizeof(void*);

  uintptr_t left;
  LxRBTreeNode* right;

  LxRBTreeNode* Left() const { return reinterpret_cast<LxRBTreeNode*>(left & ~uintptr_t{1}); }
  LxRBTreeNode* Right() const { return right; }
  bool IsRed() const { return (left & 1) != 0; }
  // Replaces the left child, keeping the colour.
  void SetLeft(LxRBTreeNode* n) { left = reinterpret_cast<uintptr_t>(n) | (left & 1); }
  void SetRed() { left |= 1; }
  void SetBlack() { left &= ~uintptr_t{1}; }
  void SetColourOf(const LxRBTreeNode* other) { left = (left & ~uintptr_t{1}) | (other->left & 1); }
  void* Element() { return reinterpret_cast<char*>(this) + kHeaderSize; }
  const void* Element() const { return reinterpret_cast<const char*>(this) + kHeaderSize; }
};

// A stack of node addresses from the root down, the position of a walk that must
// climb. Slot 0 holds 0 and marks the bottom; `top` is the slot of the current
// node. A path holds at most 63 nodes, enough for every tree of fewer than 2^31
// entries; it does not check for overflow.
class LX_API LxRBTreePath {
 public:
  static constexpr int kSlots = 64;

  LxRBTreePath() { Reset(); }
  // Copies slots 0 to top.
  LxRBTreePath(const LxRBTreePath& other) { *this = other; }
  LxRBTreePath& operator=(const LxRBTreePath& other) {
    for (int32_t i = 0; i <= other.top; ++i) slot[i] = other.slot[i];
    top = other.top;
    return *this;
  }

  void Reset() {
    top = 0;
    slot[0] = nullptr;
  }
  void Push(LxRBTreeNode* n) { slot[++top] = n; }
  // Returns the current node and moves down, except at the bottom, where it keeps
  // returning 0.
  LxRBTreeNode* Pop() {
    LxRBTreeNode* n = slot[top];
    if (n != nullptr) --top;
    return n;
  }
  LxRBTreeNode* Current() const { return slot[top]; }
  int32_t GetTop() const { return top; }
  LxRBTreeNode* GetSlot(int32_t i) const { return slot[i]; }
  void SetSlot(int32_t i, LxRBTreeNode* n) { slot[i] = n; }
  // Cuts the path back (or forward, over slots still holding nodes) to slot i.
  void SetTop(int32_t i) { top = i; }

  // Moves to the in-order successor (predecessor); the current node becomes 0
  // past the end (start). An empty path stays empty.
  void Successor();
  void Predecessor();
  // The upward parts of those steps: pop until the popped node is the left
  // (right) child of the new current node, or the bottom is reached.
  void ClimbFromRight();
  void ClimbFromLeft();

 protected:
  // The tree's descents fill the slots directly, with `top` kept in a register
  // across the compare callbacks.
  friend class LxRBTree;

  LxRBTreeNode* slot[kSlots];
  int32_t top;
};

class LxRBTreeIterator;

// The ordered container of the runtime: a red-black tree ordered by the
// container's compare callback. Nodes come from the embedded entry cache (entry
// size elementSize + two pointers) and go back to its free list; the tree never
// frees a single node. It remembers its greatest node, so that entries arriving in
// ascending order are appended without a descent, and advances `stamp` on every
// insertion and removal, so that iterators detect that they are stale.
class LX_API LxRBTree : public LxVContainer {
 public:
  // entriesPerBlock 0 lets the cache choose.
  LxRBTree(uint32_t elementSize = 0, unsigned short flags = 0, uint32_t entriesPerBlock = 0);
  LxRBTree(const LxRBTree&) = delete;
  LxRBTree& operator=(const LxRBTree&) = delete;
  // Destroys every element (when a destroy callback is set), frees all nodes.
  ~LxRBTree() override;

  unsigned short GetType() const override;
  // Removes everything: stores the former count in *count (when given), destroys
  // the elements in post-order, takes all nodes back. Returns 0. Keeps `stamp`,
  // so an iterator positioned before Clear is not seen as stale although its path
  // names recycled nodes: callers must position it again (First, Last or a
  // search) before they use it.
  int Clear(LxTransactionContext* ctx, uint32_t* count, LxVContainer* other) override;
  // Locates the source's key and data. Without `result` returns 0 or LX_CONTAINER_NOT_FOUND. With
  // `result` (an LxRBTreeIterator bound to this tree) positions it on the match
  // (mode LX_MODE_LAST_MATCH: the last of them; LX_MODE_STEP_PAST: past the run that holds
  // param->entry) or, when nothing matches, on the greatest entry before (LX_MODE_GREATEST_BEFORE)
  // or the least entry after (LX_MODE_LEAST_AFTER); where there is no such entry result's
  // status is LX_CONTAINER_BEFORE_FIRST under LX_MODE_GREATEST_BEFORE, LX_CONTAINER_BEHIND_LAST under
  // LX_MODE_LEAST_AFTER or LX_MODE_STEP_PAST, else LX_CONTAINER_POSITION_LOST. The result takes the tree's
  // current stamp over. Returns 0, LX_CONTAINER_NOT_FOUND, the source's negative status, a callback's error,
  // or LX_CONTAINER_INTERNAL when `result` is not a tree iterator on this tree. After a callback's
  // error `result` stands (status 0) where the search stopped: on the node whose comparison failed
  // on the way down, or, when one failed inside the run of matches, on the best match so far (no
  // step past the run, no move to a neighbour).
  int SearchElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                    LxVParameter* param, LxVIterator* result) override;
  // Builds a node from the source through the copy callback and links it.
  // Returns 0, LX_CONTAINER_OUT_OF_MEMORY without memory, LX_CONTAINER_EXISTS when the uniqueness rules
  // refuse it, the source's negative status, or a callback's error. On failure the tree is unchanged
  // (duplicateKeys excepted) and the node is back in the cache; a built element is destroyed first.
  int InsertElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                    LxVParameter* param) override;
  // Removes the first entry that matches the source (the last under LX_MODE_LAST_MATCH).
  // Returns 0, LX_CONTAINER_NOT_FOUND (tree unchanged), the source's status or a callback's error.
  int DeleteElement(const LxVIterator* source, LxVParameter* sourceParam, unsigned short mode,
                    LxVParameter* param) override;
  // The node address plus LxRBTreeNode::kHeaderSize; null for a null entry.
  const void* GetElementOfEntry(const void* entry) const override;
  // A new LxRBTreeIterator before the first entry, owned by the caller; null when
  // memory runs out.
  LxVIterator* CreateIterator(LxTransactionContext* ctx) override;

  // A fresh red node from the cache for the caller to fill in at
  // GetElementOfEntry(node), or null with status LX_CONTAINER_OUT_OF_MEMORY.
  void* CreateEntry(int& status);
  // Links a node from CreateEntry whose element is filled in; the tree owns the
  // node whatever the result. Returns 0, LX_CONTAINER_EXISTS, or a callback's error; on failure
  // the element is destroyed and the node recycled.
  int InsertEntry(const void* entry, unsigned short mode, LxVParameter* param);
  // Removes that very node. Returns 0, LX_CONTAINER_NOT_FOUND when it is not in the tree, or a
  // callback's error; the tree is unchanged on failure.
  int DeleteEntry(const void* entry, unsigned short mode, LxVParameter* param);
  // Verifies colours, black heights, order and count. Returns 0, -1 red root, -2
  // red node with a red child, -3 unequal black heights, -4 order violated, -5
  // count mismatch, or a callback's error.
  int CheckTree(LxVParameter* param);
  // Diagnostic walk over every node; writes and changes nothing.
  void OutTree(LxVParameter* param);

  const LxRBTreeNode* GetRoot() const { return root; }
  const LxRBTreeNode* GetGreatest() const { return greatest; }
  unsigned short GetDuplicateKeys() const { return duplicateKeys; }
  uint32_t GetStamp() const { return stamp; }
  const LxEntryCache& GetEntryCache() const { return entryCache; }

 protected:
  friend class LxRBTreeIterator;
  struct CheckResult;
  struct RunSearch;  // Locate's steps after a match

  // Finds a node for the key/data pair (see SearchElement for the mode bits).
  // `path` may be null; `foundSlot` receives the path slot of the match (-1 none).
  // A callback's error ends it with that status and the node where it stopped.
  LxRBTreeNode* Locate(const LxVIterator* source, const void* key, const void* data, int& status,
                       unsigned short mode, LxVParameter* param, LxRBTreePath* path, int32_t* foundSlot);
  // Finds that very node; the path ends as Remove needs it under mode LX_MODE_KEEP_NEIGHBOUR.
  LxRBTreeNode* MatchEntry(const LxRBTreeNode* node, int& status, unsigned short mode, LxVParameter* param,
                           LxRBTreePath& path, int32_t& foundSlot);
  // Removes the node in `foundSlot`; the path ends at the node to splice out.
  void Remove(LxRBTreePath& path, int32_t foundSlot);
  // Refuses or records equal keys; returns 0 or LX_CONTAINER_EXISTS.
  int CheckUnique(int keyOrder, int entryOrder) {
    if (flags & LX_CONTAINER_EQUAL_ENTRIES) {
      if (keyOrder == 0) duplicateKeys = 1;
      return 0;
    }
    if (entryOrder == 0) return LX_CONTAINER_EXISTS;
    if (keyOrder == 0) {
      if (!(flags & LX_CONTAINER_EQUAL_KEYS)) return LX_CONTAINER_EXISTS;
      duplicateKeys = 1;
    }
    return 0;
  }
  void InsertFixup(LxRBTreeNode* x, LxRBTreePath& path);
  void DeleteFixup(LxRBTreeNode* x, LxRBTreePath& path, int side);
  void Hang(LxRBTreeNode* parent, LxRBTreeNode* old, LxRBTreeNode* n);
  void ReleaseNode(LxRBTreeNode* n);
  void DestroyElements(LxRBTreeNode* n);
  int ReadParts(const LxRBTreeNode* n, const void** key, const void** data, LxVParameter* param);
  int CheckSubtree(const LxRBTreeNode* n, LxVParameter* param, CheckResult* out);
  void OutSubtree(const LxRBTreeNode* n, int depth, LxVParameter* param);

  LxRBTreeNode* root = nullptr;
  LxRBTreeNode* greatest = nullptr;
  LxEntryCache entryCache;
  unsigned short duplicateKeys = 0;
  uint32_t stamp = 0;
};

// Walks an LxRBTree in order in both directions and deletes at its position. Its
// position is a path of ancestors whose top is the current node, plus the tree's
// stamp as it was when the iterator last positioned itself; after any change of
// the tree by another party the iterator refuses to read or move (LX_CONTAINER_CHANGED) until
// First or Last positions it again.
class LX_API LxRBTreeIterator : public LxVIterator {
 public:
  // Before the first entry (LX_CONTAINER_BEFORE_FIRST), or unbound (LX_CONTAINER_UNBOUND) without a tree.
  LxRBTreeIterator(LxRBTree* tree, LxTransactionContext* ctx);
  ~LxRBTreeIterator() override;

  unsigned short GetType() const override;
  // Without `target`: a copy owned by the caller (null without memory). With
  // `target`: copies this iterator into it and returns it, or returns null when
  // `target` is not a tree iterator bound to a tree.
  LxVIterator* Clone(LxVIterator* target) const override;
  // First/Last: 0, or LX_CONTAINER_BEFORE_FIRST/LX_CONTAINER_BEHIND_LAST on an empty tree,
  // LX_CONTAINER_UNBOUND unbound.
  int First() override;
  int Last() override;
  // 0 on the neighbour, LX_CONTAINER_BEHIND_LAST/LX_CONTAINER_BEFORE_FIRST past the end, LX_CONTAINER_CHANGED
  // when stale (status LX_CONTAINER_POSITION_LOST), or the unchanged negative status (from
  // LX_CONTAINER_BEFORE_FIRST Next starts at First, from LX_CONTAINER_BEHIND_LAST Prior starts at Last).
  int Next() override;
  int Prior() override;
  // Deletes the current entry and stands on the next one (the previous under
  // LX_MODE_DELETE_BACKWARD). Returns 0, LX_CONTAINER_BEHIND_LAST/LX_CONTAINER_BEFORE_FIRST when no neighbour
  // is left, the negative status, LX_CONTAINER_CHANGED when stale (nothing deleted), or LX_CONTAINER_INTERNAL
  // when the neighbour cannot be found again. The iterator stays fresh.
  int DeleteElement(unsigned short mode, LxVParameter* param) override;
  // The current node, or null with status = the iterator's negative status, or
  // LX_CONTAINER_CHANGED when stale (the iterator's status is not changed).
  const void* GetEntry(int& status, LxVParameter* param) const override;

  const LxRBTreePath& GetPath() const { return path; }
  uint32_t GetStamp() const { return stamp; }

 protected:
  friend class LxRBTree;
  LxRBTreeIterator(const LxRBTreeIterator& other) = default;
  LxRBTreeIterator& operator=(const LxRBTreeIterator& other) = default;
  LxRBTree* Tree() const { return static_cast<LxRBTree*>(container); }

  LxRBTreePath path;
  uint32_t stamp;
};

// ---------------------------------------------------------------------------
// Container differ
// ---------------------------------------------------------------------------

// An iterator over a diff list: a container, supplied by the differ's owner, of
// entries with a signed counter each (occurrences seen in the second sequence
// minus those in the first, not yet matched). What the differ relies on:
//   SearchElement(source, null, 0, null)  stands on the entry equal to the
//       source's current one and returns >= 0, or returns LX_CONTAINER_NOT_FOUND/LX_CONTAINER_NOT_FOUND_2
//       when there is none; other negative results are errors.
//   InsertElement(source, null, 0, param) adds the source's entry with counter
//       -1 when bit 0 of param->callerFlags is 0 (first sequence), +1 when 1.
//   DeleteElement(0, null)                removes the current entry.
//   First, Next                           visit every entry once
//   (LX_CONTAINER_BEFORE_FIRST/LX_CONTAINER_BEHIND_LAST at
//       the ends); the iterator delivers its entries like any source iterator.
class LX_API LxDiffListIteratorInterface : public LxVIterator {
 public:
  // Bound to `container` with no transaction context (status LX_CONTAINER_BEFORE_FIRST, or
  // LX_CONTAINER_UNBOUND when `container` is null).
  explicit LxDiffListIteratorInterface(LxVContainer* container);
  LxDiffListIteratorInterface(const LxDiffListIteratorInterface& other) = default;
  LxDiffListIteratorInterface& operator=(const LxDiffListIteratorInterface& other) = default;
  ~LxDiffListIteratorInterface() override;

  // The counter of the entry at which the iterator stands, which the differ
  // reads and changes through the pointer.
  virtual int32_t* GetDiffCount() = 0;
};

// Computes the difference of two sequences, counted with repetition, without
// needing a common order: entries that the first sequence holds more often go
// into one result container, entries that the second holds more often into the
// other. The owner sets `diffList` (in a derived class) before calling Diff;
// the differ does not own it.
class LX_API LxVContainerDiffer {
 public:
  LxVContainerDiffer() = default;
  LxVContainerDiffer(const LxVContainerDiffer& other) = default;
  LxVContainerDiffer& operator=(const LxVContainerDiffer& other) = default;

  // Walks `first` and `second` in step while their entries agree and parks the
  // others in the diff list, where entries of the other side cancel them. An
  // entry goes into `onlyFirst` once for each occurrence the first sequence
  // holds more than the second, and into `onlySecond` likewise, through
  // InsertElement(iterator on the entry, null, 0, parameter) whose callerFlags
  // bit 0 tells the side (0 first, 1 second).
  // `fraction` times the larger container's count, truncated toward zero and
  // kept as its low 32 bits, bounds the entry-by-entry comparisons that may
  // disagree: 0 compares nothing, a positive product below 1 allows 10, a
  // product of 2^32 - 1 or more, NaN and -infinity allow any number, and a
  // small negative product allows nearly any number (-1 allows 2^32 - 1).
  // Returns 1 when anything was inserted into a result container, 0 when the
  // sequences hold the same entries, or the first negative result of an
  // iterator, container or diff-list operation (besides the end markers LX_CONTAINER_BEFORE_FIRST
  // and LX_CONTAINER_BEHIND_LAST and the diff list's not-found codes LX_CONTAINER_NOT_FOUND and
  // LX_CONTAINER_NOT_FOUND_2); what was inserted until then stays. LX_CONTAINER_UNBOUND when an iterator is
  // not bound to a container, LX_CONTAINER_NOT_IMPLEMENTED when no diff list is set.
  int32_t Diff(LxVIterator* first, LxVIterator* second, LxVContainer* onlyFirst, LxVContainer* onlySecond,
               double fraction);

  LxDiffListIteratorInterface* GetDiffList() const { return diffList; }

 protected:
  LxDiffListIteratorInterface* diffList = nullptr;
};

// ---------------------------------------------------------------------------
// Memory-file container
// ---------------------------------------------------------------------------

class MemFile;

// Presents `count` records of `elementSize` bytes, stored back to back in a
// MemFile from the file's position at construction, as a container that can be
// walked forward. Only the destructor is overridden: GetType is 0,
// CreateIterator is null, and clearing, searching, inserting and deleting
// return LX_CONTAINER_NOT_IMPLEMENTED. The memory file is not owned; it must outlive the container and
// keep its bytes in place while they are walked.
class LX_API LxMemFileContainer : public LxVContainer {
 public:
  LxMemFileContainer(MemFile* file, uint32_t elementSize, uint32_t count);
  LxMemFileContainer(const LxMemFileContainer&) = delete;
  LxMemFileContainer& operator=(const LxMemFileContainer&) = delete;
  // Leaves the memory file alone.
  ~LxMemFileContainer() override;

  MemFile* GetMemFile() const { return memFile; }
  uint32_t GetStartOffset() const { return startOffset; }
  uint32_t GetCurrentIndex() const { return currentIndex; }

 protected:
  friend class LxMemFileIterator;

  MemFile* memFile;
  uint32_t startOffset;   // byte offset of the first record
  uint32_t currentIndex;  // index of the record at which the iterator stands
};

// Walks a memory-file container forward. The position is the memory file's own
// position with the container's currentIndex, so it is shared by all iterators
// of the container and moved by any seek on the file: one iterator walks at a
// time. Entry, element and key are the record itself; records compare byte by
// byte, as unsigned bytes. Prior, Last, Clone and the element operations are
// the base's (LX_CONTAINER_NOT_IMPLEMENTED, null).
class LX_API LxMemFileIterator : public LxVIterator {
 public:
  // Bound with no transaction context: status LX_CONTAINER_BEFORE_FIRST (LX_CONTAINER_UNBOUND for a null
  // container).
  explicit LxMemFileIterator(LxMemFileContainer* container);
  LxMemFileIterator(const LxMemFileIterator& other) = default;
  LxMemFileIterator& operator=(const LxMemFileIterator& other) = default;
  ~LxMemFileIterator() override;

  // Stands on the first record: 0, or LX_CONTAINER_BEFORE_FIRST when the container is empty or its
  // start offset lies beyond the end of the file.
  int First() override;
  // Steps one record from the file's current position: 0, or LX_CONTAINER_BEHIND_LAST past the last
  // record or past the end of the file.
  int Next() override;
  // keyOrder and entryOrder both -1, 0 or +1 by the first differing byte of the
  // two records (0 for records of 0 bytes). Returns 0, or the negative status of
  // either iterator with the outputs untouched.
  int CompareElement(const LxVIterator* other, LxVParameter* otherParam, int& keyOrder, int& entryOrder,
                     LxVParameter* param) const override;
  // status = the iterator's status; the current record (null before the first
  // First).
  const void* GetEntry(int& status, LxVParameter* param) const override;
  const void* GetKey(int& status, LxVParameter* param) const override;

  const void* GetCurrentEntry() const { return currentEntry; }

 protected:
  LxMemFileContainer* MemFileContainer() const { return static_cast<LxMemFileContainer*>(container); }

  const char* currentEntry = nullptr;
};
