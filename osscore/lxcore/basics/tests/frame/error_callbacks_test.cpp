#include <gtest/gtest.h>
#include <lxframe.h>

#include <cstring>
#include <string>

namespace {
char g_text[64];
char* ModuleText(int code) {
  std::snprintf(g_text, sizeof g_text, "module %d", code);
  return g_text;
}
char* OtherText(int) { return nullptr; }
}  // namespace

TEST(ModuleErrorCallbackList, AnswersStrictlyInsideItsRange) {
  LxModuleErrorCallbackList& list = LxModuleErrorCallbackList::GetInstance();
  EXPECT_EQ(&list, &LxModuleErrorCallbackList::GetInstance());
  EXPECT_EQ(list.GetError(-5500), nullptr);
  ASSERT_EQ(list.SetModuleErrorCallback(ModuleText, -5000, -5999), 0);
  ASSERT_NE(list.GetError(-5500), nullptr);
  EXPECT_STREQ(list.GetError(-5500), "module -5500");
  EXPECT_EQ(list.GetError(-5000), nullptr);
  EXPECT_EQ(list.GetError(-5999), nullptr);
  EXPECT_EQ(list.GetError(-4999), nullptr);
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -5000, -5999), 0);
  EXPECT_EQ(list.GetError(-5500), nullptr);
}

TEST(ModuleErrorCallbackList, RefusalsLeaveTheListUnchanged) {
  LxModuleErrorCallbackList& list = LxModuleErrorCallbackList::GetInstance();
  EXPECT_EQ(list.SetModuleErrorCallback(ModuleText, -5999, -5000), -2002);  // inverted
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -5000, -5999), -2002);     // nothing to remove
  ASSERT_EQ(list.SetModuleErrorCallback(ModuleText, -5000, -5999), 0);
  EXPECT_EQ(list.SetModuleErrorCallback(OtherText, -5999, -6500), -2002);  // overlaps at -5999
  EXPECT_EQ(list.SetModuleErrorCallback(OtherText, -7000, -7999), -2002);  // the one slot is taken
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -5000, -5998), -2002);    // not exactly that range
  EXPECT_STREQ(list.GetError(-5001), "module -5001");
  EXPECT_EQ(list.GetError(-7500), nullptr);
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -5000, -5999), 0);
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -5000, -5999), -2002);
  EXPECT_EQ(list.SetModuleErrorCallback(OtherText, -7000, -7999), 0);  // free again
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -7000, -7999), 0);
}

TEST(LoginError, TextsPrefixesAndTextOnly) {
  EXPECT_STREQ(LxLoginError(nullptr, "Open", -2301, 0), "Open : -2301 -> Password is invalid");
  const char* s = LxLoginError(nullptr, nullptr, -2301, 0);
  EXPECT_STREQ(s, "Password is invalid");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -1, 0), "Login failed, Error was: -1");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, 0, 0), "Login to Database");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, 1, 0), "Login to Dictionary");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -2307, 0), "Login name is invalid");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -2302, 0), "Login name is not unique, please contact Admin");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -2017, 0), "Login data inconsistent, please contact Admin");

  char buffer[LX_ERROR_BUFFER_SIZE] = "untouched";
  EXPECT_STREQ(LxLoginError(buffer, "P", -2307, 1), "Login name is invalid");
  EXPECT_STREQ(buffer, "untouched");
  const char* failed = LxLoginError(buffer, nullptr, -42, 1);
  EXPECT_STREQ(failed, "Login failed, Error was: -42");
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(LxLoginError(buffer, "Q", 1, 0), buffer);
  EXPECT_STREQ(buffer, "Q : 1 -> Login to Dictionary");
  EXPECT_STREQ(s, "Login data inconsistent, please contact Admin");  // static buffer untouched since
}

TEST(LoginError, LongPrefixIsCutNeverOverrun) {
  struct {
    char buffer[LX_ERROR_BUFFER_SIZE];
    char guard[16];
  } area;
  std::memset(area.guard, 0x5A, sizeof area.guard);
  for (size_t len : {200u, 240u, 255u, 256u, 1000u}) {
    std::string prefix(len, 'p');
    const char* out = LxLoginError(area.buffer, prefix.c_str(), -2147483647 - 1, 0);
    std::string text(out);
    EXPECT_EQ(
        text.size(),
        std::min<size_t>(255, len + std::strlen(" : -2147483648 -> Login failed, Error was: -2147483648")));
    EXPECT_NE(text.find(" : -2147483648 -> Login failed, Error was: -2147483648"), std::string::npos);
    for (char g : area.guard) ASSERT_EQ(g, 0x5A);
    const char* shared = LxLoginError(nullptr, prefix.c_str(), -2301, 0);
    EXPECT_LE(std::strlen(shared), 255u);
  }
}
