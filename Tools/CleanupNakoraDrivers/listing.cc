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
