// The system log and the message object: one log entry and one question.
#include <lxbasics.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "demo.h"

namespace {

// The last line of a file, or "" when there is none.
std::string LastLine(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return last;
}

const char* ResultName(uint32_t result) {
  switch (result) {
    case LX_MSG_OK:
      return "OK/Yes";
    case LX_MSG_CANCEL:
      return "Cancel/Abort";
    case LX_MSG_RETRY:
      return "Retry";
    case LX_MSG_IGNORE:
      return "Ignore";
    case LX_MSG_NO:
      return "No";
    case LX_MSG_SUPPRESSED:
      return "not shown";
    default:
      return "?";
  }
}

int MessagesDemo() {
  int failures = 0;

  // ORVANTA_EVENTLOG picks where entries go. Left unset, they would go to the
  // host's log daemon (journalctl -t Orvanta_Runtime_System) or, without one, to
  // eventlog/Application.log in the state directory; this step sends its entry to
  // a file of its own so that it can show it.
  const char* chosen = std::getenv("ORVANTA_EVENTLOG");
  std::string file;
  bool setHere = false;
  if (chosen == nullptr) {
    const char* tmp = std::getenv("TMPDIR");
    file = std::string(tmp && *tmp ? tmp : "/tmp") + "/lxquickstart-eventlog.jsonl";
    std::remove(file.c_str());
    setenv("ORVANTA_EVENTLOG", ("file:" + file).c_str(), 1);
    setHere = true;
  } else if (std::string(chosen).compare(0, 5, "file:") == 0) {
    file = chosen + 5;
  }

  LxSysLog* log = LxSystemLog();
  if (log->GetEventLogAvailable() == 0) {
    std::printf("system log: switched off by ORVANTA_EVENTLOG=off when the library loaded\n");
  } else {
    int rc = log->Printf(4, "quick start: volume %s is %d%% full", "/data", 93);
    std::printf("system log: Printf(kind 4) returned %d (1 = written) from source \"%s\"\n", rc,
                log->GetSourceName());
    if (rc != 1) ++failures;
    if (!file.empty()) {
      std::string line = LastLine(file);
      std::printf("entry written to %s:\n  %s\n", file.c_str(), line.c_str());
      if (line.find("\"event_id\":3221225476") == std::string::npos ||
          line.find("ERROR: quick start: volume /data is 93% full") == std::string::npos) {
        ++failures;
      }
    } else {
      std::printf("entry sent to %s (see journalctl -t Orvanta_Runtime_System)\n", chosen);
    }
  }
  if (setHere) unsetenv("ORVANTA_EVENTLOG");

  // The message object has no desktop to show a box on: caption, text and buttons
  // go to standard error, and ORVANTA_MESSAGE_ANSWER gives the answer.
  bool answerHere = std::getenv("ORVANTA_MESSAGE_ANSWER") == nullptr;
  if (answerHere) setenv("ORVANTA_MESSAGE_ANSWER", "no", 1);
  std::fflush(stdout);
  const uint32_t kYesNo = 4;
  uint32_t answer = LxMessage()->Printf(nullptr, kYesNo, "Clear the system log (%d entry written)?", 1);
  std::printf("message: Printf(Yes/No) returned 0x%08X (%s)\n", answer, ResultName(answer));
  if (answerHere) {
    if (answer != LX_MSG_NO) ++failures;
    unsetenv("ORVANTA_MESSAGE_ANSWER");
  }

  // Switched off, a message is not shown unless it insists.
  LxMessage()->SetEnabled(0);
  uint32_t quiet = LxMessage()->Printf(nullptr, 0, "never shown");
  LxMessage()->SetEnabled(1);
  std::printf("message while switched off: 0x%08X (%s)\n", quiet, ResultName(quiet));
  if (quiet != LX_MSG_SUPPRESSED) ++failures;
  return failures;
}

}  // namespace

QUICKSTART_DEMO(messages, 20, "System log and messages", MessagesDemo);
