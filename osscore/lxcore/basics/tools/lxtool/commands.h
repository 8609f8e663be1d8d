// The commands of lxtool: each cmd_<name>.cpp defines the help text and the
// run functions of one name; main.cpp puts them into the command table.
// A run function returns an ExitStatus (command.h).
#pragma once

#include "command.h"

namespace lxtool {

extern const char kCompletionHelp[];
int RunCompletion(const Invocation& in);

extern const char kCrc32Help[];
int RunCrc32(const Invocation& in);

extern const char kDescribeHelp[];
int RunDescribe(const Invocation& in);

extern const char kErrorHelp[];
int RunError(const Invocation& in);

extern const char kEventlogHelp[];
int RunEventlog(const Invocation& in);

extern const char kInfoHelp[];
int RunInfo(const Invocation& in);

extern const char kPerfHelp[];
int RunPerfInstall(const Invocation& in);
int RunPerfRemove(const Invocation& in);
int RunPerfCollect(const Invocation& in);
int RunPerfWatch(const Invocation& in);
int RunPerfServe(const Invocation& in);
int RunPerfSimulate(const Invocation& in);

extern const char kRegHelp[];
int RunRegQuery(const Invocation& in);
int RunRegSet(const Invocation& in);
int RunRegDelete(const Invocation& in);
int RunRegDeleteKey(const Invocation& in);
int RunRegList(const Invocation& in);

extern const char kRleHelp[];
int RunRleEncode(const Invocation& in);
int RunRleDecode(const Invocation& in);
int RunRleLen(const Invocation& in);

extern const char kTimeHelp[];
int RunTime(const Invocation& in);

}  // namespace lxtool
