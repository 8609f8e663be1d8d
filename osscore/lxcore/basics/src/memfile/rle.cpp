// The run-length block format: DScomp, DSdecomp, DSlen.
//
// The encoder is defined as a greedy byte-at-a-time pass (see DScomp in
// lxmemfile.h and the reference encoder of the tests). Both encoders here give
// the same records but work on maximal runs of equal bytes. What the byte-wise
// pass does with a maximal run of length L, given q pending literal bytes
// (0 <= q <= 255) before it:
//   - q = 255: the first byte of the run flushes a literal of those 255 bytes.
//   - L = 1: the byte joins the literal (q + 1).
//   - L = 2: with q = 254 the second byte flushes a literal of 254 first; the
//     pair joins the literal.
//   - L >= 3: the pending literal is written; the run becomes (L - 1) / 255
//     records of 255, and a remainder of 3..255 a run record of its own, while a
//     remainder of 1 or 2 bytes begins the next pending literal.
// At the end a pending stretch that is nothing but the tail of the last run is
// a run record (count 1 or 2), anything else a literal record.
//
// The portable encoder steps from run to run with vector compares. The AVX-512
// one takes 64 bytes at a time: from the masks of equal neighbours it finds
// every run of three or more that starts and ends in the window, and writes the
// literal before it and the run without a branch on their lengths; a window
// where that does not apply (long literals or runs, the end of the input or of
// the room) takes one step of the general walk instead.
#include "memfile/rle.h"

#include <climits>
#include <cstring>

#include "lxmemfile.h"
#include "memfile/simd.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// First e in [from, n - 1) with in[e] == in[e + 1], or n when there is none.
inline int FindPair(const unsigned char* in, int from, int n) {
  int e = from;
#if defined(__SSE2__)
  while (e + 17 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + e));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + e + 1));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
    if (mask != 0) return e + __builtin_ctz(mask);
    e += 16;
  }
#endif
  for (; e + 1 < n; ++e) {
    if (in[e] == in[e + 1]) return e;
  }
  return n;
}

// Length of the run of in[from] that starts at `from` (at least 1).
inline int RunLength(const unsigned char* in, int from, int n) {
  const unsigned char v = in[from];
  int e = from + 1;
#if defined(__SSE2__)
  const __m128i value = _mm_set1_epi8(static_cast<char>(v));
  while (e + 16 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + e));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, value))) ^ 0xFFFFu;
    if (mask != 0) return e + __builtin_ctz(mask) - from;
    e += 16;
  }
#endif
  while (e < n && in[e] == v) ++e;
  return e - from;
}

// Copies n (<= 255) bytes with overlapping 16-byte moves, never touching a byte
// outside [dst, dst + n) or reading outside [src, src + n).
inline void CopyRecord(unsigned char* dst, const unsigned char* src, size_t n) {
#if defined(__SSE2__)
  if (n >= 16) {
    size_t i = 0;
    for (; i + 16 < n; i += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 16)));
    return;
  }
#endif
  if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 8, 8);
    std::memcpy(dst, &a, 8);
    std::memcpy(dst + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, src, 4);
    std::memcpy(&b, src + n - 4, 4);
    std::memcpy(dst, &a, 4);
    std::memcpy(dst + n - 4, &b, 4);
  } else {
    for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

// Sets n (1..255) bytes to v, within [dst, dst + n).
inline void FillRecord(unsigned char* dst, unsigned char v, size_t n) {
#if defined(__SSE2__)
  if (n >= 16) {
    const __m128i value = _mm_set1_epi8(static_cast<char>(v));
    size_t i = 0;
    for (; i + 16 < n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), value);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), value);
    return;
  }
#endif
  if (n >= 8) {
    const uint64_t w = 0x0101010101010101ull * v;
    std::memcpy(dst, &w, 8);
    std::memcpy(dst + n - 8, &w, 8);
  } else if (n >= 4) {
    const uint32_t w = 0x01010101u * v;
    std::memcpy(dst, &w, 4);
    std::memcpy(dst + n - 4, &w, 4);
  } else {
    for (size_t i = 0; i < n; ++i) dst[i] = v;
  }
}

// Writes records into the caller's room; a record that does not fit completely
// is not written and fails the encoding.
class RecordWriter {
 public:
  RecordWriter(unsigned char* out, int room) : out_(out), room_(room) {}

  bool Run(int count, unsigned char value) {
    if (room_ - written_ < 2) return false;
    out_[written_] = static_cast<unsigned char>(count);
    out_[written_ + 1] = value;
    written_ += 2;
    return true;
  }

