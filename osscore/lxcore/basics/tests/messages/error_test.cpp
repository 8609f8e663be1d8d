// LxError: the catalog row by row against its copy in data/catalog.tsv, the codes
// without a row, cut prefixes and module texts. The prefixed form, the forms of
// code 0, buffer limits and earlier results as prefixes are the error fuzz
// model's.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "lxframe.h"
#include "lxmessages.h"

namespace {

const std::string kInvalid = "One of the parameters passed to this function is not valid.";
const std::string kOql = "To get the OQL-Errors, use GetOqlErrMsg(...) at one of the OQL-Interface-Classes";

std::string Text(int code) { return LxError(nullptr, nullptr, code, 1); }

TEST(ErrorCatalog, EveryCodeReadsAsTheTableSays) {
  // Lines "CODE<TAB>\"TEXT\"" or "LOW..HIGH<TAB>\"TEXT\"", \" and \\ escaped.
  std::map<int, std::string> rows;
  std::ifstream in(std::string(LXB_TEST_DATA_DIR) + "/catalog.tsv", std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    std::string text;
    for (size_t i = tab + 2; i + 1 < line.size(); ++i) {
      if (line[i] == '\\') ++i;
      text += line[i];
    }
    const size_t dots = line.find("..");
    const int low = std::stoi(line), high = dots < tab ? std::stoi(line.substr(dots + 2)) : low;
    for (int code = low; code <= high; ++code) EXPECT_TRUE(rows.emplace(code, text).second) << code;
  }
  ASSERT_EQ(rows.size(), 615u);  // 513 codes with a text of their own, 99 + 3 query-language codes
  char buffer[LX_ERROR_BUFFER_SIZE];
  for (const auto& [code, text] : rows)
    EXPECT_TRUE(code == 0 || LxError(buffer, nullptr, code, 0) == text) << code;
  for (int code = -12000; code <= 12000; ++code) {
    const auto row = rows.find(code);
    ASSERT_EQ(Text(code), row != rows.end()          ? row->second
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

TEST(ErrorModuleTexts, ReplaceTheTableInsideTheRangeButForQueryLanguageCodes) {
  LxModuleErrorCallbackList& list = LxModuleErrorCallbackList::GetInstance();
  ASSERT_EQ(list.SetModuleErrorCallback(RecordingCallback, 4000, -3110), 0);
  const std::string longText(600, 't');
  const struct {
    int code;
    const char* answer;  // of the callback
    const char* prefix;
    std::string expected;
    bool asked;
  } kCases[] = {
      {-2002, "module", nullptr, "module", true},
      {-2002, "module", "M", "M : -2002 -> module", true},
      {-2002, nullptr, nullptr, kInvalid, true},  // no text from the module: the table's
      {-3000, "module", nullptr, "module", true},
      {-3100, "module", nullptr, "module", true},
      {-3001, "module", nullptr, kOql, false},
      {3002, "module", nullptr, kOql, false},
      {5, "module", nullptr, "module", true},
      {5, nullptr, nullptr, "count", true},
      {0, "module", nullptr, "0", false},
      {-3110, "module", nullptr, "unknown error", false},  // the range's own ends do not match
      {4000, "module", nullptr, "unknown error", false},
      // A long text fills the buffer; the prefix goes first when nothing of it fits.
      {-2500, longText.c_str(), nullptr, longText.substr(0, 255), true},
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
}

}  // namespace
