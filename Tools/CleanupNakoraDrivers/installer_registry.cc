#include <vector>

#include "phases.h"
#include "print_line.h"

namespace {

constexpr uint32_t kNameSize = 260;  // longest key name plus its terminating zero

}  // namespace

bool IsInstallerKeyName(const WString& name) {
  return Find(name, u"Drv") != kNotFound || Find(name, u"Driver") != kNotFound;
}

std::vector<WString> CollectInstallerKeys(RegistryKey parent, int32_t& error) {
  // Collect first: deleting while enumerating would shift the indexes and skip keys.
  std::vector<WString> names;
  char16_t name[kNameSize];
  uint32_t index = 0;
  while ((error = RegistryEnumKey(parent, index++, name, kNameSize)) == kRegistryOk) {
    WString found = name;
    if (IsInstallerKeyName(found)) names.push_back(found);
  }
  if (error == kRegistryNoMoreItems) error = kRegistryOk;
  return names;
}

void CleanupInstallerRegistry() {
  PrintLine("Removing driver installer registry...\n");
  RegistryKey parent = nullptr;
  if (RegistryOpenKey(kInstallerParentKey, &parent) != kRegistryOk) return;

  int32_t error = kRegistryOk;
  for (const WString& found : CollectInstallerKeys(parent, error)) {
    if (RegistryDeleteTree(parent, found.c_str()) != kRegistryOk) {
      PrintLine("\t Error deleting registry : %S\\%S\n", kInstallerParentKey, found.c_str());
    }
  }
  RegistryCloseKey(parent);
  // What the enumeration did not reach is still there.
  if (error != kRegistryOk) {
    PrintLine("\t !!! Listing cut short : %S, error code %d\n", kInstallerParentKey, error);
  }
}
