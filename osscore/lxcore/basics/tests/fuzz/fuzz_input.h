// Decoding of fuzz inputs into operation sequences: a cursor over the input that
// hands out small integers and byte strings and yields zeros once the input is
// used up, so that every input, the empty one included, decodes to a valid
// sequence. Check() ends the run with a message when a model disagrees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace lxfuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  size_t Left() const { return pos_ < size_ ? size_ - pos_ : 0; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
  // A value in 0 .. n - 1 (0 when n is 0).
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : (n <= 256 ? Byte() % n : U32() % n); }
  bool Bit() { return (Byte() & 1) != 0; }

  // Up to `max` bytes: a length byte (or two, for max above 255), then the bytes.
  std::string Bytes(size_t max) {
    size_t n = max > 255 ? U16() : Byte();
    if (n > max) n = n % (max + 1);
    std::string out;
    while (out.size() < n && !Empty()) out.push_back(static_cast<char>(Byte()));
    return out;
  }
  // As Bytes, without zero bytes (a C string).
  std::string Text(size_t max) {
    std::string s = Bytes(max);
    for (char& c : s) {
      if (c == '\0') c = '\x01';
    }
    return s;
  }
  // The rest of the input.
  std::string Rest() {
    std::string out(reinterpret_cast<const char*>(data_) + (pos_ < size_ ? pos_ : size_),
                    reinterpret_cast<const char*>(data_) + size_);
    pos_ = size_;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Reports a disagreement with the model and aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

}  // namespace lxfuzz

#define FUZZ_CHECK(cond)                                    \
  do {                                                      \
    if (!(cond)) ::lxfuzz::Fail(__FILE__, __LINE__, #cond); \
  } while (0)