  bool Literal(const unsigned char* bytes, int length) {
    if (room_ - written_ < 2 + length) return false;
    out_[written_] = 0;
    out_[written_ + 1] = static_cast<unsigned char>(length);
    CopyRecord(out_ + written_ + 2, bytes, static_cast<size_t>(length));
    written_ += 2 + length;
    return true;
  }

  // The pending literal bytes in[litStart, litStart + pending), then the run of
  // `run` bytes at in[i] as records of at most 255; a rest shorter than three
  // becomes the new pending literal.
  bool LiteralThenRun(const unsigned char* in, int i, int run, int& litStart, int& pending) {
    if (pending > 0 && !Literal(in + litStart, pending)) return false;
    const unsigned char v = in[i];
    const int full = (run - 1) / 255;
    for (int k = 0; k < full; ++k) {
      if (!Run(255, v)) return false;
    }
    const int rest = run - full * 255;
    if (rest >= 3) {
      pending = 0;
      return Run(rest, v);
    }
    litStart = i + full * 255;
    pending = rest;
    return true;
  }

  int written() const { return written_; }

  // For writers that fill the room directly: the bytes left, where the next
  // record goes, and a move past the bytes written there.
  int Left() const { return room_ - written_; }
  unsigned char* Cursor() const { return out_ + written_; }
  void Skip(int bytes) { written_ += bytes; }

 private:
  unsigned char* out_;
  int room_;
  int written_ = 0;
};

}  // namespace

namespace lxmemfile {

int EncodeRecords(const unsigned char* in, int n, unsigned char* output, int* room) {
  RecordWriter w(output, *room);

  int litStart = 0;  // the pending literal bytes are in[litStart, litStart + pending)
  int pending = 0;
  int tail = 0;  // how many of the pending bytes are the end of the last run
  int i = 0;
  while (i < n) {
    const int pair = FindPair(in, i, n);
    if (pair > i) {  // runs of one byte each
      if (pending == 0) litStart = i;
      int total = pending + (pair - i);
      while (total > 255) {
        if (!w.Literal(in + litStart, 255)) return -1;
        litStart += 255;
        total -= 255;
      }
      pending = total;
      tail = 1;
      i = pair;
      if (i == n) break;
    }

    // A pair is the common case in mixed data: settle it without the run scan.
    const unsigned char v = in[i];
    const int run = i + 2 < n && in[i + 2] == v ? RunLength(in, i, n) : 2;
    if (pending == 255) {
      if (!w.Literal(in + litStart, 255)) return -1;
      litStart += 255;
      pending = 0;
    }
    if (run == 2) {
      if (pending == 254) {
        if (!w.Literal(in + litStart, 254)) return -1;
        litStart += 254;
        pending = 0;
      }
      if (pending == 0) litStart = i;
      pending += 2;
      tail = 2;
    } else {
      if (!w.LiteralThenRun(in, i, run, litStart, pending)) return -1;
      if (pending > 0) tail = pending;
    }
    i += run;
  }

  if (pending > 0) {
    const bool ok = pending == tail ? w.Run(pending, in[n - 1]) : w.Literal(in + litStart, pending);
    if (!ok) return -1;
  }
  if (w.written() >= *room) return -1;
  *room = w.written();
  return 0;
}

}  // namespace lxmemfile

