// Messages: result codes turned into texts, a module contributing its own texts,
// and the server console and typed stream writing to standard output.
#include <lxbasics.h>

#include <cstdio>
#include <cstring>

#include "demo.h"

namespace {

// A console back end as a server module would plug it in: here, standard output.
class StdoutConsole : public _LxServCons {
 public:
  using _LxServCons::write;
  void write(const LxString& text) override { write(text.GetText(), text.GetLength()); }
  void write(const char* text, int /*length*/) override {
    if (text != nullptr) std::fputs(text, stdout);
  }
  // Standard output wants "\n", not the default "\r\n".
  void terminateLine() override { write("\n", 1); }
  void flush() override { std::fflush(stdout); }
};

// The texts of a module's own code range, -9100 to -9000 (ends excluded).
char* ReplicaModuleText(int code) {
  static char text[] = "Replica agent: the peer did not answer.";
  return code == -9050 ? text : nullptr;
}

}  // namespace

static int CatalogDemo() {
  int failures = 0;
  char buffer[LX_ERROR_BUFFER_SIZE];

  // Bare texts, and the form a failing operation reports with its name as prefix.
  for (int code : {-2002, -2030, 2034, 5, -501}) {
    std::printf("%6d  %s\n", code, LxError(nullptr, nullptr, code, 1));
  }
  std::printf("%s\n", LxError(buffer, "LxBase::Open", -2031, 0));
  if (std::strcmp(buffer,
                  "LxBase::Open : -2031 -> Unable to find the database files to open the database.") != 0) {
    ++failures;
  }
  std::printf("%s | %s | %s\n", LxError(nullptr, nullptr, 0, 1), LxError(buffer, nullptr, 0, 0),
              LxError(nullptr, "Commit", 0, 0));

  // A module registers its range; LxError asks it first.
  LxModuleErrorCallbackList& modules = LxModuleErrorCallbackList::GetInstance();
  if (modules.SetModuleErrorCallback(ReplicaModuleText, -9000, -9100) != 0) ++failures;
  std::printf("%s\n", LxError(buffer, "Replicate", -9050, 0));
  if (std::strstr(buffer, "Replica agent") == nullptr) ++failures;
  std::printf("%s\n", LxError(buffer, "Replicate", -9051, 0));
  if (modules.SetModuleErrorCallback(nullptr, -9000, -9100) != 0) ++failures;

  // The server console forwards to whatever back end is plugged in.
  StdoutConsole backEnd;
  LxServCons console;
  console << "not shown: no back end yet" << endl;
  console.setImplementation(&backEnd);
  console << "console: " << LxString("server up, ") << 3 << " clients" << endl;
  console.printf("console: last error %s", LxError(nullptr, nullptr, -2510, 1)) << endl;

  // The typed stream over a C stream.
  LxOutStreamFILE out(stdout);
  out << "stream: " << 42 << ' ' << 2.5 << ' ' << static_cast<unsigned short>(65535) << ' '
      << reinterpret_cast<const void*>(uintptr_t{0x1F}) << endl
      << flush;

  // Set by the part of a service process that asks for the stop; the others poll.
  std::printf("service stop requested: %d\n", VESK_Service_hasStopped());
  return failures;
}

QUICKSTART_DEMO(catalog, 15, "Error texts, server console and streams", CatalogDemo);
