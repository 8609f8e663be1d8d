// lxtool rle: the library's run-length block format on files.
//
// The block format has no header and no length of its own: whoever stores an
// encoded block keeps its length. The tool keeps it in a frame. The input is cut
// into blocks of --block bytes (4096 by default, the size of a database page),
// and each block is written as
//
//   uint32 little-endian  stored length S
//   uint32 little-endian  decoded length D
//   S bytes               the block encoded with DScomp, or, when S == D, the
//                         block itself
//
// DScomp is given D as its room, so it succeeds only when the encoding is
// shorter than the block; when it is not, the block is stored as it is and
// S == D marks that (an encoding is never D bytes long). An empty input gives
// an empty output. With --raw there is no frame: the whole input is one block,
// encoded with room enough for any input, and decode and len take the file as
// one encoded block.
//
//   encode  frames (or the raw encoding) of the input
//   decode  the original bytes; every frame must decode to exactly D bytes
//   len     the decoded length, computed with DSlen from the encoded bytes
//
// Input is a file or standard input ("-" or nothing), output a file or standard
// output. An output file is written under a temporary name beside it and renamed
// over OUTPUT only once it is complete, so that an interrupted run never leaves
// a part of it in OUTPUT's place. A large input shows its progress on a
// terminal (progress.h).
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "io.h"
#include "lxmemfile.h"
#include "progress.h"

