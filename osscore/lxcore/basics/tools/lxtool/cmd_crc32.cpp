// lxtool crc32: the library's CRC-32 of files.
//
// Each file is read in 1 MiB pieces, chained through CalcCheckSum's seed, and
// shown as "%08x  NAME" (the same value as the usual crc32 tools). With --chain a
// last line "%08x  (chain)" gives the checksum of all files one after the other,
// carried through the seed from file to file in the same pass. "-" reads
// standard input.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "lxmemfile.h"

namespace {

const char kUsage[] =
    "usage: lxtool crc32 [--chain] FILE...\n"
    "\n"
    "Prints the CRC-32 (IEEE 802.3, as CalcCheckSum computes it) of each FILE as\n"
    "eight hex digits and the name. With --chain a last line gives the checksum of\n"
    "the concatenation of all files. FILE - is standard input.\n";

// Reads the stream to its end: *own becomes its checksum, *chained the checksum
// continued from the value *chained had (the files before it).
bool ChecksumStream(FILE* in, uint32_t* own, uint32_t* chained) {
  std::vector<unsigned char> piece(1 << 20);
  uint32_t value = 0;
  size_t n;
  while ((n = std::fread(piece.data(), 1, piece.size(), in)) > 0) {
    value = CalcCheckSum(piece.data(), static_cast<uint32_t>(n), &value);
    *chained = CalcCheckSum(piece.data(), static_cast<uint32_t>(n), chained);
  }
  if (std::ferror(in)) return false;
  *own = value;
  return true;
}

int Crc32Command(int argc, char** argv) {
  if (lxtool::WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  bool chain = false;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--chain") == 0) {
      chain = true;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fputs(kUsage, stderr);
      return lxtool::Fail(2, "crc32: unknown option '%s'", argv[i]);
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  uint32_t chained = 0;
  for (const char* name : files) {
    const bool useStdin = std::strcmp(name, "-") == 0;
    FILE* in = useStdin ? stdin : std::fopen(name, "rb");
    if (in == nullptr) return lxtool::Fail(1, "crc32: %s: %s", name, std::strerror(errno));
    uint32_t own = 0;
    const bool ok = ChecksumStream(in, &own, &chained);
    const int readError = errno;
    if (!useStdin) std::fclose(in);
    if (!ok) return lxtool::Fail(1, "crc32: %s: %s", name, std::strerror(readError));
    std::printf("%08x  %s\n", own, name);
  }
  if (chain) std::printf("%08x  (chain)\n", chained);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

LXTOOL_COMMAND(crc32, "crc32", "CRC-32 of files, and of their concatenation (--chain)", Crc32Command);
