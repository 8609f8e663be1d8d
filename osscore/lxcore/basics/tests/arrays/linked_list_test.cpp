// LxLinkedList and LxSimpleLinkedList: linking, removal by identity, ownership.
#include <gtest/gtest.h>
#include <lxarrays.h>

#include <string>
#include <vector>

namespace {

struct Node : LxLinkedListItem {
  Node(char name, std::string* log) : name(name), log(log) {}
  ~Node() override {
    if (log != nullptr) *log += name;
  }
  char name;
  std::string* log;
};

std::string Forward(const LxLinkedList& list) {
  std::string out;
  for (LxLinkedListItem* i = list.GetFirst(); i != nullptr; i = i->GetNext())
    out += static_cast<Node*>(i)->name;
  return out;
}

std::string Backward(const LxLinkedList& list) {
  std::string out;
  for (LxLinkedListItem* i = list.GetLast(); i != nullptr; i = i->GetPrevious()) {
    out += static_cast<Node*>(i)->name;
  }
  return out;
}

TEST(LinkedList, InsertAppendAndRemove) {
  LxLinkedList list;
  Node a('a', nullptr), b('b', nullptr), c('c', nullptr), d('d', nullptr);
  list.Append(&b);
  list.InsertFirst(&a);
  list.Append(&c);
  EXPECT_EQ(Forward(list), "abc");
  EXPECT_EQ(Backward(list), "cba");
  list.RemoveFirst();
  EXPECT_EQ(Forward(list), "bc");
  EXPECT_EQ(b.GetPrevious(), nullptr);
  EXPECT_EQ(a.GetPrevious(), nullptr);
  EXPECT_EQ(a.GetNext(), nullptr);
  EXPECT_EQ(list.RemoveItem(&d), -502);
  EXPECT_EQ(Forward(list), "bc");
  EXPECT_EQ(d.GetNext(), nullptr);
  list.Append(&d);
  list.InsertFirst(&a);
  EXPECT_EQ(list.RemoveItem(&c), 0);  // a middle item
  EXPECT_EQ(Forward(list), "abd");
  EXPECT_EQ(Backward(list), "dba");
  EXPECT_EQ(c.GetNext(), nullptr);
  list.RemoveLast();
  EXPECT_EQ(Backward(list), "ba");
  EXPECT_EQ(list.RemoveItem(&b), 0);  // the last
  EXPECT_EQ(list.RemoveItem(&a), 0);  // the only one
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_EQ(list.GetLast(), nullptr);
  EXPECT_EQ(list.RemoveItem(&a), -502);
  list.RemoveFirst();
  list.RemoveLast();
  list.DeleteFirst();
  list.DeleteLast();
  EXPECT_EQ(list.GetFirst(), nullptr);
}

TEST(LinkedList, DeleteOperationsAndDestructorDestroyItems) {
  std::string log;
  {
    LxLinkedList list;
    for (char ch : std::string("abcdef")) list.Append(new Node(ch, &log));
    list.DeleteFirst();
    list.DeleteLast();
    EXPECT_EQ(log, "af");
    LxLinkedListItem* middle = list.GetFirst()->GetNext();
    EXPECT_EQ(list.DeleteItem(middle), 0);
    EXPECT_EQ(log, "afc");
    Node outsider('x', nullptr);
    EXPECT_EQ(list.DeleteItem(&outsider), -502);
    EXPECT_EQ(Forward(list), "bde");
  }
  EXPECT_EQ(log, "afcbde");
  LxLinkedList list;
  list.Append(new Node('p', &log));
  list.Append(new Node('q', &log));
  list.Clear();
  EXPECT_EQ(log, "afcbdepq");
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_EQ(list.GetLast(), nullptr);
}

TEST(LinkedList, ItemUnLinkJoinsNeighbours) {
  LxLinkedList list;
  Node a('a', nullptr), b('b', nullptr), c('c', nullptr);
  list.Append(&a);
  list.Append(&b);
  list.Append(&c);
  b.UnLink();
  EXPECT_EQ(Forward(list), "ac");
  EXPECT_EQ(Backward(list), "ca");
  {
    Node* e = new Node('e', nullptr);
    list.Append(e);
    list.RemoveLast();
    list.InsertFirst(e);
    list.RemoveFirst();
    delete e;
  }
  list.RemoveFirst();
  list.RemoveFirst();
}

struct Simple : LxSimpleLinkedListItem {
  explicit Simple(char name) : name(name) {}
  char name;
};

std::string Names(const LxSimpleLinkedList& list) {
  std::string out;
  for (LxSimpleLinkedListItem* i = list.GetFirst(); i != nullptr; i = i->GetNext())
    out += static_cast<Simple*>(i)->name;
  return out;
}

TEST(SimpleLinkedList, Operations) {
  Simple a('a'), b('b'), c('c'), d('d');
  {
    LxSimpleLinkedList list;
    EXPECT_EQ(list.RemoveFirst(), nullptr);
    EXPECT_EQ(list.RemoveLast(), nullptr);
    list.Append(&b);
    list.InsertFirst(&a);
    list.Append(&c);
    EXPECT_EQ(Names(list), "abc");
    EXPECT_EQ(list.RemoveItem(&d), nullptr);
    EXPECT_EQ(list.RemoveItem(&b), &b);
    EXPECT_EQ(b.GetNext(), nullptr);
    EXPECT_EQ(Names(list), "ac");
    EXPECT_EQ(list.RemoveLast(), &c);
    EXPECT_EQ(a.GetNext(), nullptr);
    EXPECT_EQ(list.RemoveLast(), &a);
    EXPECT_EQ(list.GetFirst(), nullptr);
    list.Append(&a);
    list.Append(&b);
    EXPECT_EQ(list.RemoveFirst(), &a);
    EXPECT_EQ(a.GetNext(), nullptr);
    EXPECT_EQ(list.RemoveItem(&b), &b);
    list.Append(&c);
    list.Append(&d);
  }
  // The destroyed list left its items alone.
  EXPECT_EQ(c.GetNext(), &d);
}

}  // namespace
