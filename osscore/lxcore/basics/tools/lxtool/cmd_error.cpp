// lxtool error: the catalog's text of result codes, as LxError gives them.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "lxframe.h"
#include "lxmessages.h"
#include "messages/error_catalog.h"

namespace lxtool {

const char kErrorHelp[] =
    "usage: lxtool error [--prefix TEXT] CODE...\n"
    "       lxtool error --list\n"
    "\n"
    "Prints the text of each result CODE (a decimal number, negative for errors),\n"
    "one line per code. With --prefix the line reads \"TEXT : CODE -> text\" (for\n"
    "code 0 \"TEXT : ok\"), as LxError writes it for an operation named TEXT.\n"
    "Codes without a text of their own read \"count\" (1 to 999) or \"unknown error\".\n"
    "--list prints every code of the catalog with its text, separated by a tab,\n"
    "the query-language group as two ranges.\n"
    "\n"
    "Exit status: 0 success, 1 the output cannot be written, 2 usage (a CODE that\n"
    "is not a 32-bit decimal number).\n";

namespace {

bool ParseCode(const char* text, int* code) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  *code = static_cast<int>(value);
  return true;
}

void List() {
  const lxmessages::CatalogRow* rows = lxmessages::CatalogRows();
  size_t count = lxmessages::CatalogRowCount();
  // The table holds neither code 0 nor the query-language group; list them in place.
  bool negativeGroupDone = false, zeroDone = false, positiveGroupDone = false;
  for (size_t i = 0; i <= count; ++i) {
    int code = i < count ? rows[i].code : INT_MAX;
    if (!negativeGroupDone && code > -3001) {
      std::printf("-3099..-3001\t%s\n", lxmessages::kQueryLanguageText);
      negativeGroupDone = true;
    }
    if (!zeroDone && code > 0) {
      std::printf("0\t%s\n", lxmessages::kOkText);
      zeroDone = true;
    }
    if (!positiveGroupDone && code > 3003) {
      std::printf("3001..3003\t%s\n", lxmessages::kQueryLanguageText);
      positiveGroupDone = true;
    }
    if (i < count) std::printf("%d\t%s\n", code, rows[i].text);
  }
}

}  // namespace

int RunError(const Invocation& in) {
  if (in.Has("--list")) {
    if (!in.Operands().empty() || in.Has("--prefix")) return UsageError("--list takes no other argument");
    List();
    return kExitOk;
  }
  if (in.Operands().empty()) return UsageError("CODE... expected");
  std::vector<int> codes;
  for (const std::string& text : in.Operands()) {
    int code = 0;
    if (!ParseCode(text.c_str(), &code)) return UsageError("'%s' is not a result code", text.c_str());
    codes.push_back(code);
  }
  const char* prefix = in.Value("--prefix");
  char buffer[LX_ERROR_BUFFER_SIZE];
  for (int code : codes) {
    // Without a prefix LxError writes "0" for code 0; the tool shows the text.
    std::puts(prefix ? LxError(buffer, prefix, code, 0) : LxError(buffer, nullptr, code, 1));
  }
  return kExitOk;
}

}  // namespace lxtool
