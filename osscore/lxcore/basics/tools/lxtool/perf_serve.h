// lxtool perf serve: the runtime's counters over HTTP, for a Prometheus server
// and for a browser. One thread samples the counters every interval (for the
// rates of the page and of /api/counters); a scrape of /metrics takes a sample
// of its own. Both go through the provider library as perf collect does
// (perf_monitor.h), so the server maps the statistics block as any monitor
// does and never takes the writer lock.
//
//   GET /              the page that plots every counter (perf_page.html)
//   GET /metrics       the Prometheus text format: what perf collect --format
//                      prometheus prints, then orvanta_up (1 while a writer
//                      holds the writer lock, 0 without a block or a writer) and
//                      orvanta_scrape_duration_seconds
//   GET /api/counters  the latest sample of the sampling thread as JSON:
//                      {"time": ms since 1970, "interval": s, "up": 0|1,
//                       "counters": [{"object", "name", "help", "metric",
//                       "type": "rate"|"raw", "value", "rate"}]}, where "rate"
//                      is the increase per second since the sample before
//                      (null for raw counts and before the second sample)
//
// HEAD works wherever GET does; other methods get 405 on these paths, any
// method 404 elsewhere; requests that do not parse get 400.
#pragma once

#include <string>

namespace lxtool {

struct ServeOptions {
  std::string host = "127.0.0.1";  // an address or host name to listen on
  int port = 9477;                 // 0: a free port that the system picks
  double interval = 1.0;           // seconds between two samples of the sampling thread
};

// Splits "ADDR:PORT" (an IPv6 address in brackets: "[::1]:9477") into *host
// and *port. Returns false, leaving both alone, unless ADDR is not empty and
// PORT is a decimal number from 0 to 65535.
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

// Serves until SIGINT or SIGTERM, after printing "listening on URL" on standard
// output. Returns kExitOk after the signal; kExitFailed, after saying why, when
// the counters cannot be loaded or the address cannot be listened on.
int Serve(const ServeOptions& options);

}  // namespace lxtool
