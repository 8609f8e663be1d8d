// The intrusive linked lists and the raw buffer. The bit string is checked
// against a model of its storage in tests/fuzz/fuzz_arrays.cpp.
#include <gtest/gtest.h>
#include <lxarrays.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace lxtest {
namespace {

using Codes = std::vector<int>;

struct Node : LxLinkedListItem {
  Node(char name, std::string* log = nullptr) : name(name), log(log) {}
  ~Node() override {
    if (log != nullptr) *log += name;
  }
  char name;
  std::string* log;
};

// The names first to last, then "|", then last to first.
std::string Names(const LxLinkedList& list) {
  std::string out;
  for (LxLinkedListItem* i = list.GetFirst(); i != nullptr; i = i->GetNext())
    out += static_cast<Node*>(i)->name;
  out += '|';
  for (LxLinkedListItem* i = list.GetLast(); i != nullptr; i = i->GetPrevious())
    out += static_cast<Node*>(i)->name;
  return out;
}

TEST(LinkedList, LinkingRemovalByIdentityAndOwnership) {
  LxLinkedList list;
  Node a('a'), b('b'), c('c'), d('d');
  std::vector<std::string> seen;
  list.Append(&b), list.InsertFirst(&a), list.Append(&c), seen.push_back(Names(list));
  list.RemoveFirst(), seen.push_back(Names(list));
  const int outsider = list.RemoveItem(&d);
  list.Append(&d), list.InsertFirst(&a);
  const int middle = list.RemoveItem(&c);
  seen.push_back(Names(list));
  list.RemoveLast();
  const int last = list.RemoveItem(&b), only = list.RemoveItem(&a);
  list.RemoveFirst(), list.RemoveLast(), list.DeleteFirst(), list.DeleteLast(), seen.push_back(Names(list));
  list.Append(&a), list.Append(&b), list.Append(&c), b.UnLink(), seen.push_back(Names(list));
  EXPECT_EQ(seen, (std::vector<std::string>{"abc|cba", "bc|cb", "abd|dba", "|", "ac|ca"}));
  EXPECT_EQ((Codes{outsider, middle, last, only}), (Codes{LX_ARRAY_OUT_OF_RANGE, 0, 0, 0}));
  EXPECT_TRUE(b.GetNext() == nullptr && b.GetPrevious() == nullptr && d.GetNext() == nullptr);  // unlinked
  list.RemoveFirst(), list.RemoveFirst();
  // Deletions and the destructor destroy the items, first to last.
  std::string log;
  {
    LxLinkedList owner;
    for (char ch : std::string("abcdef")) owner.Append(new Node(ch, &log));
    owner.DeleteFirst(), owner.DeleteLast();
    EXPECT_EQ(owner.DeleteItem(owner.GetFirst()->GetNext()), 0);
    EXPECT_EQ(owner.DeleteItem(&d), LX_ARRAY_OUT_OF_RANGE);
    EXPECT_EQ(Names(owner), "bde|edb");
    owner.Clear();
    owner.Append(new Node('g', &log));
  }
  EXPECT_EQ(log, "afcbdeg");
}

struct Simple : LxSimpleLinkedListItem {
  explicit Simple(char name) : name(name) {}
  char name;
};

TEST(SimpleLinkedList, HandsBackWhatItRemoves) {
  Simple a('a'), b('b'), c('c'), d('d');
  std::vector<LxSimpleLinkedListItem*> got;
  {
    LxSimpleLinkedList list;
    got = {list.RemoveFirst(), list.RemoveLast()};
    list.Append(&b), list.InsertFirst(&a), list.Append(&c);
    for (LxSimpleLinkedListItem* i = list.GetFirst(); i != nullptr; i = i->GetNext()) got.push_back(i);
    for (auto* i : {list.RemoveItem(&d), list.RemoveItem(&b), list.RemoveLast(), list.RemoveLast()})
      got.push_back(i);
    list.Append(&a), list.Append(&b);
    got.push_back(list.RemoveFirst());
    list.Append(&c);
    EXPECT_EQ(list.GetFirst(), &b);
  }
  EXPECT_EQ(got,
            (std::vector<LxSimpleLinkedListItem*>{nullptr, nullptr, &a, &b, &c, nullptr, &b, &c, &a, &a}));
  EXPECT_EQ(a.GetNext(), nullptr);  // what is removed is unlinked
  EXPECT_EQ(b.GetNext(), &c);       // the destroyed list left its items alone
}

TEST(RawBuffer, CopyAdoptBorrowAndEnsureCapacity) {
  unsigned char bytes[16] = {1, 2, 3, 4};
  EXPECT_EQ(LxRawBuffer(bytes, 0, LxRawBufferCopy).GetBuf(), nullptr);
  EXPECT_EQ(LxRawBuffer(nullptr, 16, LxRawBufferCopy).GetBufLen(), 0u);
  LxRawBuffer copy(bytes, 16, LxRawBufferCopy), borrowed(bytes, 16, LxRawBufferBorrow);
  bytes[3] = 99;
  EXPECT_EQ(static_cast<unsigned char*>(copy.GetBuf())[3], 4);
  EXPECT_EQ(LxRawBuffer(borrowed).GetBuf(), bytes);  // a borrowed block is shared
  LxRawBuffer copyOfCopy(copy);
  EXPECT_TRUE(copyOfCopy.GetBuf() != copy.GetBuf() &&
              std::memcmp(copyOfCopy.GetBuf(), copy.GetBuf(), 16) == 0);
  // An adopted block is released by the buffer (the sanitizer build reports a leak
  // otherwise); its copy owns a block of its own.
  void* block = std::malloc(8);
  std::memset(block, 0xAB, 8);
  LxRawBuffer adopted(block, 8, LxRawBufferAdopt), adoptedCopy(adopted);
  EXPECT_TRUE(adopted.GetBuf() == block && adoptedCopy.GetBuf() != block);
  EXPECT_TRUE(adoptedCopy.GetBehavior() == LxRawBufferAdopt &&
              static_cast<unsigned char*>(adoptedCopy.GetBuf())[7] == 0xAB);
  // EnsureCapacity keeps a block that is large enough, else gives an owned one of the size.
  void* before = copy.GetBuf();
  EXPECT_EQ((Codes{copy.EnsureCapacity(8), copy.GetBuf() == before, copy.EnsureCapacity(64),
                   int(copy.GetBufLen())}),
            (Codes{0, 1, 0, 64}));
  EXPECT_EQ(borrowed.EnsureCapacity(32), 0);
  EXPECT_TRUE(borrowed.GetBuf() != bytes && borrowed.GetBehavior() == LxRawBufferCopy);
  std::memset(borrowed.GetBuf(), 0, 32);
  EXPECT_EQ(bytes[0], 1);  // the borrowed block is left alone
}

}  // namespace
}  // namespace lxtest
