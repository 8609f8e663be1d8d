// lxtool as a user runs it: one table of command lines, each with its output and
// exit status. A group's rows run in order against the group's own state. A
// failing run explains itself in "lxtool: " lines, a usage error (2) in one.
#include <fcntl.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <lxmessages.h>
#include <lxplatform.h>
#include <lxstatistics.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <sstream>

#include "../statistics/stats_fixture.h"
#include "lxtest.h"

namespace {

// A check of an output: exactly a text, a whole match, or a match of each of several.
using Expect = std::function<void(const std::string& actual, const char* what)>;
Expect Exact(std::string text) {
  return [=](const std::string& actual, const char* what) { EXPECT_EQ(text, actual) << what; };
}
Expect Has(std::vector<std::string> regexes) {
  return [=](const std::string& actual, const char* what) {
    for (const std::string& r : regexes)
      EXPECT_TRUE(std::regex_search(actual, std::regex(r))) << what << " lacks " << r << ":\n" << actual;
  };
}
Expect Match(std::string regex) { return Has({"^(?:" + regex + ")$"}); }

using Hook = std::function<void(const std::string& dir)>;

struct Row {
  Row(std::string g, std::vector<std::string> a, int c) : group(std::move(g)), args(std::move(a)), code(c) {}
  std::string group;
  std::vector<std::string> args;  // "$DIR" stands for the group's directory
  int code = 0;
  Expect out, err;
  std::vector<std::string> env;        // "NAME=value" each, added to the environment
  std::function<std::string()> input;  // standard input, all of it, made when the row runs
  std::string outputFile;              // standard output goes there ("/dev/full"); empty: captured
  bool terminal = false;               // standard output a raw pseudo-terminal
  bool errTerminal = false;            // standard error a raw pseudo-terminal
  bool capped = false;                 // address space capped at 256 MiB (not under ASan)
  Hook before, after;

