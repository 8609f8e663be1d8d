#include "perf_serve.h"

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "command.h"
#include "os/filelock.h"
#include "os/stop_signal.h"
#include "os/syscall.h"
#include "perf_monitor.h"

namespace lxtool {

extern const char kPerfPage[];  // perf_page.html, built in

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxBody = 64 * 1024;  // of a request; none of ours has one

// Whether a writer runs: the block is mapped and someone holds the writer lock.
bool WriterRunning(const std::vector<ObjectSample>& objects) {
  bool held = false;
  return !objects.empty() && lxos::FileLockHeld(WriterLockFile(), &held) == 0 && held;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The provider, and the samples of the sampling thread. Samples are taken by
// one thread at a time (the provider is not thread-safe).
class Sampler {
 public:
  explicit Sampler(double interval) : interval_(interval) {}
  Sampler(const Sampler&) = delete;
  Sampler& operator=(const Sampler&) = delete;

  // Loads the provider and the counters' names. Returns 0, or prints why not
  // and returns 1.
  int Load() {
    if (provider_.Load() != 0) return 1;
    titles_.Read();
    return 0;
  }

  const Titles& titles() const { return titles_; }

  // Takes a sample now. An empty sample (no block mapped: no one had made it
  // when the provider opened) has the provider open again, so that a block made
  // since is found. Returns false after a failed collection, said on standard
  // error.
  bool Take(std::vector<ObjectSample>* objects) {
    std::lock_guard<std::mutex> hold(providerMutex_);
    if (provider_.Sample(objects) != 0) return false;
    if (!objects->empty()) return true;
    provider_.Reopen();
    return provider_.Sample(objects) == 0;
  }

  // Samples every interval until Stop.
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      lock.unlock();
      std::vector<ObjectSample> objects;
      const bool ok = Take(&objects);
      const bool up = WriterRunning(objects);
      const Clock::time_point when = Clock::now();
      lock.lock();
      before_.swap(latest_);
      beforeAt_ = latestAt_;
      latest_ = ok ? std::move(objects) : std::vector<ObjectSample>();
      latestAt_ = when;
      latestTime_ = std::chrono::system_clock::now();
      up_ = up;
      wake_.wait_for(lock, std::chrono::duration<double>(interval_), [this] { return stop_; });
    }
  }

  void Stop() {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
    wake_.notify_all();
  }

  // The latest sample as /api/counters gives it (perf_serve.h).
  std::string Json() {
    std::lock_guard<std::mutex> hold(mutex_);
    const double seconds = std::chrono::duration<double>(latestAt_ - beforeAt_).count();
    const std::vector<std::string> metrics = MetricNames(latest_, titles_);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(latestTime_.time_since_epoch()).count();
    std::string out = "{\"time\":" + std::to_string(ms) + ",\"interval\":" + Number("%g", interval_) +
                      ",\"up\":" + (up_ ? "1" : "0") + ",\"counters\":[";
    size_t i = 0;
    for (size_t o = 0; o < latest_.size(); ++o) {
      const ObjectSample& obj = latest_[o];
      for (size_t k = 0; k < obj.counters.size(); ++k) {
        const CounterSample& c = obj.counters[k];
        const bool rate = IsRate(c.type);
        std::string perSecond = "null";
        if (rate && seconds > 0 && o < before_.size() && k < before_[o].counters.size()) {
          perSecond = Number("%.3f", static_cast<double>(Increase(c, before_[o].counters[k])) / seconds);
        }
        out += std::string(i == 0 ? "" : ",") + "{\"object\":" + JsonString(titles_.Name(obj.nameIndex)) +
               ",\"name\":" + JsonString(titles_.Name(c.nameIndex)) +
               ",\"help\":" + JsonString(titles_.Help(c.helpIndex)) +
               ",\"metric\":" + JsonString(metrics[i]) + ",\"type\":" + (rate ? "\"rate\"" : "\"raw\"") +
               ",\"value\":" + (rate ? std::to_string(c.value) : std::to_string(RawValue(c))) +
               ",\"rate\":" + perSecond + "}";
        ++i;
      }
    }
    return out + "]}\n";
  }

 private:
  const double interval_;
  std::mutex providerMutex_;
  Provider provider_;
  Titles titles_;

  std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  bool stop_ = false;
  bool up_ = false;
  std::vector<ObjectSample> latest_, before_;
  Clock::time_point latestAt_, beforeAt_;
  std::chrono::system_clock::time_point latestTime_;
};

