#include "cleanup_sink.h"

#include "device_lines.h"
#include "driver_files.h"
#include "print_line.h"
#include "run_command.h"

void CleanupSink::Begin(Phase phase) {
  static const char* const kHeadings[] = {
      "Removing devices...\n", "Removing audio devices...\n", "Scanning installed drivers...\n",
      "Removing driver files...\n", "Removing driver installer registry...\n"};
  phase_ = phase;
  PrintLine(kHeadings[static_cast<int>(phase)]);
}

// A listing whose command failed is passed over without a word; the device
// listing's second command only appends, and its result does not count.
bool CleanupSink::ListingMade(const MadeListing& made) {
  if (made.exitCode != 0) return false;
  if (phase_ == Phase::kDriverPackages) PrintLine("Cleanning up driver packages...\n");
  if (made.thisRuns) return true;
  PrintLine("\t !!! Listing not found : %s\n", made.file.c_str());
  return false;
}

// A listing that fails part-way is reported: what it did not reach stays on
// the machine.
void CleanupSink::ListingEnded(const MadeListing& made, ListingRead read) {
  if (read == ListingRead::kNotOpened) {
    PrintLine("\t !!! Listing not found : %s\n", made.file.c_str());
  } else if (read == ListingRead::kCutShort) {
    PrintLine("\t !!! Listing cut short : %s\n", made.file.c_str());
  }
}

void CleanupSink::Device(const DeviceEntry& entry) {
  if (entry.action != DeviceEntry::kRemove && entry.action != DeviceEntry::kRefuse) return;
  bool removed = false;
  if (entry.action == DeviceEntry::kRemove && IsSafeInstanceId(entry.instanceId)) {
    removed = RunCommand(kDevcon, kRemoveDevice + entry.instanceId) == 0;
    // devcon exits 0 also when its removal failed or found nothing.
    if (removed) {
      WString id = entry.instanceId;
      TrimSpaces(id);
      removed = LookUpDevice(id) == DevicePresence::kAbsent;
    }
  }
  if (removed) {
    PrintLine("\t Removed : %S\n", ForReport(entry.description).c_str());
  } else {
    PrintLine("\t !!! Remove FAILED : %S\n", ForReport(entry.description).c_str());
  }
}

void CleanupSink::DriverPackage(const WString& published, const WString& original) {
  const char* format = RunCommand(kDevcon, kDeleteDriverPackage + published) == 0
                           ? "\t Nakora INF: %S (%S) - Removed\n"
                           : "\t Nakora INF: %S (%S) - Remove FAILED!!!\n";
  PrintLine(format, ForReport(published).c_str(), ForReport(original).c_str());
}

// del reports nothing we could use: missing files are the usual case.
bool CleanupSink::DriverFile(const char16_t* driverFile) {
  if (IsWildcard(driverFile) || IsDeletableDriverFile(driverFile)) {
    RunCommand(kCmd, DeleteDriverFileCommand(driverFile));
  }
  return true;
}

int32_t CleanupSink::OpenInstallerParent(RegistryKey* parent) {
  return RegistryOpenKey(kInstallerParentKey, parent);
}

// No parent key, no installer left anything.
void CleanupSink::InstallerParentNotOpened(int32_t) {}

void CleanupSink::InstallerKey(RegistryKey parent, const WString& name) {
  if (RegistryDeleteTree(parent, name.c_str()) != kRegistryOk) {
    PrintLine("\t Error deleting registry : %S\\%S\n", kInstallerParentKey, name.c_str());
  }
}

void CleanupSink::InstallerKeysCutShort(int32_t error) {
  PrintLine("\t !!! Listing cut short : %S, error code %d\n", kInstallerParentKey, error);
}
