#include <vector>

#include "phases.h"
#include "print_line.h"

namespace {

constexpr uint32_t kNameSize = 260;  // longest key name plus its terminating zero

}  // namespace

bool IsInstallerKeyName(const WString& name) {
  return Find(name, u"Drv") != kNotFound || Find(name, u"Driver") != kNotFound;
}

std::vector<WString> CollectInstallerKeys(RegistryKey parent) {
  // Collect first: deleting while enumerating would shift the indexes and skip keys.
  std::vector<WString> names;
  char16_t name[kNameSize];
  for (uint32_t index = 0; RegistryEnumKey(parent, index, name, kNameSize) == kRegistryOk;
       ++index) {
    WString found = name;
    if (IsInstallerKeyName(found)) names.push_back(found);
  }
  return names;
}

void CleanupInstallerRegistry() {
  PrintLine("Removing driver installer registry...\n");
  RegistryKey parent = nullptr;
  if (RegistryOpenKey(kInstallerParentKey, &parent) != kRegistryOk) return;

  for (const WString& found : CollectInstallerKeys(parent)) {
    if (RegistryDeleteTree(parent, found.c_str()) != kRegistryOk) {
      PrintLine("\t Error deleting registry : %S\\%S\n", kInstallerParentKey, found.c_str());
    }
  }
  RegistryCloseKey(parent);
}
