// Memory files and encodings: records written into a MemFile, the file compressed
// with DScomp, checksummed, decoded back with DSdecomp and compared.
#include <lxbasics.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "demo.h"

namespace {

// A fixed-size record in its stored form: big-endian key and amount, a
// blank-padded name field.
struct StoredRecord {
  unsigned char key[4];
  unsigned char amount[8];
  char name[20];
};

int MemFileDemo() {
  const char* names[] = {"ADA", "GRACE", "EDSGER", "BARBARA"};
  MemFile file;
  for (int32_t i = 0; i < 64; ++i) {
    StoredRecord r;
    const int32_t key = 1000 + i;
    IntStore(r.key, &key, 2, 1);  // mode 2: big-endian
    stdbl(i * 2.5, r.amount);
    stchar(names[i % 4], r.name, sizeof r.name);
    if (file.Put(&r, file.GetSize(), sizeof r) != static_cast<int32_t>(sizeof r)) return 1;
  }
  std::printf("memory file: %d bytes in %d segments of %d bytes\n", file.GetSize(), file.GetSegmentCount(),
              1 << file.GetSegmentShift());

  // Compress: DScomp succeeds only when the encoding is shorter than the room.
  const int length = file.GetSize();
  std::vector<unsigned char> packed(static_cast<size_t>(length));
  int packedLength = length;
  if (DScomp(file.GetBuffer(), length, packed.data(), &packedLength) != 0) {
    std::printf("the records do not compress; they would be stored as they are\n");
    return 1;
  }
  const uint32_t crc = file.CheckSum(0, 0xFFFFFFFFu, nullptr);
  std::printf("compressed %d -> %d bytes (DSlen says %d), CRC-32 %08x\n", length, packedLength,
              DSlen(packed.data(), packedLength), crc);

  // Decode into a second file and compare.
  MemFile restored(length);
  int room = length;
  if (DSdecomp(packed.data(), packedLength, restored.GetBuffer(), &room) != 0 || room != length) return 1;
  const bool same = std::memcmp(restored.GetBuffer(), file.GetBuffer(), static_cast<size_t>(length)) == 0 &&
                    restored.CheckSum(0, 0xFFFFFFFFu, nullptr) == crc;
  std::printf("decoded %d bytes: %s\n", room, same ? "identical, same checksum" : "DIFFERENT");

  // Read one record back from its stored form.
  StoredRecord r;
  restored.Get(&r, 5 * static_cast<int32_t>(sizeof r), sizeof r);
  int32_t key = 0;
  IntLoad(&key, r.key, 2, 1);
  char name[sizeof r.name + 1] = {};
  ldchar(r.name, sizeof r.name, name);
  std::printf("record 5: key %d, amount %.1f, name \"%s\"\n", key, lddbl(r.amount), name);
  return same && key == 1005 && std::strcmp(name, names[5 % 4]) == 0 ? 0 : 1;
}

}  // namespace

QUICKSTART_DEMO(memfile, 40, "Memory files, compression and checksums", MemFileDemo);
