#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "os/syscall.h"

namespace lxtool {

namespace {

bool g_shown = false;  // a progress line is on the screen

constexpr auto kRedraw = std::chrono::milliseconds(200);

// "0:07", "1:02:03".
std::string FormatDuration(double seconds) {
  const unsigned long long s = static_cast<unsigned long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", s / 60, s % 60);
  }
  return text;
}

// "12.0 MiB", "512 B": a byte count for people, in binary units.
std::string FormatBytes(double bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
  }
  int unit = 0;
  bytes /= 1024;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  return text;
}

}  // namespace

void EraseProgressLine() {
  if (!g_shown) return;
  std::fputs("\r\x1b[K", stderr);
  g_shown = false;
}

Progress::Progress(std::string label, uint64_t total, bool quiet)
    : label_(std::move(label)),
      total_(total),
      enabled_(!quiet && lxos::sys::IsATty(STDERR_FILENO) == 1 && (total == 0 || total >= kLargeInput)),
      start_(std::chrono::steady_clock::now()) {
  if (label_.size() > 32) label_ = "..." + label_.substr(label_.size() - 29);
}

Progress::~Progress() { EraseProgressLine(); }

void Progress::Add(uint64_t bytes) {
  done_ += bytes;
  if (!enabled_ || (total_ == 0 && done_ < kLargeInput)) return;
  const auto now = std::chrono::steady_clock::now();
  if (g_shown && now - drawn_ < kRedraw) return;
  drawn_ = now;
  Draw();
}

void Progress::Draw() {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
  std::string line = "\r" + label_ + "  " + FormatBytes(static_cast<double>(done_));
  if (total_ != 0) {
    line += " of " + FormatBytes(static_cast<double>(total_)) + "  " +
            std::to_string(done_ * 100 / (total_ > done_ ? total_ : done_)) + "%";
  }
  if (rate > 0) {
    line += "  " + FormatBytes(rate) + "/s";
    if (total_ > done_) line += "  " + FormatDuration(static_cast<double>(total_ - done_) / rate) + " left";
  }
  line += "\x1b[K";
  std::fputs(line.c_str(), stderr);
  g_shown = true;
}

}  // namespace lxtool
