// Arrays and lists: the abstract array LxVArray with its contiguous (LxCList) and
// memory-file (LxLList, SortList) implementations, binary search, the library's
// quicksort and sorted insertion, the intrusive linked lists, the bit string and
// the raw buffer.
//
// An array holds `count` elements of one fixed `elementSize`, addressed by a
// 0-based unsigned 32-bit index and stored back to back in index order. Every
// ordering operation uses the array's comparison function, called as
// compare(array, key, element): negative when the key sorts before the element,
// 0 when they are equal, positive when after. The function must order
// consistently (a strict weak ordering with compare(x, x) == 0).
//
// Element pointers returned by Element, PrepareInsert and PtrElement stay valid
// only until the next operation that may move the storage (any insertion,
// deletion with shrink, SizeSet, Copy, Clear, Init, Import).
//
// Results are the LX_ARRAY_* codes of lxresult.h (none has a text in the message
// catalog); Sort also returns the catalog codes LX_ARRAY_NO_COMPARE_FUNCTION and
// LX_CORE_OUT_OF_MEMORY, the bit string LX_BITSTRING_OUT_OF_RANGE and the raw
// buffer LX_CORE_OUT_OF_MEMORY.
//
// Nothing here locks: an object is used by one thread at a time, or its owner
// serialises the calls. Every object owns the storage it allocates and releases it
// in its destructor.
#pragma once

#include <cstring>
#include <new>

#include "lxdefs.h"
#include "lxmemfile.h"
#include "lxresult.h"

class LxVArray;

// compare(array, key, element); see the header comment.
typedef int (*LxArrayCompareFunc)(const LxVArray* array, const void* key, const void* element);

// ===========================================================================
// LxVArray: the abstract array
// ===========================================================================

// The interface through which the runtime holds its arrays. The order of the
// virtual operations is part of the contract. Search, SearchAt, SortedInsert,
// Sort and Merge are written once here against the element operations.
class LX_API LxVArray {
 public:
  // Element size 0 (default) or `elementSize`; no comparison function, count 0.
  LxVArray();
  explicit LxVArray(unsigned short elementSize);
  // Copies comparison function, count and element size.
  LxVArray(const LxVArray& source);
  LxVArray& operator=(const LxVArray&) = delete;

  // Leaves the markers: no comparison function, count 0xFFFFFFFF, element size 0xFFFF.
  virtual ~LxVArray();

  // 1 for LxCList, 2 for LxLList (and SortList).
  virtual unsigned short GetType() const = 0;
  // The most elements the array can ever hold; 0xFFFFFFFF here (no limit).
  virtual uint32_t GetMaxCount() const;
  // The number of element slots the storage holds now.
  virtual uint32_t GetCurMaxCount() const = 0;
  // Empties the array and sets element size and capacity.
  virtual int Init(unsigned short elementSize, uint32_t capacity) = 0;
  // Sets the capacity; fails with LX_ARRAY_OUT_OF_RANGE below the count.
  virtual int SizeSet(uint32_t capacity) = 0;
  // Removes all elements and gives the storage back.
  virtual void Clear() = 0;
  // Copies element `index` into `out` (elementSize bytes). 0, or LX_ARRAY_OUT_OF_RANGE when
  // index >= count (out untouched).
  virtual int Get(uint32_t index, void* out) const = 0;
  // The stored element, or null when index >= count.
  virtual void* Element(uint32_t index) const = 0;
  // Insert(index, null): returns the new, unfilled slot for the caller to fill,
  // or null on failure (array unchanged).
  virtual void* PrepareInsert(uint32_t index) = 0;
  // Inserts before element `index` (index == count appends), copying elementSize
  // bytes from `data` unless it is null. 0, LX_ARRAY_OUT_OF_RANGE (index > count) or LX_ARRAY_NO_STORAGE.
  virtual int Insert(uint32_t index, const void* data) = 0;
  // Overwrites element `index` with elementSize bytes from `data`. 0 or LX_ARRAY_OUT_OF_RANGE.
  virtual int Update(uint32_t index, const void* data) = 0;
  // Removes element `index`; a non-zero `shrink` lets the array give storage back.
  // 0, or LX_ARRAY_OUT_OF_RANGE when index >= count.
  virtual int Delete(uint32_t index, int shrink) = 0;
  // Makes this array a copy of `source`, which must be of the same kind. 0, LX_ARRAY_WRONG_KIND
  // (source of another kind, nothing changed) or LX_ARRAY_NO_STORAGE.
  virtual int Copy(const LxVArray* source) = 0;

