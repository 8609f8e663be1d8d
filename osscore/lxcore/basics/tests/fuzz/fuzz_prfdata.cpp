// PrfData_Collect with arbitrary value names and buffer sizes, in a process that
// has installed the counters in a temporary registry store and mapped its own
// shared block (a private name and lock directory), as a monitor does.
//
// The value name selects the object when it is "Global" in any case (or null),
// or when it holds the object's name index as a blank-separated word. Checked:
// a selected object with room for it writes exactly the 792 bytes that a
// "Global" collection wrote at start, advances the data pointer by 792 and
// reports one object; with less room the result is 234 with nothing written;
// nothing selected writes nothing. Not a byte past the room given is touched:
// the buffer is a heap block of exactly that size.
//
// Input: byte 0 flags (null value name, null out-arguments), bytes 1-2 the room,
// the rest the value name as UTF-16LE code units (it ends at the first zero).
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxstatistics.h"

namespace {

constexpr uint32_t kObjectSize = 792;
std::string g_dir;
std::string g_shmName;
std::vector<unsigned char> g_reference;  // the "Global" collection taken at start
uint32_t g_nameIndex = 0;

void RemoveState() {
  if (!g_shmName.empty()) shm_unlink(g_shmName.c_str());
  if (g_dir.empty()) return;
  const std::string cmd = "rm -rf '" + g_dir + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Selected(const char16_t* name) {
  if (name == nullptr) return true;
  std::u16string n(name);
  std::u16string folded;
  for (char16_t c : n) folded.push_back(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c);
  if (folded == u"global") return true;
  std::u16string needle = u" ";
  for (char c : std::to_string(g_nameIndex)) needle.push_back(static_cast<char16_t>(c));
  needle.push_back(u' ');
  return (u" " + n + u" ").find(needle) != std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  struct stat st;
  std::string templ =
      (stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp") + std::string("/lxb-fuzz-prfdata.XXXXXX");
  if (mkdtemp(&templ[0]) == nullptr) std::abort();
  g_dir = templ;
  g_shmName = "/lxb-fuzz-prfdata-" + std::to_string(getpid());
  setenv("ORVANTA_STATE_DIR", g_dir.c_str(), 1);
  setenv("ORVANTA_REGISTRY", (g_dir + "/registry.db").c_str(), 1);
  setenv("ORVANTA_EVENTLOG", "off", 1);
  setenv("ORVANTA_DEBUG_OUTPUT", "off", 1);
  setenv("ORVANTA_SHM_NAME", g_shmName.c_str(), 1);
  setenv("ORVANTA_LOCK_DIR", g_dir.c_str(), 1);
  std::atexit(RemoveState);
  RegisterStatistics();
  PrfData_Open(nullptr);
  std::vector<unsigned char> buf(4096);
  void* out = buf.data();
  uint32_t total = static_cast<uint32_t>(buf.size());
  uint32_t objects = 0;
  if (PrfData_Collect(const_cast<char16_t*>(u"Global"), &out, &total, &objects) != 0 ||
      total != kObjectSize || objects != 1) {
    std::fprintf(stderr, "fuzz_prfdata: the block could not be collected\n");
    std::abort();
  }
  g_reference.assign(buf.begin(), buf.begin() + kObjectSize);
  g_nameIndex = Get32(g_reference.data() + 12);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const uint8_t flags = in.Byte();
  const uint32_t room = in.U16() % 2048;
  std::u16string name;
  while (in.Left() >= 2) {
    const char16_t c = in.U16();
    if (c == 0) break;
    name.push_back(c);
  }
  const char16_t* nameArg = (flags & 1) ? nullptr : name.c_str();

  // A block of exactly `room` bytes (one byte when the room is 0, never offered).
  unsigned char* buffer = new unsigned char[room != 0 ? room : 1];
  std::memset(buffer, 0xA5, room != 0 ? room : 1);
  void* out = buffer;
  uint32_t total = room;
  uint32_t objects = 77;
  const bool nullOut = (flags & 0x0E) == 0x0E;  // one of the out-arguments null
  const uint32_t r =
      nullOut ? PrfData_Collect(const_cast<char16_t*>(nameArg), (flags & 0x10) ? nullptr : &out,
                                (flags & 0x20) ? nullptr : &total, (flags & 0x30) == 0 ? nullptr : &objects)
              : PrfData_Collect(const_cast<char16_t*>(nameArg), &out, &total, &objects);
  size_t written = 0;
  if (nullOut) {
    FUZZ_CHECK(r == 0 && out == buffer);
  } else if (!Selected(nameArg)) {
    FUZZ_CHECK(r == 0 && total == 0 && objects == 0 && out == buffer);
  } else if (room < kObjectSize) {
    FUZZ_CHECK(r == 234 && total == 0 && out == buffer);
  } else {
    FUZZ_CHECK(r == 0 && total == kObjectSize && objects == 1);
    FUZZ_CHECK(out == buffer + kObjectSize);
    FUZZ_CHECK(std::memcmp(buffer, g_reference.data(), kObjectSize) == 0);
    written = kObjectSize;
  }
  for (size_t i = written; i < room; ++i) FUZZ_CHECK(buffer[i] == 0xA5);
  delete[] buffer;
  return 0;
}
