// lxtool's decoder of performance-data objects (perf_block.h). Byte 0, bit 0
// clear: the rest is collected bytes, bits 1-2 the object count; what the
// decoder accepts must lie inside the input (a heap copy of exactly its size)
// and read back, with checked reads, as the values the bytes hold there. Bit 0
// set: 1 to 3 objects built from the input, which must decode to exactly them.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "perf_block.h"

namespace {

using lxtool::CounterSample;
using lxtool::ObjectSample;

void Put32(std::string* s, size_t at, uint32_t v) { lxfuzz::Put32(&(*s)[at], v); }

bool Word(const std::string& s, uint64_t at, uint32_t* v) {
  if (at > s.size() || s.size() - at < 4) return false;
  *v = lxfuzz::Get32(s.data() + at);
  return true;
}

bool Decode(const std::string& bytes, uint32_t count, std::vector<ObjectSample>* objects) {
  std::vector<unsigned char> exact(bytes.begin(), bytes.end());
  std::string error;
  const bool ok = lxtool::DecodePerfObjects(exact.data(), exact.size(), count, objects, &error);
  FUZZ_CHECK(ok || !error.empty());
  return ok;
}

void CheckAccepted(const std::string& bytes, uint32_t count, const std::vector<ObjectSample>& objects) {
  FUZZ_CHECK(objects.size() == count);
  uint64_t offset = 0;
  for (const ObjectSample& o : objects) {
    uint32_t total, definitionLength, headerLength, counters, name;
    FUZZ_CHECK(Word(bytes, offset, &total) && Word(bytes, offset + 4, &definitionLength) &&
               Word(bytes, offset + 8, &headerLength) && Word(bytes, offset + 12, &name) &&
               Word(bytes, offset + 32, &counters));
    FUZZ_CHECK(offset + total <= bytes.size() && o.nameIndex == name);
    if (!o.hasInstances) {
      FUZZ_CHECK(o.counters.size() == counters);
      uint32_t blockLength;
      FUZZ_CHECK(Word(bytes, offset + definitionLength, &blockLength));
      FUZZ_CHECK(uint64_t{definitionLength} + blockLength <= total);
      for (uint32_t k = 0; k < counters; ++k) {
        const uint64_t d = offset + headerLength + 40ull * k;
        uint32_t type, at, low, high = 0;
        FUZZ_CHECK(d + 40 <= offset + definitionLength);
        FUZZ_CHECK(Word(bytes, d + 28, &type) && Word(bytes, d + 36, &at) && type == o.counters[k].type);
        const bool large = (type & lxtool::kCounterSizeMask) == lxtool::kCounterSizeLarge;
        FUZZ_CHECK(uint64_t{at} + (large ? 8 : 4) <= blockLength);
        FUZZ_CHECK(Word(bytes, offset + definitionLength + at, &low));
        if (large) FUZZ_CHECK(Word(bytes, offset + definitionLength + at + 4, &high));
        FUZZ_CHECK(o.counters[k].value == (uint64_t{high} << 32 | low));
      }
    }
    offset += total;
  }
}

// Objects laid out as a provider does, values in reverse order, padding after each part.
std::string Build(lxfuzz::Input& in, std::vector<ObjectSample>* expected) {
  std::string out;
  const uint32_t objects = 1 + in.Below(3);
  for (uint32_t n = 0; n < objects; ++n) {
    ObjectSample o;
    o.nameIndex = in.U32();
    o.hasInstances = in.Below(8) == 0;
    const uint32_t counters = in.Below(20);
    const uint32_t headerLength = 64 + 4 * in.Below(4);
    const uint32_t definitionLength = headerLength + 40 * counters + 4 * in.Below(4);
    std::vector<uint32_t> at(counters);
    uint32_t blockLength = 8;
    for (uint32_t k = counters; k-- > 0;) {
      CounterSample c;
      c.type = in.Bit() ? lxtool::kCounterSizeLarge : 0;
      c.value = c.type != 0 ? (uint64_t{in.U32()} << 32 | in.U32()) : in.U32();
      at[k] = blockLength;
      blockLength += c.type != 0 ? 8 : 4;
      o.counters.insert(o.counters.begin(), c);
    }
    const uint32_t total = definitionLength + blockLength + 4 * in.Below(4);
    const size_t start = out.size();
    out.resize(start + total, '\0');
    Put32(&out, start, total);
    Put32(&out, start + 4, definitionLength);
    Put32(&out, start + 8, headerLength);
    Put32(&out, start + 12, o.nameIndex);
    Put32(&out, start + 32, counters);
    Put32(&out, start + 40, o.hasInstances ? 1 : 0xFFFFFFFFu);
    Put32(&out, start + definitionLength, blockLength);
    for (uint32_t k = 0; k < counters; ++k) {
      const size_t d = start + headerLength + 40 * k;
      Put32(&out, d + 28, o.counters[k].type);
      Put32(&out, d + 36, at[k]);
      Put32(&out, start + definitionLength + at[k], static_cast<uint32_t>(o.counters[k].value));
      if (o.counters[k].type != 0)
        Put32(&out, start + definitionLength + at[k] + 4, o.counters[k].value >> 32);
    }
    if (o.hasInstances) o.counters.clear();
    expected->push_back(o);
  }
  return out;
}

std::vector<uint64_t> Flat(const std::vector<ObjectSample>& objects) {
  std::vector<uint64_t> all;
  for (const ObjectSample& o : objects) {
    all.insert(all.end(), {o.nameIndex, o.hasInstances, o.counters.size()});
    for (const CounterSample& c : o.counters) all.insert(all.end(), {c.type, c.value});
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const uint8_t mode = in.Byte();
  std::vector<ObjectSample> objects;
  if ((mode & 1) == 0) {
    const uint32_t count = (mode >> 1) & 3;
    const std::string bytes = in.Rest();
    if (Decode(bytes, count, &objects)) CheckAccepted(bytes, count, objects);
    return 0;
  }
  std::vector<ObjectSample> expected;
  const std::string bytes = Build(in, &expected);
  FUZZ_CHECK(Decode(bytes, static_cast<uint32_t>(expected.size()), &objects));
  FUZZ_CHECK(Flat(objects) == Flat(expected));
  return 0;
}