  // Inserts `element` at its sorted position: directly after the equal element
  // that Search finds when duplicates are allowed. With `copy` 0 the slot is made
  // but not written. *position (when given) receives the new element's index.
  // Returns Insert's result (0, LX_ARRAY_NO_STORAGE, LX_ARRAY_OUT_OF_RANGE), or LX_ARRAY_DUPLICATE when an
  // equal element exists and `allowDuplicates` is 0 (nothing inserted; *position holds the equal one's).
  // REQUIRES: a comparison function.
  virtual int SortedInsert(const void* element, uint32_t* position, int allowDuplicates, int copy);
  // Binary search for `key`. Returns 0 when an equal element is found: *position
  // gets its index (the first equal one the probes meet) and `out` a copy of it.
  // Returns LX_ARRAY_OUT_OF_RANGE when none is: *position gets the insertion point that keeps the
  // order and `out` is not written. At most floor(log2(count)) + 1 comparisons.
  // REQUIRES: a comparison function.
  virtual int Search(const void* key, uint32_t* position, void* out) const;
  // Compares `key` with element `index`: 0 when equal (the element is copied to
  // `out` when given), else the comparison function's non-zero result; LX_ARRAY_OUT_OF_RANGE when
  // index >= count. Callers test the result only for zero.
  // REQUIRES: a comparison function.
  virtual int SearchAt(uint32_t index, const void* key, void* out) const;
  // Sorts the array in place with the library's quicksort (first element of each
  // range as pivot; elements equal to the pivot go to its left, so equal elements
  // end in an order that the algorithm fixes). Returns 0, LX_ARRAY_NO_COMPARE_FUNCTION when there is no
  // comparison function, or LX_CORE_OUT_OF_MEMORY when the one element of scratch space cannot be
  // allocated; on failure nothing has changed. `unused` is not used.
  virtual int Sort(unsigned short unused);
  // Not supported: returns LX_ARRAY_NO_MERGE and changes nothing.
  virtual int Merge(const LxVArray* source, unsigned short unused);

  LxArrayCompareFunc GetComparisonFunction() const { return comparisonFunction; }
  uint32_t GetCount() const { return count; }
  unsigned short GetElementSize() const { return elementSize; }

 protected:
  LxArrayCompareFunc comparisonFunction;
  uint32_t count;
  unsigned short elementSize;
};

// ===========================================================================
// LxCList: contiguous list
// ===========================================================================

// All elements in one heap block, at most 32767 of them. An empty list grows its
// capacity 1, 2, 4, ... 16384, then 24576, 30720, 32640, 32767 (the step halves
// until it fits under the maximum); Delete with shrink halves the capacity when
// the count falls to half of it. Storage is obtained through mmResize, so an
// allocation failure reaches the out-of-memory handler before LX_ARRAY_NO_STORAGE is returned.
class LX_API LxCList : public LxVArray {
 public:
  // Element size 0, maximum count 0, no buffer: accepts nothing until Init.
  LxCList();
  // Calls Init(elementSize, capacity); *result (when given) receives its result.
  // After a non-zero result the list may only be destroyed or re-initialised.
  LxCList(unsigned short elementSize, int capacity, int* result);
  // An empty list with the source's maximum count, then Copy(&source). The copy
  // has no comparison function.
  LxCList(const LxCList& source);
  LxCList& operator=(const LxCList&) = delete;
  ~LxCList() override;

