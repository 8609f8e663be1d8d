// The run-length block format against LZ4, zlib at level 1 and memcpy, on 4 KiB
// blocks of three kinds:
//   page    a database-page-like block: header, slot array, records with small
//           integers, doubles and blank-padded text, and a stretch of free space
//   random  random bytes (the encoder finds nothing; the decoder copies literals)
//   runs    long runs of a few values
// Decode/IMPL/KIND and Encode/IMPL/KIND with IMPL lx (DSdecomp, DScomp), lz4
// (LZ4_decompress_safe, LZ4_compress_default), zlib1 (inflate and deflate, level
// 1, raw streams reset between blocks) and memcpy (copying the 4 KiB block).
// Rates are in bytes of the decoded block; the counter "stored" is the
// compressed size. Before timing, each program checks its results: DScomp's
// output equals the reference encoder's byte for byte, and every decoder gives
// back the block. lx and lz4 are timed over the same placements of their buffers
// (Places), and their outputs are checked again at every placement afterwards.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lxmemfile.h"
#include "memfile/rle_reference.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kBlock = 4096;

Bytes PageBlock() {
  Bytes page(kBlock, 0);
  std::mt19937 rng(4096);
  size_t at = 0;
  auto put32 = [&](uint32_t v) {
    std::memcpy(&page[at], &v, 4);
    at += 4;
  };
  put32(0x00010007);  // page header: type, level, counts, links
  put32(17);
  put32(0);
  put32(4711);
  put32(4712);
  at = 96;
  const char* words[] = {"SMITH", "JONES", "ORDER", "PAID", "OPEN", "ZURICH", "OSLO", "LIMA", "NEW YORK"};
  std::vector<uint16_t> slots;
  while (at < 2600) {
    slots.push_back(static_cast<uint16_t>(at));
    put32(static_cast<uint32_t>(rng() % 100000));  // key
    put32(static_cast<uint32_t>(rng() % 50));      // small counter
    const double amount = (rng() % 1000000) / 100.0;
    std::memcpy(&page[at], &amount, 8);
    at += 8;
    for (int field = 0; field < 2; ++field) {  // CHAR(16) fields, blank padded
      stchar(words[rng() % 9], reinterpret_cast<char*>(&page[at]), 16);
      at += 16;
    }
    put32(0);  // null flags
  }
  // Slot array at the end; free space (zeros) between.
  size_t slotAt = kBlock - 2 * slots.size();
  for (uint16_t s : slots) {
    std::memcpy(&page[slotAt], &s, 2);
    slotAt += 2;
  }
  return page;
}

