// The reader of the system log's lines. Byte 0, bit 0 clear: the rest is a line; a record
// read from it, formatted again, must read back the same. Bit 0 set: a record of any bytes
// behind an unknown member of arrays nested up to 65,535 deep must read back exactly, or
// with the nesting unclosed be refused, without running out of stack.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "os/eventlog.h"

namespace {

bool Same(const lxos::EventRecord& a, const lxos::EventRecord& b) {
  for (int i = 0; i < 4; ++i) {
    if (a.strings[i] != b.strings[i]) return false;
  }
  return a.time == b.time && a.source == b.source && a.type == b.type && a.eventType == b.eventType &&
         a.eventId == b.eventId && a.message == b.message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const uint8_t mode = in.Byte();
  lxos::EventRecord record, back;
  if ((mode & 1) == 0) {
    if (lxos::EventLogParseLine(in.Rest(), &record)) {
      FUZZ_CHECK(lxos::EventLogParseLine(lxos::EventLogFormatLine(record), &back));
      FUZZ_CHECK(Same(record, back));
    }
    return 0;
  }
  const uint32_t depth = in.U16();
  const bool closed = (mode & 2) == 0;
  record.eventType = in.U16();
  record.eventId = in.U32();
  record.time = in.Bytes(40);
  record.source = in.Bytes(60);
  record.type = in.Bytes(20);
  for (std::string& s : record.strings) s = in.Bytes(60);
  record.message = in.Rest();
  const std::string line = lxos::EventLogFormatLine(record);
  const std::string nested =
      "{\"x\":" + std::string(depth, '[') + (closed ? std::string(depth, ']') : "1") + ",";
  const bool read = lxos::EventLogParseLine(depth == 0 ? line : nested + line.substr(1), &back);
  FUZZ_CHECK(read == (closed || depth == 0));
  if (read) FUZZ_CHECK(Same(record, back));
  return 0;
}
