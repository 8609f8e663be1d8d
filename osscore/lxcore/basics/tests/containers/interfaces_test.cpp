// The abstract container and iterator, generic element access, the parameter
// objects and the one-entry container with its iterator's state table.
#include <gtest/gtest.h>
#include <lxcontainers.h>

#include <vector>

namespace {

struct Rec {
  int key;
  int data;
};

int g_viewCalls = 0;
const void* CountingKey(LxVContainer*, const void* e, int* status, LxVParameter*) {
  ++g_viewCalls;
  *status = 0;
  return &static_cast<const Rec*>(e)->key;
}
const void* FailingKey(LxVContainer*, const void*, int* status, LxVParameter*) {
  *status = -42;
  return nullptr;
}
uint32_t CountingFlags(LxVContainer*, const void*, int* status, LxVParameter*) {
  ++g_viewCalls;
  *status = 0;
  return 7;
}

// An iterator over a fixed entry, to exercise the generic access of the base.
class FixedIterator : public LxVIterator {
 public:
  FixedIterator(LxVContainer* c, const void* entry) : LxVIterator(nullptr, c), entry(entry) { status = 0; }
  const void* GetEntry(int& s, LxVParameter*) const override {
    s = status;
    return s < 0 ? nullptr : entry;
  }
  void SetStatus(int s) { status = s; }

