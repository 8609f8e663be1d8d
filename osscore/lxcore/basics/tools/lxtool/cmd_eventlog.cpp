// lxtool eventlog: the entries that the system log wrote to its JSON-lines file.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "io.h"
#include "os/eventlog.h"
#include "os/syscall.h"

namespace lxtool {

const char kEventlogHelp[] =
    "usage: lxtool eventlog [--file PATH] [-n N] [--follow]\n"
    "\n"
    "Prints the entries of the system log's file, oldest first and newest last, one\n"
    "line each: time (UTC), source, type, event id and message; further lines of a\n"
    "message follow indented. On a terminal, control characters in the texts show\n"
    "as \\xHH (or \\u00HH) escapes.\n"
    "\n"
    "  --file PATH  read PATH; by default the file of ORVANTA_EVENTLOG=file:PATH, else\n"
    "               eventlog/Application.log in the state directory (where entries\n"
    "               go when no log daemon takes them)\n"
    "  -n N         only the last N entries\n"
    "  --follow     keep printing new entries as they are written (stop with Ctrl-C)\n"
    "\n"
    "Entries sent to the host's log daemon are not in the file: read them with\n"
    "journalctl -t Orvanta_Runtime_System (or the identifier of the module's source).\n"
    "\n"
    "Exit status: 0 success, 1 the file cannot be read, 2 usage.\n";

namespace {

// The text as it may go to a terminal: control characters (C0, DEL and the C1
// range, which terminals take as commands) written as \xHH or \u00HH escapes;
// a line break starts an indented line. Elsewhere the text stays as it is.
std::string Shown(const std::string& text, bool terminal) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == '\n') {
      out += "\n    ";
    } else if (terminal && (c < 0x20 || c == 0x7f) && c != '\t') {
      out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    } else if (terminal && c == 0xc2 && next >= 0x80 && next <= 0x9f) {
      out += {'\\', 'u', '0', '0', kHex[next >> 4], kHex[next & 15]};
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

void PrintEntry(const lxos::EventRecord& r, bool terminal) {
  std::printf("%s  %s  %s  0x%08X  %s\n", Shown(r.time, terminal).c_str(), Shown(r.source, terminal).c_str(),
              Shown(r.type, terminal).c_str(), static_cast<unsigned>(r.eventId),
              Shown(r.message, terminal).c_str());
}

// Prints the complete lines of `text` (keeping an unfinished last line in
// `partial`) and counts them in `lineNo`.
void PrintLines(const std::string& path, const std::string& text, std::string* partial, long* lineNo) {
  static const bool terminal = lxos::sys::IsATty(STDOUT_FILENO) == 1;
  partial->append(text);
  size_t start = 0;
  for (size_t end; (end = partial->find('\n', start)) != std::string::npos; start = end + 1) {
    ++*lineNo;
    lxos::EventRecord r;
    if (lxos::EventLogParseLine(partial->substr(start, end - start), &r)) {
      PrintEntry(r, terminal);
    } else {
      std::fprintf(stderr, "lxtool: eventlog: %s:%ld is not an entry\n", path.c_str(), *lineNo);
    }
  }
  partial->erase(0, start);
  std::fflush(stdout);
}

std::string DefaultFile() {
  lxos::EventSink sink = lxos::EventLogTarget();
  if (sink.target == lxos::EventTarget::kFile && !sink.path.empty()) return sink.path;
  return lxos::EventLogDefaultFile();
}

}  // namespace

int RunEventlog(const Invocation& in) {
  long last = -1;
  if (const char* text = in.Value("-n")) {
    uint64_t n = 0;
    if (!ParseNumber(text, 0x7fffffff, &n)) return UsageError("'%s' is not a number of entries", text);
    last = static_cast<long>(n);
  }
  const bool follow = in.Has("--follow");
  std::string path = in.Has("--file") ? in.Value("--file") : DefaultFile();
  if (path.empty()) return Fail("there is no state directory");

  std::string text;
  uint64_t size = 0;
  if (!ReadFileFrom(path, 0, &text, &size)) {
    if (!follow) return Fail("cannot read %s: %s", path.c_str(), std::strerror(errno));
    size = 0;
  }
  std::string partial;
  long lineNo = 0;
  if (last >= 0) {
    // Only the last N complete lines.
    std::vector<size_t> ends;
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; ++at) ends.push_back(at);
    if (static_cast<long>(ends.size()) > last) {
      size_t skip = ends.size() - static_cast<size_t>(last);
      text.erase(0, ends[skip - 1] + 1);
      lineNo = static_cast<long>(skip);
    }
  }
  PrintLines(path, text, &partial, &lineNo);
  if (!follow) return kExitOk;

  uint64_t offset = size;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    uint64_t now = 0;
    if (!ReadFileFrom(path, offset, &text, &now)) continue;
    if (now < offset) {
      // The file was truncated or replaced: start again at its beginning.
      offset = 0;
      partial.clear();
      if (!ReadFileFrom(path, 0, &text, &now)) continue;
    }
    offset += text.size();
    PrintLines(path, text, &partial, &lineNo);
    if (std::ferror(stdout)) return Fail("cannot write the output");
  }
}

}  // namespace lxtool
