// lxtool error: the catalog's text of result codes, as LxError gives them.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command.h"
#include "lxframe.h"
#include "lxmessages.h"
#include "messages/error_catalog.h"

namespace {

const char kUsage[] =
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
    "Exit status: 0 success, 2 usage (a CODE that is not a 32-bit decimal number).\n";

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

int ErrorCommand(int argc, char** argv) {
  if (lxtool::WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const char* prefix = nullptr;
  std::vector<int> codes;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list") == 0) {
      if (argc != 2) return lxtool::Fail(2, "error: --list takes no other argument");
      List();
      return 0;
    }
    if (std::strcmp(argv[i], "--prefix") == 0) {
      if (i + 1 >= argc) return lxtool::Fail(2, "error: --prefix needs a TEXT");
      prefix = argv[++i];
      continue;
    }
    int code = 0;
    if (!ParseCode(argv[i], &code)) return lxtool::Fail(2, "error: '%s' is not a result code", argv[i]);
    codes.push_back(code);
  }
  if (codes.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  char buffer[LX_ERROR_BUFFER_SIZE];
  for (int code : codes) {
    // Without a prefix LxError writes "0" for code 0; the tool shows the text.
    std::puts(prefix ? LxError(buffer, prefix, code, 0) : LxError(buffer, nullptr, code, 1));
  }
  return 0;
}

}  // namespace

LXTOOL_COMMAND(error, "error", "texts of result codes (LxError)", ErrorCommand);
