// PrfData_Collect, as a monitor of a private store and block, with arbitrary
// value names, rooms and damage. The object is selected by "Global" in any case
// (or null) or its name index as a blank-separated word; then with room it is
// the block as it stands (a copy's length and instance count), the pointer moves
// by 792, one object; with less room LX_PRFDATA_MORE_DATA and nothing written;
// resized or with other layout fields, nothing. No byte past the room is touched.
//
// Input: byte 0 flags (1 null name, 0x0E null out-arguments, 0x40 damage, 0x80
// with 0x40 resize), bytes 1-2 the room; with 0x40 a 16-bit offset (or new size),
// a count (at most 8) and that many bytes; then the name in UTF-16LE to a zero unit.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxstatistics.h"
#include "perf_block.h"

namespace {

using lxfuzz::Get32;
constexpr uint32_t kObjectSize = 792;
std::string g_shmName;
std::vector<unsigned char> g_block;  // the block's bytes at start
int g_fd = -1;                       // the block, for damage and repair
uint32_t g_nameIndex = 0;

// The fields that describe the layout; a collection refuses a block where one differs.
bool LayoutIntact(const std::vector<unsigned char>& b) {
  std::vector<size_t> fields = {4, 8, 32, 664};
  for (size_t k = 0; k < 15; ++k) {
    for (size_t f : {0, 32, 36}) fields.push_back(64 + 40 * k + f);
  }
  for (size_t f : fields) {
    if (std::memcmp(b.data() + f, g_block.data() + f, 4) != 0) return false;
  }
  return true;
}

bool Selected(const char16_t* name) {
  if (name == nullptr) return true;
  std::u16string n(name), folded;
  for (char16_t c : n) folded.push_back(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c);
  std::u16string needle = u" ";
  for (char c : std::to_string(g_nameIndex)) needle.push_back(static_cast<char16_t>(c));
  return folded == u"global" || (u" " + n + u" ").find(needle + u" ") != std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string& dir = lxfuzz::PrivateState("prfdata");
  g_shmName = "/lxb-fuzz-prfdata-" + std::to_string(getpid());
  setenv("ORVANTA_SHM_NAME", g_shmName.c_str(), 1);
  setenv("ORVANTA_LOCK_DIR", dir.c_str(), 1);
  std::atexit([] { shm_unlink(g_shmName.c_str()); });
  RegisterStatistics();
  PrfData_Open(nullptr);
  std::vector<unsigned char> buf(4096);
  void* out = buf.data();
  uint32_t total = static_cast<uint32_t>(buf.size()), objects = 0;
  FUZZ_CHECK(PrfData_Collect(const_cast<char16_t*>(u"Global"), &out, &total, &objects) == 0 &&
             total == kObjectSize && objects == 1);
  g_nameIndex = Get32(buf.data() + 12);
  g_fd = shm_open(g_shmName.c_str(), O_RDWR, 0);
  g_block.resize(kObjectSize);
  FUZZ_CHECK(g_fd >= 0 && pread(g_fd, g_block.data(), kObjectSize, 0) == static_cast<ssize_t>(kObjectSize));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const uint8_t flags = in.Byte();
  const uint32_t room = in.U16() % 2048;
  std::vector<unsigned char> now = g_block;  // the block as the collection finds it
  bool resized = false;
  if (flags & 0x40) {
    const uint32_t offset = in.U16() % (kObjectSize + 8);
    const uint32_t count = in.Byte() % 9;
    if (flags & 0x80) {
      resized = offset != kObjectSize;
      FUZZ_CHECK(ftruncate(g_fd, offset) == 0);
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t byte = in.Byte();
      if (!(flags & 0x80) && offset + i < kObjectSize) now[offset + i] = byte;
    }
    FUZZ_CHECK(pwrite(g_fd, now.data(), resized ? 0 : kObjectSize, 0) ==
               (resized ? 0 : static_cast<ssize_t>(kObjectSize)));
  }
  const bool intact = !resized && LayoutIntact(now);
  std::u16string name;
  while (in.Left() >= 2) {
    const char16_t c = in.U16();
    if (c == 0) break;
    name.push_back(c);
  }
  const char16_t* nameArg = (flags & 1) ? nullptr : name.c_str();

  unsigned char* buffer = new unsigned char[room != 0 ? room : 1];
  std::memset(buffer, 0xA5, room != 0 ? room : 1);
  void* out = buffer;
  uint32_t total = room;
  uint32_t objects = 77;
  const bool nullOut = (flags & 0x0E) == 0x0E;  // one of the out-arguments null
  const uint32_t r = PrfData_Collect(
      const_cast<char16_t*>(nameArg), nullOut && (flags & 0x10) ? nullptr : &out,
      nullOut && (flags & 0x20) ? nullptr : &total, nullOut && (flags & 0x30) == 0 ? nullptr : &objects);
  size_t written = 0;
  if (nullOut) {
    FUZZ_CHECK(r == 0 && out == buffer);
  } else if (!Selected(nameArg)) {
    FUZZ_CHECK(r == 0 && total == 0 && objects == 0 && out == buffer);
  } else if (room < kObjectSize) {
    FUZZ_CHECK(r == LX_PRFDATA_MORE_DATA && total == 0 && out == buffer);
  } else if (!intact) {
    FUZZ_CHECK(r == 0 && total == 0 && objects == 0 && out == buffer);
  } else {
    FUZZ_CHECK(r == 0 && total == kObjectSize && objects == 1);
    FUZZ_CHECK(out == buffer + kObjectSize);
    FUZZ_CHECK(Get32(buffer) == kObjectSize && Get32(buffer + 40) == 0xFFFFFFFFu);
    FUZZ_CHECK(std::memcmp(buffer + 4, now.data() + 4, 36) == 0);
    FUZZ_CHECK(std::memcmp(buffer + 44, now.data() + 44, kObjectSize - 44) == 0);
    std::vector<lxtool::ObjectSample> decoded;  // as lxtool perf reads it: every value as it stands
    std::string error;
    FUZZ_CHECK(lxtool::DecodePerfObjects(buffer, kObjectSize, 1, &decoded, &error));
    FUZZ_CHECK(decoded.size() == 1 && decoded[0].counters.size() == 15);
    for (uint32_t k = 0; k < 15; ++k) {
      const lxtool::CounterSample& c = decoded[0].counters[k];
      const bool large = (c.type & lxtool::kCounterSizeMask) == lxtool::kCounterSizeLarge;
      const uint64_t high = large ? Get32(now.data() + 676 + 8 * k) : 0;
      FUZZ_CHECK(c.value == (high << 32 | Get32(now.data() + 672 + 8 * k)));
    }
    written = kObjectSize;
  }
  for (size_t i = written; i < room; ++i) FUZZ_CHECK(buffer[i] == 0xA5);
  delete[] buffer;
  if (flags & 0x40) {
    FUZZ_CHECK(ftruncate(g_fd, kObjectSize) == 0);
    FUZZ_CHECK(pwrite(g_fd, g_block.data(), kObjectSize, 0) == static_cast<ssize_t>(kObjectSize));
  }
  return 0;
}
