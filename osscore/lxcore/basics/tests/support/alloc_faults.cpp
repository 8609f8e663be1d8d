// The n-th-allocation injector (see lxtest.h): malloc and its relatives forward to
// glibc's own (__libc_malloc ...) unless the armed call has come.
#include <errno.h>
#include <unistd.h>

#include <cstdio>

#include "lxtest.h"

namespace {

bool g_armed = false, g_persistent = false, g_hit = false, g_anyHit = false;
long g_failAt = 0, g_calls = 0;

#ifndef LXTEST_ASAN
bool FailNow() {
  if (!g_armed || (g_persistent ? ++g_calls < g_failAt : ++g_calls != g_failAt)) return false;
  g_hit = g_anyHit = true;
  errno = ENOMEM;
  return true;
}
#endif

}  // namespace

#ifndef LXTEST_ASAN
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
void* __libc_memalign(size_t alignment, size_t size);

void* malloc(size_t size) { return FailNow() ? nullptr : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return FailNow() ? nullptr : __libc_calloc(count, size); }
// realloc(p, 0) frees: only requests for memory count.
void* realloc(void* block, size_t size) {
  return size != 0 && FailNow() ? nullptr : __libc_realloc(block, size);
}
void free(void* block) { __libc_free(block); }
void* memalign(size_t alignment, size_t size) {
  return FailNow() ? nullptr : __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
void* valloc(size_t size) { return memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  void* p = memalign(alignment, size);
  return p == nullptr ? ENOMEM : (*out = p, 0);
}
}
#endif

namespace lxtest {

#ifdef LXTEST_ASAN
bool AllocFaultsAvailable() { return false; }
#else
bool AllocFaultsAvailable() { return true; }
#endif

void ArmAllocFailure(long n, bool persistent) {
  g_failAt = n, g_persistent = persistent, g_calls = 0, g_hit = false, g_armed = true;
}

bool DisarmAllocFailure() {
  g_armed = false;
  return g_hit;
}

std::string AllocSweep(const std::function<std::string(long)>& run, long limit, long* runs) {
  for (long n = 1; n <= limit; ++n) {
    if (runs != nullptr) *runs = n;
    // The child exits with 0 when no armed failure happened (the sweep is
    // complete), 1 when one did and all held, 2 when something went wrong.
    ChildResult r = RunInChild([&run, n]() -> int {
      std::string wrong;
      try {
        wrong = run(n);
      } catch (...) {
        DisarmAllocFailure();
        wrong = "an exception left the library";
      }
      std::fputs(wrong.c_str(), stderr);
      return !wrong.empty() ? 2 : g_anyHit ? 1 : 0;
    });
    const std::string at = "allocation " + std::to_string(n) + " failing: ";
    if (!r.exited) return at + "died with signal " + std::to_string(r.signal) + "\n" + r.err;
    if (r.code != 1) return r.code == 0 ? std::string() : at + r.err;
  }
  return "still allocating after " + std::to_string(limit) + " runs";
}

}  // namespace lxtest
