// UTF-8 and UTF-16 text: the one module that decodes and encodes both forms, for
// the library and for lxtool. It stands in for the conversions between the code
// page and wide characters that the original platform offered.
//
// Wide text is char16_t UTF-16, as the registry values of the performance
// counters keep it; in bytes it is UTF-16LE. The conversions never fail: every
// byte that does not start a well-formed UTF-8 sequence, and every unpaired
// surrogate, becomes U+FFFD.
//
// Utf16FromBytes is used by lxtool only; it is built into the internal library
// (lxbasics_internal), not into the shared object.
#pragma once

#include <cstddef>
#include <string>

namespace lxos {

constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes the UTF-8 sequence at `p` (`left` > 0 bytes there) into *c and returns
// its length, 1 to 4. Returns 0, leaving *c alone, when the bytes are not one
// well-formed sequence: a stray or missing continuation byte, an overlong form, a
// surrogate or a value above 0x10FFFF.
size_t DecodeUtf8(const char* p, size_t left, char32_t* c);

// Appends the UTF-8 form of `c` <= 0x10FFFF, as given: a surrogate is encoded
// like any other value (callers that must not write one replace it first).
void AppendUtf8(std::string* out, char32_t c);

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const char16_t* text, size_t length);
std::string Utf16ToUtf8(const std::u16string& text);

// The number of units before the terminating zero unit of `text`.
size_t WideLength(const char16_t* text);

// Appends the UTF-16LE bytes of `length` units of `text` to `out`.
void AppendUtf16Bytes(std::string* out, const char16_t* text, size_t length);

// The units of UTF-16LE `bytes`; a trailing odd byte is dropped.
std::u16string Utf16FromBytes(const std::string& bytes);

}  // namespace lxos
