// LxError: the catalog row by row against its copy in data/catalog.tsv, the
// fallback texts, the output formats and buffer limits, and the module callbacks.
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

constexpr char kOql[] = "To get the OQL-Errors, use GetOqlErrMsg(...) at one of the OQL-Interface-Classes";
constexpr char kInvalidParameter[] = "One of the parameters passed to this function is not valid.";

// code -> text, read from data/catalog.tsv: lines "CODE<TAB>\"TEXT\"" or
// "LOW..HIGH<TAB>\"TEXT\"", with \" and \\ escaped inside the quotes.
std::map<int, std::string> LoadCatalog() {
  std::map<int, std::string> rows;
  std::ifstream in(std::string(LXB_TEST_DATA_DIR) + "/catalog.tsv", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    EXPECT_NE(tab, std::string::npos) << line;
    EXPECT_TRUE(line.size() >= tab + 3 && line[tab + 1] == '"' && line.back() == '"') << line;
    if (tab == std::string::npos || line.size() < tab + 3) continue;
    std::string codes = line.substr(0, tab);
    std::string text;
    for (size_t i = tab + 2; i + 1 < line.size(); ++i) {
      if (line[i] == '\\' && i + 2 < line.size()) ++i;
      text += line[i];
    }
    size_t dots = codes.find("..");
    int low = std::stoi(codes.substr(0, dots));
    int high = dots == std::string::npos ? low : std::stoi(codes.substr(dots + 2));
    for (int code = low; code <= high; ++code) {
      EXPECT_EQ(rows.count(code), 0u) << "code listed twice: " << code;
      rows[code] = text;
    }
  }
  return rows;
}

const std::map<int, std::string>& Catalog() {
  static const std::map<int, std::string> rows = LoadCatalog();
  return rows;
}

std::string Text(int code) { return LxError(nullptr, nullptr, code, 1); }

}  // namespace

TEST(ErrorCatalog, EveryRowReadsAsTheTableSays) {
  const auto& rows = Catalog();
  // 513 codes with a text of their own, 99 + 3 query-language codes.
  ASSERT_EQ(rows.size(), 615u);
  for (const auto& [code, text] : rows) {
    EXPECT_EQ(Text(code), text) << "code " << code;
    char buffer[LX_ERROR_BUFFER_SIZE];
    if (code != 0) {
      EXPECT_STREQ(LxError(buffer, nullptr, code, 0), text.c_str()) << "code " << code;
    }
  }
}

TEST(ErrorCatalog, CodesWithoutRowReadCountOrUnknownError) {
  const auto& rows = Catalog();
  for (int code = -12000; code <= 12000; ++code) {
    if (rows.count(code)) continue;
    const char* expected = code >= 1 && code <= 999 ? "count" : "unknown error";
    ASSERT_EQ(Text(code), expected) << "code " << code;
  }
  for (int code : {INT_MIN, INT_MIN + 1, -1000000, -501, -523, 1000, 1000000, INT_MAX}) {
    EXPECT_EQ(Text(code), "unknown error") << "code " << code;
  }
  EXPECT_EQ(Text(1), "count");
  EXPECT_EQ(Text(999), "count");
}

TEST(ErrorCatalog, CodesSharingATextShareOneConstant) {
  std::map<std::string, std::vector<int>> byText;
  for (const auto& [code, text] : Catalog()) byText[text].push_back(code);
  int sharedTexts = 0;
  for (const auto& [text, codes] : byText) {
    if (codes.size() < 2) continue;
    ++sharedTexts;
    const char* first = LxError(nullptr, nullptr, codes[0], 1);
    for (int code : codes) EXPECT_EQ(LxError(nullptr, nullptr, code, 1), first) << "code " << code;
  }
  // The query-language group and four pairs of ordinary codes.
  EXPECT_EQ(sharedTexts, 5);
  EXPECT_EQ(byText[kOql].size(), 102u);
}

TEST(ErrorCatalog, TrailingBlanksSurviveFormatting) {
  char buffer[LX_ERROR_BUFFER_SIZE];
  EXPECT_STREQ(LxError(buffer, nullptr, -7026, 0), "The schema registry URL is not specified. ");
  EXPECT_STREQ(LxError(buffer, "Reg", -7025, 0), "Reg : -7025 -> The revision mismatch during reregister. ");
  EXPECT_STREQ(LxError(buffer, nullptr, -2217, 0), "One of destination files exists. ");
}

TEST(ErrorFormat, CodeZero) {
  const char* text = LxError(nullptr, nullptr, 0, 0);
  EXPECT_STREQ(text, "0");
  EXPECT_EQ(LxError(nullptr, "Open", 0, 0), text) << "both use the static buffer";
  EXPECT_STREQ(text, "Open : ok");
  EXPECT_STREQ(LxError(nullptr, "Open", 0, 1), "ok");
  EXPECT_STREQ(LxError(nullptr, nullptr, 0, 1), "ok");
}

