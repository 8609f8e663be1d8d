// What the fuzz targets share: a cursor that decodes any input into operations (zeros
// once it is used up), FUZZ_CHECK, a little-endian word and a private state directory.
#pragma once

#include <sys/stat.h>

#include <algorithm>
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
    std::replace(s.begin(), s.end(), '\0', '\x01');
    return s;
  }
  std::string Rest() {
    const size_t from = pos_ < size_ ? pos_ : size_;
    pos_ = size_;
    return std::string(reinterpret_cast<const char*>(data_) + from, size_ - from);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

inline uint32_t Get32(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A fresh state directory with the store (in /dev/shm: cheap flushes), log and debugger output off.
inline const std::string& PrivateState(const char* tag) {
  static std::string dir;
  struct stat st;
  dir = std::string(stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp") + "/lxb-fuzz-" + tag + ".XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr) std::abort();
  setenv("ORVANTA_STATE_DIR", dir.c_str(), 1);
  setenv("ORVANTA_REGISTRY", (dir + "/registry.db").c_str(), 1);
  setenv("ORVANTA_EVENTLOG", "off", 1);
  setenv("ORVANTA_DEBUG_OUTPUT", "off", 1);
  std::atexit([] {
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) std::fprintf(stderr, "%s stays\n", dir.c_str());
  });
  return dir;
}

}  // namespace lxfuzz

// Reports a disagreement with the model and aborts, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond) \
  ((cond) ? (void)0      \
          : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond), std::abort()))
