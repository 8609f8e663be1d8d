// MemQueue under Put, Get, Delete and copies against the bytes put and the read offset: a
// compacting queue holds only unread bytes, another keeps them until Delete. Input: byte 0 the
// compact flag, then up to 64 operations; a top bit makes Put's length wrap 32 bits or Delete
// pass the read offset, which must change nothing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxframe.h"
#include "lxmemfile.h"

namespace {

struct Model {
  std::vector<char> file;
  uint32_t readOffset = 0;
  uint32_t Unread() const { return static_cast<uint32_t>(file.size()) - readOffset; }
};

void CheckQueue(const MemQueue& q, const Model& m, bool compact) {
  FUZZ_CHECK((q.GetCompact() != 0) == compact && q.GetReadOffset() == m.readOffset &&
             (!compact || !m.readOffset));
  FUZZ_CHECK(q.GetSize() == static_cast<int32_t>(m.file.size()) && uint32_t(q.GetSize()) <= q.GetCapacity());
  FUZZ_CHECK((q.GetSize() == 0) == (q.GetBuffer() == nullptr));
  if (!m.file.empty()) FUZZ_CHECK(std::memcmp(q.GetBuffer(), m.file.data(), m.file.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const LxMemoryHandler previous = mmLxSetHandler([](uint32_t) { return 0; });
  lxfuzz::Input in(data, size);
  const bool compact = in.Bit();
  auto queue = std::make_unique<MemQueue>(compact ? 1 : 0);
  Model model;
  for (int step = 0; step < 64 && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    const bool wide = (op & 0x80) != 0;
    switch (op % 6) {
      case 0:
      case 1: {  // Put
        const std::string bytes = in.Bytes(300);
        if (wide) {
          FUZZ_CHECK(queue->Put(bytes.data(), 0xFFFFFFFFu - in.Below(256)) == LX_MEMQUEUE_NO_MEMORY);
          break;
        }
        if (model.file.size() + bytes.size() > 20000) break;
        FUZZ_CHECK(queue->Put(bytes.data(), static_cast<uint32_t>(bytes.size())) == 0);
        model.file.insert(model.file.end(), bytes.begin(), bytes.end());
        break;
      }
      case 2:
      case 3: {  // Get
        const uint32_t n = in.Below(model.Unread() + 8);
        std::vector<char> out(n + 1, '\x5a');
        const int r = queue->Get(out.data(), n);
        FUZZ_CHECK(r == (!model.Unread() ? LX_MEMQUEUE_EMPTY : model.Unread() < n ? LX_MEMQUEUE_TOO_FEW : 0));
        FUZZ_CHECK(out[n] == '\x5a' &&
                   (r || !n || !std::memcmp(out.data(), &model.file[model.readOffset], n)));
        if (r != 0) break;
        compact ? (void)model.file.erase(model.file.begin(), model.file.begin() + n)
                : (void)(model.readOffset += n);
        break;
      }
      case 4: {  // Delete consumed bytes from an offset up to the read offset
        const uint32_t offset = wide ? model.readOffset + 1 + in.Byte() : in.Below(model.readOffset + 1);
        FUZZ_CHECK(queue->Delete(offset) == 0);
        if (wide) break;
        model.file.erase(model.file.begin() + offset, model.file.begin() + model.readOffset);
        model.readOffset = offset;
        break;
      }
      case 5: {  // a copy takes over the bytes, the read offset and the flag
        if (in.Bit()) {
          queue = std::make_unique<MemQueue>(*queue);
        } else {
          MemQueue other(compact ? 0 : 1);
          other.Put("junk", 4);
          other = *queue;
          queue = std::make_unique<MemQueue>(compact ? 0 : 1);
          *queue = other;
        }
        break;
      }
    }
    CheckQueue(*queue, model, compact);
  }
  return 0;
}
