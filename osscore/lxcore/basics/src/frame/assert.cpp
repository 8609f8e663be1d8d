// Failed assertions: the fatal-error callback, then the configured reaction.
#include "frame/assert.h"

#include <cstdio>
#include <cstring>

#include "frame/config.h"
#include "lxframe.h"
#include "os/diag.h"

namespace {

LxFatalErrorCallback g_fatalErrorCallback = nullptr;
int32_t g_assertMode = -1;  // -1: not read from the configuration yet

const char kCaption[] = "Orvanta Runtime Debugging";
constexpr size_t kReportSize = 280;
// Abort/Retry/Ignore, hand icon, task-modal, foreground.
constexpr uint32_t kAssertBoxStyle = 0x12012;

int32_t AssertMode() {
  if (g_assertMode == -1) {
    int32_t mode = 0;
    LxConfig* config = DefaultConfig(LX_QUERY_CONFIG);
    if (config != nullptr) config->ReadInt("assertMode", &mode, lxframe::kSectionDebug);
    g_assertMode = mode;
  }
  return g_assertMode;
}

}  // namespace

namespace lxframe {

void ComposeAssertReport(char* out, size_t size, const char* expression, const char* file, int line) {
  if (expression == nullptr) expression = "";
  if (file == nullptr) file = "";
  static const char kFormat[] = "Assertion '%.*s' failed.\nFile '%.*s' \nLine %d \n";
  int fixed = std::snprintf(nullptr, 0, kFormat, 0, "", 0, "", line);
  size_t budget = size > static_cast<size_t>(fixed) + 1 ? size - static_cast<size_t>(fixed) - 1 : 0;
  size_t exprLen = std::strlen(expression);
  size_t fileLen = std::strlen(file);
  if (exprLen + fileLen > budget) {
    size_t half = budget / 2;
    if (exprLen <= half) {
      fileLen = budget - exprLen;
    } else if (fileLen <= half) {
      exprLen = budget - fileLen;
    } else {
      exprLen = half;
      fileLen = budget - half;
    }
  }
  std::snprintf(out, size, kFormat, static_cast<int>(exprLen), expression, static_cast<int>(fileLen), file,
                line);
}

}  // namespace lxframe

LxFatalErrorCallback SetFatalErrorCallback(LxFatalErrorCallback callback) {
  LxFatalErrorCallback previous = g_fatalErrorCallback;
  g_fatalErrorCallback = callback;
  return previous;
}

LxFatalErrorCallback GetFatalErrorCallback() { return g_fatalErrorCallback; }

int VESK_assert(const char* expression, const char* file, int line) {
  if (g_fatalErrorCallback != nullptr) g_fatalErrorCallback(expression, file, line);
  int32_t mode = AssertMode();

  char report[kReportSize];
  lxframe::ComposeAssertReport(report, sizeof report, expression, file, line);

  switch (mode) {
    case 0:
      lxos::AssertFail(expression ? expression : "", file ? file : "", line);
    case 1:
      return 0;
    case 2:
    case 3:
      lxos::RaiseAccessViolation();
    case 4:
      lxos::DebugBreak();
      return 0;
    case 5:
      lxos::Abort();
    case 6: {
      char text[kReportSize + sizeof "Press retry TO DEBUG."];
      std::snprintf(text, sizeof text, "%sPress retry TO DEBUG.", report);
      int answer = lxos::MessageBox(text, kCaption, kAssertBoxStyle);
      if (answer == lxos::kIdAbort) lxos::Abort();
      if (answer == lxos::kIdRetry) lxos::DebugBreak();
      return 0;
    }
    default:
      lxos::DebugOutput(kCaption);
      lxos::DebugOutput(report);
      return 0;
  }
}
