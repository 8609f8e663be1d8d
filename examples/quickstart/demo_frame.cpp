// Configuration, assertions, memory resizing, system log and message.
#include <lxbasics.h>

#include <cstdio>

#include "demo.h"

static int FrameDemo() {
  std::printf("configuration installed: %s\n", DefaultConfig(LX_QUERY_CONFIG) ? "yes" : "no");
  return 0;
}

QUICKSTART_DEMO(frame, 10, "Runtime frame", FrameDemo);
