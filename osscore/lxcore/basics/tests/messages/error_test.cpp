// LxError's and LxLoginError's texts and the module error-callback list. Prefixed forms,
// code 0, buffer limits and earlier results as prefixes: the error fuzz model.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "lxframe.h"
#include "lxmessages.h"
#include "messages/error_catalog.h"

namespace {

const std::string kInvalid = "One of the parameters passed to this function is not valid.";
const std::string kOql = "To get the OQL-Errors, use GetOqlErrMsg(...) at one of the OQL-Interface-Classes";

std::string Text(int code) { return LxError(nullptr, nullptr, code, 1); }

// Every code finds its row, its group's text or none (rows against data/catalog.tsv: tests/tools).
TEST(ErrorCatalog, EveryCodeReadsAsTheTableSays) {
  std::map<int, std::string> rows;
  for (size_t i = 0; i < lxmessages::CatalogRowCount(); ++i)
    EXPECT_TRUE(rows.emplace(lxmessages::CatalogRows()[i].code, lxmessages::CatalogRows()[i].text).second);
  ASSERT_EQ(rows.size(), 512u);  // besides code 0 and the 99 + 3 query-language codes
  for (int code = -12000; code <= 12000; ++code) {
    const auto row = rows.find(code);
    const bool queryLanguage = (code >= -3099 && code <= -3001) || (code >= 3001 && code <= 3003);
    ASSERT_EQ(Text(code), row != rows.end()          ? row->second
                          : queryLanguage            ? kOql
                          : code == 0                ? "ok"
                          : code >= 1 && code <= 999 ? "count"
                                                     : "unknown error")
        << code;
  }
  for (int code : {INT_MIN, -1000000, 1000000, INT_MAX}) EXPECT_EQ(Text(code), "unknown error") << code;
}

std::vector<int> g_asked;
const char* g_answer = nullptr;
char* RecordingCallback(int code) {
  g_asked.push_back(code);
  return const_cast<char*>(g_answer);
}
char* OtherText(int) { return nullptr; }

// The list has one slot, for one range, which answers strictly inside.
TEST(ErrorModuleTexts, ReplaceTheTableInsideTheRangeButForQueryLanguageCodes) {
  LxModuleErrorCallbackList& list = LxModuleErrorCallbackList::GetInstance();
  const int refused = LX_CALLBACK_INVALID_PARAMETER;
  EXPECT_EQ(list.SetModuleErrorCallback(RecordingCallback, -3110, 4000), refused);  // inverted
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, 4000, -3110), refused);            // nothing to remove
  EXPECT_EQ(list.SetModuleErrorCallback(RecordingCallback, 4000, -3110), 0);
  EXPECT_EQ(list.SetModuleErrorCallback(OtherText, -3110, -6500), refused);  // overlaps at -3110
  EXPECT_EQ(list.SetModuleErrorCallback(OtherText, -7000, -7999), refused);  // the one slot is taken
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, 4000, -3109), refused);     // not exactly that range
  const std::string longText(600, 't');
  const struct {
    int code;
    const char* answer;  // of the callback
    const char* prefix;
    std::string expected;
    bool asked;
  } kCases[] = {
      {-2002, "module", nullptr, "module", true},
      {-2002, nullptr, nullptr, kInvalid, true},  // no text from the module: the table's
      {-3001, "module", nullptr, kOql, false},
      {5, "module", nullptr, "module", true},
      {0, "module", nullptr, "0", false},
      {-3110, "module", nullptr, "unknown error", false},  // the range's own ends do not match
      {4000, "module", nullptr, "unknown error", false},
      // A long text fills the buffer, after the prefix when nothing of it fits.
      {-2500, longText.c_str(), "P", (" : -2500 -> " + longText).substr(0, 255), true},
      // A long prefix is cut; code and text are kept whole.
      {-2002, nullptr, longText.c_str(),
       std::string(255 - 12 - kInvalid.size(), 't') + " : -2002 -> " + kInvalid, true},
      {0, nullptr, longText.c_str(), std::string(250, 't') + " : ok", false},
  };
  for (const auto& c : kCases) {
    g_asked.clear();
    g_answer = c.answer;
    char buffer[LX_ERROR_BUFFER_SIZE];
    EXPECT_EQ(LxError(buffer, c.prefix, c.code, 0), c.expected) << c.code;
    EXPECT_EQ(g_asked, c.asked ? std::vector<int>{c.code} : std::vector<int>{}) << c.code;
  }
  g_answer = "own";
  EXPECT_EQ(LxError(nullptr, nullptr, -2002, 1), g_answer) << "the callback's own pointer is returned";
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, 4000, -3110), 0);
  EXPECT_EQ(list.SetModuleErrorCallback(OtherText, -7000, -7999), 0);  // free again
  EXPECT_EQ(list.SetModuleErrorCallback(nullptr, -7000, -7999), 0);
}

TEST(LoginError, TextsAndFormats) {
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -2301, 0), "Password is invalid");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -2307, 0), "Login name is invalid");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -2302, 0), "Login name is not unique, please contact Admin");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -2017, 0), "Login data inconsistent, please contact Admin");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, 0, 0), "Login to Database");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, 1, 0), "Login to Dictionary");
  EXPECT_STREQ(LxLoginError(nullptr, nullptr, -1, 0), "Login failed, Error was: -1");
  EXPECT_STREQ(LxLoginError(nullptr, "Open", -42, 1), "Login failed, Error was: -42");
}

}  // namespace
