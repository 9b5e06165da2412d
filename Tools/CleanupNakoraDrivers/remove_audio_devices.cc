#include <vector>

#include "phases.h"
#include "print_line.h"
#include "run_command.h"
#include "tool_commands.h"

bool HasEndpointWord(const WString& line) {
  return Find(line, u"Nakora") != kNotFound || Find(line, u"QVA") != kNotFound;
}

void JudgeEndpointLine(const WString& line, std::vector<DeviceEntry>& entries) {
  entries.clear();
  // Every endpoint's instance ID begins so, which tells run-together entries
  // apart: each is judged on its own text.
  constexpr std::u16string_view kEndpointId = u"SWD\\MMDEVAPI\\";
  for (size_t start = 0; start < line.size();) {
    size_t next = Find(line, kEndpointId, start + 1);
    WString piece = Substring(line, start, next == kNotFound ? kNotFound : next - start);
    start = next == kNotFound ? line.size() : next;

    // The words count anywhere in the entry, in the instance ID as much as in the description.
    if (!HasEndpointWord(piece)) continue;
    DeviceEntry entry;
    if (SplitDeviceLine(piece, entry.instanceId, entry.description)) {
      bool safe = IsSafeInstanceId(entry.instanceId) && !HoldsFurtherEntry(entry.description);
      entry.action = safe ? DeviceEntry::kRemove : DeviceEntry::kRefuse;
    } else if (IsBareInstanceId(piece)) {
      entry.instanceId = entry.description = piece;
      entry.action = DeviceEntry::kRemove;
    } else {
      continue;
    }
    entries.push_back(entry);
  }
}

void RemoveAudioDevices() {
  PrintLine("Removing audio devices...\n");
  if (RunCommand(kCmd, kListAudioDevices) != 0) return;

  std::vector<DeviceEntry> entries;
  ForEachListingLine(kAudioDeviceListFile, [&entries](const WString& line) {
    JudgeEndpointLine(line, entries);
    for (const DeviceEntry& entry : entries) ActOnDeviceEntry(entry);
  });
}
