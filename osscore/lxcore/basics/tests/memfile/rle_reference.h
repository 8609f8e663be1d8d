// A plain reference of the run-length block format for its fuzz models: the
// greedy byte-at-a-time encoder with its pending stretch, and a record walk.
// Both work on whole vectors and ignore rooms.
#pragma once

#include <sanitizer/asan_interface.h>  // its poisoning macros do nothing without AddressSanitizer

#include <algorithm>
#include <cstdint>
#include <vector>

#include "memfile/simd.h"

namespace lxtest {

using Bytes = std::vector<unsigned char>;

inline Bytes ReferenceEncode(const Bytes& in) {
  Bytes out;
  long start = 0, j = 1, r = 1;  // pending stretch: j bytes from start, the last r equal to v
  unsigned char v = in[0];
  auto literal = [&](long n) {  // the first n pending bytes
    out.insert(out.end(), {0, static_cast<unsigned char>(n)});
    out.insert(out.end(), in.begin() + start, in.begin() + start + n);
    start += n;
  };
  auto run = [&](long n) {
    out.insert(out.end(), {static_cast<unsigned char>(n), v});
    start += n;
  };
  for (size_t k = 1; k < in.size(); ++k) {
    if (in[k] == v) {
      ++j;
      ++r;
      if (j > r && (r >= 3 || j == 256)) {
        literal(j - r);
        j = r;
      } else if (j == r && r == 256) {
        run(255);
        j = r = 1;
      }
      continue;
    }
    if (r >= 3) {
      run(r);
      j = 0;
    } else if (j == 255) {
      literal(255);
      j = 0;
    }
    ++j;
    r = 1;
    v = in[k];
  }
  j > r ? literal(j) : run(j);
  return out;
}

inline Bytes ReferenceDecode(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i + 1 < in.size(); i += in[i] != 0 ? 2 : 2 + in[i + 1]) {
    if (in[i] != 0) {
      out.insert(out.end(), in[i], in[i + 1]);
    } else if (i + 2 + in[i + 1] <= in.size()) {
      out.insert(out.end(), in.begin() + static_cast<long>(i) + 2,
                 in.begin() + static_cast<long>(i) + 2 + in[i + 1]);
    } else {
      break;
    }
  }
  return out;
}

// Room for n bytes (a copy of `from` unless it is null) that ends `gap` bytes
// before a page boundary, so that the last records' 64-byte windows span two
// pages. The rest of the arena is 0xEE and, under AddressSanitizer, poisoned:
// reads and writes past the n bytes show as they do past an exact-size vector.
class AtPageEnd {
 public:
  AtPageEnd(const unsigned char* from, size_t n, size_t gap) : arena_(n + gap + 8192, 0xEE) {
    const uintptr_t end = (reinterpret_cast<uintptr_t>(arena_.data()) + n + gap + 4095) & ~uintptr_t{4095};
    at_ = reinterpret_cast<unsigned char*>(end) - gap - n;
    if (from != nullptr) std::copy(from, from + n, at_);
    tail_ = static_cast<size_t>(arena_.data() + arena_.size() - (at_ + n));
    ASAN_POISON_MEMORY_REGION(at_ + n, tail_);
  }
  ~AtPageEnd() { ASAN_UNPOISON_MEMORY_REGION(arena_.data() + arena_.size() - tail_, tail_); }
  AtPageEnd(const AtPageEnd&) = delete;
  AtPageEnd& operator=(const AtPageEnd&) = delete;
  unsigned char* get() const { return at_; }

 private:
  Bytes arena_;
  unsigned char* at_;
  size_t tail_;
};

// Runs `check` at every code-path level this processor supports, then restores the active one.
template <typename F>
void ForEachSimdLevel(F check) {
  const int before = lxmemfile::ActiveSimdLevel();
  for (int level = lxmemfile::kSimdBaseline; level <= lxmemfile::SupportedSimdLevel(); ++level) {
    lxmemfile::SetSimdLevel(level);
    check();
  }
  lxmemfile::SetSimdLevel(before);
}

}  // namespace lxtest
