// The one console output operation: a printf-style narrow format with "%s"
// (narrow), "%S" (wide) and "%d" (signed 32-bit) conversions.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

struct PrintArg {
  enum Kind { kNarrow, kWide, kNumber };
  PrintArg(const char* text) : kind(kNarrow), narrow(text) {}
  PrintArg(const char16_t* text) : kind(kWide), wide(text) {}
  PrintArg(int32_t value) : kind(kNumber), number(value) {}

  Kind kind;
  const char* narrow = nullptr;
  const char16_t* wide = nullptr;
  int32_t number = 0;
};

// "%S" writes U+0001..U+00FF as the byte of the same value, anything above as
// '?', and stops at U+0000 as the C runtime does. We format ourselves because
// glibc's "%S" gives up on the first character above U+007F.
std::string FormatLine(const char* format, std::initializer_list<PrintArg> args);

// Writes to standard output and flushes at once, so that a report survives
// the run being killed.
void WriteOutput(const std::string& bytes);

template <typename... Args>
void PrintLine(const char* format, const Args&... args) {
  WriteOutput(FormatLine(format, {PrintArg(args)...}));
}
