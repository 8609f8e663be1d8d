// LxOutStreamFILE: the typed output stream over a C stream.
#include <cstdint>
#include <cstdio>

#include "lxmessages.h"

LxOutStreamStub::~LxOutStreamStub() = default;

LxOutStreamStub& endl(LxOutStreamStub& stream) { return stream.newLine(); }

LxOutStreamStub& flush(LxOutStreamStub& stream) { return stream.flushStream(); }

LxOutStreamFILE::LxOutStreamFILE(FILE* stream) : stream(stream) {}

LxOutStreamFILE::~LxOutStreamFILE() { stream = nullptr; }

LxOutStreamStub& LxOutStreamFILE::operator<<(const void* address) {
  std::fprintf(stream, "0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(char value) {
  std::fprintf(stream, "%c", value);
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(double value) {
  std::fprintf(stream, "%lf", value);
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(float value) {
  std::fprintf(stream, "%f", static_cast<double>(value));
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(unsigned long value) {
  std::fprintf(stream, "%lu", value);
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(unsigned short value) {
  std::fprintf(stream, "%u", static_cast<unsigned>(value));
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(unsigned int value) {
  std::fprintf(stream, "%u", value);
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(long value) {
  std::fprintf(stream, "%ld", value);
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(short value) {
  std::fprintf(stream, "%d", static_cast<int>(value));
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(int value) {
  std::fprintf(stream, "%d", value);
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::operator<<(const char* text) {
  // The C runtime prints a null string as "(null)"; say so rather than rely on it.
  std::fprintf(stream, "%s", text != nullptr ? text : "(null)");
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::newLine() {
  std::fputs("\n", stream);
  return *this;
}

LxOutStreamStub& LxOutStreamFILE::flushStream() {
  std::fflush(stream);
  return *this;
}
