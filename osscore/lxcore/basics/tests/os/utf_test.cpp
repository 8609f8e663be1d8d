// UTF-8 <-> UTF-16 conversion of the shared utilities, on fixed vectors (code
// points from the Unicode standard's table of well-formed byte sequences).
#include "os/utf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf, ConvertsAndReplacesWhatIsNotWellFormed) {
  auto bad = [](int n) {  // n times U+FFFD in UTF-8
    std::string s;
    while (n-- > 0) s += "\xEF\xBF\xBD";
    return s;
  };
  const struct {
    std::string utf8;
    std::u16string utf16;
    std::string back;  // the UTF-8 of utf16 where it is not utf8
  } kCases[] = {
      {"a\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", u"a\x7F\u0080\u07FF\u0800\uFFFF", ""},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF", ""},
      {"\xC0\xAF\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", bad(5)},
      {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx", bad(3) + "x"},
      {"\xF4\x90\x80\x80\xF8", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", bad(5)},
      {"\xE2\x82\xC3"
       "a\x80",
       u"\uFFFD\uFFFD\uFFFDa\uFFFD", bad(3) + "a" + bad(1)},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.utf16, lxos::Utf8ToUtf16(c.utf8)) << c.utf8;
    EXPECT_EQ(c.back.empty() ? c.utf8 : c.back, lxos::Utf16ToUtf8(c.utf16)) << c.utf8;
  }
  // Unpaired surrogates in UTF-16, at the end and before another unit.
  EXPECT_EQ(bad(1) + "x" + bad(2), lxos::Utf16ToUtf8(std::u16string(u"\xDC00x\xD800\xD800")));
  std::string bytes;
  lxos::AppendUtf16Bytes(&bytes, u"\u00E4\U00010000", 3);
  EXPECT_EQ(std::string("\xE4\x00\x00\xD8\x00\xDC", 6), bytes);
}

}  // namespace