  Row& Out(Expect e) { return out = std::move(e), *this; }
  Row& Err(Expect e) { return err = std::move(e), *this; }
  Row& Input(std::string bytes) {
    return Input([b = std::move(bytes)] { return b; });
  }
  Row& Input(std::function<std::string()> make) { return input = std::move(make), *this; }
  Row& Env(std::string assignment) { return env.push_back(std::move(assignment)), *this; }
  Row& OutputTo(std::string file) { return outputFile = std::move(file), *this; }
  Row& Terminal() { return terminal = true, *this; }
  Row& ErrTerminal() { return errTerminal = true, *this; }
  Row& Capped() { return capped = true, *this; }
  Row& Before(Hook h) { return before = std::move(h), *this; }
  Row& After(Hook h) { return after = std::move(h), *this; }
};

std::string g_address;  // "127.0.0.1:PORT" of the running perf serve, for "$ADDR"

std::string Replace(std::string s, const std::string& dir) {
  for (size_t at; (at = s.find("$DIR")) != std::string::npos;) s.replace(at, 4, dir);
  for (size_t at; (at = s.find("$ADDR")) != std::string::npos;) s.replace(at, 5, g_address);
  return s;
}

// What a run of lxtool printed and how it ended (-1: not through exit).
struct Ran {
  int code = -1;
  std::string out, err;
};

// Runs lxtool as `row` says; a terminal output is a raw pseudo-terminal read meanwhile.
Ran RunLxtool(const Row& row, const std::string& dir, const std::string& io) {
  int master = -1, tty = -1;
  struct termios raw;
  if (row.terminal || row.errTerminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return Ran();
    tty = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0 || tcgetattr(tty, &raw) != 0) return Ran();
    cfmakeraw(&raw);
    tcsetattr(tty, TCSANOW, &raw);
  }
  const std::string out = row.outputFile.empty() ? io + "/out" : Replace(row.outputFile, dir);
  if (!lxtest::WriteFile(io + "/in", row.input ? row.input() : "")) return Ran();
  lxtest::Child tool([&](int) {
    dup2(open((io + "/in").c_str(), O_RDONLY | O_CLOEXEC), 0);
    dup2(row.terminal ? tty : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), 1);
    if (row.errTerminal) dup2(tty, 2);
    for (const std::string& e : row.env) putenv(strdup(Replace(e, dir).c_str()));
#ifndef LXTEST_ASAN
    const struct rlimit cap = {256u << 20, 256u << 20};
    if (row.capped) setrlimit(RLIMIT_AS, &cap);
#endif
    std::vector<char*> argv = {const_cast<char*>(LXB_BINARY_DIR "/bin/lxtool")};
    for (const std::string& a : row.args) argv.push_back(strdup(Replace(a, dir).c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    return 127;
  });
  close(tty);
  std::string shown;  // a pseudo-terminal reports EIO once the tool has closed it
  char buf[65536];
  for (ssize_t n; master >= 0 && ((n = read(master, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR));)
    shown.append(buf, n > 0 ? static_cast<size_t>(n) : 0);
  if (master >= 0) close(master);
  tool.Wait();
  const lxtest::ChildResult& r = tool.Result();
  return {r.exited ? r.code : -1,
          row.terminal             ? shown
          : row.outputFile.empty() ? lxtest::ReadFile(out)
                                   : "",
          row.errTerminal ? shown : r.err};
}

std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  while (times-- > 0) out += piece;
  return out;
}

Hook Write(const std::string& name, const std::string& data) {
  return [=](const std::string& dir) { ASSERT_TRUE(lxtest::WriteFile(dir + "/" + name, data)); };
}

// Runs and noise in 200 stretches; 17 MiB of noise, enough for a progress line.
const std::string& Mixed() {
  static const std::string data = [d = std::string(), rng = std::mt19937(2)]() mutable {
    for (int i = 0; i < 200; ++i) {
      d.append(rng() % 600, static_cast<char>(rng() % 3));
      for (int k = rng() % 300; k > 0; --k) d.push_back(static_cast<char>(rng()));
    }
    return d;
  }();
  return data;
}
// Records of 4 GiB + 255 bytes: a 32-bit sum would wrap to 255.
std::string Wraps() { return Repeat("\xff\x41", 16843010) + "\x01\x41"; }

const std::string& Noise() {
  static const std::string data = [d = std::string(17u << 20, '\0'), rng = std::mt19937(3)]() mutable {
    for (char& c : d) c = static_cast<char>(rng());
    return d;
  }();
  return data;
}

// Progress lines redrawn in place, the last one erased.
const char kProgress[] =
    "(\r[^\r\n]+  [0-9.]+ (B|KiB|MiB) of 17\\.[0-9] MiB  \\d+%  [0-9.]+ (B|[KMGT]iB)/s(  [0-9:]+ "
    "left)?\x1b\\[K)+"
    "\r\x1b\\[K";

Hook NoFileNamed(const std::string& prefix) {
  return [=](const std::string& dir) {
    glob_t found;
    EXPECT_EQ(GLOB_NOMATCH, glob((dir + "/" + prefix + "*").c_str(), 0, nullptr, &found)) << prefix;
    globfree(&found);
  };
}

// The statistics' writer in another process: counts once, or (busy) 10 commits every 5 ms.
std::unique_ptr<lxtest::Child> g_writer;

Hook StartWriter(bool busy) {
  return [busy](const std::string&) {
    g_writer.reset(new lxtest::Child([busy](int ready) {
      LxStatistics* s = Statistics();
      s->Enable();
      if (!s->GetEnabled()) return 3;
      s->IncClients();
      if (!busy) {
        for (int i = 0; i < 7; ++i) s->IncCommits();
        s->IncClients();
        s->AddLocks(-3);
        s->AddDeliveredObjects(2000000000);  // a running total past 2^31 shows unsigned
        s->AddDeliveredObjects(2000000000);
      }
      lxtest::Report(ready, 0);
      for (;; lxtest::Nap(5000)) {  // until killed
        for (int k = 0; busy && k < 10; ++k) s->IncCommits();
      }
    }));
    ASSERT_TRUE(g_writer->WaitReady());
  };
}

void StopWriter(const std::string&) { g_writer.reset(); }

Hook PokeBlock(off_t offset, uint32_t value) {
  return [=](const std::string&) {
    const int fd = open((std::string("/dev/shm") + std::getenv("ORVANTA_SHM_NAME")).c_str(), O_WRONLY);
    EXPECT_EQ(4, pwrite(fd, &value, 4, offset));
    close(fd);
  };
}

Hook All(std::vector<Hook> hooks) {
  return [=](const std::string& dir) {
    for (const Hook& h : hooks) h(dir);
  };
}

// Runs `command` with the shell: its standard output, and its exit status in *status.
std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buf[4096];
  for (size_t n; pipe != nullptr && (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int rc = pipe == nullptr ? -1 : pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// perf serve on a free port, as a child.
std::unique_ptr<lxtest::Child> g_server;

void StartServer(const std::string& dir) {
  const std::string out = dir + "/serve.out";
  g_server.reset(new lxtest::Child([out](int) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    execl(LXB_BINARY_DIR "/bin/lxtool", "lxtool", "perf", "serve", "--listen", "127.0.0.1:0", "--interval",
          "0.2", nullptr);
    return 127;
  }));
  for (int i = 0; i < 200 && g_address.empty(); lxtest::Nap(50000), ++i) {
    char address[32];
    int end = 0;  // set once the whole line is there
    std::sscanf(lxtest::ReadFile(out).c_str(), "listening on http://%31[0-9.:]/%n", address, &end);
    if (end > 0) g_address = address;
  }
  ASSERT_FALSE(g_address.empty()) << lxtest::ReadFile(out);
}

void StopServer(const std::string&) {
  g_server->Kill(SIGTERM);
  EXPECT_EQ(0, g_server->Wait()) << g_server->Result().err;
  g_server.reset();
  g_address.clear();
}

// Requests `path` with curl until it answers `code` with a match of `body` (5 s at most).
Hook Fetch(std::string options, std::string path, int code, std::string body = "") {
  return [=](const std::string& dir) {
    std::string status, got;
    for (int i = 0; i < 50 && !(status == std::to_string(code) && std::regex_search(got, std::regex(body)));
         lxtest::Nap(100000), ++i) {
      status =
          Shell("curl -sS -o " + dir + "/body -w '%{http_code}' " + options + " http://" + g_address + path);
      got = lxtest::ReadFile(dir + "/body");
    }
    EXPECT_EQ(std::to_string(code), status) << options << " " << path;
    EXPECT_TRUE(std::regex_search(got, std::regex(body))) << path << " lacks " << body << ":\n" << got;
  };
}

// /metrics is perf collect's output and the server's two metrics; promtool passes both.
void SameAsCollect(const std::string& dir) {
  Fetch("", "/metrics", 200)(dir);
  const std::string collect = lxtest::ReadFile(dir + "/collect.prom"),
                    metrics = lxtest::ReadFile(dir + "/body");
  EXPECT_EQ(collect, metrics.substr(0, collect.size()));
  EXPECT_TRUE(std::regex_match(
      metrics.substr(std::min(collect.size(), metrics.size())),
      std::regex("# HELP orvanta_up [^\n]+\n# TYPE orvanta_up gauge\norvanta_up 1\n# HELP "
                 "orvanta_scrape_duration_seconds [^\n]+\n# TYPE orvanta_scrape_duration_seconds gauge\n"
                 "orvanta_scrape_duration_seconds 0\\.\\d{6}\n")))
      << metrics;
  for (const char* file : {"collect.prom", "body"}) {
    int status = -1;
    EXPECT_EQ("", Shell("promtool check metrics < " + dir + "/" + file + " 2>&1", &status)) << file;
    EXPECT_EQ(0, status) << file;
  }
}

// The page in a headless browser (reaching no other host): one chart per counter,
// with the installed names and help texts, and Commits/sec's latest rate `rate`.
Hook Page(std::string rate) {
  return [=](const std::string& dir) {
    const std::string dom = Shell(
        "chromium --headless --no-sandbox --disable-gpu --disable-background-networking --no-first-run "
        "--host-resolver-rules='MAP * ~NOTFOUND, EXCLUDE 127.0.0.1' --user-data-dir=" +
        dir + "/browser --virtual-time-budget=3000 --dump-dom http://" + g_address + "/ 2>/dev/null");
    size_t charts = 0;
    for (size_t at = 0; (at = dom.find("<figure class=\"chart\"", at)) != std::string::npos; ++at) ++charts;
    EXPECT_EQ(15u, charts) << dom;
    EXPECT_TRUE(std::regex_search(
        dom, std::regex("<figure class=\"chart\" data-metric=\"orvanta_commits_total\" "
                        "data-latest=\"" +
                        rate +
                        "\"><figcaption><span>Commits/sec</span><output>[^<]+</output></figcaption><p>The "
                        "number of transaction commit requests since last sample\\.</p>")))
        << dom;
  };
}

// `error --list`: the messages suite's copy of the catalog, each text without its quotes.
std::string CatalogListing() {
  std::string path = LXB_TEST_DATA_DIR;
  path.replace(path.rfind("tools/data"), 10, "messages/data/catalog.tsv");
  const std::string rows =
      std::regex_replace(lxtest::ReadFile(path), std::regex("^#.*\n", std::regex::multiline), "");
  return std::regex_replace(rows, std::regex("\t\"(.*)\"$", std::regex::multiline), "\t$1");
}

// The parts of `text` between `separator`s, without blanks around them.
std::vector<std::string> Words(const std::string& text, char separator) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; std::getline(in, w, separator);) words.push_back(w.erase(0, w.find_first_not_of(' ')));
  return words;
}

