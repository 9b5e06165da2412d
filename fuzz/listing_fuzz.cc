// Bytes of a listing file to lines: the same lines as an independent reading,
// every character the value of one byte; and the search the phases use agrees
// with the standard library's on every line.
#include "fuzz_input.h"
#include "listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartInput("listing.txt", data, size);
  std::vector<std::string> expected = OracleLines(data, size);
  ListingStream stream;
  OpenListing(stream, "listing.txt");
  WString line;
  size_t count = 0;
  while (ReadLine(stream, line)) {
    Require(count < expected.size(), "more lines than the file holds");
    Require(line == WidenBytes(expected[count]), "a line differs from the bytes it came from");
    WString ownNeedle = line.substr(line.size() / 2, 3);
    for (const WString& needle : {WString(u"Nakora"), WString(u"PID_"), WString(u":"), ownNeedle}) {
      for (size_t start : {size_t{0}, line.size() / 3}) {
        Require(Find(line, needle, start) == line.find(needle, start), "Find disagrees");
      }
    }
    ++count;
  }
  Require(!ReadLine(stream, line), "a finished stream yielded another line");
  CloseListing(stream);
  Require(count == expected.size(), "lines were lost");
  return 0;
}
