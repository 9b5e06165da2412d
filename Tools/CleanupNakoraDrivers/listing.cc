#include "listing.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr unsigned char kCtrlZ = 0x1A;

// Refills the buffer; false at the end of the file or on a read error.
bool Refill(ListingStream& stream) {
  if (stream.atEnd || stream.file == nullptr) return false;
  stream.length = fread(stream.buffer.data(), 1, stream.buffer.size(), stream.file);
  stream.position = 0;
  if (stream.length == 0) {
    stream.atEnd = true;
    return false;
  }
  return true;
}

// The next byte, or -1 at the end of the file; Ctrl+Z is an end of file too.
int NextByte(ListingStream& stream) {
  if (stream.position == stream.length && !Refill(stream)) return -1;
  unsigned char byte = stream.buffer[stream.position];
  if (byte == kCtrlZ) {
    stream.atEnd = true;
    stream.position = stream.length;
    return -1;
  }
  ++stream.position;
  return byte;
}

int PeekByte(ListingStream& stream) {
  if (stream.position == stream.length && !Refill(stream)) return -1;
  unsigned char byte = stream.buffer[stream.position];
  return byte == kCtrlZ ? -1 : byte;
}

}  // namespace

void OpenListing(ListingStream& stream, const char* fileName) {
  CloseListing(stream);
  stream.file = fopen(fileName, "rb");
  stream.failed = stream.file == nullptr;
  stream.atEnd = false;
  stream.buffer.assign(stream.file ? kBufferSize : 0, 0);
  stream.position = stream.length = 0;
}

void CloseListing(ListingStream& stream) {
  if (stream.file) fclose(stream.file);
  stream.file = nullptr;
  stream.failed = true;
}

bool ReadLine(ListingStream& stream, WString& line) {
  line.clear();
  if (stream.failed || stream.atEnd) {
    stream.failed = true;
    return false;
  }
  bool extracted = false;
  for (;;) {
    // Copy the plain run of the buffer in one go; stop at the bytes that matter.
    const unsigned char* data = stream.buffer.data();
    size_t run = stream.position;
    while (run < stream.length && data[run] != '\n' && data[run] != '\r' && data[run] != kCtrlZ) {
      ++run;
    }
    if (run > stream.position) {
      line.append(data + stream.position, data + run);
      stream.position = run;
      extracted = true;
    }
    int byte = NextByte(stream);
    if (byte < 0) {
      if (!extracted) stream.failed = true;
      return extracted;
    }
    extracted = true;
    if (byte == '\n') return true;
    if (byte == '\r' && PeekByte(stream) == '\n') continue;
    line.push_back(static_cast<char16_t>(byte));
  }
}

size_t Find(const WString& text, const WString& needle, size_t start) {
  return text.find(needle, start);
}

WString Substring(const WString& text, size_t start, size_t count) {
  return text.substr(start, count);
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

size_t ReadField(const WString& line, WString& field, const WString& delimiter, size_t start) {
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