Bytes RandomBlock() {
  Bytes b(kBlock);
  std::mt19937 rng(7);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

Bytes RunsBlock() {
  Bytes b;
  std::mt19937 rng(9);
  const unsigned char values[] = {0x00, 0x20, 0xFF, 0x41};
  while (b.size() < kBlock) b.insert(b.end(), 100 + rng() % 900, values[rng() % 4]);
  b.resize(kBlock);
  return b;
}

Bytes Block(const std::string& kind) {
  if (kind == "page") return PageBlock();
  if (kind == "random") return RandomBlock();
  return RunsBlock();
}

Bytes Encoded(const Bytes& in) {
  Bytes out(2 * in.size() + 16);
  int room = static_cast<int>(out.size());
  DScomp(in.data(), static_cast<int>(in.size()), out.data(), &room);
  out.resize(static_cast<size_t>(room));
  return out;
}

// Four placements of one input and its output in one arena, used in turn by the
// timed loop, the same for every implementation: input at page offsets 0, 1040,
// 2080 and 3120, output at 0, 2064, 32 and 2096. A coder's time varies with
// where its buffers lie within their pages (by up to three times when a masked
// access reaches a page that is not mapped in), so every program is timed over
// the same mix rather than wherever malloc put its vectors.
class Places {
 public:
  static constexpr unsigned kCount = 4;
  explicit Places(const Bytes& input) : arena_(kCount * 6 * 4096 + 4096) {
    unsigned char* base = arena_.data() + (4096 - reinterpret_cast<uintptr_t>(arena_.data()) % 4096);
    for (unsigned k = 0; k < kCount; ++k) {
      in_[k] = base + k * 6 * 4096 + k * 1040;
      out_[k] = base + k * 6 * 4096 + 3 * 4096 + (k * 2064) % 4096;
      std::memcpy(in_[k], input.data(), input.size());
    }
  }
  const unsigned char* In(size_t k) const { return in_[k % kCount]; }
  unsigned char* Out(size_t k) { return out_[k % kCount]; }
  // Whether every placement's output begins with `want`.
  bool AllOut(const Bytes& want) const {
    for (unsigned char* out : out_)
      if (!std::equal(want.begin(), want.end(), out)) return false;
    return true;
  }

 private:
  Bytes arena_;
  unsigned char* in_[kCount];
  unsigned char* out_[kCount];
};

void Rate(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}

void DecodeLx(benchmark::State& state, std::string kind) {
  const Bytes block = Block(kind), encoded = Encoded(block);
  Bytes out(kBlock);
  int room = static_cast<int>(kBlock);
  if (DSdecomp(encoded.data(), static_cast<int>(encoded.size()), out.data(), &room) != 0 || out != block) {
    state.SkipWithError("round trip failed");
  }
  if (encoded != lxtest::ReferenceEncode(block))
    state.SkipWithError("DScomp differs from the reference encoder");
  state.counters["stored"] = static_cast<double>(encoded.size());
  Places at(encoded);
  size_t k = 0;
  for (auto _ : state) {
    int r = static_cast<int>(kBlock);
    benchmark::DoNotOptimize(DSdecomp(at.In(k), static_cast<int>(encoded.size()), at.Out(k), &r));
    benchmark::ClobberMemory();
    ++k;
  }
  if (k >= Places::kCount && !at.AllOut(block)) state.SkipWithError("DSdecomp gave other bytes");
  Rate(state);
}

void EncodeLx(benchmark::State& state, std::string kind) {
  const Bytes block = Block(kind);
  Bytes out(2 * kBlock + 16);
  const Bytes expected = lxtest::ReferenceEncode(block);
  int room = static_cast<int>(out.size());
  if (DScomp(block.data(), static_cast<int>(kBlock), out.data(), &room) != 0 ||
      Bytes(out.begin(), out.begin() + room) != expected) {
    state.SkipWithError("DScomp differs from the reference encoder");
  }
  state.counters["stored"] = static_cast<double>(room);
  Places at(block);
  size_t k = 0;
  for (auto _ : state) {
    int room = static_cast<int>(out.size());
    benchmark::DoNotOptimize(DScomp(at.In(k), static_cast<int>(kBlock), at.Out(k), &room));
    benchmark::ClobberMemory();
    ++k;
  }
  if (k >= Places::kCount && !at.AllOut(expected)) state.SkipWithError("DScomp gave other bytes");
  Rate(state);
}

void Memcpy(benchmark::State& state, std::string kind) {
  const Bytes block = Block(kind);
  Bytes out(kBlock);
  for (auto _ : state) {
    std::memcpy(out.data(), block.data(), kBlock);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  Rate(state);
}

// The block as LZ4_compress_default packs it.
Bytes Lz4Packed(const Bytes& block) {
  Bytes packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(block.size()))));
  packed.resize(static_cast<size_t>(LZ4_compress_default(
      reinterpret_cast<const char*>(block.data()), reinterpret_cast<char*>(packed.data()),
      static_cast<int>(block.size()), static_cast<int>(packed.size()))));
  return packed;
}