  unsigned short GetType() const override;
  uint32_t GetMaxCount() const override;
  uint32_t GetCurMaxCount() const override;
  // Releases any buffer, empties the list, and allocates `capacity` slots (at most
  // 32767). Returns 0; LX_ARRAY_ZERO_ELEMENT_SIZE for element size 0 (maximum count 0, no buffer);
  // LX_ARRAY_NO_STORAGE when the allocation failed (capacity 0, no buffer).
  int Init(unsigned short elementSize, uint32_t capacity) override;
  // 0; LX_ARRAY_OUT_OF_RANGE below the count; LX_ARRAY_NO_STORAGE above the maximum count or when the resize
  // failed (nothing changed). Capacity 0 releases the buffer.
  int SizeSet(uint32_t capacity) override;
  // Releases the buffer; the list is empty with capacity 0.
  void Clear() override;
  int Get(uint32_t index, void* out) const override;
  void* Element(uint32_t index) const override;
  void* PrepareInsert(uint32_t index) override;
  // LX_ARRAY_OUT_OF_RANGE when index > count or index >= the maximum count; LX_ARRAY_NO_STORAGE when the list
  // is full at its maximum count or cannot grow (nothing changed).
  int Insert(uint32_t index, const void* data) override {
    if (index == count && count < capacity && index < maximumCount && data != nullptr) {
      CopyElement(static_cast<unsigned char*>(buffer) + static_cast<size_t>(index) * elementSize, data);
      ++count;
      return 0;
    }
    return InsertSlow(index, data);
  }
  int Update(uint32_t index, const void* data) override;
  // With `shrink`, halves the capacity once the count is at most half of it; a
  // failed shrink keeps the larger block.
  int Delete(uint32_t index, int shrink) override;
  // Takes the source LxCList's element size, capacity, count and whole buffer;
  // keeps this list's maximum count and comparison function. 0, LX_ARRAY_WRONG_KIND or LX_ARRAY_NO_STORAGE
  // (nothing changed).
  int Copy(const LxVArray* source) override;

  const void* GetBuffer() const { return buffer; }

 protected:
  // Insert for every case but an append into free capacity.
  int InsertSlow(uint32_t index, const void* data);
  // Copies one element; the common sizes as fixed-size moves, without a call.
  // The source is laundered: the compiler, which cannot know the element size,
  // must not weigh the fixed sizes against the caller's object.
  void CopyElement(void* to, const void* data) const {
    const unsigned char* from = std::launder(static_cast<const unsigned char*>(data));
    switch (elementSize) {
      case 8:
        std::memcpy(to, from, 8);
        break;
      case 16:
        std::memcpy(to, from, 16);
        break;
      default:
        std::memcpy(to, from, elementSize);
    }
  }

  unsigned short maximumCount;
  unsigned short capacity;
  void* buffer;
};

// ===========================================================================
// LxLList: list in a memory file; SortList
// ===========================================================================

// Elements live in a MemFile that the list owns (element i at byte offset
// i * elementSize). No count limit; the capacity grows one element at a time
// (the memory file decides when its block really moves) and Delete with shrink
// gives back ten slots whenever ten are free.
class LX_API LxLList : public LxVArray {
 public:
  // LxLList(4, 0, null).
  LxLList();
  // Creates the memory file with elementSize * capacity bytes, then Init;
  // *result (when given) receives 0.
  LxLList(unsigned short elementSize, uint32_t capacity, int* result);
  // An empty list with its own memory file, then Copy(&source). The copy has no
  // comparison function.
  LxLList(const LxLList& source);
  LxLList& operator=(const LxLList&) = delete;
  ~LxLList() override;