const char kEntryKey[] = "SOFTWARE\\Vesk Software\\Orvanta";

std::vector<Row> Table() {
  const std::string key = "SOFTWARE\\Test\\Types", server = std::string(kEntryKey) + "\\Server";
  const std::string aLine =
      R"({"time":"2026-01-01T00:00:00.000Z","source":"S","type":"error","event_type":1,)"
      R"("event_id":1,"strings":["","","",""],"message":"red \u001b[31m bell \u0007"})";
  std::vector<Row> rows = {
      Row("usage", {}, 2).Err(Has({"a command is expected"})),
      Row("usage", {"--help"}, 0).Out(Has({"\n  crc32      CRC-32", "\n  time       ", "Exit status"})),
      Row("usage", {"frob"}, 2).Err(Has({"unknown command 'frob'"})),
      Row("usage", {"reg"}, 2)
          .Err(Exact("lxtool: reg: an action is expected: query, set, delete, delete-key, list\n")),
      Row("usage", {"reg", "set", "K", "v", "sz"}, 2)
          .Err(Exact("lxtool: reg set: KEY VALUE TYPE DATA expected\n")),
      Row("usage", {"perf", "watch", "--interval"}, 2).Err(Has({"--interval needs S"})),
      Row("usage", {"--version"}, 0).Out(Exact("lxtool " LXB_VERSION "\n")),
      Row("usage", {"error", "--help"}, 0).Out(Has({"usage: lxtool error"})),

      Row("reg", {"reg", "query", kEntryKey, "Port"}, 1).Err(Has({"not found"})),
      Row("reg", {"reg", "query", std::string(kEntryKey) + "\\Server", "Port"}, 1)
          .Env("ORVANTA_REGISTRY=$DIR"),
      Row("reg", {"reg", "set", key, "Name", "sz", "hello world"}, 0),
      Row("reg", {"reg", "set", key, "Path", "expand_sz", "%HOME%\\x"}, 0),
      Row("reg", {"reg", "set", key, "Count", "dword", "0x2A"}, 0),
      Row("reg", {"reg", "set", key, "Max", "dword", "4294967295"}, 0),
      Row("reg", {"reg", "set", key, "List", "multi_sz", "a;b\xc3\xa4;c"}, 0),
      Row("reg", {"reg", "set", key, "Empty", "multi_sz", ""}, 0),
      Row("reg", {"reg", "set", key, "Raw", "binary", "00FF10"}, 0),
      Row("reg", {"reg", "set", key, "", "sz", "dflt"}, 0),
      Row("reg", {"reg", "set", key + "\\Sub", "x", "dword", "1"}, 0),
      Row("reg", {"reg", "list", "software\\test\\TYPES"}, 0)
          .Out(Exact("Name\tsz\thello world\nPath\texpand_sz\t%HOME%\\x\nCount\tdword\t0x0000002a (42)\n"
                     "Max\tdword\t0xffffffff (4294967295)\nList\tmulti_sz\ta;b\xc3\xa4;c\nEmpty\tmulti_sz\t\n"
                     "Raw\tbinary\t00ff10\n(default)\tsz\tdflt\nSub\\\n")),
      // Numbers decimal or 0x hex, options only before operands, no empty list items.
      Row("reg", {"reg", "set", "Opt", "v", "dword", "010"}, 0),
      Row("reg", {"reg", "set", "Opt", "--help", "sz", "x"}, 0),
      Row("reg", {"reg", "set", "Opt", "w", "sz", "--help"}, 0),
      Row("reg", {"reg", "set", "--", "-dash", "v", "sz", "-x"}, 0),
      Row("reg", {"reg", "set", "Opt", "m", "multi_sz", "a;;b"}, 2).Err(Has({"empty item"})),
      Row("reg", {"reg", "set", "Opt", "m", "multi_sz", "a;"}, 2),
      Row("reg", {"reg", "list", "Opt"}, 0)
          .Out(Exact("v\tdword\t0x0000000a (10)\n--help\tsz\tx\nw\tsz\t--help\n")),
      Row("reg", {"reg", "query", "--", "-dash", "v"}, 0).Out(Exact("v\tsz\t-x\n")),
      Row("reg", {"reg", "set", "K\\\\L", "v", "sz", "x"}, 1).Err(Has({"malformed"})),
      Row("reg", {"reg", "query", "Missing", "v"}, 1),
      Row("reg", {"reg", "set", "Del\\A\\B", "v", "sz", "x"}, 0),
      Row("reg", {"reg", "delete", "Del\\A", "w"}, 1),
      Row("reg", {"reg", "delete-key", "Del\\A"}, 1).Err(Has({"sub-keys"})),
      Row("reg", {"reg", "delete-key", "--tree", "Del\\A"}, 0),
      Row("reg", {"reg", "list", "Del"}, 0).Out(Exact("")),
      // Written by the tool as the runtime writes its entries: no terminator.
      Row("reg", {"reg", "set", "software\\vesk software\\ORVANTA\\Server", "Port", "sz", "5000"}, 0)
          .After([](const std::string&) {
            const char* port[] = {"Server", "Port", nullptr};
            char buf[16];
            int32_t size = sizeof buf;
            ASSERT_EQ(0, LxGetRegistryEntry(port, buf, size));
            EXPECT_EQ(4, size);
          }),
      Row("reg", {"reg", "query", kEntryKey, "host"}, 0)  // a second, larger buffer
          .Before([](const std::string&) {
            const char* host[] = {"Host", nullptr};
            int32_t unused = 1;
            ASSERT_EQ(0, LxSetRegistryEntry(host, std::string(1000, 'v').c_str(), unused));
          })
          .Out(Exact("host\tsz\t" + std::string(1000, 'v') + "\n")),
      Row("reg", {"reg", "set", server + "\\" + std::string(240, 'k'), "Port", "sz", "1"}, 1)
          .Err(Has({"invalid parameter"})),
      Row("reg", {"reg", "delete", server, "Port"}, 0),
      Row("reg", {"reg", "delete", server, "Port"}, 1).Err(Has({"\\(-1\\)"})),
      Row("reg", {"reg", "set", "SOFTWARE\\Vesk Software\\OrvantaX", "v", "sz", "ab"}, 0),
      Row("reg", {"reg", "query", "SOFTWARE\\Vesk Software\\OrvantaX", "v"}, 0).Out(Exact("v\tsz\tab\n")),

      Row("time", {"time", "--offset", "30"}, 0)
          .Env("TZ=UTC0")
          .Out(Has({"\nlocal time      (3\\d|4\\d|5[0-3]):\\d\\d:\\d\\d\n",
                    "\ntime zone       0 \\(UTC\\+0:00\\)\n",
                    "\nhour offset     30\ntick count      \\d+ ms "})),

      Row("eventlog", {"eventlog", "--file", "$DIR/Application.log"}, 0)
          .Before([](const std::string& dir) {
            setenv("ORVANTA_EVENTLOG", ("file:" + dir + "/Application.log").c_str(), 1);
            LxSystemLog()->Printf(2, "second");
            LxSystemLog()->Printf(10, "third");
          })
          .Out(Match("[^\n]*  information  0x40000002  second\n"
                     "[^\n]*  0xC000000A  third \\(Orvanta 9\\.5\\.23\\.262\\.0\\)\n(    [^\n]*\n)*    "
                     "Aborted\\.\n")),
      Row("eventlog", {"eventlog", "-n", "1"}, 0)
          .Out(Match("[^\n]*  Orvanta Runtime System  [^\n]*  third [^\n]*\n(    [^\n]*\n)*")),
      // Control characters from the file reach a terminal as escapes only.
      Row("eventlog", {"eventlog", "--file", "$DIR/colour.log"}, 0)
          .Before(Write("colour.log", aLine + "\n"))
          .Terminal()
          .Out(Match("[^\n]*  S  error  0x00000001  red \\\\x1b\\[31m bell \\\\x07\n")),
      Row("eventlog", {"eventlog", "--file", "$DIR"}, 1).Err(Has({"cannot read .*: Is a directory"})),
      // A line nested too deep for any recursion is reported, and reading goes on.
      Row("eventlog", {"eventlog", "--file", "$DIR/deep.log"}, 0)
          .Before(Write("deep.log", "{\"x\":" + std::string(100000, '[') + "\n" + aLine + "\n"))
          .Out(Match("[^\n]*  S  error  0x00000001  red [^\n]*\n"))
          .Err(Match("lxtool: eventlog: .*/deep.log:1 is not an entry\n")),

      Row("error", {"error", "-2002", "0", "5"}, 0)
          .Out(Exact("One of the parameters passed to this function is not valid.\nok\ncount\n")),
      Row("error", {"error", "--prefix", "Open base", "-2002", "0"}, 0)
          .Out(Exact("Open base : -2002 -> One of the parameters passed to this function is not valid.\n"
                     "Open base : ok\n")),
      Row("error", {"error", "--list"}, 0).Out(Exact(CatalogListing())),
      Row("error", {"error", "--list"}, 1)
          .OutputTo("/dev/full")
          .Err(Has({"cannot write the output: No space left"})),

      // Known answers of CRC-32 (zlib's crc32 of the same bytes).
      Row("crc32", {"crc32", "--chain", "$DIR/a", "$DIR/b", "-", "$DIR/big"}, 0)
          .Before([](const std::string& dir) {
            std::string big(3000000, '\0');
            for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
            All({Write("a", "12345"), Write("b", "6789"), Write("big", big)})(dir);
          })
          .Input("123456789")
          .Out(Match(
              "cbf53a1c  .*/a\n9dbabf87  .*/b\ncbf43926  -\n9c8fa6ba  .*/big\n[0-9a-f]{8}  \\(chain\\)\n")),
      Row("crc32", {"crc32", "--chain", "$DIR/a", "$DIR/b"}, 0)
          .Out(Match("[^\n]*\n[^\n]*\ncbf43926  \\(chain\\)\n")),
      Row("crc32", {"crc32", "$DIR/missing"}, 1),

      Row("rle", {"rle", "encode"}, 0)
          .Input(std::string(300, 'A'))
          .Out(Exact(Bytes("040000002c010000ff412d41"))),
      Row("rle", {"rle", "encode", "--raw"}, 0).Input(std::string(300, 'A')).Out(Exact(Bytes("ff412d41"))),
      Row("rle", {"rle", "decode", "--raw"}, 0).Input(Bytes("ff412d41")).Out(Exact(std::string(300, 'A'))),
      Row("rle", {"rle", "len", "--raw"}, 0).Input(Bytes("ff412d41")).Out(Exact("300\n")),
      Row("rle", {"rle", "encode", "$DIR/in", "$DIR/enc"}, 0).Before(Write("in", Mixed())),
      Row("rle", {"rle", "decode", "$DIR/enc", "$DIR/out"}, 0),
      Row("rle", {"crc32", "$DIR/in", "$DIR/out"}, 0).Out(Match("([0-9a-f]{8})  .*/in\n\\1  .*/out\n")),
      Row("rle", {"rle", "len", "$DIR/enc"}, 0).Out(Exact(std::to_string(Mixed().size()) + "\n")),
      Row("rle", {"rle", "decode"}, 1).Input(Bytes("0a00")).Err(Has({"cut short"})),
      // Frames are checked before anything is allocated for them.
      Row("rle", {"rle", "decode"}, 1)
          .Input(Bytes("04000000ff000000ff412d41"))
          .Err(Has({"frame 0 holds 300 bytes, its header says 255"})),
      Row("rle", {"rle", "decode"}, 1)
          .Input(Bytes("0400000000000040ff41ff41"))
          .Capped()
          .Err(Has({"holds 510 bytes"})),
      Row("rle", {"rle", "decode"}, 1)
          .Input(Bytes("0000004000000040ff41ff41"))
          .Capped()
          .Err(Has({"cut short"})),
      Row("rle", {"rle", "encode", "--block", "1073741824", "-", "$DIR/big"}, 0).Input(Mixed()).Capped(),
      // Records whose lengths add up past what an int holds.
      Row("rle", {"rle", "decode", "--raw", "-", "$DIR/huge"}, 1)
          .Input([] { return Repeat("\xff\x41", 8421505); })
          .Err(Has({"decodes to more than 2147483647 bytes"}))
          .After(NoFileNamed("huge")),
      Row("rle", {"rle", "decode", "--raw", "-", "$DIR/wrap"}, 1).Input(Wraps).After(NoFileNamed("wrap")),
      Row("rle", {"rle", "len", "--raw"}, 1).Input(Wraps),

      // Large inputs show progress on a terminal, never on a pipe or with --quiet.
      Row("progress", {"crc32", "$DIR/noise"}, 0)
          .Before([](const std::string& dir) { Write("noise", Noise())(dir); })
          .ErrTerminal()
          .Out(Match("[0-9a-f]{8}  .*/noise\n"))
          .Err(Match(kProgress)),
      Row("progress", {"crc32", "$DIR/noise"}, 0).Err(Exact("")),
      Row("progress", {"rle", "encode", "$DIR/noise", "$DIR/enc"}, 0).ErrTerminal().Err(Match(kProgress)),
      Row("progress", {"rle", "decode", "-q", "$DIR/enc", "$DIR/dec"}, 0).ErrTerminal().Err(Exact("")),

      Row("describe", {"describe", "lx95Xno71"}, 1).Err(Has({"describe: lx95Xno71: "})),
      Row("describe", {"describe", LXB_LONG_TEXTS_MODULE}, 0)
          .Out(Has({"\n  description   L{255}\n  version       1\\.2\\.3\\.4\\.5\n",
                    "\n  extra text 2  L{255}\n$"})),

      Row("info", {"info"}, 0)
          .Out(Has({"\n  version       9\\.5\\.23\\.262\\.0\n", "LxCheckDll\\(0\\) 0 \\(compatible\\)"})),
      Row("info", {"info", "--check", "9.4.23.262.0", "--flags", "0x10000000"}, 1).Out(Has({"incompatible"})),

      Row("perf", {"perf", "collect"}, 1).Err(Has({"not installed"})),
      Row("perf", {"perf", "install"}, 0)
          .Out(Match("installed: counters \\d+ to \\d+, library /.*/lx95Cbs71\\.so\n")),
      Row("perf", {"perf", "collect"}, 0)
          .Before(StartWriter(false))
          .Out(Has({"^Orvanta \\(index 2\\)\n", "\n  Commits/sec +7\n", "\n  Clients +2\n", "\n  Locks +-3\n",
                    "\n  Internal Transactions/sec +0\n", "\n  DeliveredObjects/sec +4000000000\n"})),
      Row("perf", {"perf", "collect", "--format", "prometheus"}, 0)
          .Out(Has({"# TYPE orvanta_transactions gauge\n",
                    "# TYPE orvanta_commits_total counter\norvanta_commits_total 7\n",
                    "# TYPE orvanta_locks gauge\norvanta_locks -3\n", "\norvanta_cs_requests_total 0\n",
                    "# HELP orvanta_commits_total The number of transaction commit requests since the writer "
                    "enabled its statistics\\.\n",
                    "\norvanta_delivered_objects_total 4000000000\n"})),
      // A definition length that wraps a 32-bit sum is refused (here by the library first).
      Row("perf", {"perf", "collect"}, 1)
          .Before(PokeBlock(4, 0xFFFFFFF8))
          .Err(Has({"nothing collected"}))
          .After(PokeBlock(4, 664)),
      // A name planted beside the output is neither followed nor used.
      Row("perf", {"perf", "collect", "--format", "prometheus", "--output", "$DIR/orvanta.prom"}, 0)
          .Before([](const std::string& dir) {
            Write("victim", "keep")(dir);
            ASSERT_EQ(0, symlink((dir + "/victim").c_str(), (dir + "/orvanta.prom.tmp").c_str()));
          })
          .Out(Exact(""))
          .After([](const std::string& dir) {
            EXPECT_EQ("keep", lxtest::ReadFile(dir + "/victim"));
            EXPECT_NE(std::string::npos,
                      lxtest::ReadFile(dir + "/orvanta.prom").find("orvanta_commits_total 7\n"));
          }),
      Row("perf", {"perf", "watch", "--interval", "0.3", "--count", "2"}, 0)
          .Before(All({StopWriter, StartWriter(true)}))
          .Out(Match("-- [^\n]+\n[^-]*  Commits/sec +-\n  Aborts/sec +-\n[\\s\\S]*  Clients +1\n[\\s\\S]*\n\n"
                     "-- [^\n]+\n[^-]*  Commits/sec +[1-9]\\d{2,4}\\.\\d\\d\n  Aborts/sec +0\\.00\n"
                     "[\\s\\S]*  Clients +1\n[\\s\\S]*"))
          .After(StopWriter),
      Row("perf", {"perf", "remove"}, 0).Out(Exact("removed\n")),
      // A store that others could have planted never gets its library loaded.
      Row("perf", {"perf", "install"}, 0)
          .Env("ORVANTA_REGISTRY=$DIR/open/registry.db")
          .Before([](const std::string& dir) {
            ASSERT_EQ(0, mkdir((dir + "/open").c_str(), 0777));
            ASSERT_EQ(0, chmod((dir + "/open").c_str(), 0777));
          }),
      Row("perf", {"perf", "collect"}, 1)
          .Env("ORVANTA_REGISTRY=$DIR/open/registry.db")
          .Err(Has({"not loading .*lx95Cbs71\\.so: .*/open"})),
      Row("perf", {"perf", "remove"}, 1),

      Row("serve", {"perf", "install"}, 0),
      Row("serve", {"perf", "collect", "--format", "prometheus", "--output", "$DIR/collect.prom"}, 0)
          .Before(All({StartWriter(false), StartServer}))
          .After(SameAsCollect),
      Row("serve", {"perf", "serve", "--listen", "$ADDR"}, 1)
          .Err(Has({"cannot listen on 127\\.0\\.0\\.1:\\d+"}))
          .After(All(
              {Fetch(
                   "", "/api/counters", 200,
                   "^\\{\"time\":\\d+,\"interval\":0\\.2,\"up\":1,\"counters\":\\[\\{\"object\":\"Orvanta\","
                   "\"name\":\"Transactions\",\"help\":\"The number of currently registered "
                   "transactions\\.\","
                   "\"metric\":\"orvanta_transactions\",\"type\":\"raw\",\"value\":0,\"rate\":null\\},"
                   "\\{[^}]*\"name\":\"Commits/sec\",[^}]*\"type\":\"rate\",\"value\":7,\"rate\":0\\.000\\}"),
               Fetch("", "/metrics/", 404, "not found"), Fetch("-X POST -d x", "/metrics", 405),
               Fetch("--request-target '/a b'", "/", 400), Page("0")})),
      Row("serve", {"perf", "collect"}, 0)
          .Before(All({StopWriter, Fetch("", "/metrics", 200, "\norvanta_up 0\n"), StartWriter(true)}))
          .After(All({Page("[1-9][0-9.]*"), StopServer})),
  };
  // Usage errors; the refused sets wrote nothing.
  const std::string usageErrors =
      "reg frobnicate, reg delete-key K L, perf, perf frobnicate, perf watch --count 0, perf watch "
      "--interval x, perf collect --format xml, perf install --format prometheus, perf serve --listen "
      "127.0.0.1:65536, perf serve --listen ::1:80, perf serve --format text, rle squeeze, rle encode "
      "--block 0, crc32 -q, describe, completion bash, error, error 12x, error 4294967296, error "
      "--prefix, error --list 5, time --offset x, info --flags 3, info --check 9.5, reg set K v qword "
      "1, reg set K v dword 4294967296, reg set K v dword 12z, reg set K v binary "
      "abc, reg set K v binary zz";
  for (const std::string& line : Words(usageErrors, ',')) rows.push_back(Row("usage", Words(line, ' '), 2));
  rows.push_back(Row("usage", {"reg", "list", "K"}, 1));
  return rows;
}

class LxtoolTable : public lxtest::StatsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LxtoolTable, Runs) {
  const std::string group = GetParam();
  const std::string dir = lxtest::MakeTempDir("lxtool"), io = lxtest::MakeTempDir("io");
  ASSERT_FALSE(dir.empty() || io.empty());
  int rows = 0;
  for (const Row& row : Table()) {
    if (row.group != group) continue;
    ++rows;
    std::string line = "lxtool";
    for (const std::string& a : row.args) line += " " + Replace(a, dir);
    SCOPED_TRACE(line.substr(0, 200));
    if (row.before) row.before(dir);
    const Ran run = RunLxtool(row, dir, io);
    EXPECT_EQ(row.code, run.code) << run.err;
    if (row.out) row.out(run.out, "standard output");
    if (row.err) row.err(run.err, "standard error");
    EXPECT_TRUE(run.code != 2 || run.out.empty()) << run.out;
    if (run.code != 0)
      Match(run.code == 2 ? "lxtool: [^\n]+\n" : "(lxtool: [^\n]+\n)+")(run.err, "standard error");
    if (row.after) row.after(dir);
    if (HasFatalFailure()) break;
  }
  EXPECT_GT(rows, 0) << "no row of group " << group;
  g_writer.reset();
  g_server.reset();
  g_address.clear();
}

INSTANTIATE_TEST_SUITE_P(Lxtool, LxtoolTable,
                         ::testing::Values("usage", "reg", "time", "eventlog", "error", "crc32", "rle",
                                           "progress", "describe", "info", "perf", "serve"));

}  // namespace
