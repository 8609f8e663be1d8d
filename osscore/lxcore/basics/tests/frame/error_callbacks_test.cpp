// The module error-callback list and the login texts.
#include <gtest/gtest.h>
#include <lxframe.h>

#include <string>

namespace {

char* ModuleText(int code) {
  static std::string text;
  return &(text = "module " + std::to_string(code))[0];
}
char* OtherText(int) { return nullptr; }

TEST(ModuleErrorCallbackList, OneRangeAnsweredStrictlyInside) {
  LxModuleErrorCallbackList& list = LxModuleErrorCallbackList::GetInstance();
  EXPECT_EQ(&list, &LxModuleErrorCallbackList::GetInstance());
  const struct {
    LxModuleErrorCallback callback;
    int upper, lower, result;
  } kSteps[] = {
      {ModuleText, -5999, -5000, LX_CALLBACK_INVALID_PARAMETER},  // inverted
      {nullptr, -5000, -5999, LX_CALLBACK_INVALID_PARAMETER},     // nothing to remove
      {ModuleText, -5000, -5999, 0},
      {OtherText, -5999, -6500, LX_CALLBACK_INVALID_PARAMETER},  // overlaps at -5999
      {OtherText, -7000, -7999, LX_CALLBACK_INVALID_PARAMETER},  // the one slot is taken
      {nullptr, -5000, -5998, LX_CALLBACK_INVALID_PARAMETER},    // not exactly that range
  };
  for (const auto& s : kSteps) EXPECT_EQ(list.SetModuleErrorCallback(s.callback, s.upper, s.lower), s.result);
  EXPECT_STREQ(list.GetError(-5001), "module -5001");
  EXPECT_STREQ(list.GetError(-5998), "module -5998");
  for (int outside : {-5000, -5999, -4999, -7500}) EXPECT_EQ(list.GetError(outside), nullptr) << outside;
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -5000, -5999), 0);
  EXPECT_EQ(list.GetError(-5500), nullptr);
  EXPECT_EQ(list.SetModuleErrorCallback(OtherText, -7000, -7999), 0);  // free again
  EXPECT_EQ(list.GetError(-7500), nullptr);                            // a callback may answer nothing
}

TEST(LoginError, TextsAndFormats) {
  const struct {
    const char* prefix;
    int code, textOnly;
    const char* expected;
  } kCases[] = {
      {nullptr, -2301, 0, "Password is invalid"},
      {nullptr, -2307, 0, "Login name is invalid"},
      {nullptr, -2302, 0, "Login name is not unique, please contact Admin"},
      {nullptr, -2017, 0, "Login data inconsistent, please contact Admin"},
      {nullptr, 0, 0, "Login to Database"},
      {nullptr, 1, 0, "Login to Dictionary"},
      {nullptr, -1, 0, "Login failed, Error was: -1"},
      {"Open", -2301, 0, "Open : -2301 -> Password is invalid"},
      {"Open", -42, 1, "Login failed, Error was: -42"},
      {"Q", 1, 0, "Q : 1 -> Login to Dictionary"},
  };
  char buffer[LX_ERROR_BUFFER_SIZE] = "untouched";
  for (const auto& c : kCases) {
    EXPECT_STREQ(LxLoginError(nullptr, c.prefix, c.code, c.textOnly), c.expected);
    EXPECT_STREQ(LxLoginError(buffer, c.prefix, c.code, c.textOnly), c.expected);
    EXPECT_TRUE(c.textOnly || std::string(buffer) == c.expected) << buffer;
  }
  EXPECT_EQ(LxLoginError(buffer, "Q", 1, 0), buffer);
}

}  // namespace
