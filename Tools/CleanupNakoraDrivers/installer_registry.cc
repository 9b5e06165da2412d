#include <vector>

#include "phases.h"

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

void CleanupInstallerRegistry(Sink& sink) {
  sink.Begin(Phase::kInstallerRegistry);
  RegistryKey parent = nullptr;
  int32_t opened = sink.OpenInstallerParent(&parent);
  if (opened != kRegistryOk) {
    sink.InstallerParentNotOpened(opened);
    return;
  }
  int32_t error = kRegistryOk;
  for (const WString& name : CollectInstallerKeys(parent, error)) sink.InstallerKey(parent, name);
  RegistryCloseKey(parent);
  if (error != kRegistryOk) sink.InstallerKeysCutShort(error);
}
