// Listing files written by the outside tools, read back as wide lines.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "text.h"

// Bytes read from a listing file at a time; large reads matter for listings of
// a hundred megabytes.
constexpr size_t kListingBufferSize = 256 * 1024;

// A listing file opened for reading in the manner of a text-mode wide stream
// under the "C" locale: every byte becomes the character of the same value,
// and CR before LF is dropped. Done here rather than by the runtime, whose
// "C" locale is not 8-bit clean everywhere. Unlike the runtime's text mode,
// Ctrl+Z (0x1A) is text: devcon prints it within a name that a device chose,
// and taking it for the end would hide every entry after it.
struct ListingStream {
  FILE* file = nullptr;
  bool failed = true;
  bool atEnd = false;
  bool readError = false;  // reading stopped before the end of the file
  std::vector<unsigned char> buffer;
  size_t position = 0;
  size_t length = 0;
};

// A missing or unreadable file leaves the stream failed: it then yields no lines.
void OpenListing(ListingStream& stream, const char* fileName);
void CloseListing(ListingStream& stream);

// Empties `line`, then fills it up to the next LF (consumed, not stored) or the
// end of the file. True when at least one character, LF included, was taken.
bool ReadLine(ListingStream& stream, WString& line);

enum class ListingRead {
  kWhole,      // every line, to the end of the file
  kNotOpened,  // no lines
  kCutShort,   // reading failed part-way: the lines before it only
};

// Hands each line of the listing file to `onLine`, in order.
template <typename OnLine>
ListingRead ForEachListingLine(const char* fileName, OnLine onLine) {
  ListingStream listing;
  OpenListing(listing, fileName);
  if (listing.failed) return ListingRead::kNotOpened;
  WString line;
  while (ReadLine(listing, line)) onLine(line);
  bool cutShort = listing.readError;
  CloseListing(listing);
  return cutShort ? ListingRead::kCutShort : ListingRead::kWhole;
}

// Deletes an earlier run's listing before its command writes it anew, so that
// a command whose output went elsewhere (cmd moved to another directory) leaves
// no file to be read for its own. False when a file of that name is still there.
bool DiscardListing(const char* fileName);
// Whether the listing file can be opened for reading.
bool ListingExists(const char* fileName);
