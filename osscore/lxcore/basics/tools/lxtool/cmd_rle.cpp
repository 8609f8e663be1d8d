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
// a part of it in OUTPUT's place.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "lxmemfile.h"

namespace {

const char kUsage[] =
    "usage: lxtool rle encode|decode|len [--raw] [--block BYTES] [INPUT [OUTPUT]]\n"
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
    "INPUT and OUTPUT default to standard input and output ('-' names them).\n";

constexpr uint32_t kMaxBlock = 1u << 30;

struct Streams {
  FILE* in = stdin;
  FILE* out = stdout;
  std::string target;     // the output file, when there is one
  std::string temporary;  // where its bytes go until they are complete
  ~Streams() {
    if (in != nullptr && in != stdin) std::fclose(in);
    if (out != nullptr && out != stdout) std::fclose(out);
    if (!temporary.empty()) std::remove(temporary.c_str());  // never committed
  }

  // Opens a temporary file beside `path` for the output. False (errno set) on failure.
  bool OpenOutput(const char* path) {
    target = path;
    std::string name = target + ".XXXXXX";
    const int fd = mkstemp(&name[0]);
    if (fd < 0) return false;
    temporary = name;
    // mkstemp makes the file private; give it the mode a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    out = fdopen(fd, "wb");
    if (out == nullptr) {
      close(fd);
      return false;
    }
    return true;
  }

  // Flushes the output and, for a file, puts it in the target's place. False
  // (errno set) on failure; the target is then as it was.
  bool Finish() {
    if (std::fflush(out) != 0) return false;
    if (temporary.empty()) return true;
    const bool synced = fsync(fileno(out)) == 0;
    const bool closed = std::fclose(out) == 0;
    out = nullptr;
    if (!synced || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) return false;
    temporary.clear();
    return true;
  }
};

bool ReadAll(FILE* in, std::vector<unsigned char>* data) {
  unsigned char piece[65536];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, in)) > 0) data->insert(data->end(), piece, piece + n);
  return !std::ferror(in);
}

// Reads exactly n bytes; false at the end of the input or on an error.
bool ReadExactly(FILE* in, unsigned char* to, size_t n) { return n == 0 || std::fread(to, 1, n, in) == n; }

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
  if (raw) {
    std::vector<unsigned char> data;
    if (!ReadAll(s.in, &data)) return lxtool::Fail(1, "rle: read failed: %s", std::strerror(errno));
    if (data.empty()) return 0;
    if (data.size() > kMaxBlock)
      return lxtool::Fail(1, "rle: --raw input is larger than %u bytes", kMaxBlock);
    std::vector<unsigned char> encoded(WorstEncoding(data.size()) + 1);
    int room = static_cast<int>(encoded.size());
    if (DScomp(data.data(), static_cast<int>(data.size()), encoded.data(), &room) != 0) {
      return lxtool::Fail(1, "rle: encoding failed");
    }
    return std::fwrite(encoded.data(), 1, static_cast<size_t>(room), s.out) == static_cast<size_t>(room) ? 0
                                                                                                         : 1;
  }
  std::vector<unsigned char> block(blockSize), encoded(blockSize);
  size_t n;
  while ((n = std::fread(block.data(), 1, blockSize, s.in)) > 0) {
    int room = static_cast<int>(n);
    const bool packed = DScomp(block.data(), static_cast<int>(n), encoded.data(), &room) == 0;
    const uint32_t stored = packed ? static_cast<uint32_t>(room) : static_cast<uint32_t>(n);
    unsigned char header[8];
    PutLe32(header, stored);
    PutLe32(header + 4, static_cast<uint32_t>(n));
    if (std::fwrite(header, 1, 8, s.out) != 8 ||
        std::fwrite(packed ? encoded.data() : block.data(), 1, stored, s.out) != stored) {
      return lxtool::Fail(1, "rle: write failed: %s", std::strerror(errno));
    }
  }
  if (std::ferror(s.in)) return lxtool::Fail(1, "rle: read failed: %s", std::strerror(errno));
  return 0;
}

// Calls `frame(stored, decodedLength, bytes)` for every frame of the input.
// Returns 0, or 1 after reporting a cut or oversized frame.
template <typename Frame>
int ForEachFrame(FILE* in, Frame frame) {
  std::vector<unsigned char> stored;
  for (uint64_t index = 0;; ++index) {
    unsigned char header[8];
    const size_t got = std::fread(header, 1, 8, in);
    if (got == 0 && !std::ferror(in)) return 0;
    if (got != 8)
      return lxtool::Fail(1, "rle: frame %llu: header cut short", static_cast<unsigned long long>(index));
    const uint32_t length = GetLe32(header), decoded = GetLe32(header + 4);
    if (length > decoded || decoded > kMaxBlock || decoded == 0) {
      return lxtool::Fail(1, "rle: frame %llu: bad lengths %u / %u", static_cast<unsigned long long>(index),
                          length, decoded);
    }
    stored.resize(length);
    if (!ReadExactly(in, stored.data(), length)) {
      return lxtool::Fail(1, "rle: frame %llu: data cut short", static_cast<unsigned long long>(index));
    }
    const int r = frame(index, stored, decoded);
    if (r != 0) return r;
  }
}

