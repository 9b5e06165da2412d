// The cleanup's side of each phase: it removes what the phase found through
// devcon, del and the registry, and reports each outcome.
#pragma once

#include "phases.h"

class CleanupSink : public Sink {
 public:
  void Begin(Phase phase) override;
  bool ListingMade(const MadeListing& made) override;
  void ListingEnded(const MadeListing& made, ListingRead read) override;
  // Removes a kRemove entry through devcon, or reports a kRefuse entry as
  // failed. "Removed" only when devcon succeeded and the tree says the
  // instance is gone: one it cannot be asked about has not been seen to go.
  void Device(const DeviceEntry& entry) override;
  void DriverPackage(const WString& published, const WString& original) override;
  bool DriverFile(const char16_t* driverFile) override;
  int32_t OpenInstallerParent(RegistryKey* parent) override;
  void InstallerParentNotOpened(int32_t error) override;
  void InstallerKey(RegistryKey parent, const WString& name) override;
  void InstallerKeysCutShort(int32_t error) override;

 private:
  Phase phase_ = Phase::kDevices;
};