TEST(ErrorFormat, PrefixCodeArrowText) {
  char buffer[LX_ERROR_BUFFER_SIZE];
  EXPECT_EQ(LxError(buffer, "Open", -2002, 0), buffer);
  EXPECT_EQ(std::string(buffer), std::string("Open : -2002 -> ") + kInvalidParameter);
  EXPECT_STREQ(LxError(buffer, "", 2034, 0), " : 2034 -> The disk is nearly full.");
  EXPECT_STREQ(LxError(buffer, "Q", -3050, 0), (std::string("Q : -3050 -> ") + kOql).c_str());
  EXPECT_STREQ(LxError(buffer, "N", 5, 0), "N : 5 -> count");
  EXPECT_STREQ(LxError(buffer, "N", -501, 0), "N : -501 -> unknown error");
  EXPECT_STREQ(LxError(buffer, "N", INT_MIN, 0), "N : -2147483648 -> unknown error");
  EXPECT_STREQ(LxError(buffer, "N", INT_MAX, 0), "N : 2147483647 -> unknown error");
  EXPECT_STREQ(LxError(buffer, "N", 9004, 0), "N : 9004 -> There are no transactions needing recovery.");
}

TEST(ErrorFormat, StaticBufferIsSharedAndTextOnlyLeavesBuffersAlone) {
  const char* first = LxError(nullptr, nullptr, -2002, 0);
  EXPECT_STREQ(first, kInvalidParameter);
  const char* second = LxError(nullptr, "X", -2030, 0);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "X : -2030 -> The operating system returned an out of memory error.");

  LxError(nullptr, nullptr, 0, 1);
  LxError(nullptr, "Y", -2002, 1);
  EXPECT_STREQ(second, "X : -2030 -> The operating system returned an out of memory error.");

  char buffer[LX_ERROR_BUFFER_SIZE];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_STREQ(LxError(buffer, "P", -2002, 1), kInvalidParameter);
  EXPECT_STREQ(LxError(buffer, "P", 0, 1), "ok");
  for (char c : buffer) ASSERT_EQ(c, '#');
}

TEST(ErrorFormat, LongPrefixIsCutAndNothingIsWrittenBeyondTheBuffer) {
  const std::string prefix(1000, 'p');
  // A caller's buffer of LX_ERROR_BUFFER_SIZE bytes with guard bytes after it.
  std::vector<char> area(LX_ERROR_BUFFER_SIZE + 64, '#');
  const std::string tail = std::string(" : -2002 -> ") + kInvalidParameter;
  for (char* buffer : {area.data(), static_cast<char*>(nullptr)}) {
    std::string result = LxError(buffer, prefix.c_str(), -2002, 0);
    EXPECT_EQ(result.size(), LX_ERROR_BUFFER_SIZE - 1);
    EXPECT_EQ(result.substr(result.size() - tail.size()), tail) << "code and text are kept whole";
    EXPECT_EQ(result.substr(0, result.size() - tail.size()), prefix.substr(0, result.size() - tail.size()));

    result = LxError(buffer, prefix.c_str(), 0, 0);
    EXPECT_EQ(result, prefix.substr(0, LX_ERROR_BUFFER_SIZE - 1 - 5) + " : ok");
  }
  for (size_t i = LX_ERROR_BUFFER_SIZE; i < area.size(); ++i) ASSERT_EQ(area[i], '#') << "byte " << i;

  // A prefix that just fits is kept whole.
  std::string fits(LX_ERROR_BUFFER_SIZE - 1 - tail.size(), 'f');
  EXPECT_EQ(std::string(LxError(area.data(), fits.c_str(), -2002, 0)), fits + tail);
}

TEST(ErrorFormat, EarlierResultAsPrefix) {
  char buffer[LX_ERROR_BUFFER_SIZE];
  const std::string first = LxError(buffer, "Open", -2002, 0);
  EXPECT_EQ(std::string(LxError(buffer, buffer, -2008, 0)), first + " : -2008 -> database is not opened");
  LxError(buffer, "Close", 0, 0);
  EXPECT_STREQ(LxError(buffer, buffer, 0, 0), "Close : ok : ok");
}

// Module callbacks. The list is process-wide; every test removes what it adds.
namespace {

std::vector<int> g_asked;
const char* g_answer = nullptr;

char* RecordingCallback(int code) {
  g_asked.push_back(code);
  return const_cast<char*>(g_answer);
}

class ModuleTexts : public ::testing::Test {
 protected:
  void Register(int upper, int lower) {
    ASSERT_EQ(
        LxModuleErrorCallbackList::GetInstance().SetModuleErrorCallback(RecordingCallback, upper, lower), 0);
    upper_ = upper;
    lower_ = lower;
    registered_ = true;
  }
  void SetUp() override {
    g_asked.clear();
    g_answer = nullptr;
  }
  void TearDown() override {
    if (registered_) {
      EXPECT_EQ(LxModuleErrorCallbackList::GetInstance().SetModuleErrorCallback(nullptr, upper_, lower_), 0);
    }
  }
  bool registered_ = false;
  int upper_ = 0;
  int lower_ = 0;
};

}  // namespace

