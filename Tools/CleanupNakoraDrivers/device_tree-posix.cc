// A stand-in for the device tree, for native tests and benchmarks: the file
// named by NAKORA_DEVICE_TREE lists the instance IDs present, one per line.
// Without that variable, or when the file cannot be read, the tree cannot be
// asked.
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

DevicePresence LookUpDevice(const WString& instanceId) {
  const char* path = getenv("NAKORA_DEVICE_TREE");
  if (!path || !*path || instanceId.empty()) return DevicePresence::kUnknown;
  ListingStream tree;
  OpenListing(tree, path);
  if (tree.failed) return DevicePresence::kUnknown;
  DevicePresence presence = DevicePresence::kAbsent;
  WString line;
  while (ReadLine(tree, line)) {
    if (SameId(line, instanceId)) {
      presence = DevicePresence::kPresent;
      break;
    }
  }
  CloseListing(tree);
  return presence;
}