namespace lxtool {

const char kRleHelp[] =
    "usage: lxtool rle encode [--raw] [--block BYTES] [--quiet] [INPUT [OUTPUT]]\n"
    "       lxtool rle decode|len [--raw] [--quiet] [INPUT [OUTPUT]]\n"
    "\n"
    "Run-length block format of the library (DScomp, DSdecomp, DSlen).\n"
    "  encode  cut INPUT into blocks (--block, default 4096 bytes) and write each\n"
    "          as a frame: stored length S and decoded length D (32-bit\n"
    "          little-endian), then S bytes: the encoded block, or the block\n"
    "          itself when encoding does not make it shorter (then S == D)\n"
    "  decode  turn frames back into the original bytes\n"
    "  len     print the decoded length of framed input, computed from the\n"
    "          encoded bytes with DSlen\n"
    "  --raw   no frames: the whole input is one encoded block\n"
    "  --quiet, -q  no progress line\n"
    "INPUT and OUTPUT default to standard input and output ('-' names them). An\n"
    "OUTPUT file is replaced only once it is complete. While an INPUT of 16 MiB or\n"
    "more is read, a line on standard error shows the bytes done, the rate and the\n"
    "time left, if standard error is a terminal.\n"
    "\n"
    "Exit status: 0 success, 1 failure (unreadable or damaged input, write\n"
    "failed), 2 usage.\n";

namespace {

constexpr uint32_t kMaxBlock = 1u << 30;

struct Streams {
  Input in;
  Output out;
};

// Opens INPUT and OUTPUT of the command line. Returns kExitOk or the failure.
int OpenStreams(const Invocation& inv, Streams* s) {
  const std::vector<std::string>& args = inv.Operands();
  const std::string input = args.size() >= 1 ? args[0] : "-";
  const std::string output = args.size() >= 2 ? args[1] : "-";
  if (!s->in.Open(input)) return Fail("%s: %s", input.c_str(), std::strerror(errno));
  if (!s->out.Open(output)) return Fail("%s: %s", output.c_str(), std::strerror(errno));
  return kExitOk;
}

// Reads the whole input of a --raw run. Returns kExitOk or the failure.
int ReadRaw(Input& in, std::string* data) {
  if (in.ReadAll(data, kMaxBlock)) return kExitOk;
  if (errno == EFBIG) return Fail("--raw input is larger than %u bytes", kMaxBlock);
  return Fail("read failed: %s", std::strerror(errno));
}

int WriteFailed() { return Fail("write failed: %s", std::strerror(errno)); }

void PutLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t GetLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The longest encoding of n bytes: literal records of 255 bytes cost 257.
size_t WorstEncoding(size_t n) { return n + 2 * (n / 255 + 1); }

int Encode(Streams& s, uint32_t blockSize, bool raw) {
  std::string data, encoded;
  if (raw) {
    if (int r = ReadRaw(s.in, &data)) return r;
    if (data.empty()) return kExitOk;
    encoded.resize(WorstEncoding(data.size()) + 1);
    int room = static_cast<int>(encoded.size());
    if (DScomp(data.data(), static_cast<int>(data.size()), &encoded[0], &room) != 0) {
      return Fail("encoding failed");
    }
    return s.out.Write(encoded.data(), static_cast<size_t>(room)) ? kExitOk : WriteFailed();
  }
  for (;;) {
    // The buffers grow with the input, so a large --block costs only what a
    // block really holds.
    data.clear();
    const ssize_t got = s.in.ReadAppend(&data, blockSize);
    if (got < 0) return Fail("read failed: %s", std::strerror(errno));
    if (got == 0) return kExitOk;
    const uint32_t n = static_cast<uint32_t>(got);
    encoded.resize(n);
    int room = static_cast<int>(n);
    const bool packed = DScomp(data.data(), static_cast<int>(n), &encoded[0], &room) == 0;
    const uint32_t stored = packed ? static_cast<uint32_t>(room) : n;
    unsigned char header[8];
    PutLe32(header, stored);
    PutLe32(header + 4, n);
    if (!s.out.Write(header, 8) || !s.out.Write(packed ? encoded.data() : data.data(), stored)) {
      return WriteFailed();
    }
  }
}

// Calls `frame(index, stored, decodedLength)` for every frame of the input,
// once the frame is known to hold exactly its decoded length: a stored block,
// or records that add up to it (DSlen walks them without decoding). Returns
// kExitOk, or the failure after reporting a cut or inconsistent frame.
template <typename Frame>
int ForEachFrame(Input& in, Frame frame) {
  std::string stored;
  for (uint64_t index = 0;; ++index) {
    const unsigned long long i = index;
    unsigned char header[8];
    const ssize_t got = in.Read(header, 8);
    if (got < 0) return Fail("read failed: %s", std::strerror(errno));
    if (got == 0) return kExitOk;
    if (got != 8) return Fail("frame %llu: header cut short", i);
    const uint32_t length = GetLe32(header), decoded = GetLe32(header + 4);
    if (length > decoded || decoded > kMaxBlock || decoded == 0) {
      return Fail("frame %llu: bad lengths %u / %u", i, length, decoded);
    }
    stored.clear();
    const ssize_t read = in.ReadAppend(&stored, length);
    if (read < 0) return Fail("read failed: %s", std::strerror(errno));
    if (read != static_cast<ssize_t>(length)) return Fail("frame %llu: data cut short", i);
    if (length != decoded) {
      const int holds = DSlen(stored.data(), static_cast<int>(length));
      if (holds != static_cast<int>(decoded)) {
        return Fail("frame %llu holds %d bytes, its header says %u", i, holds, decoded);
      }
    }
    const int r = frame(index, stored, decoded);
    if (r != kExitOk) return r;
  }
}

int Decode(Streams& s, bool raw) {
  std::string data, out;
  if (raw) {
    if (int r = ReadRaw(s.in, &data)) return r;
    const int length = static_cast<int>(data.size());
    const int decoded = DSlen(data.data(), length);
    if (decoded < 0) return Fail("the input decodes to more than %d bytes", INT_MAX);
    out.resize(static_cast<size_t>(decoded));
    int room = decoded;
    if (length > 0 && (DSdecomp(data.data(), length, &out[0], &room) != 0 || room != decoded)) {
      return Fail("the input does not decode");
    }
    return s.out.Write(out) ? kExitOk : WriteFailed();
  }
  return ForEachFrame(s.in, [&](uint64_t index, const std::string& stored, uint32_t decoded) {
    const std::string* bytes = &stored;
    if (stored.size() != decoded) {
      out.resize(decoded);
      int room = static_cast<int>(decoded);
      if (DSdecomp(stored.data(), static_cast<int>(stored.size()), &out[0], &room) != 0 ||
          room != static_cast<int>(decoded)) {
        return Fail("frame %llu does not decode to %u bytes", static_cast<unsigned long long>(index),
                    decoded);
      }
      bytes = &out;
    }
    return s.out.Write(*bytes) ? kExitOk : WriteFailed();
  });
}

int Length(Streams& s, bool raw) {
  if (raw) {
    std::string data;
    if (int r = ReadRaw(s.in, &data)) return r;
    const int decoded = DSlen(data.data(), static_cast<int>(data.size()));
    if (decoded < 0) return Fail("the input decodes to more than %d bytes", INT_MAX);
    return s.out.Write(std::to_string(decoded) + "\n") ? kExitOk : WriteFailed();
  }
  uint64_t total = 0;
  const int r = ForEachFrame(s.in, [&](uint64_t, const std::string&, uint32_t decoded) {
    total += decoded;
    return static_cast<int>(kExitOk);
  });
  if (r != kExitOk) return r;
  return s.out.Write(std::to_string(total) + "\n") ? kExitOk : WriteFailed();
}

// Runs one mode and, when it succeeded, completes the output.
template <typename Mode>
int Run(const Invocation& inv, Mode mode) {
  Streams s;
  int r = OpenStreams(inv, &s);
  const std::string input = inv.Operands().empty() ? "-" : inv.Operands()[0];
  Progress progress(input == "-" ? "standard input" : input, s.in.Size(), inv.Has("--quiet"));
  s.in.Track(&progress);
  if (r == kExitOk) r = mode(s);
  if (r == kExitOk && !s.out.Commit()) r = WriteFailed();
  return r;
}

}  // namespace

int RunRleEncode(const Invocation& in) {
  uint32_t blockSize = 4096;
  if (const char* text = in.Value("--block")) {
    uint64_t v = 0;
    if (!ParseNumber(text, kMaxBlock, &v) || v == 0) {
      return UsageError("--block takes a size from 1 to %u", kMaxBlock);
    }
    blockSize = static_cast<uint32_t>(v);
  }
  return Run(in, [&](Streams& s) { return Encode(s, blockSize, in.Has("--raw")); });
}

int RunRleDecode(const Invocation& in) {
  return Run(in, [&](Streams& s) { return Decode(s, in.Has("--raw")); });
}

int RunRleLen(const Invocation& in) {
  return Run(in, [&](Streams& s) { return Length(s, in.Has("--raw")); });
}

}  // namespace lxtool
