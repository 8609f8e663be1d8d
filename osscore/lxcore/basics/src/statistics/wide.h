// Wide-character (UTF-16) text as the performance-counter registry values keep
// it: conversion from and to UTF-8, and the little-endian bytes of the values.
// Invalid UTF-8 bytes and unpaired surrogates become U+FFFD.
#pragma once

#include <cstddef>
#include <string>

namespace lxstats {

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const char16_t* text, size_t length);
std::string Utf16ToUtf8(const std::u16string& text);

// Length of a terminated wide string.
size_t WideLength(const char16_t* text);

// Appends the UTF-16LE bytes of `length` units of `text` to `out`.
void AppendUtf16Bytes(std::string* out, const char16_t* text, size_t length);

// The units of UTF-16LE bytes (a trailing odd byte is dropped).
std::u16string Utf16FromBytes(const std::string& bytes);

}  // namespace lxstats
