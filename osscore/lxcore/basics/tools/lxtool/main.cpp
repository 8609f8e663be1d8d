// lxtool: inspects and drives the basics library's state from the shell.
#include "command.h"
#include "commands.h"

namespace lxtool {

const std::vector<Command>& Commands() {
  static const Option kFormat{"--format", nullptr, "text|prometheus"};
  static const Option kOutput{"--output", nullptr, "FILE"};
  static const Option kInterval{"--interval", nullptr, "S"};
  static const Option kCount{"--count", nullptr, "N"};
  static const Option kRaw{"--raw", nullptr, nullptr};
  static const Option kQuiet{"--quiet", "-q", nullptr};
  static const std::vector<Command> kTable = {
      {"completion", "print the bash completion script", kCompletionHelp, "", 0, 0, {}, RunCompletion},
      {"crc32",
       "CRC-32 of files, and of their concatenation (--chain)",
       kCrc32Help,
       "FILE...",
       1,
       kAnyNumber,
       {{"--chain", nullptr, nullptr}, kQuiet},
       RunCrc32},
      {"describe",
       "show what modules report through their LxDescribeDll",
       kDescribeHelp,
       "MODULE...",
       1,
       kAnyNumber,
       {},
       RunDescribe},
      {"error",
       "texts of result codes (LxError)",
       kErrorHelp,
       "CODE...",
       0,
       kAnyNumber,
       {{"--prefix", nullptr, "TEXT"}, {"--list", nullptr, nullptr}},
       RunError},
      {"eventlog",
       "print the entries of the system log's file",
       kEventlogHelp,
       "",
       0,
       0,
       {{"--file", nullptr, "PATH"}, {"-n", nullptr, "N"}, {"--follow", "-f", nullptr}},
       RunEventlog},
      {"info",
       "show the library's identity and check versions against it",
       kInfoHelp,
       "",
       0,
       0,
       {{"--check", nullptr, "VERSION"}, {"--flags", nullptr, "FLAGS"}},
       RunInfo},
      {"perf install",
       "install, remove, collect and watch the runtime's performance counters",
       kPerfHelp,
       "",
       0,
       0,
       {},
       RunPerfInstall},
      {"perf remove", nullptr, kPerfHelp, "", 0, 0, {}, RunPerfRemove},
      {"perf collect", nullptr, kPerfHelp, "", 0, 0, {kFormat, kOutput}, RunPerfCollect},
      {"perf watch", nullptr, kPerfHelp, "", 0, 0, {kInterval, kCount, kFormat, kOutput}, RunPerfWatch},
      {"perf simulate", nullptr, kPerfHelp, "", 0, 0, {kInterval, kCount}, RunPerfSimulate},
      {"reg query",
       "query, set and delete values and keys of the registry store",
       kRegHelp,
       "KEY [VALUE]",
       1,
       2,
       {},
       RunRegQuery},
      {"reg set", nullptr, kRegHelp, "KEY VALUE TYPE DATA", 4, 4, {}, RunRegSet},
      {"reg delete", nullptr, kRegHelp, "KEY VALUE", 2, 2, {}, RunRegDelete},
      {"reg delete-key", nullptr, kRegHelp, "KEY", 1, 1, {{"--tree", nullptr, nullptr}}, RunRegDeleteKey},
      {"reg list", nullptr, kRegHelp, "KEY", 1, 1, {}, RunRegList},
      {"rle encode",
       "run-length block format: encode, decode, len (framed or --raw)",
       kRleHelp,
       "[INPUT [OUTPUT]]",
       0,
       2,
       {kRaw, {"--block", nullptr, "BYTES"}, kQuiet},
       RunRleEncode},
      {"rle decode", nullptr, kRleHelp, "[INPUT [OUTPUT]]", 0, 2, {kRaw, kQuiet}, RunRleDecode},
      {"rle len", nullptr, kRleHelp, "[INPUT [OUTPUT]]", 0, 2, {kRaw, kQuiet}, RunRleLen},
      {"time",
       "print the date, time, time zone and tick count the library reports",
       kTimeHelp,
       "",
       0,
       0,
       {{"--offset", nullptr, "HOURS"}},
       RunTime},
  };
  return kTable;
}

}  // namespace lxtool

int main(int argc, char** argv) { return lxtool::Dispatch(argc, argv); }
