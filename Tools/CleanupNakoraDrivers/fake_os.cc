#include "fake_os.h"

#include <algorithm>
#include <fstream>

#include "device_tree.h"
#include "driver_files.h"
#include "registry.h"
#include "run_command.h"

FakeOs& Fake() {
  static FakeOs fake;
  return fake;
}

WString W(const std::string& bytes) { return WidenBytes(bytes); }

std::string N(const WString& text) {
  std::string bytes;
  for (char16_t c : text) bytes += c <= 0xFF ? static_cast<char>(c) : '?';
  return bytes;
}

namespace {

// cmd creates a ">" target even when its command fails, and adds nothing of
// ours to a ">>" one.
void Redirect(const WString& parameters) {
  size_t at = parameters.find(u" > ");
  bool append = at == WString::npos;
  if (append) at = parameters.find(u" >> ");
  if (at == WString::npos || Fake().listingsElsewhere) return;
  std::string name = N(parameters.substr(at + (append ? 4 : 3)));
  std::ofstream file(name, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  if (!append) file << Fake().listings[name];
}

}  // namespace

int32_t RunCommand(const WString& program, const WString& parameters) {
  FakeOs& fake = Fake();
  fake.commands.push_back({program, parameters});
  if (program == u"cmd") Redirect(parameters);
  if (fake.onCommand) fake.onCommand(fake.commands.back());
  auto scripted = fake.exitCodes.find(parameters);
  return scripted == fake.exitCodes.end() ? 0 : scripted->second;
}

void ReportLaunchFailure() {}

DevicePresence LookUpDevice(const WString& instanceId) {
  FakeOs& fake = Fake();
  fake.lookedUp.push_back(instanceId);
  if (!fake.treeAnswers) return DevicePresence::kUnknown;
  return fake.stillPresent.count(instanceId) ? DevicePresence::kPresent : DevicePresence::kAbsent;
}

DevicePresence DescribeDevice(const WString& instanceId, TreeDevice& device) {
  FakeOs& fake = Fake();
  fake.lookedUp.push_back(instanceId);
  device = TreeDevice();
  if (!fake.treeAnswers) return DevicePresence::kUnknown;
  if (fake.describe) {
    return fake.describe(instanceId, device) ? DevicePresence::kPresent : DevicePresence::kAbsent;
  }
  auto name = fake.named.find(instanceId);
  auto ids = fake.treeIds.find(instanceId);
  if (name == fake.named.end() && ids == fake.treeIds.end()) return DevicePresence::kAbsent;
  if (name != fake.named.end()) device.name = name->second;
  if (ids != fake.treeIds.end()) device.ids = ids->second;
  return DevicePresence::kPresent;
}

int32_t FindDriverFiles(const char16_t* pattern, std::vector<WString>& names,
                        std::vector<WString>& folders) {
  names = Fake().driverFiles[pattern];
  folders.clear();
  return Fake().driverFilesError;
}

bool IsDeletableDriverFile(const char16_t* name) {
  const std::vector<WString>& names = Fake().driverFiles[name];
  return names.size() == 1 && names[0] == name;
}

int32_t RegistryOpenKey(const char16_t* subKey, RegistryKey* key) {
  Fake().registryCalls.push_back("open");
  if (WString(subKey) != u"Software\\Nakora" || !Fake().parentExists) return kRegistryNotFound;
  *key = &Fake();
  return kRegistryOk;
}

int32_t RegistryOpenKeyToRead(const char16_t* subKey, RegistryKey* key) {
  Fake().registryCalls.push_back("open to read");
  if (WString(subKey) != u"Software\\Nakora" || !Fake().parentExists) return kRegistryNotFound;
  *key = &Fake();
  return kRegistryOk;
}

int32_t RegistryEnumKey(RegistryKey, uint32_t index, char16_t* name, uint32_t size) {
  FakeOs& fake = Fake();
  fake.registryCalls.push_back("enum " + std::to_string(index));
  if (fake.enumFailsAt >= 0 && index >= fake.enumFailsAt) return kRegistryAccessDenied;
  if (index >= fake.subkeys.size()) return kRegistryNoMoreItems;
  const WString& found = fake.subkeys[index];
  if (found.size() + 1 > size) return kRegistryMoreData;
  std::copy(found.begin(), found.end(), name);
  name[found.size()] = 0;
  return kRegistryOk;
}

int32_t RegistryDeleteTree(RegistryKey, const char16_t* subKey) {
  FakeOs& fake = Fake();
  WString name = subKey;
  fake.registryCalls.push_back("delete " + N(name));
  if (fake.undeletable.count(name)) return kRegistryAccessDenied;
  for (auto it = fake.subkeys.begin(); it != fake.subkeys.end(); ++it) {
    if (*it == name) {
      fake.subkeys.erase(it);
      return kRegistryOk;
    }
  }
  return kRegistryNotFound;
}

void RegistryCloseKey(RegistryKey) { Fake().registryCalls.push_back("close"); }