 private:
  const void* entry;
};

TEST(ContainerBase, DefaultCallbacksDescribeTheElementItself) {
  LxVContainer c(sizeof(Rec), 0);
  Rec r{5, 6};
  int s = -1;
  EXPECT_EQ(c.GetKeyFunc()(&c, &r, &s, nullptr), &r);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(c.GetDataFunc()(&c, &r, &s, nullptr), nullptr);
  EXPECT_EQ(s, -519);
  s = -1;
  EXPECT_EQ(c.GetFlagsFunc()(&c, &r, &s, nullptr), 1u);
  EXPECT_EQ(s, 0);
  int ko = 9, eo = 9;
  EXPECT_EQ(c.GetCompareFunc()(&c, &ko, &eo, nullptr, &r, nullptr, &r, nullptr), 0);
  EXPECT_EQ(ko, 0);
  EXPECT_EQ(eo, 0);
  EXPECT_EQ(c.GetDestroyFunc(), nullptr);
  Rec copy{0, 0};
  EXPECT_EQ(c.GetCopyFunc()(&c, &copy, nullptr, &r, nullptr, nullptr), 0);
  EXPECT_EQ(copy.key, 5);
  EXPECT_EQ(copy.data, 6);
}

TEST(ContainerBase, UnprovidedOperationsReportNotImplemented) {
  LxVContainer c(4, 1);
  EXPECT_EQ(c.GetType(), 0);
  EXPECT_EQ(c.GetCount(), 0u);
  EXPECT_EQ(c.GetElementSize(), 4u);
  EXPECT_EQ(c.GetFlags(), 1);
  EXPECT_EQ(c.Clone(nullptr), nullptr);
  EXPECT_EQ(c.CreateIterator(nullptr), nullptr);
  uint32_t n = 99;
  EXPECT_EQ(c.Clear(nullptr, &n, nullptr), -2999);
  EXPECT_EQ(c.SearchElement(nullptr, nullptr, 0, nullptr, nullptr), -2999);
  EXPECT_EQ(c.InsertElement(nullptr, nullptr, 0, nullptr), -2999);
  EXPECT_EQ(c.DeleteElement(nullptr, nullptr, 0, nullptr), -2999);
  int x;
  EXPECT_EQ(c.GetElementOfEntry(&x), &x);

  LxVIterator it(nullptr, &c);
  EXPECT_EQ(it.First(), -2999);
  EXPECT_EQ(it.Next(), -2999);
  EXPECT_EQ(it.Prior(), -2999);
  EXPECT_EQ(it.Last(), -2999);
  EXPECT_EQ(it.SearchElement(nullptr, nullptr, 0, nullptr), -2999);
  EXPECT_EQ(it.InsertElement(nullptr, nullptr, 0, nullptr), -2999);
  EXPECT_EQ(it.UpdateElement(nullptr, nullptr, 0, nullptr), -2999);
  EXPECT_EQ(it.DeleteElement(0, nullptr), -2999);
  EXPECT_EQ(it.Clone(nullptr), nullptr);
  int s = 0;
  EXPECT_EQ(it.GetEntry(s, nullptr), nullptr);
  EXPECT_EQ(s, -2999);
}

TEST(ContainerBase, IteratorBindingCopyAndDestroy) {
  LxTransactionContext* ctx = reinterpret_cast<LxTransactionContext*>(0x1234);
  LxVContainer c;
  LxVIterator unbound(ctx);
  EXPECT_EQ(unbound.GetStatus(), -520);
  EXPECT_EQ(unbound.GetContainer(), nullptr);
  EXPECT_EQ(unbound.GetTransactionContext(), ctx);
  LxVIterator nullBound(ctx, nullptr);
  EXPECT_EQ(nullBound.GetStatus(), -520);

  unbound = &c;
  EXPECT_EQ(unbound.GetStatus(), -521);
  EXPECT_EQ(unbound.GetContainer(), &c);
  EXPECT_EQ(unbound.GetTransactionContext(), ctx);

  Rec r{1, 2};
  FixedIterator a(&c, &r);
  LxVIterator b(a);
  EXPECT_EQ(b.GetStatus(), 0);
  EXPECT_EQ(b.GetContainer(), &c);
  a.Destroy();
  EXPECT_EQ(a.GetStatus(), -520);
  EXPECT_EQ(a.GetContainer(), nullptr);
  EXPECT_EQ(b.GetStatus(), 0);
  EXPECT_EQ(b.GetContainer(), &c);
  int s = 0;
  EXPECT_EQ(a.GetElement(s, nullptr), nullptr);
  EXPECT_EQ(s, -520);
}

TEST(EntryParts, RequestedOutputsOnlyAndInOrder) {
  LxVContainer c(sizeof(Rec));
  c.SetKeyFunc(CountingKey);
  c.SetFlagsFunc(CountingFlags);
  Rec r{3, 4};
  FixedIterator it(&c, &r);

  g_viewCalls = 0;
  EXPECT_EQ(it.GetEntryParts(&r, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  const void* element = nullptr;
  EXPECT_EQ(it.GetEntryParts(&r, &element, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(element, &r);
  EXPECT_EQ(g_viewCalls, 0);

  const void* key = nullptr;
  const void* data = &r;
  uint32_t flags = 0;
  EXPECT_EQ(it.GetEntryParts(&r, nullptr, &key, &data, &flags, nullptr), -519);
  EXPECT_EQ(key, &r.key);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(flags, 7u);

  // A failing key view stops before the data view.
  c.SetKeyFunc(FailingKey);
  data = &r;
  EXPECT_EQ(it.GetEntryParts(&r, nullptr, &key, &data, nullptr, nullptr), -42);
  EXPECT_EQ(data, &r);

  // Missing callbacks.
  c.SetKeyFunc(nullptr);
  EXPECT_EQ(it.GetEntryParts(&r, nullptr, &key, nullptr, nullptr, nullptr), -2999);
  int s = 0;
  EXPECT_EQ(it.GetKey(s, nullptr), nullptr);
  EXPECT_EQ(s, -2999);
  c.SetFlagsFunc(nullptr);
  EXPECT_EQ(it.GetFlags(s, nullptr), 0u);
  EXPECT_EQ(s, -2999);

  LxVIterator unbound(nullptr);
  EXPECT_EQ(unbound.GetEntryParts(&r, &element, &key, &data, &flags, nullptr), 0);
}

int ReverseCompare(LxVContainer*, int* ko, int* eo, const LxVIterator*, const void* key, const void* data,
                   const void* element, LxVParameter*) {
  int a = *static_cast<const int*>(key);
  int b = static_cast<const Rec*>(element)->key;
  *ko = *eo = a < b ? -1 : (a > b ? 1 : 0);
  return data == nullptr ? 5 : 0;  // tells the test that no data was seen
}

TEST(CompareElement, OrdersThisEntryAgainstTheOther) {
  LxVContainer c(sizeof(Rec));
  c.SetKeyFunc(CountingKey);
  c.SetCompareFunc(ReverseCompare);
  Rec mine{10, 0};
  FixedIterator it(&c, &mine);

  int otherKey = 3;
  LxOneEntryContainer oc(&otherKey, nullptr, 0);
  LxOneEntryIterator other(&oc, nullptr);
  int ko = 0, eo = 0;
  EXPECT_EQ(it.CompareElement(&other, nullptr, ko, eo, nullptr), 5);  // data -519 passed on as null
  EXPECT_EQ(ko, 1);                                                   // 10 sorts after 3
  EXPECT_EQ(eo, 1);

  ko = eo = 77;
  other.Prior();  // before first
  EXPECT_EQ(it.CompareElement(&other, nullptr, ko, eo, nullptr), -521);
  EXPECT_EQ(ko, 77);
  it.SetStatus(-522);
  EXPECT_EQ(it.CompareElement(&other, nullptr, ko, eo, nullptr), -522);
  EXPECT_EQ(eo, 77);

  it.SetStatus(0);
  other.Next();
  c.SetCompareFunc(nullptr);
  EXPECT_EQ(it.CompareElement(&other, nullptr, ko, eo, nullptr), -2999);
}

TEST(Parameter, CopyingCarriesTheEntryOnly) {
  int x;
  LxVParameter p;
  EXPECT_EQ(p.GetType(), 0);
  EXPECT_EQ(p.entry, nullptr);
  EXPECT_EQ(p.callerFlags, 0u);
  p.entry = &x;
  p.callerFlags = 5;
  LxVParameter q;
  q.callerFlags = 9;
  q = p;
  EXPECT_EQ(q.entry, &x);
  EXPECT_EQ(q.callerFlags, 9u);
  LxVParameter r(p);
  EXPECT_EQ(r.entry, &x);
  LxRBTreeParameter t;
  EXPECT_EQ(t.GetType(), 1);
  const LxVParameter& base = t;
  EXPECT_EQ(base.GetType(), 1);
}

TEST(OneEntry, ContainerViewsAndSearch) {
  int key = 4, data = 5;
  LxOneEntryContainer c(&key, &data, 0x30);
  EXPECT_EQ(c.GetType(), 4);
  EXPECT_EQ(c.GetCount(), 0u);
  EXPECT_EQ(c.GetElementSize(), 0u);
  EXPECT_EQ(c.GetFlags(), 0);
  EXPECT_EQ(c.CreateIterator(nullptr), nullptr);
  EXPECT_EQ(c.InsertElement(nullptr, nullptr, 0, nullptr), -2999);
  EXPECT_EQ(c.Clear(nullptr, nullptr, nullptr), -2999);

  LxOneEntryIterator it(&c, nullptr);
  EXPECT_EQ(it.GetType(), 4);
  EXPECT_EQ(it.Clone(nullptr), nullptr);
  int s = -1;
  EXPECT_EQ(it.GetEntry(s, nullptr), &key);
  EXPECT_EQ(it.GetElement(s, nullptr), &key);
  EXPECT_EQ(it.GetKey(s, nullptr), &key);
  EXPECT_EQ(it.GetDat(s, nullptr), &data);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(it.GetFlags(s, nullptr), 0x30u);
  EXPECT_EQ(s, 0);

  LxOneEntryIterator result(&c, nullptr);
  EXPECT_EQ(c.SearchElement(&it, nullptr, 0x40, nullptr, &result), -510);
  EXPECT_EQ(result.GetStatus(), -522);
  EXPECT_EQ(c.SearchElement(&it, nullptr, 0, nullptr, nullptr), -510);

  LxOneEntryContainer noData(&key, nullptr, 0);
  LxOneEntryIterator nd(&noData, nullptr);
  EXPECT_EQ(nd.GetDat(s, nullptr), nullptr);
  EXPECT_EQ(s, -519);
  const void* k = nullptr;
  const void* d = &key;
  EXPECT_EQ(nd.GetEntryParts(&key, nullptr, &k, &d, nullptr, nullptr), -519);
  EXPECT_EQ(k, &key);
  EXPECT_EQ(d, nullptr);
}

// The iterator's state table, every operation from every state.
TEST(OneEntry, IteratorStateTable) {
  int key = 1;
  LxOneEntryContainer full(&key, nullptr, 0);
  LxOneEntryContainer empty(nullptr, nullptr, 0);
  struct Case {
    LxOneEntryContainer* c;
    int from;
    int first, last, next, prior;
  };
  const std::vector<Case> cases = {
      {&full, -521, 0, 0, 0, -521},        {&full, 0, 0, 0, -522, -521},
      {&full, -522, 0, 0, -522, 0},        {&full, -523, 0, 0, -523, -523},
      {&empty, -521, -521, -522, 0, -521}, {&empty, 0, -521, -522, -522, -521},
      {&empty, -522, -521, -522, -522, 0}, {&empty, -513, -521, -522, -513, -513},
  };
  struct Probe : LxOneEntryIterator {
    using LxOneEntryIterator::LxOneEntryIterator;
    void Set(int s) { status = s; }
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << (k.c == &full ? "full" : "empty") << " from " << k.from);
    Probe it(k.c, nullptr);
    it.Set(k.from);
    EXPECT_EQ(it.First(), k.first);
    EXPECT_EQ(it.GetStatus(), k.first);
    it.Set(k.from);
    EXPECT_EQ(it.Last(), k.last);
    it.Set(k.from);
    EXPECT_EQ(it.Next(), k.next);
    EXPECT_EQ(it.GetStatus(), k.next);
    it.Set(k.from);
    EXPECT_EQ(it.Prior(), k.prior);
  }
  LxOneEntryIterator unbound(nullptr, nullptr);
  EXPECT_EQ(unbound.GetStatus(), -520);
  EXPECT_EQ(unbound.First(), -520);
  EXPECT_EQ(unbound.Last(), -520);
  EXPECT_EQ(unbound.Next(), -520);
  EXPECT_EQ(unbound.Prior(), -520);

  // The documented walk: start on the entry, Next, Prior, Prior.
  LxOneEntryIterator it(&full, nullptr);
  EXPECT_EQ(it.GetStatus(), 0);
  EXPECT_EQ(it.Next(), -522);
  EXPECT_EQ(it.Prior(), 0);
  EXPECT_EQ(it.Prior(), -521);
  LxOneEntryIterator e(&empty, nullptr);
  EXPECT_EQ(e.GetStatus(), -521);
  EXPECT_EQ(e.Next(), 0);  // steps onto the entry without looking
  int s = -1;
  EXPECT_EQ(e.GetEntry(s, nullptr), nullptr);
  EXPECT_EQ(s, 0);
}

}  // namespace
