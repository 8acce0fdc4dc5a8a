#pragma once

#include <cstddef>
#include <string>

namespace quorix::platform {

// Text conversion between UTF-16 (the W functions of the API) and the character set of the
// calling thread's locale, which stands in for the ANSI code page of the camera stack.

// A converted name, terminator included, must fit in this many bytes.
constexpr size_t kMaxAnsiBytes = 1023;

// Converts zero-terminated UTF-16 into the locale's character set. False on null text, invalid
// UTF-16 (unpaired surrogates), characters the character set cannot represent, or when the
// result plus its terminator needs more than `maxBytes` bytes; `out` is left unchanged then.
bool WideToAnsi(const char16_t* text, std::string& out, size_t maxBytes = kMaxAnsiBytes);

// Converts a zero-terminated UTF-16 file name into the bytes the file system takes: UTF-8, the
// encoding of Linux file names, whatever the locale (a program that never called setlocale runs
// in the C locale, whose ASCII would refuse every other character). Surrogate pairs become one
// character. False on null text, an unpaired surrogate, or when the result plus its terminator
// needs more than `maxBytes` bytes; `out` is left unchanged then.
bool WideToFileName(const char16_t* text, std::string& out, size_t maxBytes = kMaxAnsiBytes);

// Converts zero-terminated text in the locale's character set into UTF-16. False on null or
// invalid text, or when the result plus its terminator needs more than `maxUnits` UTF-16 units;
// `out` is left unchanged then.
bool AnsiToWide(const char* text, std::u16string& out, size_t maxUnits);

}  // namespace quorix::platform
