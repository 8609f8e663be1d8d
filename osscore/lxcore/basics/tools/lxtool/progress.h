// The progress line of lxtool's long work: one line on standard error that says
// how many bytes of an input are done, at what rate, and how long the rest will
// take, redrawn in place ("\r", then erase to the end of the line) and erased
// when the work ends, so that nothing of it stays on the screen.
//
// It is shown only when standard error is a terminal, the command was not given
// --quiet, and the input is large: known to be at least kLargeInput bytes, or of
// unknown size (a pipe) once that much has been read. A message of Fail or
// UsageError erases the line first (EraseProgressLine), so it starts a line of
// its own. One line at a time; not thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace lxtool {

constexpr uint64_t kLargeInput = 16u << 20;

class Progress {
 public:
  // Starts counting the input `label` of `total` bytes (0: size unknown). Shows
  // nothing yet.
  Progress(std::string label, uint64_t total, bool quiet);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // Erases the line if it is shown.
  ~Progress();

  // Counts `bytes` more done; draws the line at the first count that makes the
  // input large, then at most five times a second.
  void Add(uint64_t bytes);

 private:
  void Draw();

  std::string label_;
  uint64_t total_;
  uint64_t done_ = 0;
  bool enabled_;
  std::chrono::steady_clock::time_point start_, drawn_;
};

// Erases the progress line on the screen, if one is shown.
void EraseProgressLine();

}  // namespace lxtool