#if defined(__x86_64__)
namespace {

#define LXMF_AVX512 __attribute__((target("avx512f,avx512bw,bmi2")))

LXMF_AVX512 inline __mmask64 FirstBits(int count) {
  return count >= 64 ? ~0ull : count <= 0 ? 0 : _bzhi_u64(~0ull, static_cast<unsigned>(count));
}

// A masked access whose left-out bytes fall on a page that is not mapped in costs
// a microcode assist of hundreds of cycles, on every call when a block ends at a
// page boundary with nothing mapped after it. Windows that reach past the end of
// a buffer and span two pages are therefore read and written without masks;
// windows inside the buffers meet such a page at most once, before it is written.
inline bool CrossesPage(const unsigned char* at) {
  return (reinterpret_cast<uintptr_t>(at) & 4095) > 4096 - 64;
}

// Copies n bytes (or repeats from[0] n times) with plain accesses of at most 8
// bytes: the C library's memcpy and memset use masked ones for short lengths.
inline void CopyPlain(unsigned char* to, const unsigned char* from, unsigned n, bool fill) {
  // Read from[0] only to fill: for an empty literal at the input's end it lies past it.
  const uint64_t pattern = fill ? 0x0101010101010101ull * from[0] : 0;
  const auto word = [&](unsigned at) {
    uint64_t v = pattern;
    if (!fill) std::memcpy(&v, from + at, 8);
    std::memcpy(to + at, &v, 8);
  };
  if (n >= 8) {
    for (unsigned at = 0; at + 8 < n; at += 8) word(at);
    word(n - 8);
  } else {
    for (unsigned i = 0; i < n; ++i) to[i] = from[fill ? 0 : i];
  }
}

LXMF_AVX512 __attribute__((noinline, cold)) __m512i LoadFirstByCopy(const unsigned char* at, int count) {
  alignas(64) unsigned char copy[64] = {};
  if (count > 0) CopyPlain(copy, at, static_cast<unsigned>(count), false);
  return _mm512_load_si512(copy);
}

// The first `count` bytes of the window at `at` (none when count <= 0, all when
// count >= 64), the others zero.
LXMF_AVX512 inline __m512i LoadFirst(const unsigned char* at, int count) {
  if (__builtin_expect(count < 64 && CrossesPage(at), 0)) return LoadFirstByCopy(at, count);
  return _mm512_maskz_loadu_epi8(FirstBits(count), at);
}

// First t >= from where in[t], in[t + 1] and in[t + 2] are equal, or n.
LXMF_AVX512 inline int NextTriple(const unsigned char* in, int from, int n) {
  for (int base = from;; base += 64) {
    const int count = n - 2 - base;
    const __mmask64 valid = FirstBits(count);
    if (valid == 0) return n;
    const __m512i a = LoadFirst(in + base, count);
    const __m512i b = LoadFirst(in + base + 1, count);
    const __m512i c = LoadFirst(in + base + 2, count);
    const uint64_t same = _mm512_mask_cmpeq_epi8_mask(_mm512_mask_cmpeq_epi8_mask(valid, a, b), b, c);
    if (same != 0) return base + __builtin_ctzll(same);
  }
}

// Length of the run of in[from] that starts at `from` (at least 1). Long runs
// are checked 256 bytes at a time.
LXMF_AVX512 inline int RunLengthAvx512(const unsigned char* in, int from, int n) {
  const __m512i value = _mm512_set1_epi8(static_cast<char>(in[from]));
  int e = from + 1;
  while (n - e >= 256) {
    const __mmask64 same = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(in + e), value) &
                           _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(in + e + 64), value) &
                           _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(in + e + 128), value) &
                           _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(in + e + 192), value);
    if (same != ~0ull) break;
    e += 256;
  }
  for (;; e += 64) {
    const __mmask64 valid = FirstBits(n - e);
    // Bits past the input compare as different, so the run stops at n.
    const uint64_t differ = ~_mm512_mask_cmpeq_epi8_mask(valid, LoadFirst(in + e, n - e), value);
    if (differ != 0) return e + __builtin_ctzll(differ) - from;
  }
}

}  // namespace

