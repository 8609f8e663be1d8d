// The allocation failure injector and the sweep driver (see alloc_fail.h).
#include "alloc_fail.h"

#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <exception>

#include "lxframe.h"
#include "lxtest.h"

#if defined(__SANITIZE_ADDRESS__)
#define LXOOM_INJECTOR 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LXOOM_INJECTOR 0
#endif
#endif
#ifndef LXOOM_INJECTOR
#define LXOOM_INJECTOR 1
#endif

namespace {

bool g_armed = false;
bool g_persistent = false;
bool g_hit = false;
long g_failAt = 0;
long g_calls = 0;

// True when this allocation call is the one to fail.
inline bool FailNow() {
  if (!g_armed) return false;
  ++g_calls;
  if (g_persistent ? g_calls < g_failAt : g_calls != g_failAt) return false;
  g_hit = true;
  errno = ENOMEM;
  return true;
}

int32_t g_handlerCalls = 0;
uint32_t g_handlerSize = 0;

int32_t RecordingHandler(uint32_t size) {
  ++g_handlerCalls;
  g_handlerSize = size;
  return 0;
}

}  // namespace

#if LXOOM_INJECTOR
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
void* __libc_memalign(size_t alignment, size_t size);

void* malloc(size_t size) { return FailNow() ? nullptr : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return FailNow() ? nullptr : __libc_calloc(count, size); }
// realloc(p, 0) frees; only requests for memory count.
void* realloc(void* block, size_t size) {
  return size != 0 && FailNow() ? nullptr : __libc_realloc(block, size);
}
void free(void* block) { __libc_free(block); }
void* memalign(size_t alignment, size_t size) {
  return FailNow() ? nullptr : __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  if (FailNow()) return ENOMEM;
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void* valloc(size_t size) { return memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size); }
}
#endif

namespace lxoom {

bool Available() { return LXOOM_INJECTOR != 0; }

void Arm(long n, bool persistent) {
  g_failAt = n;
  g_persistent = persistent;
  g_calls = 0;
  g_hit = false;
  g_armed = true;
}

bool Disarm() {
  g_armed = false;
  return g_hit;
}

long Calls() { return g_calls; }

void Run::Expect(bool ok, const std::string& what) {
  if (!ok && failure_.empty()) failure_ = what;
}

int32_t Run::HandlerCalls() { return g_handlerCalls; }
uint32_t Run::LastHandlerSize() { return g_handlerSize; }
void Run::ResetHandler() {
  g_handlerCalls = 0;
  g_handlerSize = 0;
}

std::string Sweep(const std::function<void(Run&)>& body, long limit, long* runs) {
  for (long n = 1; n <= limit; ++n) {
    if (runs != nullptr) *runs = n;
    // Exit codes of the child: 0 the run did not meet its failure (the sweep is
    // complete), 1 it met it and all was well, 2 a violation (text on stderr).
    lxtest::ChildResult r = lxtest::RunInChild([&body, n]() -> int {
      mmLxSetHandler(RecordingHandler);
      Run run(n);
      try {
        body(run);
      } catch (const std::exception& e) {
        run.Disarm();
        run.Expect(false, std::string("an exception left the library: ") + e.what());
      } catch (...) {
        run.Disarm();
        run.Expect(false, "an exception left the library");
      }
      if (run.Failed()) {
        std::fprintf(stderr, "%s", run.Failure().c_str());
        return 2;
      }
      return run.AnyHit() ? 1 : 0;
    });
    if (!r.exited) {
      return "allocation " + std::to_string(n) + " failing: the process died with signal " +
             std::to_string(r.signal) + "\n" + r.err;
    }
    if (r.code == 0) return std::string();
    if (r.code != 1) return "allocation " + std::to_string(n) + " failing: " + r.err;
  }
  return "the operation still allocates after " + std::to_string(limit) + " runs";
}

}  // namespace lxoom
