// A stand-in for the device tree, for native tests and benchmarks: the file
// named by NAKORA_DEVICE_TREE lists the instances present, one per line: the
// instance ID, then optionally a tab and the device's name, then optionally a
// tab and its hardware and compatible IDs, separated by commas (which no ID
// may hold). Without that variable, or when the file cannot be read, the tree
// cannot be asked.
#include <stdlib.h>

#include "device_tree.h"
#include "listing.h"

namespace {

std::vector<WString> SplitIds(const WString& text) {
  std::vector<WString> ids;
  for (size_t at = 0; at < text.size();) {
    size_t comma = Find(text, u",", at);
    if (comma == kNotFound) comma = text.size();
    if (comma > at) ids.push_back(Substring(text, at, comma - at));
    at = comma + 1;
  }
  return ids;
}

}  // namespace

DevicePresence DescribeDevice(const WString& instanceId, TreeDevice& device) {
  device = TreeDevice();
  const char* path = getenv("NAKORA_DEVICE_TREE");
  if (!path || !*path || instanceId.empty()) return DevicePresence::kUnknown;
  ListingStream tree;
  OpenListing(tree, path);
  if (tree.failed) return DevicePresence::kUnknown;
  const WString wanted = UpperAscii(instanceId);
  DevicePresence presence = DevicePresence::kAbsent;
  WString line;
  while (ReadLine(tree, line)) {
    size_t tab = Find(line, u"\t");
    if (UpperAscii(Substring(line, 0, tab)) != wanted) continue;
    if (tab != kNotFound) {
      size_t idsTab = Find(line, u"\t", tab + 1);
      device.name = Substring(line, tab + 1, idsTab == kNotFound ? kNotFound : idsTab - tab - 1);
      if (idsTab != kNotFound) device.ids = SplitIds(Substring(line, idsTab + 1));
    }
    presence = DevicePresence::kPresent;
    break;
  }
  CloseListing(tree);
  return presence;
}

DevicePresence LookUpDevice(const WString& instanceId) {
  TreeDevice device;
  return DescribeDevice(instanceId, device);
}