TEST_F(ModuleTexts, ModuleTextReplacesTheTableAndNullFallsBack) {
  Register(-2000, -2010);
  g_answer = "module text for this code";
  char buffer[LX_ERROR_BUFFER_SIZE];
  EXPECT_EQ(LxError(buffer, nullptr, -2002, 1), g_answer) << "the callback's own pointer is returned";
  EXPECT_STREQ(LxError(buffer, "M", -2002, 0), "M : -2002 -> module text for this code");
  EXPECT_STREQ(LxError(buffer, nullptr, -2009, 0), "module text for this code");
  EXPECT_EQ(g_asked, (std::vector<int>{-2002, -2002, -2009}));

  g_answer = nullptr;
  EXPECT_STREQ(LxError(buffer, nullptr, -2002, 0), kInvalidParameter);
  EXPECT_STREQ(LxError(buffer, nullptr, -2005, 1),
               "A Get() or a Seek() was called at the beginning or end of a set.");
}

TEST_F(ModuleTexts, QueryLanguageCodesAndRangeEndsAreNotOffered) {
  Register(-2990, -3110);
  g_answer = "module text";
  EXPECT_STREQ(LxError(nullptr, nullptr, -3050, 1), kOql);
  EXPECT_STREQ(LxError(nullptr, nullptr, -3001, 1), kOql);
  EXPECT_STREQ(LxError(nullptr, nullptr, -3099, 0), kOql);
  EXPECT_TRUE(g_asked.empty());
  // Just outside the group the module answers.
  EXPECT_STREQ(LxError(nullptr, nullptr, -3000, 1), "module text");
  EXPECT_STREQ(LxError(nullptr, nullptr, -3100, 1), "module text");
  EXPECT_EQ(g_asked, (std::vector<int>{-3000, -3100}));
  // The range's own ends do not match.
  EXPECT_STREQ(LxError(nullptr, nullptr, -2990, 1), "unknown error");
  EXPECT_STREQ(LxError(nullptr, nullptr, -3110, 1), "unknown error");
  EXPECT_EQ(g_asked.size(), 2u);
}

TEST_F(ModuleTexts, CodesWithoutRowAndPositiveCodes) {
  Register(4000, -1);
  g_answer = "module text";
  EXPECT_STREQ(LxError(nullptr, nullptr, 5, 1), "module text");
  EXPECT_STREQ(LxError(nullptr, nullptr, 2034, 1), "module text");
  EXPECT_STREQ(LxError(nullptr, nullptr, 3002, 1), kOql);
  EXPECT_STREQ(LxError(nullptr, nullptr, 0, 1), "ok");
  EXPECT_STREQ(LxError(nullptr, nullptr, 0, 0), "0");
  EXPECT_EQ(g_asked, (std::vector<int>{5, 2034}));
  g_answer = nullptr;
  EXPECT_STREQ(LxError(nullptr, nullptr, 5, 1), "count");
}

TEST_F(ModuleTexts, LongOrAliasedModuleTextsStayInsideTheBuffer) {
  Register(-5000, -6000);
  const std::string longText(600, 't');
  g_answer = longText.c_str();
  std::vector<char> area(LX_ERROR_BUFFER_SIZE + 32, '#');
  EXPECT_EQ(std::string(LxError(area.data(), nullptr, -5500, 0)),
            longText.substr(0, LX_ERROR_BUFFER_SIZE - 1));
  std::string withPrefix = LxError(area.data(), "P", -5500, 0);
  EXPECT_EQ(withPrefix.size(), LX_ERROR_BUFFER_SIZE - 1);
  EXPECT_EQ(withPrefix.substr(0, 16), " : -5500 -> tttt") << "the prefix goes first when nothing fits";
  for (size_t i = LX_ERROR_BUFFER_SIZE; i < area.size(); ++i) ASSERT_EQ(area[i], '#') << "byte " << i;

  // A module that builds its text with LxError's static buffer.
  g_answer = LxError(nullptr, "inner", -2002, 0);
  const std::string inner = g_answer;
  EXPECT_EQ(std::string(LxError(nullptr, nullptr, -5500, 0)), inner);
  g_answer = LxError(nullptr, "inner", -2002, 0);
  EXPECT_EQ(std::string(LxError(nullptr, "outer", -5500, 0)), "outer : -5500 -> " + inner);
}