void EncodeLz4(benchmark::State& state, std::string kind) {
  const Bytes block = Block(kind);
  const Bytes packed = Lz4Packed(block);
  Bytes back(kBlock);
  if (LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()), reinterpret_cast<char*>(back.data()),
                          static_cast<int>(packed.size()),
                          static_cast<int>(kBlock)) != static_cast<int>(kBlock) ||
      back != block) {
    state.SkipWithError("LZ4 round trip failed");
  }
  const int capacity = LZ4_compressBound(static_cast<int>(kBlock));
  int stored = 0;
  Places at(block);
  size_t k = 0;
  for (auto _ : state) {
    stored = LZ4_compress_default(reinterpret_cast<const char*>(at.In(k)), reinterpret_cast<char*>(at.Out(k)),
                                  static_cast<int>(kBlock), capacity);
    benchmark::DoNotOptimize(stored);
    benchmark::ClobberMemory();
    ++k;
  }
  if (k >= Places::kCount && (stored != static_cast<int>(packed.size()) || !at.AllOut(packed)))
    state.SkipWithError("LZ4 gave other bytes");
  state.counters["stored"] = static_cast<double>(packed.size());
  Rate(state);
}

void DecodeLz4(benchmark::State& state, std::string kind) {
  const Bytes block = Block(kind);
  const Bytes packed = Lz4Packed(block);
  int decoded = 0;
  Places at(packed);
  size_t k = 0;
  for (auto _ : state) {
    decoded = LZ4_decompress_safe(reinterpret_cast<const char*>(at.In(k)), reinterpret_cast<char*>(at.Out(k)),
                                  static_cast<int>(packed.size()), static_cast<int>(kBlock));
    benchmark::DoNotOptimize(decoded);
    benchmark::ClobberMemory();
    ++k;
  }
  if (decoded != static_cast<int>(kBlock) || (k >= Places::kCount && !at.AllOut(block)))
    state.SkipWithError("LZ4 gave other bytes");
  state.counters["stored"] = static_cast<double>(packed.size());
  Rate(state);
}

struct Deflater {
  z_stream z{};
  Deflater() { deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY); }
  ~Deflater() { deflateEnd(&z); }
  size_t Run(const Bytes& in, Bytes* out) {
    deflateReset(&z);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out->data();
    z.avail_out = static_cast<uInt>(out->size());
    deflate(&z, Z_FINISH);
    return out->size() - z.avail_out;
  }
};

void EncodeZlib(benchmark::State& state, std::string kind) {
  const Bytes block = Block(kind);
  Bytes out(2 * kBlock + 64);
  Deflater d;
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.Run(block, &out));
    benchmark::ClobberMemory();
  }
  state.counters["stored"] = static_cast<double>(d.Run(block, &out));
  Rate(state);
}

void DecodeZlib(benchmark::State& state, std::string kind) {
  const Bytes block = Block(kind);
  Bytes packed(2 * kBlock + 64);
  Deflater d;
  packed.resize(d.Run(block, &packed));
  z_stream z{};
  inflateInit2(&z, -15);
  Bytes out(kBlock);
  for (auto _ : state) {
    inflateReset(&z);
    z.next_in = packed.data();
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    benchmark::DoNotOptimize(inflate(&z, Z_FINISH));
    benchmark::ClobberMemory();
  }
  inflateEnd(&z);
  if (out != block) state.SkipWithError("inflate gave other bytes");
  Rate(state);
}

}  // namespace

int main(int argc, char** argv) {
  for (const char* kind : {"page", "random", "runs"}) {
    const std::string k = kind;
    benchmark::RegisterBenchmark(("Decode/lx/" + k).c_str(), DecodeLx, k);
    benchmark::RegisterBenchmark(("Decode/lz4/" + k).c_str(), DecodeLz4, k);
    benchmark::RegisterBenchmark(("Decode/memcpy/" + k).c_str(), Memcpy, k);
    benchmark::RegisterBenchmark(("Decode/zlib1/" + k).c_str(), DecodeZlib, k);
    benchmark::RegisterBenchmark(("Encode/lx/" + k).c_str(), EncodeLx, k);
    benchmark::RegisterBenchmark(("Encode/lz4/" + k).c_str(), EncodeLz4, k);
    benchmark::RegisterBenchmark(("Encode/memcpy/" + k).c_str(), Memcpy, k);
    benchmark::RegisterBenchmark(("Encode/zlib1/" + k).c_str(), EncodeZlib, k);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