// /metrics: a sample of its own, and what the scrape found and cost.
std::string Metrics(Sampler* sampler) {
  const Clock::time_point start = Clock::now();
  std::vector<ObjectSample> objects;
  std::string out;
  if (sampler->Take(&objects)) out = Prometheus(objects, sampler->titles());
  const bool up = WriterRunning(objects);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return out +
         "# HELP orvanta_up Whether a writer of the statistics runs: 1 while a process holds the writer "
         "lock, 0 without a writer or a statistics block.\n"
         "# TYPE orvanta_up gauge\n"
         "orvanta_up " +
         (up ? "1" : "0") +
         "\n# HELP orvanta_scrape_duration_seconds How long collecting this sample took.\n"
         "# TYPE orvanta_scrape_duration_seconds gauge\n"
         "orvanta_scrape_duration_seconds " +
         Number("%.6f", seconds) + "\n";
}

bool IsOurPath(const std::string& path) {
  return path == "/" || path == "/metrics" || path == "/api/counters";
}

// The answer to a method other than GET and HEAD.
void Refuse(const httplib::Request& req, httplib::Response& res) {
  if (IsOurPath(req.path)) {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
  } else {
    res.status = 404;
  }
}

const char* StatusText(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 404:
      return "not found";
    case 405:
      return "method not allowed";
    case 413:
      return "request too large";
    case 414:
      return "URI too long";
    default:
      return status >= 500 ? "server error" : "refused";
  }
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size() || text.size() - colon > 6) return false;
  std::string name = text.substr(0, colon);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  } else if (name.find_first_of("[]:") != std::string::npos) {
    return false;
  }
  if (name.empty()) return false;
  long number = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    number = number * 10 + (text[i] - '0');
  }
  if (number > 65535) return false;
  *host = name;
  *port = static_cast<int>(number);
  return true;
}

int Serve(const ServeOptions& options) {
  // Before any thread starts, so that every thread leaves the signals to WaitStopSignal.
  if (int32_t rc = lxos::BlockStopSignals())
    return Fail("cannot block SIGINT and SIGTERM: %s", std::strerror(rc));
  Sampler sampler(options.interval);
  if (sampler.Load() != 0) return kExitFailed;

  httplib::Server server;
  // Without SO_REUSEPORT, which the library would set: a second server on the
  // same port is refused instead of sharing the requests.
  server.set_socket_options([](int fd) {
    const int yes = 1;
    lxos::sys::SetSockOpt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_payload_max_length(kMaxBody);
  server.set_keep_alive_timeout(2);  // an idle connection holds up a stop this long at most
  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                   "connect-src 'self'");
    res.set_content(kPerfPage, "text/html; charset=utf-8");
  });
  server.Get("/metrics", [&sampler](const httplib::Request&, httplib::Response& res) {
    res.set_content(Metrics(&sampler), "text/plain; version=0.0.4; charset=utf-8");
  });
  server.Get("/api/counters", [&sampler](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(sampler.Json(), "application/json");
  });
  server.Post(".*", Refuse);
  server.Put(".*", Refuse);
  server.Patch(".*", Refuse);
  server.Delete(".*", Refuse);
  server.Options(".*", Refuse);
  // The methods without handlers of their own (TRACE, CONNECT), before routing.
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    static const char* const kRouted[] = {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"};
    for (const char* method : kRouted) {
      if (req.method == method) return httplib::Server::HandlerResponse::Unhandled;
    }
    Refuse(req, res);
    return httplib::Server::HandlerResponse::Handled;
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) res.set_content(std::string(StatusText(res.status)) + "\n", "text/plain");
  });

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.host);
  } else if (!server.bind_to_port(options.host, port)) {
    port = -1;
  }
  if (port < 0) {
    return Fail("cannot listen on %s:%d: the port is taken, or the address is not this machine's",
                options.host.c_str(), options.port);
  }
  const bool v6 = options.host.find(':') != std::string::npos;
  std::printf("listening on http://%s%s%s:%d/\n", v6 ? "[" : "", options.host.c_str(), v6 ? "]" : "", port);
  std::fflush(stdout);

  std::atomic<bool> stopping(false), failed(false);
  std::thread sampling([&sampler] { sampler.Run(); });
  std::thread serving([&] {
    server.listen_after_bind();
    if (!stopping) {  // it ended by itself
      failed = true;
      lxos::RequestStop();
    }
  });
  lxos::WaitStopSignal();
  stopping = true;
  server.stop();
  serving.join();
  sampler.Stop();
  sampling.join();
  return failed ? Fail("the server stopped accepting connections") : kExitOk;
}

}  // namespace lxtool
