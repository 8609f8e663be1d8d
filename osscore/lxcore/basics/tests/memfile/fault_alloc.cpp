#include "fault_alloc.h"

#include <cstddef>

namespace {
int g_failReallocs = 0;
int g_failMallocs = 0;
}  // namespace

#if defined(LXT_HAVE_FAULT_ALLOC)
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void* __libc_malloc(size_t size);

extern "C" void* realloc(void* block, size_t size) {
  if (g_failReallocs > 0) {
    --g_failReallocs;
    return nullptr;
  }
  return __libc_realloc(block, size);
}

extern "C" void* malloc(size_t size) {
  if (g_failMallocs > 0) {
    --g_failMallocs;
    return nullptr;
  }
  return __libc_malloc(size);
}
#endif

namespace lxt {

void FailReallocs(int count) { g_failReallocs = count; }
void FailMallocs(int count) { g_failMallocs = count; }

static int32_t Record(uint32_t size) {
  RecordingHandler::Calls().push_back(size);
  return 0;
}

std::vector<uint32_t>& RecordingHandler::Calls() {
  static std::vector<uint32_t> calls;
  return calls;
}

RecordingHandler::RecordingHandler() : previous_(mmLxSetHandler(Record)) {
  Calls().clear();
  Calls().reserve(16);  // recording must not allocate while malloc is failing
}

RecordingHandler::~RecordingHandler() { mmLxSetHandler(previous_); }

}  // namespace lxt
