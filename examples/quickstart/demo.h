// A step of the quick start. Steps run in ascending `order`; a step returns 0 when
// everything it showed behaved as expected, non-zero otherwise.
#pragma once

namespace quickstart {

struct Demo {
  int order;
  const char* title;
  int (*run)();
};

bool Register(const Demo& demo);

}  // namespace quickstart

#define QUICKSTART_DEMO(ident, order, title, func) \
  static const bool quickstart_registered_##ident = ::quickstart::Register({order, title, func})
