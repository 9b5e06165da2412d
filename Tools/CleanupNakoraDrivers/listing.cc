#include "listing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Refills the buffer; false at the end of the file or on a read error, which
// is noted: the lines read so far are then not the whole listing.
bool Refill(ListingStream& stream) {
  if (stream.atEnd || stream.file == nullptr) {
    stream.atEnd = true;
    return false;
  }
  stream.length = fread(stream.buffer.data(), 1, stream.buffer.size(), stream.file);
  stream.position = 0;
  if (stream.length == 0) {
    stream.readError = ferror(stream.file) != 0;
    stream.atEnd = true;
    return false;
  }
  return true;
}

// The first `byte` in [begin, end), or end.
const unsigned char* FindByte(const unsigned char* begin, const unsigned char* end, int byte) {
  const void* found = memchr(begin, byte, end - begin);
  return found ? static_cast<const unsigned char*>(found) : end;
}

void AppendWidened(WString& line, const unsigned char* begin, const unsigned char* end) {
  size_t old = line.size();
  line.resize(old + (end - begin));
  std::copy(begin, end, &line[old]);
}

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

void OpenListing(ListingStream& stream, const char* fileName) {
  CloseListing(stream);
  stream.file = fopen(fileName, "rb");
  stream.failed = stream.file == nullptr;
  stream.atEnd = false;
  stream.readError = false;
  stream.buffer.assign(stream.file ? kListingBufferSize : 0, 0);
  stream.position = stream.length = 0;
}

void CloseListing(ListingStream& stream) {
  if (stream.file) fclose(stream.file);
  stream.file = nullptr;
  stream.failed = true;
}

bool DiscardListing(const char* fileName) { return std::remove(fileName) == 0 || errno == ENOENT; }

bool ListingExists(const char* fileName) {
  FILE* file = fopen(fileName, "rb");
  if (file) fclose(file);
  return file != nullptr;
}

bool ReadLine(ListingStream& stream, WString& line) {
  line.clear();
  if (stream.failed || stream.atEnd) {
    stream.failed = true;
    return false;
  }
  bool extracted = false;
  for (;;) {
    if (stream.position == stream.length && !Refill(stream)) {
      if (!extracted) stream.failed = true;
      return extracted;
    }
    const unsigned char* data = stream.buffer.data();
    const unsigned char* begin = data + stream.position;
    const unsigned char* end = data + stream.length;
    const unsigned char* lineFeed = FindByte(begin, end, '\n');
    AppendWidened(line, begin, lineFeed);
    extracted = true;
    if (lineFeed == end) {
      stream.position = stream.length;
      continue;
    }
    stream.position = lineFeed - data + 1;
    // Text mode: a CR directly before the LF belongs to the line end. Any
    // other CR stays in the line.
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    return true;
  }
}

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
