// A driver table through the package decisions: every deletion names column 1
// of a line whose provider and original file name qualify, in line order, and
// no other line leads to one.
#include "cleanup_sink.h"
#include "fuzz_input.h"

namespace {

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

bool VendorName(const std::string& name) {
  return (Contains(name, "nk") && Contains(name, "dev")) || Contains(name, "nakora") ||
         Contains(name, "nkcommon.inf") || Contains(name, "nakoramixer.inf") ||
         Contains(name, "qvavad.inf") || Contains(name, "qvavad2.inf");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<WString> expected;
  for (const std::string& line : OracleLines(data, size)) {
    if (!Contains(line, ".inf")) continue;
    std::vector<std::string> columns;
    size_t start = 0, bar;
    while (columns.size() < 5 && (bar = line.find('|', start)) != std::string::npos) {
      columns.push_back(Trimmed(line.substr(start, bar - start)));
      start = bar + 1;
    }
    if (columns.size() < 5) continue;
    const std::string& provider = columns[4];
    if (!Contains(provider, "Nakora") && !Contains(provider, "QVA") &&
        !Contains(provider, "C-MEDIA")) {
      continue;
    }
    if (VendorName(columns[1])) expected.push_back(WidenBytes(" -f /dp_delete " + columns[0]));
  }

  StartInput("driverlist.txt", data, size);
  CleanupSink cleanup;
  CleanupDriverPackages(cleanup);
  std::vector<WString> deletions;
  for (const FakeCommand& command : Fake().commands) {
    if (command.program == u"devcon") deletions.push_back(command.parameters);
  }
  Require(deletions == expected, "package deletions differ from the qualifying lines");
  return 0;
}
