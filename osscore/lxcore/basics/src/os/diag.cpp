// glibc declares its assertion routine only for builds with assertions on.
#undef NDEBUG
#include "os/diag.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/paths.h"
#include "os/syscall.h"

namespace lxos {

namespace {

struct ButtonSet {
  int count;
  int ids[3];
  const char* names[3];
};

// The buttons of the host's message-box types 0 to 6, in their order on the box.
const ButtonSet kButtonSets[] = {
    {1, {kIdOk}, {"OK"}},
    {2, {kIdOk, kIdCancel}, {"OK", "Cancel"}},
    {3, {kIdAbort, kIdRetry, kIdIgnore}, {"Abort", "Retry", "Ignore"}},
    {3, {kIdYes, kIdNo, kIdCancel}, {"Yes", "No", "Cancel"}},
    {2, {kIdYes, kIdNo}, {"Yes", "No"}},
    {2, {kIdRetry, kIdCancel}, {"Retry", "Cancel"}},
    {3, {kIdCancel, kIdRetry, kIdIgnore}, {"Cancel", "Try Again", "Continue"}},
};

int AnswerByName(const char* name) {
  static const struct {
    const char* name;
    int id;
  } kNames[] = {{"ok", kIdOk},         {"cancel", kIdCancel}, {"abort", kIdAbort}, {"retry", kIdRetry},
                {"ignore", kIdIgnore}, {"yes", kIdYes},       {"no", kIdNo}};
  for (const auto& n : kNames) {
    if (strcasecmp(n.name, name) == 0) return n.id;
  }
  return 0;
}

}  // namespace

void DebugOutput(const char* text) {
  if (text == nullptr) return;
  const char* target = GetEnv("ORVANTA_DEBUG_OUTPUT");
  if (target && std::strcmp(target, "off") == 0) return;
  if (target && *target) {
    int fd = sys::Open(target, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd >= 0) {
      WriteAll(fd, text, std::strlen(text));
      sys::Close(fd);
      return;
    }
  }
  WriteAll(2, text, std::strlen(text));
}

int MessageBox(const char* text, const char* caption, uint32_t style) {
  uint32_t type = style & 0xF;
  const ButtonSet& set = kButtonSets[type < sizeof kButtonSets / sizeof kButtonSets[0] ? type : 0];
  int defIndex = static_cast<int>((style >> 8) & 0xF);
  int answer = set.ids[defIndex < set.count ? defIndex : 0];
  const char* wanted = GetEnv("ORVANTA_MESSAGE_ANSWER");
  if (wanted && *wanted) {
    int id = AnswerByName(wanted);
    for (int i = 0; i < set.count; ++i) {
      if (set.ids[i] == id) answer = id;
    }
  }
  std::string out = "== ";
  out += caption ? caption : "";
  out += " ==\n";
  out += text ? text : "";
  out += "\n[";
  const char* chosen = "";
  for (int i = 0; i < set.count; ++i) {
    if (i) out += " | ";
    out += set.names[i];
    if (set.ids[i] == answer) chosen = set.names[i];
  }
  out += "] -> ";
  out += chosen;
  out += "\n";
  WriteAll(2, out.data(), out.size());
  return answer;
}

void DebugBreak() { raise(SIGTRAP); }

void RaiseAccessViolation() {
  signal(SIGSEGV, SIG_DFL);
  raise(SIGSEGV);
  _exit(128 + SIGSEGV);
}

void AssertFail(const char* expression, const char* file, int line) {
  __assert_fail(expression, file, static_cast<unsigned>(line), "VESK_assert");
}

void Abort() { std::abort(); }

}  // namespace lxos
