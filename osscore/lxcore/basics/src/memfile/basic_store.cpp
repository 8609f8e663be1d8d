// Stored form of basic values: fixed-width elements, copied or byte-reversed per
// element as the mode says, and blank-padded character fields.
#include <cstring>

#include "lxmemfile.h"

namespace {

// Integers reverse when the low four bits of the mode are 2, floating-point
// values when the low seven are: 0x12 reverses integers only, 0x82 both.
inline bool ReverseInteger(unsigned char mode) { return (mode & 0x0F) == 2; }
inline bool ReverseFloating(unsigned char mode) { return (mode & 0x7F) == 2; }

template <size_t kWidth>
uint32_t Convert(void* destination, const void* source, bool reverse, uint32_t count) {
  const size_t bytes = static_cast<size_t>(count) * kWidth;
  if (bytes == 0) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  const auto* in = static_cast<const unsigned char*>(source);
  if (!reverse) {
    std::memmove(out, in, bytes);
  } else {
    for (size_t e = 0; e < bytes; e += kWidth) {
      unsigned char element[kWidth];
      std::memcpy(element, in + e, kWidth);  // the element may overlap its own destination
      for (size_t b = 0; b < kWidth; ++b) out[e + b] = element[kWidth - 1 - b];
    }
  }
  return static_cast<uint32_t>(bytes);
}

}  // namespace

uint32_t CharStore(void* destination, const void* source, unsigned char, uint32_t count) {
  return Convert<1>(destination, source, false, count);
}

uint32_t ShortStore(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<2>(destination, source, ReverseInteger(mode), count);
}

uint32_t LongStore(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<4>(destination, source, ReverseInteger(mode), count);
}

uint32_t IntStore(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<4>(destination, source, ReverseInteger(mode), count);
}

uint32_t UnsignedStore(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<4>(destination, source, ReverseInteger(mode), count);
}

uint32_t IntLoad(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<4>(destination, source, ReverseInteger(mode), count);
}

uint32_t UnsignedLoad(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<4>(destination, source, ReverseInteger(mode), count);
}

uint32_t FloatStore(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<4>(destination, source, ReverseFloating(mode), count);
}

uint32_t DoubleStore(void* destination, const void* source, unsigned char mode, uint32_t count) {
  return Convert<8>(destination, source, ReverseFloating(mode), count);
}

uint32_t CharSizeGet(const void*, unsigned char, unsigned char, uint32_t count) { return count; }
uint32_t ShortSizeGet(const void*, unsigned char, unsigned char, uint32_t count) { return count * 2; }
uint32_t IntSizeGet(const void*, unsigned char, unsigned char, uint32_t count) { return count * 4; }
uint32_t LongSizeGet(const void*, unsigned char, unsigned char, uint32_t count) { return count * 4; }
uint32_t FloatSizeGet(const void*, unsigned char, unsigned char, uint32_t count) { return count * 4; }
uint32_t DoubleSizeGet(const void*, unsigned char, unsigned char, uint32_t count) { return count * 8; }

uint32_t CharNullSizeGet(uint32_t count) { return count; }
uint32_t ShortNullSizeGet(uint32_t count) { return count * 2; }
uint32_t IntNullSizeGet(uint32_t count) { return count * 4; }
uint32_t LongNullSizeGet(uint32_t count) { return count * 4; }
uint32_t FloatNullSizeGet(uint32_t count) { return count * 4; }
uint32_t DoubleNullSizeGet(uint32_t count) { return count * 8; }

void ldchar(const char* field, int length, char* out) {
  for (int i = 0; i < length; ++i) {
    if (field[i] == ' ') {
      out[i] = '\0';
      return;
    }
    out[i] = field[i];
  }
}

void stchar(const char* string, char* field, int length) {
  int i = 0;
  for (; i < length && string[i] != '\0'; ++i) field[i] = string[i];
  for (; i < length; ++i) field[i] = ' ';
}

float ldfloat(const void* stored) {
  float value;
  FloatStore(&value, stored, 2, 1);
  return value;
}

void stfloat(float value, void* stored) { FloatStore(stored, &value, 2, 1); }

double lddbl(const void* stored) {
  double value;
  DoubleStore(&value, stored, 2, 1);
  return value;
}

void stdbl(double value, void* stored) { DoubleStore(stored, &value, 2, 1); }
