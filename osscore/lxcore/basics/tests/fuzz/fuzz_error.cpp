// LxError and LxLoginError with any code and prefix (a previous result among them), into
// their static buffer or a heap block; a module callback answers -40000 .. -50000. Nothing
// past the terminator changes, a text-only call writes nothing, a result is exactly
// "prefix : code -> text" (or its code 0 forms) or fills the buffer. Input: byte 0 the
// function and buffer, bytes 1..4 the code, the rest the prefix.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "lxframe.h"
#include "lxmessages.h"

namespace {

constexpr size_t kBuf = LX_ERROR_BUFFER_SIZE;
char g_moduleText[700];
// Set while the prefix lies in LxError's static buffer, which a callback must not rewrite.
bool g_prefixInStaticBuffer = false;

// Null, LxError's static buffer, or up to 600 bytes of 'm'.
char* ModuleText(int code) {
  const int n = -code;
  if (n % 11 == 0) return nullptr;
  if (n % 7 == 3 && !g_prefixInStaticBuffer) return const_cast<char*>(LxError(nullptr, nullptr, -2002, 0));
  const size_t length = static_cast<size_t>(n % 601);
  std::memset(g_moduleText, 'm', length);
  g_moduleText[length] = '\0';
  return g_moduleText;
}

std::string Format(bool login, const char* prefix, int code, const std::string& text) {
  if (prefix == nullptr) return code == 0 && !login ? std::string("0") : text;
  if (code == 0 && !login) return std::string(prefix) + " : ok";
  return std::string(prefix) + " : " + std::to_string(code) + " -> " + text;
}

const char* Call(bool login, char* buffer, const char* prefix, int code, int textOnly) {
  return login ? LxLoginError(buffer, prefix, code, textOnly) : LxError(buffer, prefix, code, textOnly);
}

void CheckOne(bool login, char* buffer, const char* prefix, int code) {
  // The expected text, taken before the buffers change.
  const std::string prefixCopy = prefix != nullptr ? std::string(prefix) : std::string();
  const std::string text = Call(login, nullptr, nullptr, code, 1);
  const std::string expected = Format(login, prefix != nullptr ? prefixCopy.c_str() : nullptr, code, text);

  std::string before;
  if (buffer != nullptr) before.assign(buffer, kBuf);
  const char* textOnly = Call(login, buffer, prefix, code, 1);
  FUZZ_CHECK(textOnly != nullptr && text == textOnly);
  if (buffer != nullptr) FUZZ_CHECK(std::memcmp(before.data(), buffer, kBuf) == 0);

  const char* result = Call(login, buffer, prefix, code, 0);
  FUZZ_CHECK(result != nullptr);
  if (buffer != nullptr) FUZZ_CHECK(result == buffer);
  const size_t length = strnlen(result, kBuf);
  FUZZ_CHECK(length < kBuf);
  if (buffer != nullptr)  // nothing written past the terminator
    FUZZ_CHECK(std::memcmp(buffer + length + 1, before.data() + length + 1, kBuf - length - 1) == 0);
  if (expected.size() < kBuf) {
    FUZZ_CHECK(expected == result);
  } else {
    // Cut, but only as far as the buffer demands.
    FUZZ_CHECK(length == kBuf - 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LxModuleErrorCallbackList::GetInstance().SetModuleErrorCallback(ModuleText, -40000, -50000);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lxfuzz::Input in(data, size);
  const uint8_t how = in.Byte();
  const bool login = (how & 1) != 0;
  const bool ownBuffer = (how & 2) != 0;
  // 0: the prefix from the input; 1: no prefix; 2: the previous result as prefix.
  const int prefixKind = (how >> 2) % 3;
  int code = static_cast<int>(in.U32());
  if (how & 0x20) code = -static_cast<int>(code & 0xFFFF);  // the catalog's range and the module's
  const std::string prefix = in.Rest();

  char* buffer = ownBuffer ? new char[kBuf] : nullptr;
  if (buffer != nullptr) std::memset(buffer, 'x', kBuf);
  const char* prefixArg = nullptr;
  if (prefixKind == 0) prefixArg = prefix.c_str();
  if (prefixKind == 2) {
    // Fill the destination first, then hand its text back as the prefix.
    prefixArg = Call(login, buffer, prefix.c_str(), code / 2, 0);
    g_prefixInStaticBuffer = buffer == nullptr;
  }
  CheckOne(login, buffer, prefixArg, code);
  g_prefixInStaticBuffer = false;
  delete[] buffer;
  return 0;
}
