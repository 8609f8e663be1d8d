// The default out-of-memory handler's report in the system log and through the
// message object, installed when the library is loaded.
#include "frame/resize.h"
#include "lxmessages.h"

namespace {

void ReportOutOfMemory(const char* text) {
  LxSystemLog()->Printf(10, "%s", text);
  LxMessage()->Printf(nullptr, 0, "%s", text);
}

__attribute__((constructor)) void InstallOutOfMemoryReport() {
  lxframe::SetOutOfMemoryReporter(ReportOutOfMemory);
}

}  // namespace
