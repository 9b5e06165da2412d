// A device or audio listing through the device and endpoint decisions. Every
// removal must name the instance ID of its own line, verbatim, and never one
// that devcon could widen; the lines must be handled exactly as an
// independent reading of the rules says.
#include <stdio.h>

#include <algorithm>

#include "exempt_product_ids.h"
#include "fuzz_os.h"
#include "phases.h"
#include "tool_commands.h"

namespace {

// Could devcon read this ID as more than one device? Checked here on its own,
// not through the program's check.
bool Widens(const std::string& id) {
  size_t end = id.find_last_not_of(' ');
  for (size_t i = 0; end != std::string::npos && i <= end; ++i) {
    char c = id[i];
    if (c == '*' || c == '"' || c == '\t' || c == ' ' || c == '\0') return true;
  }
  return false;
}

// The C library's own reading of the product ID.
bool ExemptByLibrary(const std::string& line) {
  size_t at = line.find("PID_");
  if (at == std::string::npos) return false;
  unsigned int id = 0;
  sscanf(line.c_str() + at, "PID_%04X", &id);
  int32_t value = static_cast<int32_t>(id);
  return value != 0 && std::find(std::begin(ExemptProductIds), std::end(ExemptProductIds), value) !=
                           std::end(ExemptProductIds);
}

void Check(const std::vector<std::string>& lines, bool audio) {
  std::vector<WString> expected;
  for (const std::string& line : lines) {
    if (audio && line.find("Nakora") == std::string::npos &&
        line.find("QVA") == std::string::npos) {
      continue;
    }
    // sscanf stops at a NUL; so does the ID's own scan, which never crosses one.
    if (!audio && ExemptByLibrary(line)) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string id = line.substr(0, colon);
    if (!Widens(id)) expected.push_back(Widen(" -f remove @" + id));
  }

  std::vector<WString> removals;
  for (const RecordedCommand& command : Recorded()) {
    if (command.program == u"devcon") removals.push_back(command.parameters);
  }
  for (const WString& removal : removals) {
    Require(removal.rfind(kRemoveDevice, 0) == 0, "a devcon call that is not a removal");
    std::string id(removal.begin() + WString(kRemoveDevice).size(), removal.end());
    Require(!Widens(id), "a removal devcon could widen");
  }
  Require(removals == expected, "removals differ from the lines' own instance IDs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines = OracleLines(data, size);
  WriteListing("devicelist.txt", data, size);
  Recorded().clear();
  RemoveDevices();
  Check(lines, false);

  WriteListing("audiodevicelist.txt", data, size);
  Recorded().clear();
  RemoveAudioDevices();
  Check(lines, true);
  return 0;
}
