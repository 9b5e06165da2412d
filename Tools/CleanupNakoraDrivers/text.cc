#include "text.h"

#include <cstring>

namespace {

// The first `unit` in [begin, end), or end. memchr finds candidates for its
// first byte in memory; a candidate counts only at the start of a unit.
const char16_t* FindUnit(const char16_t* begin, const char16_t* end, char16_t unit) {
  unsigned char firstByte;
  memcpy(&firstByte, &unit, 1);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(begin);
  const unsigned char* bytesEnd = reinterpret_cast<const unsigned char*>(end);
  while (const void* hit = memchr(bytes, firstByte, bytesEnd - bytes)) {
    const unsigned char* at = static_cast<const unsigned char*>(hit);
    size_t offset = at - reinterpret_cast<const unsigned char*>(begin);
    if (offset % 2 == 0 && begin[offset / 2] == unit) return begin + offset / 2;
    bytes = at + 1;
  }
  return end;
}

}  // namespace

size_t Find(const WString& text, std::u16string_view needle, size_t start) {
  const size_t size = text.size(), length = needle.size();
  if (start > size || length > size - start) return kNotFound;
  if (length == 0) return start;
  const char16_t* data = text.data();
  const char16_t* last = data + (size - length) + 1;  // one past the last possible match
  for (const char16_t* at = data + start; (at = FindUnit(at, last, needle[0])) != last; ++at) {
    if (std::char_traits<char16_t>::compare(at + 1, needle.data() + 1, length - 1) == 0) {
      return at - data;
    }
  }
  return kNotFound;
}

WString Substring(const WString& text, size_t start, size_t count) {
  return text.substr(start, count);
}

WString UpperAscii(WString text) {
  for (char16_t& c : text) c = c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c;
  return text;
}

WString ForReport(WString text) {
  for (char16_t& c : text) c = (c < 0x20 && c != u'\t') || c == 0x7F ? u'?' : c;
  return text;
}

void TrimSpaces(WString& text) {
  size_t first = text.find_first_not_of(u' ');
  if (first == kNotFound) {
    text.clear();
    return;
  }
  size_t last = text.find_last_not_of(u' ');
  text = text.substr(first, last - first + 1);
}

size_t ReadField(const WString& line, WString& field, std::u16string_view delimiter, size_t start) {
  size_t at = Find(line, delimiter, start);
  if (at == kNotFound) return kNotFound;
  field = Substring(line, start, at - start);
  TrimSpaces(field);
  return at;
}

WString WidenBytes(const std::string& bytes) {
  WString wide;
  wide.reserve(bytes.size());
  for (unsigned char byte : bytes) wide.push_back(byte);
  return wide;
}
