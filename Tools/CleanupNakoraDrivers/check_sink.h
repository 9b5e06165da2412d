// CheckNakoraDrivers' side of each phase: it names what the cleanup would act
// on, as the cleanup's report names it, counts it, and changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "phases.h"

// What the checks found so far.
struct CheckTally {
  // Listed for removal; they do not decide the verdict, since the cleanup's
  // rescan brings plugged-in devices back with Windows' own drivers.
  int32_t devices = 0;
  int32_t packages = 0;
  int32_t driverFiles = 0;
  int32_t installerKeys = 0;
  std::vector<std::string> failures;  // what could not be looked at, e.g. "device listing"
};

// The exit code: fleets act on it.
enum CheckVerdict : int {
  kNoneLeft = 0,
  kSomeLeft = 1,
  kCannotTell = 2,
};

class CheckSink : public Sink {
 public:
  CheckSink();
  void Begin(Phase phase) override;
  bool ListingMade(const MadeListing& made) override;
  void ListingEnded(const MadeListing& made, ListingRead read) override;
  void Device(const DeviceEntry& entry) override;
  void DriverPackage(const WString& published, const WString& original) override;
  bool DriverFile(const char16_t* driverFile) override;
  int32_t OpenInstallerParent(RegistryKey* parent) override;
  void InstallerParentNotOpened(int32_t error) override;
  void InstallerKey(RegistryKey parent, const WString& name) override;
  void InstallerKeysCutShort(int32_t error) override;

  CheckTally tally;
};

CheckVerdict Verdict(const CheckTally& tally);
// One line, the report's last: management consoles often show nothing else.
std::string Summary(const CheckTally& tally);