  unsigned short GetType() const override;
  uint32_t GetCurMaxCount() const override;
  // Empties the list and sizes the memory file to elementSize * capacity (not
  // checked). Always 0.
  int Init(unsigned short elementSize, uint32_t capacity) override;
  // 0; LX_ARRAY_OUT_OF_RANGE below the count; LX_MEMFILE_NO_MEMORY when the memory file cannot be resized
  // (capacity unchanged).
  int SizeSet(uint32_t capacity) override;
  // Init(elementSize, 0): empty, the memory file's storage released.
  void Clear() override;
  int Get(uint32_t index, void* out) const override;
  void* Element(uint32_t index) const override;
  void* PrepareInsert(uint32_t index) override;
  // 0, LX_ARRAY_OUT_OF_RANGE (index > count) or LX_ARRAY_NO_STORAGE when the memory file cannot grow (nothing
  // changed).
  int Insert(uint32_t index, const void* data) override {
    // Fast path, an append: the memory file's own Put grows it by the one element
    // exactly as SizeSet would (and fails, leaving it unchanged, as SizeSet would).
    if (index == count && data != nullptr && memoryFile != nullptr &&
        memoryFile->GetSize() == static_cast<int32_t>(capacity * elementSize)) {
      if (PutElement(data, static_cast<int32_t>(index * elementSize)) != elementSize) {
        return LX_ARRAY_NO_STORAGE;
      }
      if (count == capacity) ++capacity;
      ++count;
      return 0;
    }
    return InsertSlow(index, data);
  }
  int Update(uint32_t index, const void* data) override;
  int Delete(uint32_t index, int shrink) override;
  // Takes the source LxLList's count, element size, capacity and the whole
  // contents of its memory file; keeps this list's comparison function. 0 or LX_ARRAY_WRONG_KIND.
  int Copy(const LxVArray* source) override;

  // For lists of pointers: the address of the index-th pointer slot of the memory
  // file, whatever the element size; null when index >= count.
  void** PtrElement(uint32_t index) const;
  // Appends n elements read from `memoryFile` at its current position, which does
  // not move. When the capacity is short it grows by count + n at once. Returns 0,
  // or LX_ARRAY_NO_STORAGE when the memory file cannot grow (nothing changed) or the source has
  // no byte at its position (the grown capacity stays). When the source holds
  // fewer than n * elementSize bytes from there, only those are copied and the
  // remaining new elements hold unspecified bytes.
  int Import(uint32_t n, MemFile* memoryFile);
  // Moves the whole contents into a new list of the same class (a SortList yields
  // a SortList) in constant time and leaves this list empty with capacity 0. The
  // caller owns the result; null when it cannot be allocated (this list unchanged).
  LxLList* CreateCopyAndClear();

  const MemFile* GetMemoryFile() const { return memoryFile; }

 protected:
  // Insert for every case but an append at the end of the memory file.
  int InsertSlow(uint32_t index, const void* data);
  // MemFile::Put of one element; the common sizes as constants, so that the
  // memory file's short-record path copies them without a call. The source is
  // laundered as in LxCList::CopyElement.
  int32_t PutElement(const void* source, int32_t offset) {
    const unsigned char* data = std::launder(static_cast<const unsigned char*>(source));
    switch (elementSize) {
      case 8:
        return memoryFile->Put(data, offset, 8);
      case 16:
        return memoryFile->Put(data, offset, 16);
      default:
        return memoryFile->Put(data, offset, elementSize);
    }
  }

  uint32_t capacity;
  MemFile* memoryFile;
};

// The LxLList constructed with a comparison function. It stays in order as long
// as elements enter only through SortedInsert (or Sort is called afterwards).
class LX_API SortList : public LxLList {
 public:
  // SortList(0, null, 0).
  SortList();
  SortList(unsigned short elementSize, LxArrayCompareFunc compare, uint32_t capacity);
  // The copy has no comparison function.
  SortList(const SortList& source);
  SortList& operator=(const SortList&) = delete;
  ~SortList() override;

  using LxLList::Init;
  // Sets the comparison function, then LxLList::Init. Always 0.
  int Init(unsigned short elementSize, LxArrayCompareFunc compare, uint32_t capacity);
};

// ===========================================================================
// Intrusive linked lists
// ===========================================================================

