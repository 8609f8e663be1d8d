// Reads back what the system log wrote, independently of the library's own code:
// the JSON lines of the file target, and the datagrams of a syslog socket that
// the test binds itself. Also a scoped environment variable for the tests.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace syslogtest {

// One entry of the file: string members in `text`, numbers in `number`, and the
// insertion strings.
struct Entry {
  std::map<std::string, std::string> text;
  std::map<std::string, unsigned long long> number;
  std::vector<std::string> strings;
};

class JsonLine {
 public:
  explicit JsonLine(const std::string& s) : s_(s) {}

  bool Parse(Entry* e) {
    if (!Eat('{')) return false;
    do {
      std::string key;
      if (!Str(&key) || !Eat(':')) return false;
      Blanks();
      if (i_ < s_.size() && s_[i_] == '"') {
        if (!Str(&e->text[key])) return false;
      } else if (i_ < s_.size() && s_[i_] == '[') {
        ++i_;
        do {
          std::string item;
          if (!Str(&item)) return false;
          e->strings.push_back(item);
        } while (Eat(','));
        if (!Eat(']')) return false;
      } else {
        char* end = nullptr;
        unsigned long long v = std::strtoull(s_.c_str() + i_, &end, 10);
        if (end == s_.c_str() + i_) return false;
        i_ = static_cast<size_t>(end - s_.c_str());
        e->number[key] = v;
      }
    } while (Eat(','));
    return Eat('}') && (Blanks(), i_ == s_.size());
  }

 private:
  void Blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n')) ++i_;
  }
  bool Eat(char c) {
    Blanks();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool Str(std::string* out) {
    if (!Eat('"')) return false;
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c == '"') return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      c = s_[i_++];
      if (c == 'n') {
        *out += '\n';
      } else if (c == 'r') {
        *out += '\r';
      } else if (c == 't') {
        *out += '\t';
      } else if (c == 'u') {
        if (i_ + 4 > s_.size()) return false;
        unsigned long v = std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16);
        if (v > 0xFF) return false;  // the writer escapes single bytes only
        *out += static_cast<char>(v);
        i_ += 4;
      } else {
        *out += c;
      }
    }
    return false;
  }

  const std::string& s_;
  size_t i_ = 0;
};

// All entries of the file at `path`; a line that does not parse fails the call.
inline bool ReadEntries(const std::string& content, std::vector<Entry>* out) {
  out->clear();
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) return false;  // every line ends with '\n'
    Entry e;
    std::string line = content.substr(start, end - start);
    if (!JsonLine(line).Parse(&e)) return false;
    out->push_back(e);
    start = end + 1;
  }
  return true;
}

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// A Unix datagram socket bound at `path`, standing in for the log daemon.
class DatagramSink {
 public:
  explicit DatagramSink(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~DatagramSink() {
    if (fd_ >= 0) close(fd_);
    unlink(path_.c_str());
  }
  DatagramSink(const DatagramSink&) = delete;
  DatagramSink& operator=(const DatagramSink&) = delete;

  bool ok() const { return fd_ >= 0; }
  // The next datagram, or "" when none is waiting.
  std::string Receive() {
    char buf[65536];
    ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace syslogtest
