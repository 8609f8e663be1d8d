#include "messages/msg.h"

#include "lxmessages.h"
#include "messages/syslog.h"
#include "os/diag.h"

namespace lxmessages {

uint32_t MessageResult(int answer) {
  switch (answer) {
    case lxos::kIdCancel:
    case lxos::kIdAbort:
      return LX_MSG_CANCEL;
    case lxos::kIdRetry:
      return LX_MSG_RETRY;
    case lxos::kIdIgnore:
      return LX_MSG_IGNORE;
    case lxos::kIdNo:
      return LX_MSG_NO;
    default:
      return LX_MSG_OK;
  }
}

}  // namespace lxmessages

namespace {

// Set while this thread shows a message. When showing it runs out of memory, the
// out-of-memory handler asks for another message; that one is answered at once
// (as a box that could not be shown) instead of recursing.
thread_local bool t_inOutput = false;

}  // namespace

int32_t LxVMsg::enabled = 1;

int LxVMsg::SetEnabled(int on) {
  int previous = enabled;
  enabled = on != 0 ? 1 : 0;
  return previous;
}

uint32_t LxVMsg::Printf(const char* caption, uint32_t flags, const char* format, ...) {
  if (enabled == 0 && (flags & LX_MSG_SHOW_ALWAYS) == 0) return LX_MSG_SUPPRESSED;
  char text[lxmessages::kMessageTextSize];
  va_list args;
  va_start(args, format);
  lxmessages::FormatText(text, sizeof text, format, args);
  va_end(args);
  return Output(caption, flags, text);
}

LxVMsg::~LxVMsg() = default;

LxMsg::~LxMsg() = default;

uint32_t LxMsg::Output(const char* caption, uint32_t flags, const char* text) {
  if (caption == nullptr) caption = lxmessages::kDefaultSourceName;
  // 0 is what the host's message box answers when it cannot show the box.
  int answer = 0;
  if (!t_inOutput) {
    t_inOutput = true;
    try {
      answer = lxos::MessageBox(text != nullptr ? text : "", caption, lxmessages::MessageStyle(flags));
    } catch (...) {
      answer = 0;
    }
    t_inOutput = false;
  }
  uint32_t result = lxmessages::MessageResult(answer);
  if ((flags & LX_MSG_BREAK_ON_RETRY) != 0 && answer == lxos::kIdRetry) lxos::DebugBreak();
  if ((flags & LX_MSG_BREAK_ON_CANCEL) != 0 && (answer == lxos::kIdCancel || answer == lxos::kIdAbort)) {
    lxos::DebugBreak();
  }
  return result;
}

LxMsg* LxMessage() {
  static LxMsg message;
  return &message;
}
