// The program's text: UTF-16 code units, and the few operations the phases
// use on listing lines, names and key names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Names, command lines, listing lines and registry key names: UTF-16 code units.
using WString = std::u16string;

constexpr size_t kNotFound = WString::npos;

size_t Find(const WString& text, std::u16string_view needle, size_t start = 0);
WString Substring(const WString& text, size_t start, size_t count = kNotFound);
// a-z to A-Z, as the device tree compares IDs; nothing else changes.
WString UpperAscii(WString text);
// Strips U+0020 only: tabs, CRs and U+00A0 stay.
void TrimSpaces(WString& text);
// Sets `field` to the trimmed text from `start` up to `delimiter` and returns
// the delimiter's index; when there is none, returns kNotFound and leaves
// `field` as it was.
size_t ReadField(const WString& line, WString& field, std::u16string_view delimiter, size_t start);

// Listing text as a report line shows it: a control character other than the
// tab (a carriage return, an escape sequence, a NUL) becomes '?', so that a
// name a device chose can neither hide nor fake lines on the console.
WString ForReport(WString text);

// Byte-per-character conversions, the same mapping the listing stream uses.
WString WidenBytes(const std::string& bytes);
