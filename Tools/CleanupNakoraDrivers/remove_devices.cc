#include <algorithm>
#include <string_view>

#include "device_lines.h"
#include "exempt_product_ids.h"
#include "phases.h"

namespace {

bool IsScanSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// devcon's findall *VID_E7A9* and *QVA*: a hardware or compatible ID that
// holds either pattern, in any case.
bool MatchesListingPattern(const TreeDevice& device) {
  for (const WString& id : device.ids) {
    WString upper = UpperAscii(id);
    if (Find(upper, u"VID_E7A9") != kNotFound || Find(upper, u"QVA") != kNotFound) return true;
  }
  return false;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

// The C library's "%4X": leading white space skipped and not counted, then at
// most four characters of optional sign, optional 0x and hex digits.
int32_t ReadProductId(const WString& line, size_t at) {
  size_t i = at + 4;  // past "PID_"
  while (i < line.size() && IsScanSpace(line[i])) ++i;
  size_t end = std::min(line.size(), i + 4);
  bool negative = false;
  if (i < end && (line[i] == u'+' || line[i] == u'-')) negative = line[i++] == u'-';
  if (i + 1 < end && line[i] == u'0' && (line[i + 1] == u'x' || line[i + 1] == u'X')) i += 2;
  uint32_t value = 0;
  for (; i < end && HexDigit(line[i]) >= 0; ++i) value = value * 16 + HexDigit(line[i]);
  return static_cast<int32_t>(negative ? 0u - value : value);
}

bool IsExemptProductId(int32_t productId) {
  return std::find(std::begin(ExemptProductIds), std::end(ExemptProductIds), productId) !=
         std::end(ExemptProductIds);
}

bool NamesExemptProduct(const TreeDevice& device) {
  constexpr std::u16string_view kMakersProduct = u"VID_E7A9&PID_";
  for (const WString& id : device.ids) {
    WString upper = UpperAscii(id);
    for (size_t at = Find(upper, kMakersProduct); at != kNotFound;
         at = Find(upper, kMakersProduct, at + 1)) {
      int32_t productId = ReadProductId(upper, at + kMakersProduct.size() - 4);
      if (productId != 0 && IsExemptProductId(productId)) return true;
    }
  }
  return false;
}

DeviceEntry::Action AskTree(const WString& instanceId, ConfirmedInstances& confirmed,
                            const std::function<bool(const TreeDevice&)>& holds) {
  WString id = instanceId;
  TrimSpaces(id);
  if (id.empty()) return DeviceEntry::kRefuse;  // would name the root of the tree
  WString key = UpperAscii(id);
  if (confirmed.count(key)) return DeviceEntry::kRemove;
  TreeDevice device;
  if (DescribeDevice(id, device) != DevicePresence::kPresent) return DeviceEntry::kRefuse;
  if (NamesExemptProduct(device)) return DeviceEntry::kKeep;
  if (!holds(device)) return DeviceEntry::kRefuse;
  confirmed.insert(key);
  return DeviceEntry::kRemove;
}

DeviceEntry JudgeDeviceLine(const WString& line, ConfirmedInstances& confirmed) {
  DeviceEntry entry;
  if (SplitDeviceLine(line, entry.instanceId, entry.description)) {
    // Run-together entries cannot be told apart here: the second one's ID
    // may begin with anything, so neither may be removed on this line.
    if (HoldsFurtherEntry(entry.description)) {
      entry.action = DeviceEntry::kRefuse;
      return entry;
    }
  } else if (IsBareInstanceId(line)) {
    entry.instanceId = entry.description = line;
  } else {
    return entry;
  }
  size_t pid = Find(line, u"PID_");
  if (pid != kNotFound) {
    int32_t productId = ReadProductId(line, pid);
    if (productId != 0 && IsExemptProductId(productId)) {
      entry.action = DeviceEntry::kKeep;
      return entry;
    }
  }
  // The line may be text a device put in its own name, after a line feed.
  entry.action = IsSafeInstanceId(entry.instanceId)
                     ? AskTree(entry.instanceId, confirmed, MatchesListingPattern)
                     : DeviceEntry::kRefuse;
  return entry;
}

void RemoveDevices(Sink& sink) {
  sink.Begin(Phase::kDevices);
  ConfirmedInstances confirmed;
  ReadPhaseListing(sink, kDeviceListing, [&sink, &confirmed](const WString& line) {
    sink.Device(JudgeDeviceLine(line, confirmed));
  });
}
