// lxtool crc32: the library's CRC-32 of files.
//
// Each file is read in 1 MiB pieces, chained through CalcCheckSum's seed, and
// shown as "%08x  NAME" (the same value as the usual crc32 tools). With --chain a
// last line "%08x  (chain)" gives the checksum of all files one after the other,
// carried through the seed from file to file in the same pass. A large file
// shows its progress on a terminal (progress.h).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "io.h"
#include "lxmemfile.h"
#include "progress.h"

namespace lxtool {

const char kCrc32Help[] =
    "usage: lxtool crc32 [--chain] [--quiet] FILE...\n"
    "\n"
    "Prints the CRC-32 (IEEE 802.3, as CalcCheckSum computes it) of each FILE as\n"
    "eight hex digits and the name. With --chain a last line gives the checksum of\n"
    "the concatenation of all files. FILE - is standard input.\n"
    "While a FILE of 16 MiB or more is read, a line on standard error shows the\n"
    "bytes done, the rate and the time left, if standard error is a terminal;\n"
    "--quiet (-q) turns it off.\n"
    "\n"
    "Exit status: 0 success, 1 a FILE cannot be read, 2 usage.\n";

int RunCrc32(const Invocation& in) {
  std::vector<unsigned char> piece(1 << 20);
  uint32_t chained = 0;
  for (const std::string& name : in.Operands()) {
    Input file;
    if (!file.Open(name)) return Fail("%s: %s", name.c_str(), std::strerror(errno));
    Progress progress(name, file.Size(), in.Has("--quiet"));
    file.Track(&progress);
    uint32_t own = 0;
    ssize_t n;
    while ((n = file.Read(piece.data(), piece.size())) > 0) {
      own = CalcCheckSum(piece.data(), static_cast<uint32_t>(n), &own);
      chained = CalcCheckSum(piece.data(), static_cast<uint32_t>(n), &chained);
    }
    if (n < 0) return Fail("%s: %s", name.c_str(), std::strerror(errno));
    std::printf("%08x  %s\n", own, name.c_str());
  }
  if (in.Has("--chain")) std::printf("%08x  (chain)\n", chained);
  return kExitOk;
}

}  // namespace lxtool
