// A stand-in for the device tree, for native tests and benchmarks: the file
// named by NAKORA_DEVICE_TREE lists the instances present, one per line: the
// instance ID, then optionally a tab and the device's name. Without that
// variable, or when the file cannot be read, the tree cannot be asked.
#include <stdlib.h>

#include "device_tree.h"

namespace {

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

bool SameId(const WString& a, const WString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

}  // namespace

DevicePresence LookUpDeviceName(const WString& instanceId, WString& name) {
  name.clear();
  const char* path = getenv("NAKORA_DEVICE_TREE");
  if (!path || !*path || instanceId.empty()) return DevicePresence::kUnknown;
  ListingStream tree;
  OpenListing(tree, path);
  if (tree.failed) return DevicePresence::kUnknown;
  DevicePresence presence = DevicePresence::kAbsent;
  WString line;
  while (ReadLine(tree, line)) {
    size_t tab = Find(line, u"\t");
    if (SameId(Substring(line, 0, tab), instanceId)) {
      if (tab != kNotFound) name = Substring(line, tab + 1);
      presence = DevicePresence::kPresent;
      break;
    }
  }
  CloseListing(tree);
  return presence;
}

DevicePresence LookUpDevice(const WString& instanceId) {
  WString name;
  return LookUpDeviceName(instanceId, name);
}