// An item of an LxLinkedList; derive from it. An item is in at most one list and
// does not know which.
class LX_API LxLinkedListItem {
 public:
  LxLinkedListItem();
  LxLinkedListItem(const LxLinkedListItem&) = delete;
  LxLinkedListItem& operator=(const LxLinkedListItem&) = delete;
  // Unlinks as UnLink does. REQUIRES: the item is not the first or last of a list
  // (remove it through the list first).
  virtual ~LxLinkedListItem();

  // Joins the neighbours to each other and clears both own links. Does not touch
  // any list's first or last pointer.
  void UnLink();

  LxLinkedListItem* GetPrevious() const { return previous; }
  LxLinkedListItem* GetNext() const { return next; }

 protected:
  friend class LxLinkedList;
  LxLinkedListItem* previous;
  LxLinkedListItem* next;
};

// Doubly linked list of LxLinkedListItem. It owns its items in that the Delete
// operations, Clear and the destructor delete them (through the virtual
// destructor); the Remove operations only unlink.
class LX_API LxLinkedList {
 public:
  LxLinkedList();
  LxLinkedList(const LxLinkedList&) = delete;
  LxLinkedList& operator=(const LxLinkedList&) = delete;
  // Clear().
  virtual ~LxLinkedList();

  // REQUIRES: item's previous link is null (a new or unlinked item).
  void InsertFirst(LxLinkedListItem* item);
  // REQUIRES: item's next link is null.
  void Append(LxLinkedListItem* item);
  // Unlink the first or last item and clear its links; nothing on an empty list.
  void RemoveFirst();
  void RemoveLast();
  // Unlinks `item` when it is in the list (searched by identity). 0, or LX_ARRAY_OUT_OF_RANGE when
  // it is not (list and item unchanged).
  int RemoveItem(LxLinkedListItem* item);
  // As the Remove operations, and the item is deleted.
  void DeleteFirst();
  void DeleteLast();
  int DeleteItem(LxLinkedListItem* item);
  // Deletes every item, first to last.
  void Clear();

  LxLinkedListItem* GetFirst() const { return first; }
  LxLinkedListItem* GetLast() const { return last; }

 protected:
  LxLinkedListItem* first;
  LxLinkedListItem* last;
};

// An item of an LxSimpleLinkedList; derive from it.
class LX_API LxSimpleLinkedListItem {
 public:
  LxSimpleLinkedListItem(const LxSimpleLinkedListItem&) = delete;
  LxSimpleLinkedListItem& operator=(const LxSimpleLinkedListItem&) = delete;

  LxSimpleLinkedListItem* GetNext() const { return next; }

 protected:
  friend class LxSimpleLinkedList;
  LxSimpleLinkedListItem();
  ~LxSimpleLinkedListItem();
  LxSimpleLinkedListItem* next;
};

// Singly linked list with a first pointer only. It never destroys an item; its
// removals hand the item back. Append and RemoveLast walk the list.
class LX_API LxSimpleLinkedList {
 public:
  LxSimpleLinkedList();
  LxSimpleLinkedList(const LxSimpleLinkedList&) = delete;
  LxSimpleLinkedList& operator=(const LxSimpleLinkedList&) = delete;
  // Does nothing: the items stay as they are.
  ~LxSimpleLinkedList();

  void InsertFirst(LxSimpleLinkedListItem* item);
  // REQUIRES: item's next link is null.
  void Append(LxSimpleLinkedListItem* item);
  // Each returns the removed item with its next link cleared, or null (list
  // unchanged) when the list is empty or the item is not in it.
  LxSimpleLinkedListItem* RemoveFirst();
  LxSimpleLinkedListItem* RemoveLast();
  LxSimpleLinkedListItem* RemoveItem(LxSimpleLinkedListItem* item);

  LxSimpleLinkedListItem* GetFirst() const { return first; }

 protected:
  LxSimpleLinkedListItem* first;
};

// ===========================================================================
// _LxBitString
// ===========================================================================

