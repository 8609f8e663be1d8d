// A straightforward reference of the run-length block format for the tests: the
// encoder is the greedy byte-at-a-time pass with its pending stretch, the
// decoder a plain record walk. Both work on whole vectors and ignore rooms.
#pragma once

#include <cstdint>
#include <vector>

namespace lxt {

using Bytes = std::vector<unsigned char>;

inline Bytes ReferenceEncode(const Bytes& in) {
  Bytes out;
  auto literal = [&](size_t from, int length) {
    out.push_back(0);
    out.push_back(static_cast<unsigned char>(length));
    out.insert(out.end(), in.begin() + static_cast<long>(from),
               in.begin() + static_cast<long>(from) + length);
  };
  auto run = [&](int count, unsigned char value) {
    out.push_back(static_cast<unsigned char>(count));
    out.push_back(value);
  };
  size_t start = 0;  // pending stretch: j bytes from start, the last r equal to v
  int j = 1, r = 1;
  unsigned char v = in[0];
  for (size_t k = 1; k < in.size(); ++k) {
    const unsigned char b = in[k];
    if (b == v) {
      ++j;
      ++r;
      if (j > r && (r >= 3 || j == 256)) {
        literal(start, j - r);
        start += static_cast<size_t>(j - r);
        j = r;
      } else if (j == r && r == 256) {
        run(255, v);
        start += 255;
        j = r = 1;
      }
    } else if (r >= 3) {
      run(r, v);
      start += static_cast<size_t>(j);
      j = r = 1;
      v = b;
    } else {
      ++j;
      if (j == 256) {
        literal(start, 255);
        start += 255;
        j = 1;
      }
      v = b;
      r = 1;
    }
  }
  if (j > r) {
    literal(start, j);
  } else {
    run(j, v);
  }
  return out;
}

inline Bytes ReferenceDecode(const Bytes& in) {
  Bytes out;
  size_t i = 0;
  while (i + 1 < in.size()) {
    if (in[i] != 0) {
      out.insert(out.end(), in[i], in[i + 1]);
      i += 2;
    } else {
      const size_t length = in[i + 1];
      if (i + 2 + length > in.size()) break;
      out.insert(out.end(), in.begin() + static_cast<long>(i + 2),
                 in.begin() + static_cast<long>(i + 2 + length));
      i += 2 + length;
    }
  }
  return out;
}

}  // namespace lxt
