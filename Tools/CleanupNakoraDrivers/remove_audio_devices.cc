#include <string_view>
#include <vector>

#include "device_lines.h"
#include "device_tree.h"
#include "phases.h"

namespace {

constexpr std::u16string_view kEndpointWords[] = {u"Nakora", u"QVA"};
// Every endpoint's instance ID begins so.
constexpr std::u16string_view kEndpointId = u"SWD\\MMDEVAPI\\";

// An entry may be text within an endpoint's name, which embeds the name a
// device gives itself, line feeds included. It counts only when the tree
// holds an endpoint there, one that findall *MMDEVAPI* lists, and names it
// with the word that picked the entry.
bool IsEndpointNamedWithWordOf(const TreeDevice& device, const WString& piece) {
  bool endpoint = false;
  for (const WString& id : device.ids) {
    endpoint = endpoint || Find(UpperAscii(id), u"MMDEVAPI") != kNotFound;
  }
  if (!endpoint) return false;
  for (std::u16string_view word : kEndpointWords) {
    if (Find(piece, word) != kNotFound && Find(device.name, word) != kNotFound) return true;
  }
  return false;
}

}  // namespace

bool HasEndpointWord(const WString& line) {
  for (std::u16string_view word : kEndpointWords) {
    if (Find(line, word) != kNotFound) return true;
  }
  return false;
}

void JudgeEndpointLine(const WString& line, ConfirmedInstances& confirmed,
                       std::vector<DeviceEntry>& entries) {
  entries.clear();
  // Almost no line names the maker: those go without being split.
  if (!HasEndpointWord(line)) return;
  // The start of an endpoint's ID tells run-together entries apart: each is
  // judged on its own text.
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
    // Only an endpoint goes in this phase, whatever the line says.
    if (entry.action == DeviceEntry::kRemove && entry.instanceId.rfind(kEndpointId, 0) != 0) {
      entry.action = DeviceEntry::kRefuse;
    }
    if (entry.action == DeviceEntry::kRemove) {
      entry.action = AskTree(entry.instanceId, confirmed, [&piece](const TreeDevice& device) {
        return IsEndpointNamedWithWordOf(device, piece);
      });
    }
    entries.push_back(entry);
  }
}

void RemoveAudioDevices(Sink& sink) {
  sink.Begin(Phase::kAudioDevices);
  ConfirmedInstances confirmed;
  std::vector<DeviceEntry> entries;
  ReadPhaseListing(sink, kAudioDeviceListing, [&](const WString& line) {
    JudgeEndpointLine(line, confirmed, entries);
    for (const DeviceEntry& entry : entries) sink.Device(entry);
  });
}
