// CheckNakoraDrivers: what a cleanup would act on, found with the cleanup's
// own listings and decisions, and nothing changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Each check prints its heading, whether its listing could be made, and a
// line per item, named as the cleanup's report names it.
void CheckDevices(CheckTally& tally);
void CheckAudioDevices(CheckTally& tally);
void CheckDriverPackages(CheckTally& tally);
void CheckDriverFiles(CheckTally& tally);
void CheckInstallerRegistry(CheckTally& tally);

CheckVerdict Verdict(const CheckTally& tally);
// One line, the report's last: management consoles often show nothing else.
std::string Summary(const CheckTally& tally);
