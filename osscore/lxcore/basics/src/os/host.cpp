#include "os/host.h"

#include <limits.h>

#include <cstring>

#include "os/syscall.h"

namespace lxos {

bool HostName(std::string* out) {
  out->clear();
  char buf[HOST_NAME_MAX + 2];
  // gethostname may leave a truncated name unterminated; the extra byte and
  // the explicit terminator keep the copy inside the buffer.
  if (sys::GetHostName(buf, sizeof buf - 1) != 0) return false;
  buf[sizeof buf - 1] = '\0';
  out->assign(buf, strnlen(buf, sizeof buf - 1));
  return !out->empty();
}

}  // namespace lxos