int Decode(Streams& s, bool raw) {
  if (raw) {
    std::vector<unsigned char> data;
    if (!ReadAll(s.in, &data)) return lxtool::Fail(1, "rle: read failed: %s", std::strerror(errno));
    if (data.size() > kMaxBlock)
      return lxtool::Fail(1, "rle: --raw input is larger than %u bytes", kMaxBlock);
    const int length = static_cast<int>(data.size());
    std::vector<unsigned char> out(static_cast<size_t>(DSlen(data.data(), length)));
    int room = static_cast<int>(out.size());
    if (length > 0 && DSdecomp(data.data(), length, out.data(), &room) != 0) {
      return lxtool::Fail(1, "rle: the input does not decode");
    }
    return std::fwrite(out.data(), 1, out.size(), s.out) == out.size() ? 0 : 1;
  }
  std::vector<unsigned char> out;
  return ForEachFrame(s.in, [&](uint64_t index, const std::vector<unsigned char>& stored, uint32_t decoded) {
    const unsigned char* bytes = stored.data();
    if (stored.size() != decoded) {
      out.resize(decoded);
      int room = static_cast<int>(decoded);
      if (DSdecomp(stored.data(), static_cast<int>(stored.size()), out.data(), &room) != 0 ||
          room != static_cast<int>(decoded)) {
        return lxtool::Fail(1, "rle: frame %llu does not decode to %u bytes",
                            static_cast<unsigned long long>(index), decoded);
      }
      bytes = out.data();
    }
    if (std::fwrite(bytes, 1, decoded, s.out) != decoded) {
      return lxtool::Fail(1, "rle: write failed: %s", std::strerror(errno));
    }
    return 0;
  });
}

int Length(Streams& s, bool raw) {
  if (raw) {
    std::vector<unsigned char> data;
    if (!ReadAll(s.in, &data)) return lxtool::Fail(1, "rle: read failed: %s", std::strerror(errno));
    if (data.size() > kMaxBlock)
      return lxtool::Fail(1, "rle: --raw input is larger than %u bytes", kMaxBlock);
    std::fprintf(s.out, "%d\n", DSlen(data.data(), static_cast<int>(data.size())));
    return 0;
  }
  uint64_t total = 0;
  const int r =
      ForEachFrame(s.in, [&](uint64_t index, const std::vector<unsigned char>& stored, uint32_t decoded) {
        const uint32_t length =
            stored.size() == decoded
                ? decoded
                : static_cast<uint32_t>(DSlen(stored.data(), static_cast<int>(stored.size())));
        if (length != decoded) {
          return lxtool::Fail(1, "rle: frame %llu holds %u bytes, its header says %u",
                              static_cast<unsigned long long>(index), length, decoded);
        }
        total += length;
        return 0;
      });
  if (r != 0) return r;
  std::fprintf(s.out, "%llu\n", static_cast<unsigned long long>(total));
  return 0;
}

int RleCommand(int argc, char** argv) {
  if (lxtool::WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  bool raw = false;
  uint32_t blockSize = 4096;
  std::vector<const char*> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--raw") == 0) {
      raw = true;
    } else if (std::strcmp(argv[i], "--block") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long v = std::strtoul(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || v == 0 || v > kMaxBlock) {
        return lxtool::Fail(2, "rle: --block takes a size from 1 to %u", kMaxBlock);
      }
      blockSize = static_cast<uint32_t>(v);
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fputs(kUsage, stderr);
      return lxtool::Fail(2, "rle: unknown option '%s'", argv[i]);
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.empty() || args.size() > 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string mode = args[0];
  if (mode != "encode" && mode != "decode" && mode != "len") {
    std::fputs(kUsage, stderr);
    return lxtool::Fail(2, "rle: unknown mode '%s'", args[0]);
  }

  Streams s;
  if (args.size() >= 2 && std::strcmp(args[1], "-") != 0) {
    s.in = std::fopen(args[1], "rb");
    if (s.in == nullptr) return lxtool::Fail(1, "rle: %s: %s", args[1], std::strerror(errno));
  }
  if (args.size() == 3 && std::strcmp(args[2], "-") != 0 && !s.OpenOutput(args[2])) {
    return lxtool::Fail(1, "rle: %s: %s", args[2], std::strerror(errno));
  }
  int r = mode == "encode" ? Encode(s, blockSize, raw) : mode == "decode" ? Decode(s, raw) : Length(s, raw);
  if (r == 0 && !s.Finish()) r = lxtool::Fail(1, "rle: write failed: %s", std::strerror(errno));
  return r;
}

}  // namespace

LXTOOL_COMMAND(rle, "rle", "run-length block format: encode, decode, len (framed or --raw)", RleCommand);
