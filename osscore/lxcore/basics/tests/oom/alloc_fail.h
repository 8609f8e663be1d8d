// Allocation failure injection for the out-of-memory sweeps.
//
// This test program defines malloc, calloc, realloc, free and the aligned
// allocators itself, forwarding to glibc's own (__libc_malloc ...), so that every
// allocation of the process passes through it: the library's, the C++ runtime's
// operator new, SQLite's and glibc's internal ones. While armed, the n-th
// allocation call fails with ENOMEM (only that one); free always works.
//
// A sweep runs an operation once per n = 1, 2, ..., each time in a fresh child
// process, until a run completes without meeting its failure: every allocation
// that the operation makes has then failed once. The body checks, with the
// failure behind it and the injector disarmed, that the operation reported what
// its contract says and that the data that was there before is intact.
//
// AddressSanitizer replaces the allocator itself; under it the injector is not
// built and the sweeps are skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lxoom {

// False when the program is built without the injector (sanitizer builds).
bool Available();

// Makes the n-th allocation call from now on fail (n >= 1); with `persistent`
// every call from the n-th on fails, as when the heap stays exhausted.
void Arm(long n, bool persistent = false);
// Stops counting. Returns true when the armed failure happened.
bool Disarm();
// Allocation calls counted since Arm.
long Calls();

// What one run of a sweep's body saw; a body reports violations through Expect.
class Run {
 public:
  explicit Run(long n) : n_(n) {}
  long N() const { return n_; }
  // Arms the failure of the n-th allocation; Disarm returns whether it happened.
  void Arm() { lxoom::Arm(n_); }
  void ArmPersistent() { lxoom::Arm(n_, true); }
  bool Disarm() {
    hit_ = lxoom::Disarm();
    anyHit_ = anyHit_ || hit_;
    return hit_;
  }
  // Whether the failure happened in the section armed last, or in any section.
  bool Hit() const { return hit_; }
  bool AnyHit() const { return anyHit_; }
  // Records a violation (the first one is reported).
  void Expect(bool ok, const std::string& what);
  bool Failed() const { return !failure_.empty(); }
  const std::string& Failure() const { return failure_; }

  // The memory handler that the sweep installs: records its calls, returns 0.
  static int32_t HandlerCalls();
  static uint32_t LastHandlerSize();
  static void ResetHandler();

 private:
  long n_;
  bool hit_ = false;
  bool anyHit_ = false;
  std::string failure_;
};

// Runs `body` for n = 1, 2, ... in child processes until a run does not meet its
// failure (or `limit` runs). Returns an empty string, or a description of the
// first violation or crash. *runs receives the number of runs made.
std::string Sweep(const std::function<void(Run&)>& body, long limit = 4000, long* runs = nullptr);

}  // namespace lxoom
