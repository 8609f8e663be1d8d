#include "perf_block.h"

namespace lxtool {

namespace {

constexpr uint64_t kHeaderSize = 64;
constexpr uint64_t kDefinitionSize = 40;
constexpr uint64_t kBlockHeaderSize = 8;

uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Refuse(std::string* error, const char* what, uint32_t n, const char* why) {
  *error = std::string(what) + " " + std::to_string(n) + ": " + why;
  return false;
}

}  // namespace

bool DecodePerfObjects(const unsigned char* data, size_t size, uint32_t count,
                       std::vector<ObjectSample>* objects, std::string* error) {
  objects->clear();
  uint64_t offset = 0;
  for (uint32_t n = 0; n < count; ++n) {
    const uint64_t left = size - offset;
    if (left < kHeaderSize) return Refuse(error, "object", n, "truncated header");
    const unsigned char* obj = data + offset;
    const uint64_t total = Get32(obj), definitionLength = Get32(obj + 4), headerLength = Get32(obj + 8);
    const uint64_t counters = Get32(obj + 32);
    if (total > left || headerLength < kHeaderSize || definitionLength < headerLength ||
        headerLength + kDefinitionSize * counters > definitionLength ||
        definitionLength + kBlockHeaderSize > total) {
      return Refuse(error, "object", n, "inconsistent lengths");
    }
    ObjectSample sample;
    sample.nameIndex = Get32(obj + 12);
    sample.helpIndex = Get32(obj + 20);
    sample.hasInstances = static_cast<int32_t>(Get32(obj + 40)) > 0;
    if (!sample.hasInstances) {
      const unsigned char* block = obj + definitionLength;
      const uint64_t blockLength = Get32(block);
      if (blockLength > total - definitionLength) return Refuse(error, "object", n, "counter block too long");
      for (uint32_t k = 0; k < counters; ++k) {
        const unsigned char* d = obj + headerLength + kDefinitionSize * k;
        CounterSample c;
        c.nameIndex = Get32(d + 4);
        c.helpIndex = Get32(d + 12);
        c.type = Get32(d + 28);
        const uint64_t width = (c.type & kCounterSizeMask) == kCounterSizeLarge ? 8 : 4;
        const uint64_t at = Get32(d + 36);
        if (at + width > blockLength) return Refuse(error, "counter", k, "outside its block");
        c.value = Get32(block + at);
        if (width == 8) c.value |= static_cast<uint64_t>(Get32(block + at + 4)) << 32;
        sample.counters.push_back(c);
      }
    }
    objects->push_back(sample);
    offset += total;
  }
  return true;
}

}  // namespace lxtool