namespace lxmemfile {

LXMF_AVX512 int EncodeRecordsAvx512(const unsigned char* in, int n, unsigned char* output, int* room) {
  RecordWriter w(output, *room);
  int litStart = 0;  // the pending literal bytes are in[litStart, litStart + pending) = in[i - pending, i)
  int pending = 0;
  int i = 0;
  while (i < n) {
    // A window of the 64 positions from i (i is the start of a maximal run), when
    // the input holds 66 bytes from there and the room 256 more bytes.
    if (n - i >= 66 && w.Left() >= 256) {
      const __m512i a = _mm512_loadu_si512(in + i);
      const __m512i b = _mm512_loadu_si512(in + i + 1);
      const __m512i c = _mm512_loadu_si512(in + i + 2);
      const uint64_t same = _mm512_cmpeq_epi8_mask(a, b);  // bit k: in[i + k] == in[i + k + 1]
      // Starts of runs of three or more: not the continuation of a run.
      uint64_t starts = same & _mm512_cmpeq_epi8_mask(b, c) & ~(same << 1);
      int at = i;  // first byte not yet written or pending
      while (starts != 0) {
        const int s = i + __builtin_ctzll(starts);
        const uint64_t ends = ~same >> (s - i);  // bit 0: position s
        const int literal = pending + (s - at);
        if (ends == 0 || literal > 64) break;  // the run leaves the window, or a long literal
        const int run = __builtin_ctzll(ends) + 1;
        unsigned char* o = w.Cursor();
        const __mmask64 copy = FirstBits(literal);
        o[0] = 0;  // a header that the run record overwrites when there is no literal
        o[1] = static_cast<unsigned char>(literal);
        _mm512_mask_storeu_epi8(o + 2, copy, _mm512_maskz_loadu_epi8(copy, in + s - literal));
        o += literal != 0 ? literal + 2 : 0;
        o[0] = static_cast<unsigned char>(run);
        o[1] = in[s];
        w.Skip(static_cast<int>(o + 2 - w.Cursor()));
        pending = 0;
        at = s + run;
        starts &= starts - 1;
      }
      if (at > i) {
        litStart = at;
        i = at;
        continue;
      }
    }

    // One step of the general walk: the literal bytes up to the next run of
    // three or more, with 255-byte records as the byte-wise pass writes them
    // (a pair never splits, so the 255th and 256th bytes being equal makes it
    // 254), then the run.
    const int run3 = NextTriple(in, i, n);
    if (run3 > i) {
      if (pending == 0) litStart = i;
      int total = pending + (run3 - i);
      while (total > 255) {
        const int record = in[litStart + 254] == in[litStart + 255] ? 254 : 255;
        if (!w.Literal(in + litStart, record)) return -1;
        litStart += record;
        total -= record;
      }
      pending = total;
      i = run3;
      if (i == n) break;
    }
    const int run = RunLengthAvx512(in, i, n);
    if (!w.LiteralThenRun(in, i, run, litStart, pending)) return -1;
    i += run;
  }

  if (pending > 0) {
    // A stretch of one run of 1 or 2 bytes is a run record (no three equal bytes
    // are ever pending).
    const bool oneRun = pending <= 2 && in[n - 1] == in[n - pending];
    if (!(oneRun ? w.Run(pending, in[n - 1]) : w.Literal(in + litStart, pending))) return -1;
  }
  if (w.written() >= *room) return -1;
  *room = w.written();
  return 0;
}

}  // namespace lxmemfile
#endif

