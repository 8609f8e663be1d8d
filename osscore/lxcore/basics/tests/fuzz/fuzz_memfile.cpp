// Two MemFiles under arbitrary operations, against a model of each: bytes, which of them are
// defined (gaps are not), position; capacity is segments times segment size (at most 2^15), and
// a file without a block is back at its initial segment size. Input: byte 0 the segment size
// exponents, then up to 64 operations. An operation's top bit gives ranges whose ends overflow 32
// bits (they fail, changing nothing); bits 5, 6 pick variants (past the end, from itself, before 0).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lxframe.h"
#include "lxmemfile.h"

namespace {

constexpr int32_t kMaxSize = 3000;

struct Model {
  std::vector<char> bytes;
  std::vector<bool> defined;
  int32_t position = 0;

  int32_t Size() const { return static_cast<int32_t>(bytes.size()); }
  void Resize(int32_t n) { bytes.resize(size_t(n)), defined.resize(size_t(n), false); }
  void Put(const char* from, int32_t offset, int32_t length) {
    if (offset + length > Size()) Resize(offset + length);
    for (int32_t i = 0; i < length; ++i) bytes[offset + i] = from[i], defined[offset + i] = true;
  }
  void CopyFrom(const Model& source, int32_t to, int32_t from, int32_t length) {
    const Model s = source;  // may be this model
    if (to + length > Size()) Resize(to + length);
    std::copy_n(s.bytes.begin() + from, length, bytes.begin() + to);
    std::copy_n(s.defined.begin() + from, length, defined.begin() + to);
  }
};

void CheckFile(const MemFile& f, const Model& m) {
  FUZZ_CHECK(f.GetSize() == m.Size() && f.GetPosition() == m.position);
  FUZZ_CHECK(f.GetCapacity() == (static_cast<uint32_t>(f.GetSegmentCount()) << f.GetSegmentShift()));
  FUZZ_CHECK(static_cast<uint32_t>(f.GetSize()) <= f.GetCapacity() && f.GetSegmentCount() >= 0);
  FUZZ_CHECK((f.GetBuffer() == nullptr) == (f.GetCapacity() == 0) && f.GetSegmentShift() <= 15);
  FUZZ_CHECK(f.GetCapacity() != 0 || f.GetSegmentShift() == f.GetInitialSegmentShift());
  for (int32_t i = 0; i < m.Size(); ++i) FUZZ_CHECK(!m.defined[i] || f.GetBuffer()[i] == m.bytes[i]);
}

int32_t Upto(lxfuzz::Input& in, int32_t n) {
  return static_cast<int32_t>(in.Below(static_cast<uint32_t>(n) + 1));
}
// A range [offset, offset + length) inside a file of `size` bytes.
void Range(lxfuzz::Input& in, int32_t size, int32_t* offset, int32_t* length) {
  *offset = Upto(in, size), *length = Upto(in, size - *offset);
}

int32_t SizeArg(lxfuzz::Input& in) { return static_cast<int32_t>(in.U16() % (kMaxSize + 1)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const LxMemoryHandler previous = mmLxSetHandler([](uint32_t) { return 0; });
  lxfuzz::Input in(data, size);
  const uint8_t shifts = in.Byte();
  std::unique_ptr<MemFile> file[2] = {std::make_unique<MemFile>(0, 1 << (shifts & 15)),
                                      std::make_unique<MemFile>(0, 1 << (shifts >> 4))};
  Model model[2];
  for (int step = 0; step < 64 && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    const int a = op & 1;  // the file the operation works on
    MemFile &f = *file[a], &g = *file[1 - a];
    Model &m = model[a], &n = model[1 - a];
    const bool wide = (op & 0x80) != 0;
    switch ((op >> 1) % 16) {
      case 0: {  // SizeSet
        const int32_t s = SizeArg(in);
        FUZZ_CHECK(f.SizeSet(s, in.Byte()) == 0);
        m.Resize(s);
        break;
      }
      case 1: {  // SizeSetDontShrink
        const int32_t s = SizeArg(in);
        const uint32_t capacity = f.GetCapacity();
        char* const before = f.GetBuffer();
        FUZZ_CHECK(f.SizeSetDontShrink(s) == 0);
        if (static_cast<uint32_t>(s) <= capacity)
          FUZZ_CHECK(f.GetBuffer() == before && f.GetCapacity() == capacity);
        m.Resize(s);
        break;
      }
      case 2: {  // SetLogicalSize: bytes past the old size are undefined
        const int32_t s = SizeArg(in);
        const bool beyond = static_cast<uint32_t>(s) > f.GetCapacity();
        FUZZ_CHECK(f.SetLogicalSize(s) == (beyond ? LX_MEMFILE_BEYOND_CAPACITY : 0));
        if (!beyond) m.Resize(s);
        break;
      }
      case 3: {  // SetSizeZeroAndShrink
        const uint32_t limit = in.U16();
        const uint32_t capacity = f.GetCapacity();
        f.SetSizeZeroAndShrink(limit);
        FUZZ_CHECK(f.GetCapacity() == (capacity > limit ? 0 : capacity));
        m = Model();
        break;
      }
      case 4: {  // Seek in one of the three modes, inside 0 .. size (0x40: past it)
        const int mode = in.Below(3);
        const int32_t target = Upto(in, m.Size()) + ((op & 0x40) ? 1 + in.Byte() : 0);
        const int32_t offset = mode == 0 ? target : mode == 1 ? target - m.position : m.Size() - target;
        uint32_t want = in.Below(40);
        const bool nullLength = in.Bit();
        if (wide) {  // past 2^31 from the position, or before the start from the end
          const int32_t far =
              mode == 2 ? m.Size() + 1 + static_cast<int32_t>(in.U16()) : INT32_MAX - in.Byte();
          FUZZ_CHECK(f.Seek(far, static_cast<unsigned short>(mode), nullLength ? nullptr : &want) == nullptr);
          FUZZ_CHECK(want == 0 || nullLength);
          break;
        }
        const uint32_t asked = want;
        const int passed = mode == 0 && (op & 0x20) ? 3 + in.Byte() : mode;  // counts from the start
        char* p = f.Seek(offset, static_cast<unsigned short>(passed), nullLength ? nullptr : &want);
        const uint32_t wanted = nullLength ? 0 : asked;
        if (static_cast<int64_t>(wanted) + target > m.Size() && target >= m.Size()) {
          FUZZ_CHECK(p == nullptr && (want == 0 || nullLength));
          break;
        }
        FUZZ_CHECK(p == f.GetBuffer() + target);
        if (!nullLength)
          FUZZ_CHECK(static_cast<int32_t>(want) ==
                     std::min<int32_t>(static_cast<int32_t>(wanted), m.Size() - target));
        m.position = target;
        break;
      }
      case 5: {  // Put at any offset up to a little past the end
        const int32_t offset = Upto(in, m.Size() + 63);
        const std::string bytes = in.Bytes(200);
        const int32_t length = static_cast<int32_t>(bytes.size());
        if (wide) {
          FUZZ_CHECK(f.Put(bytes.data(), INT32_MAX - in.Byte(), length) == 0);
          break;
        }
        if (offset + length > kMaxSize) break;
        FUZZ_CHECK(f.Put(bytes.data(), offset, length) == length);
        m.Put(bytes.data(), offset, length);
        break;
      }
      case 6: {  // Get, cut at the size
        const int32_t offset = Upto(in, m.Size() + 7), length = Upto(in, 299);
        std::vector<char> out(static_cast<size_t>(length) + 1);
        const int32_t r = f.Get(out.data(), offset, length);
        FUZZ_CHECK(r == (offset >= m.Size() ? 0 : std::min(length, m.Size() - offset)));
        uint32_t wanted = static_cast<uint32_t>(length);
        if (f.GetBuffer() != nullptr && offset <= m.Size()) {
          FUZZ_CHECK(f.GetPtr(offset) == f.GetBuffer() + offset);
          FUZZ_CHECK(f.GetPtr(offset, &wanted) ==
                     (offset + length > m.Size() ? nullptr : f.GetBuffer() + offset));
        }
        for (int32_t i = 0; i < r; ++i) FUZZ_CHECK(!m.defined[offset + i] || out[i] == m.bytes[offset + i]);
        break;
      }
      case 7: {  // Put from the other file (0x20: from this file) at this file's position
        const bool self = (op & 0x20) != 0;
        MemFile& source = self ? f : g;
        Model& s = self ? m : n;
        int32_t from, length;
        Range(in, s.Size(), &from, &length);
        if (wide) {
          FUZZ_CHECK(f.Put(&source, static_cast<uint32_t>(length), 0x80000000u + in.U16()) == 0);
          break;
        }
        const bool toEnd = in.Bit() || length == 0;  // a length of 0 also means "to the end"
        const uint32_t asked = toEnd ? 0 : static_cast<uint32_t>(length);
        const int32_t copied = toEnd ? s.Size() - from : length;
        if (m.position + copied > kMaxSize) break;
        const int32_t sourcePosition = s.position;
        // A source without a block writes nothing; from the file itself the bytes land
        // where they are (positioning the source moves this file too).
        const bool sourceHasBlock = source.GetBuffer() != nullptr;
        const uint32_t r = f.Put(&source, asked, static_cast<uint32_t>(from));
        FUZZ_CHECK(r == static_cast<uint32_t>(sourceHasBlock ? copied : 0));
        if (sourceHasBlock && !self) m.CopyFrom(n, m.position, from, copied);
        // The source's position comes back unless it lay beyond its size.
        s.position = sourcePosition <= s.Size() ? sourcePosition : from;
        break;
      }
      case 8: {  // Get into the other file from this file's position
        if (m.position > m.Size()) break;
        const int32_t length = Upto(in, m.Size() - m.position);
        if (wide) {
          const uint32_t far = 0xFFFFFFFFu - in.Below(static_cast<uint32_t>(length) + 1);
          FUZZ_CHECK(f.Get(&g, static_cast<uint32_t>(length), far) == 0);
          break;
        }
        const int32_t to = Upto(in, n.Size() + 15);
        if (to + length > kMaxSize) break;
        FUZZ_CHECK(f.Get(&g, static_cast<uint32_t>(length), static_cast<uint32_t>(to)) == uint32_t(length));
        n.CopyFrom(m, to, m.position, length);
        break;
      }
      case 9: {  // Copy inside the file, overlapping or not
        int32_t from, length;
        Range(in, m.Size(), &from, &length);
        if (wide) {
          FUZZ_CHECK(f.Copy(INT32_MAX - static_cast<int32_t>(in.Byte()), from, length) == 0);
          break;
        }
        const int32_t to = Upto(in, m.Size() + 31);
        if (to + length > kMaxSize || (length == 0 && to > m.Size())) break;
        FUZZ_CHECK(f.Copy(to, from, length) == length);
        m.CopyFrom(m, to, from, length);
        break;
      }
      case 10: {  // Delete a range
        int32_t offset, length;
        Range(in, m.Size(), &offset, &length);
        if (wide) length = static_cast<int32_t>(0xFFFFFFFFu - in.Byte());  // the range passes the size
        FUZZ_CHECK(f.Delete(static_cast<uint32_t>(offset), static_cast<uint32_t>(length)) == 0);
        if (wide) break;
        m.CopyFrom(m, offset, offset + length, m.Size() - offset - length);
        m.Resize(m.Size() - length);
        break;
      }
      case 11: {  // Exchange
        const unsigned char initial[2] = {f.GetInitialSegmentShift(), g.GetInitialSegmentShift()};
        f.Exchange(&g);
        FUZZ_CHECK(f.GetInitialSegmentShift() == initial[1] && g.GetInitialSegmentShift() == initial[0]);
        std::swap(m, n);
        break;
      }
      case 12: {  // InitializeWith
        const char value = static_cast<char>(in.Byte());
        const int32_t from = (op & 0x20) ? -1 - in.Byte() : Upto(in, m.Size() + 3);
        f.InitializeWith(static_cast<unsigned char>(value), from);
        for (int32_t i = from; from >= 0 && i < m.Size(); ++i) m.bytes[i] = value, m.defined[i] = true;
        break;
      }
      case 13: {  // Write at the position, which must not pass the size
        if (m.position > m.Size() || m.Size() + 4 > kMaxSize) break;
        const uint32_t value = in.U32();
        int result = 1;
        FUZZ_CHECK(f.Write(value, result) == 4 && result == 0);
        m.Resize(m.Size() + 4);
        m.Put(reinterpret_cast<const char*>(&value), m.position, 4);
        m.position += 4;
        break;
      }
      case 14: {  // CheckSum of a range against the free function over the model
        int32_t offset, length;
        Range(in, m.Size(), &offset, &length);
        uint32_t asked = static_cast<uint32_t>(length);
        if (op & 0x20) {  // past the end, or 0xFFFFFFFF for the size: cut at the size
          asked = (op & 0x40) ? 0xFFFFFFFFu : asked + in.Byte();
        } else if (op & 0x40) {  // from beyond the size: nothing
          offset = m.Size() + 1 + in.Byte();
          asked += 1;
        }
        length = static_cast<int32_t>(std::min<int64_t>(asked, std::max(m.Size() - offset, 0)));
        if (length > 0 && std::count(m.defined.begin() + offset, m.defined.begin() + offset + length, false))
          break;
        const uint32_t seed = in.U32();
        const bool withSeed = in.Bit();
        const uint32_t sum = f.CheckSum(static_cast<uint32_t>(offset), asked, withSeed ? &seed : nullptr);
        FUZZ_CHECK(sum == CalcCheckSum(length > 0 ? m.bytes.data() + offset : nullptr,
                                       static_cast<uint32_t>(length), withSeed ? &seed : nullptr));
        if (length > 0) m.position = offset;
        break;
      }
      case 15: {  // copy construction and assignment
        const int32_t sourcePosition = m.position;
        if (in.Bit()) {
          file[1 - a] = std::make_unique<MemFile>(f);
          const MemFile& copy = *file[1 - a];
          FUZZ_CHECK(copy.GetSegmentShift() == f.GetSegmentShift() &&
                     copy.GetInitialSegmentShift() == f.GetSegmentShift());
        } else {
          const unsigned char initial = g.GetInitialSegmentShift();
          g = f;
          FUZZ_CHECK(g.GetInitialSegmentShift() == initial);
        }
        n = m;
        n.position = 0;
        m.position = sourcePosition <= m.Size() ? sourcePosition : 0;
        break;
      }
    }
    CheckFile(*file[0], model[0]);
    CheckFile(*file[1], model[1]);
  }
  return 0;
}