// A string of `length` bits, fixed at construction, with a running count of the
// bits that are 1. Bit i is bit (i mod 8), counted from the least significant, of
// byte i / 8; the storage holds length / 8 + 1 bytes. Indexed operations return 0,
// or LX_BITSTRING_OUT_OF_RANGE when the index or range is not inside the string (nothing changed).
// The name begins with an underscore and a capital letter, which C++ reserves for
// the implementation; it stays because the runtime's other modules are written
// against it (the same holds for _LxServCons).
class LX_API _LxBitString {
 public:
  // All bits 0. When the storage cannot be allocated the string has length 0.
  explicit _LxBitString(uint32_t length);
  _LxBitString(const _LxBitString&) = delete;
  _LxBitString& operator=(const _LxBitString&) = delete;
  ~_LxBitString();

  int32_t Set(uint32_t index);
  int32_t Reset(uint32_t index);
  // value := the bit's weight within its byte (1 << index % 8) when it is 1, else 0.
  int32_t Get(uint32_t index, int& value) const;
  // Inverts the bit; old := its former value (0 or 1).
  int32_t Flip(uint32_t index, int& old);
  uint32_t Length() const { return length; }
  // The number of bits that are 1.
  uint32_t GetNum() const { return setCount; }
  // Every storage byte 0xFF (the bits beyond the length included); returns 0.
  int32_t SetAll();
  // Every storage byte 0; returns 0.
  int32_t ResetAll();
  // Claims bits start .. start + n - 1 when all are 0: sets them and returns 0.
  // When one is 1, blocked := the distance of the first such bit from start and
  // the result is LX_BITSTRING_BLOCKED, nothing changed. LX_BITSTRING_OUT_OF_RANGE when start + n > length.
  int32_t TestAndSetArea(uint32_t start, uint32_t n, uint32_t& blocked);
  // The mirror image: clears the n bits when all are 1, else blocks at the first 0.
  int32_t TestAndResetArea(uint32_t start, uint32_t n, uint32_t& blocked);
  // position := the first bit at or after `start` that is 1 (value non-zero) or 0
  // (value 0); returns 0. None, or start >= length: position := length, LX_BITSTRING_OUT_OF_RANGE.
  int32_t Find(uint32_t start, int value, uint32_t& position) const;

  const unsigned char* GetBits() const { return bits; }

 protected:
  unsigned char* bits;
  uint32_t length;
  uint32_t setCount;
};

// ===========================================================================
// LxRawBuffer
// ===========================================================================

// Whether a raw buffer owns its block. Any value other than 0 and 2 borrows.
enum LxRawBufferBehavior : int32_t {
  LxRawBufferCopy = 0,    // a private copy, allocated and released by the buffer
  LxRawBufferBorrow = 1,  // the caller's block, never copied implicitly nor released
  LxRawBufferAdopt = 2,   // the caller's malloc'ed block, released by the buffer
};

// One block of bytes with its length. Owned blocks come from malloc and go back
// through free.
class LX_API LxRawBuffer {
 public:
  // Keeps `data` (null when length is 0) and `length` (0 when data is null); with
  // LxRawBufferCopy takes a private copy of the bytes. When that copy cannot be
  // allocated the buffer is empty (null, length 0).
  LxRawBuffer(void* data, uint32_t length, LxRawBufferBehavior behavior);
  // Shares a borrowed block; copies an owned one (keeping the behaviour value).
  // When the copy cannot be allocated the new buffer is empty.
  LxRawBuffer(const LxRawBuffer& source);
  LxRawBuffer& operator=(const LxRawBuffer&) = delete;
  ~LxRawBuffer();

  void* GetBuf() const { return buffer; }
  uint32_t GetBufLen() const { return length; }
  LxRawBufferBehavior GetBehavior() const { return behavior; }

  // Makes sure the buffer has at least `size` bytes. When it has fewer, releases
  // an owned block and allocates a new, owned one of exactly `size` bytes whose
  // contents are unspecified (behaviour becomes LxRawBufferCopy). Returns 0, or
  // LX_CORE_OUT_OF_MEMORY when the allocation failed; the buffer is then empty.
  int EnsureCapacity(uint32_t size);

 protected:
  void* buffer;
  uint32_t length;
  LxRawBufferBehavior behavior;
};
