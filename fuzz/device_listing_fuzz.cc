// A device or audio listing through the device and endpoint decisions. Every
// removal must name an instance that the fake tree holds and confirms, by its
// entry's own instance ID, verbatim, and never one that devcon could widen,
// one the tree holds as kept or, in the audio phase, one that is no endpoint;
// the lines must be handled exactly as an independent reading of the rules
// says. Line feeds, Ctrl+Z and colons may stand anywhere: a device's name
// holds whatever it chose.
#include <stdio.h>

#include <algorithm>
#include <set>

#include "cleanup_sink.h"
#include "exempt_product_ids.h"
#include "fuzz_input.h"

namespace {

// Could devcon read this ID as more than one device, as another than the tree's, or as the root
// of the tree? Only what an ID may hold passes; checked here apart from the program's own check.
bool Widens(const std::string& id) {
  size_t end = id.find_last_not_of(' ');
  if (end == std::string::npos || std::string("'@=").find(id[0]) != std::string::npos) return true;
  for (size_t i = 0; i <= end; ++i) {
    char c = id[i];
    if (c < 0x21 || c > 0x7E || c == ',' || c == '*' || c == '"') return true;
  }
  return false;
}

bool IdChar(unsigned char c) { return c >= 0x21 && c <= 0x7E && c != ','; }

bool IsBareId(const std::string& line) {
  return !line.empty() && std::all_of(line.begin(), line.end(), IdChar) &&
         line.find('\\') != std::string::npos;
}

// Another entry in a description: a token holding a backslash, blanks, ": ";
// or, at its end, a token holding a backslash: a nameless entry's bare ID.
bool HoldsEntry(const std::string& description) {
  for (size_t at = description.find(": "); at != std::string::npos;
       at = description.find(": ", at + 1)) {
    size_t end = description.find_last_not_of(' ', at - 1);
    if (at == 0 || end == std::string::npos) continue;
    size_t begin = end + 1;
    while (begin > 0 && IdChar(description[begin - 1])) --begin;
    if (description.substr(begin, end + 1 - begin).find('\\') != std::string::npos) return true;
  }
  size_t last = description.find_last_not_of(' ');
  if (last == std::string::npos) return false;
  size_t begin = last + 1;
  while (begin > 0 && IdChar(description[begin - 1])) --begin;
  return description.substr(begin, last + 1 - begin).find('\\') != std::string::npos;
}

// The C library's own reading of the product ID.
bool ExemptByLibrary(const std::string& line, size_t at) {
  if (at == std::string::npos) return false;
  unsigned int id = 0;
  sscanf(line.c_str() + at, "PID_%04X", &id);
  int32_t value = static_cast<int32_t>(id);
  return value != 0 && std::find(std::begin(ExemptProductIds), std::end(ExemptProductIds), value) !=
                           std::end(ExemptProductIds);
}

std::string Upper(std::string text) {
  for (char& c : text) c = c >= 'a' && c <= 'z' ? c - 32 : c;
  return text;
}

std::string Trimmed(const std::string& id) {
  size_t first = id.find_first_not_of(' '), last = id.find_last_not_of(' ');
  return first == std::string::npos ? "" : id.substr(first, last + 1 - first);
}

bool Holds(const WString& text, const char* word) {
  return text.find(WidenBytes(word)) != WString::npos;
}

// Does the tree confirm the instance for the phase, as none of the kept products? A device: an ID
// that findall's *VID_E7A9* or *QVA* matches. An endpoint, one that *MMDEVAPI* matched: a name
// holding a word that the entry holds too.
bool Confirms(const std::string& id, const std::string& entry, bool audio) {
  TreeDevice device;
  if (!FakeTreeHolds(id, device)) return false;
  std::string ids;  // in capitals, one after another: no ID holds a comma
  for (const WString& i : device.ids) ids += Upper(std::string(i.begin(), i.end())) + ",";
  size_t kept = ids.find("VID_E7A9&PID_");
  if (kept != std::string::npos && ExemptByLibrary(ids, kept + 9)) return false;
  if (audio) {
    if (ids.find("MMDEVAPI") == std::string::npos) return false;
    return (entry.find("Nakora") != std::string::npos && Holds(device.name, "Nakora")) ||
           (entry.find("QVA") != std::string::npos && Holds(device.name, "QVA"));
  }
  return ids.find("VID_E7A9") != std::string::npos || ids.find("QVA") != std::string::npos;
}

// The removal one entry asks for, if any. `confirmed` holds the instances
// the tree confirmed earlier in the phase, which count without asking again.
void Expect(const std::string& entry, bool audio, std::set<std::string>& confirmed,
            std::vector<WString>& expected) {
  if (audio && entry.find("Nakora") == std::string::npos &&
      entry.find("QVA") == std::string::npos) {
    return;
  }
  // devcon's own colon is the first one followed by a blank; a bare ID is all its line, colons too.
  size_t colon = entry.find(": ");
  if (colon == std::string::npos && !IsBareId(entry)) colon = entry.find(':');
  std::string id = colon == std::string::npos ? entry : entry.substr(0, colon);
  if (colon == std::string::npos ? !IsBareId(entry) : HoldsEntry(entry.substr(colon + 1))) return;
  // sscanf stops at a NUL; so does the ID's own scan, which never crosses one.
  if (!audio && ExemptByLibrary(entry, entry.find("PID_"))) return;
  if (Widens(id)) return;
  // Only an endpoint's ID, in the letters devcon prints, goes in the audio phase.
  if (audio && id.rfind("SWD\\MMDEVAPI\\", 0) != 0) return;
  std::string key = Upper(Trimmed(id));
  if (!confirmed.count(key)) {
    if (!Confirms(Trimmed(id), entry, audio)) return;
    confirmed.insert(key);
  }
  expected.push_back(WidenBytes(" -f remove @" + id));
}

void Check(const std::vector<std::string>& lines, bool audio) {
  std::set<std::string> confirmed;
  std::vector<WString> expected;
  for (const std::string& line : lines) {
    if (!audio) {
      Expect(line, false, confirmed, expected);
      continue;
    }
    // Endpoint entries that ran together are told apart by their IDs' start.
    for (size_t start = 0; start < line.size();) {
      size_t next = line.find("SWD\\MMDEVAPI\\", start + 1);
      Expect(line.substr(start, next - start), true, confirmed, expected);
      start = next == std::string::npos ? line.size() : next;
    }
  }

  std::vector<WString> removals;
  for (const FakeCommand& command : Fake().commands) {
    if (command.program == u"devcon") removals.push_back(command.parameters);
  }
  for (const WString& removal : removals) {
    Require(removal.rfind(kRemoveDevice, 0) == 0, "a devcon call that is not a removal");
    std::string id(removal.begin() + WString(kRemoveDevice).size(), removal.end());
    Require(!Widens(id), "a removal devcon could widen");
    TreeDevice device;
    Require(FakeTreeHolds(Trimmed(id), device), "a removal of an instance the tree lacks");
    // Nor one it holds as kept, nor in the audio phase one that is no endpoint.
    Require(Confirms(Trimmed(id), "Nakora QVA", audio), "a removal the tree does not confirm");
  }
  Require(removals == expected, "removals differ from the lines' own instance IDs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines = OracleLines(data, size);
  CleanupSink cleanup;
  StartInput("devicelist.txt", data, size);
  RemoveDevices(cleanup);
  Check(lines, false);

  StartInput("audiodevicelist.txt", data, size);
  RemoveAudioDevices(cleanup);
  Check(lines, true);
  return 0;
}
