// lxtool eventlog: the entries that the system log wrote to its JSON-lines file.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "os/eventlog.h"

namespace {

const char kUsage[] =
    "usage: lxtool eventlog [--file PATH] [-n N] [--follow]\n"
    "\n"
    "Prints the entries of the system log's file, oldest first and newest last, one\n"
    "line each: time (UTC), source, type, event id and message; further lines of a\n"
    "message follow indented.\n"
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

void PrintEntry(const lxos::EventRecord& r) {
  std::string message = r.message;
  for (size_t at = 0; (at = message.find('\n', at)) != std::string::npos; at += 5) {
    message.replace(at, 1, "\n    ");
  }
  std::printf("%s  %s  %s  0x%08X  %s\n", r.time.c_str(), r.source.c_str(), r.type.c_str(),
              static_cast<unsigned>(r.eventId), message.c_str());
}

// Prints the complete lines of `text` (keeping an unfinished last line in
// `partial`) and counts them in `lineNo`.
void PrintLines(const std::string& path, const std::string& text, std::string* partial, long* lineNo) {
  partial->append(text);
  size_t start = 0;
  for (size_t end; (end = partial->find('\n', start)) != std::string::npos; start = end + 1) {
    ++*lineNo;
    lxos::EventRecord r;
    if (lxos::EventLogParseLine(partial->substr(start, end - start), &r)) {
      PrintEntry(r);
    } else {
      std::fprintf(stderr, "lxtool: eventlog: %s:%ld is not an entry\n", path.c_str(), *lineNo);
    }
  }
  partial->erase(0, start);
  std::fflush(stdout);
}

// Reads the file from `offset` to its end. Returns false when it cannot be opened.
bool ReadFrom(const std::string& path, std::streamoff offset, std::string* out, std::streamoff* size) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  *size = in.tellg();
  out->clear();
  if (*size <= offset) return true;
  in.seekg(offset);
  out->resize(static_cast<size_t>(*size - offset));
  in.read(&(*out)[0], static_cast<std::streamsize>(out->size()));
  out->resize(static_cast<size_t>(in.gcount()));
  return true;
}

std::string DefaultFile() {
  lxos::EventSink sink = lxos::EventLogTarget();
  if (sink.target == lxos::EventTarget::kFile && !sink.path.empty()) return sink.path;
  return lxos::EventLogDefaultFile();
}

int EventlogCommand(int argc, char** argv) {
  if (lxtool::WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string path;
  long last = -1;
  bool follow = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--file") == 0) {
      if (i + 1 >= argc) return lxtool::Fail(2, "eventlog: --file needs a PATH");
      path = argv[++i];
    } else if (std::strcmp(argv[i], "-n") == 0) {
      if (i + 1 >= argc) return lxtool::Fail(2, "eventlog: -n needs a number");
      char* end = nullptr;
      errno = 0;
      last = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || errno == ERANGE || last < 0) {
        return lxtool::Fail(2, "eventlog: '%s' is not a number of entries", argv[i]);
      }
    } else if (std::strcmp(argv[i], "--follow") == 0 || std::strcmp(argv[i], "-f") == 0) {
      follow = true;
    } else {
      return lxtool::Fail(2, "eventlog: unknown argument '%s'", argv[i]);
    }
  }
  if (path.empty()) path = DefaultFile();
  if (path.empty()) return lxtool::Fail(1, "eventlog: there is no state directory");

  std::string text;
  std::streamoff size = 0;
  if (!ReadFrom(path, 0, &text, &size)) {
    if (!follow) return lxtool::Fail(1, "eventlog: cannot read %s: %s", path.c_str(), std::strerror(errno));
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
  if (!follow) return 0;

  std::streamoff offset = size;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::streamoff now = 0;
    if (!ReadFrom(path, offset, &text, &now)) continue;
    if (now < offset) {
      // The file was truncated or replaced: start again at its beginning.
      offset = 0;
      partial.clear();
      if (!ReadFrom(path, 0, &text, &now)) continue;
    }
    offset += static_cast<std::streamoff>(text.size());
    PrintLines(path, text, &partial, &lineNo);
  }
}

}  // namespace

LXTOOL_COMMAND(eventlog, "eventlog", "print the entries of the system log's file", EventlogCommand);