namespace lxmemfile {

// Both versions write only the bytes they decode and read only [p, end).
int DecodeRecords(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room) {
  const int64_t limit = *room;
  int64_t decoded = 0;
  while (decoded < limit && end - p >= 2) {
    const unsigned count = p[0];
    if (count != 0) {
      if (decoded + count > limit) {
        *room = static_cast<int>(decoded);
        return 2;
      }
      FillRecord(out + decoded, p[1], count);
      decoded += count;
      p += 2;
    } else {
      const unsigned literal = p[1];
      if (static_cast<size_t>(end - p - 2) < literal) break;  // cut by the end of the input
      if (decoded + literal > limit) {
        *room = static_cast<int>(decoded);
        return 2;
      }
      CopyRecord(out + decoded, p + 2, literal);
      decoded += literal;
      p += 2 + literal;
    }
  }
  *room = static_cast<int>(decoded);
  return decoded != 0 ? 0 : 2;
}

#if defined(__x86_64__)
namespace {

// Writes the record at p to `to`, without masks.
__attribute__((noinline, cold)) void WriteNearPage(unsigned char* to, const unsigned char* p,
                                                   unsigned length) {
  CopyPlain(to, p[0] != 0 ? p + 1 : p + 2, length, p[0] != 0);
}

enum class Step { kNext, kCut, kFull };

// Offset from `to` of the next 64-byte boundary after it (1..64).
inline unsigned LineStart(const unsigned char* to) {
  return 64 - static_cast<unsigned>(reinterpret_cast<uintptr_t>(to) & 63);
}

// One record of the AVX-512 walk. A record of up to 64 bytes is one masked load
// (none for a run) and one masked store, whatever its kind and length, so the
// walk does not branch on the records' lengths; masked-off bytes are neither
// read nor written. AtEnd: the 64-byte windows may reach past the input or the
// room. (A walk that branches on the kind of record, or masked stores behind
// such a branch, measured slower on the page-like benchmark block whenever the
// machine was shared.)
template <bool AtEnd>
__attribute__((target("avx512f,avx512bw,bmi2"), always_inline)) inline Step DecodeOne(
    const unsigned char*& p, const unsigned char* end, unsigned char* out, int64_t& decoded, int64_t limit) {
  const unsigned count = p[0];
  const unsigned second = p[1];
  const unsigned length = count != 0 ? count : second;
  const size_t recordSize = count != 0 ? 2 : 2 + static_cast<size_t>(second);
  if (count == 0 && static_cast<size_t>(end - p) < recordSize) return Step::kCut;
  if (decoded + length > limit) return Step::kFull;
  unsigned char* to = out + decoded;
  const __m512i run = _mm512_set1_epi8(static_cast<char>(second));
  if (__builtin_expect(length <= 64, 1)) {
    if (AtEnd && (CrossesPage(to) || CrossesPage(p + 2))) {
      WriteNearPage(to, p, length);
    } else {
      const __mmask64 mask = _bzhi_u64(~0ull, length);
      const __m512i bytes = _mm512_maskz_loadu_epi8(count != 0 ? 0 : mask, p + 2);
      _mm512_mask_storeu_epi8(to, mask, count != 0 ? run : bytes);
    }
  } else if (count != 0) {
    // Longer than one vector: a vector at each end of the record and whole cache
    // lines of the output between them, overlapping the ends, so that no byte
    // outside the record is touched and only the two ends may span two lines.
    // (Runs and literals have a loop each: one loop that chooses per vector
    // measured 15-55% slower.)
    _mm512_storeu_si512(to, run);
    for (unsigned done = LineStart(to); done < length - 64; done += 64) _mm512_store_si512(to + done, run);
    _mm512_storeu_si512(to + length - 64, run);
  } else {
    const unsigned char* from = p + 2;
    const __m512i head = _mm512_loadu_si512(from);
    const __m512i last = _mm512_loadu_si512(from + length - 64);
    _mm512_storeu_si512(to, head);
    for (unsigned done = LineStart(to); done < length - 64; done += 64) {
      _mm512_store_si512(to + done, _mm512_loadu_si512(from + done));
    }
    _mm512_storeu_si512(to + length - 64, last);
  }
  decoded += length;
  p += recordSize;
  return Step::kNext;
}

}  // namespace

// The records whose windows stay inside the input and the room first, then the
// rest with the care the ends need.
__attribute__((target("avx512f,avx512bw,bmi2"))) int DecodeRecordsAvx512(const unsigned char* p,
                                                                         const unsigned char* end,
                                                                         unsigned char* out, int* room) {
  const int64_t limit = *room;
  int64_t decoded = 0;
  Step step = Step::kNext;
  while (decoded < limit - 64 && end - p >= 66 && step == Step::kNext) {
    step = DecodeOne<false>(p, end, out, decoded, limit);
  }
  while (decoded < limit && end - p >= 2 && step == Step::kNext) {
    step = DecodeOne<true>(p, end, out, decoded, limit);
  }
  *room = static_cast<int>(decoded);
  return step == Step::kFull || decoded == 0 ? 2 : 0;
}

#else
int DecodeRecordsAvx512(const unsigned char* p, const unsigned char* end, unsigned char* out, int* room) {
  return DecodeRecords(p, end, out, room);
}
int EncodeRecordsAvx512(const unsigned char* in, int n, unsigned char* out, int* room) {
  return EncodeRecords(in, n, out, room);
}
#endif

namespace {
// Constant-initialised: a call before the library's static initialisation takes
// the portable decoder.
RecordDecoder g_decode = DecodeRecords;
RecordEncoder g_encode = EncodeRecords;
}  // namespace

void UseRleLevel(int level) {
  g_decode = level >= kSimdAvx512 ? DecodeRecordsAvx512 : DecodeRecords;
  g_encode = level >= kSimdAvx512 ? EncodeRecordsAvx512 : EncodeRecords;
}

}  // namespace lxmemfile

int DScomp(const void* input, int length, void* output, int* room) {
  return lxmemfile::g_encode(static_cast<const unsigned char*>(input), length,
                             static_cast<unsigned char*>(output), room);
}

int DSdecomp(const void* input, int length, void* output, int* room) {
  if (length <= 0) {
    *room = 0;
    return 0;
  }
  const auto* p = static_cast<const unsigned char*>(input);
  auto* out = static_cast<unsigned char*>(output);
  return lxmemfile::g_decode(p, p + length, out, room);
}

int DSlen(const void* input, int length) {
  if (length <= 0) return 0;
  const auto* p = static_cast<const unsigned char*>(input);
  const unsigned char* const end = p + length;
  uint64_t total = 0;  // at most 255 per two bytes of an int-sized input: no overflow
  while (end - p >= 2) {
    if (p[0] != 0) {
      total += p[0];
      p += 2;
    } else {
      if (static_cast<size_t>(end - p - 2) < p[1]) break;
      total += p[1];
      p += 2 + p[1];
    }
  }
  return total <= INT_MAX ? static_cast<int>(total) : -1;
}
