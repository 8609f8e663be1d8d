// lxtool's decoder of performance-data objects (perf_block.h) on any bytes: byte
// 0's bits 1-2 are the object count, the rest the collected bytes. What the
// decoder accepts must lie inside the input (a heap copy of exactly its size) and
// read back, with checked reads, as the values the bytes hold there. That it
// accepts the provider's own block is the prfdata model's.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "perf_block.h"

namespace {

using lxtool::ObjectSample;

bool Word(const std::string& s, uint64_t at, uint32_t* v) {
  if (at > s.size() || s.size() - at < 4) return false;
  *v = lxfuzz::Get32(s.data() + at);
  return true;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const uint32_t count = (in.Byte() >> 1) & 3;
  const std::string bytes = in.Rest();
  const std::vector<unsigned char> exact(bytes.begin(), bytes.end());
  std::vector<ObjectSample> objects;
  std::string error;
  if (lxtool::DecodePerfObjects(exact.data(), exact.size(), count, &objects, &error))
    CheckAccepted(bytes, count, objects);
  else
    FUZZ_CHECK(!error.empty());
  return 0;
}
