// Diagnostics towards the person or the debugger: debugger output, the message
// presenter that stands in for a message box, and the ways of stopping a process.
//
// Debugger output goes to standard error, or to the file named by
// $ORVANTA_DEBUG_OUTPUT (appended), or nowhere when that variable is "off".
// The message presenter writes caption and text to standard error and answers
// with $ORVANTA_MESSAGE_ANSWER (ok, cancel, abort, retry, ignore, yes, no) when
// the box offers that button, else with the box's default button.
#pragma once

#include <cstdint>

namespace lxos {

void DebugOutput(const char* text);

// Answers of the message presenter; the values of the host's message-box ids.
enum MessageAnswer : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7
};

// Presents `text` under `caption` with the buttons, icon and default button of
// the message-box `style` bits, and returns the answer.
int MessageBox(const char* text, const char* caption, uint32_t style);

// Raises SIGTRAP (a breakpoint for an attached debugger).
void DebugBreak();
// Raises SIGSEGV with its default action, so that the process ends at once.
[[noreturn]] void RaiseAccessViolation();
// glibc's assertion-failure routine (prints and aborts).
[[noreturn]] void AssertFail(const char* expression, const char* file, int line);
[[noreturn]] void Abort();

}  // namespace lxos
