#include <gtest/gtest.h>
#include <lxmodules.h>

#include <cstring>
#include <string>

namespace {

// Restores second_char when a test changed it.
class SecondCharScope {
 public:
  explicit SecondCharScope(char c) : saved_(DllNameClass::second_char) { DllNameClass::second_char = c; }
  ~SecondCharScope() { DllNameClass::second_char = saved_; }

 private:
  char saved_;
};

TEST(DllName, ComposesTheThreeFormats) {
  EXPECT_STREQ(DllNameClass("Cbs").GetDllName(), "lx95Cbs71");
  EXPECT_STREQ(DllNameClass("Cbs", 'd').GetDllName(), "lx95Cbsd71");
  EXPECT_STREQ(DllNameClass("Cbs", 'd', 2).GetDllName(), "lx95Cbs271");  // the number wins
  EXPECT_STREQ(DllNameClass("Cbs", 0, 2).GetDllName(), "lx95Cbs271");
  EXPECT_STREQ(DllNameClass("Srv", 0, -7).GetDllName(), "lx95Srv-771");
  EXPECT_STREQ(DllNameClass("Srv", 0, -2147483647 - 1).GetDllName(), "lx95Srv-214748364871");
  DllNameClass name("Odb", 'q');
  char* asText = name;
  EXPECT_STREQ(asText, "lx95Odbq71");
  EXPECT_EQ(asText, name.GetDllName());  // the object's own buffer
}

TEST(DllName, GenericNameHasNoVersionTag) {
  char buffer[32];
  EXPECT_EQ(DllNameClass::GetGenericDllName("Cbs", buffer), buffer);
  EXPECT_STREQ(buffer, "lxCbs71");
}

TEST(DllName, AssignmentKeepsTheComposedName) {
  DllNameClass source("Cbs", 'd');
  DllNameClass target("Xyz", 0, 5);
  target = source;
  EXPECT_STREQ(target.GetDllName(), "lx95Cbsd71");
  EXPECT_EQ(target.GetComponent(), nullptr);
  EXPECT_EQ(target.GetVariant(), 0);
  EXPECT_EQ(target.GetNumber(), 0);

  DllNameClass other("Abc");
  source = other;
  EXPECT_STREQ(source.GetDllName(), "lx95Abc71");
  EXPECT_STREQ(target.GetDllName(), "lx95Cbsd71");

  // A stored name survives later changes of second_char: it is not recomposed.
  SecondCharScope scope('y');
  EXPECT_STREQ(target.GetDllName(), "lx95Cbsd71");
  DllNameClass& self = target;
  target = self;
  EXPECT_STREQ(target.GetDllName(), "lx95Cbsd71");
}

TEST(DllName, EmptyObjectHasAnEmptyName) {
  DllNameClass empty;
  EXPECT_STREQ(empty.GetDllName(), "");
}

TEST(DllName, SecondCharAppliesToLaterNames) {
  DllNameClass name("Cbs");
  EXPECT_STREQ(name.GetDllName(), "lx95Cbs71");
  char buffer[32];
  {
    SecondCharScope scope('z');
    EXPECT_STREQ(name.GetDllName(), "lz95Cbs71");
    EXPECT_STREQ(DllNameClass::GetGenericDllName("Cbs", buffer), "lzCbs71");
  }
  EXPECT_STREQ(name.GetDllName(), "lx95Cbs71");
}

TEST(DllName, LongComponentIsCutToFitTheBuffer) {
  std::string component(200, 'C');
  DllNameClass name(component.c_str(), 0, -123456789);
  std::string expected = "lx95" + component.substr(0, DllNameClass::kMaxComponent) + "-12345678971";
  EXPECT_EQ(std::string(name.GetDllName()), expected);
}

}  // namespace
