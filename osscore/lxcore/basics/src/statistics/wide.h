// Wide-character (UTF-16) text as the performance-counter registry values keep
// it. The conversions live in util/utf.h, shared with lxtool; these names are
// kept for the statistics code and lxtool's perf command.
#pragma once

#include "util/utf.h"

namespace lxstats {

using lxutil::AppendUtf16Bytes;
using lxutil::Utf16FromBytes;
using lxutil::Utf16ToUtf8;
using lxutil::Utf8ToUtf16;
using lxutil::WideLength;

}  // namespace lxstats
