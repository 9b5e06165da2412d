#include "machine_check.h"

#include <string_view>

#include "driver_files.h"
#include "phases.h"
#include "print_line.h"
#include "registry.h"
#include "run_command.h"
#include "tool_commands.h"

namespace {

// A listing counts only when its command succeeded and its file is this
// run's: discarded before, and there after (cmd may work in another directory).
bool ListingMade(int32_t result, bool discarded, const char* fileName, const char* what,
                 CheckTally& tally) {
  if (result != 0) {
    PrintLine("\t !!! Listing FAILED : exit code %d\n", result);
  } else if (!discarded || !ListingExists(fileName)) {
    PrintLine("\t !!! Listing FAILED : %s not found\n", fileName);
  } else {
    PrintLine("\t Listing made : %s\n", fileName);
    return true;
  }
  tally.failures.push_back(what);
  return false;
}

void ReportDeviceEntry(const DeviceEntry& entry, CheckTally& tally) {
  const WString description = ForReport(entry.description);
  switch (entry.action) {
    case DeviceEntry::kRemove:
      PrintLine("\t To remove : %S\n", description.c_str());
      ++tally.devices;
      break;
    case DeviceEntry::kKeep:
      PrintLine("\t Kept : %S\n", description.c_str());
      break;
    case DeviceEntry::kRefuse:
      // The cleanup reports these as failed without handing them to devcon.
      PrintLine("\t !!! Cannot remove : %S\n", description.c_str());
      ++tally.devices;
      break;
    case DeviceEntry::kPassOver:
      break;
  }
}

// Reads a listing that ListingMade vouched for. One that cannot be read to its
// end may hide anything after the point where reading stopped.
template <typename OnLine>
void ReadListing(const char* fileName, const char* what, CheckTally& tally, OnLine onLine) {
  ListingRead read = ForEachListingLine(fileName, onLine);
  if (read == ListingRead::kWhole) return;
  PrintLine(read == ListingRead::kNotOpened ? "\t !!! Listing FAILED : %s not found\n"
                                            : "\t !!! Listing FAILED : %s could not be read\n",
            fileName);
  tally.failures.push_back(what);
}

std::string Count(int32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void CheckDevices(CheckTally& tally) {
  PrintLine("Listing devices...\n");
  bool discarded = DiscardListing(kCheckDeviceListFile);
  int32_t listed = RunCommand(kCmd, kCheckListMakerDevices);
  // Unlike the cleanup, the check cannot vouch for a listing that half failed.
  if (listed == 0) listed = RunCommand(kCmd, kCheckListBrandDevices);
  if (!ListingMade(listed, discarded, kCheckDeviceListFile, "device listing", tally)) return;

  ConfirmedInstances confirmed;
  ReadListing(kCheckDeviceListFile, "device listing", tally,
              [&confirmed, &tally](const WString& line) {
                ReportDeviceEntry(JudgeDeviceLine(line, confirmed), tally);
              });
}

void CheckAudioDevices(CheckTally& tally) {
  PrintLine("Listing audio devices...\n");
  bool discarded = DiscardListing(kCheckAudioDeviceListFile);
  int32_t listed = RunCommand(kCmd, kCheckListAudioDevices);
  if (!ListingMade(listed, discarded, kCheckAudioDeviceListFile, "audio device listing", tally))
    return;

  ConfirmedInstances confirmed;
  std::vector<DeviceEntry> entries;
  ReadListing(kCheckAudioDeviceListFile, "audio device listing", tally,
              [&confirmed, &entries, &tally](const WString& line) {
                JudgeEndpointLine(line, confirmed, entries);
                for (const DeviceEntry& entry : entries) ReportDeviceEntry(entry, tally);
              });
}

void CheckDriverPackages(CheckTally& tally) {
  PrintLine("Listing installed drivers...\n");
  bool discarded = DiscardListing(kCheckDriverListFile);
  int32_t listed = RunCommand(kCmd, kCheckListDriverPackages);
  if (!ListingMade(listed, discarded, kCheckDriverListFile, "driver package listing", tally))
    return;

  WString published, original;
  ReadListing(kCheckDriverListFile, "driver package listing", tally, [&](const WString& line) {
    if (!JudgeDriverTableLine(line, published, original)) return;
    PrintLine("\t Nakora INF: %S (%S)\n", ForReport(published).c_str(),
              ForReport(original).c_str());
    ++tally.packages;
  });
}

// What the check looks for must be what the cleanup's del commands delete.
static_assert(std::u16string_view(kDeleteDeviceDrivers).find(kDriverFilePatterns[0]) !=
              std::u16string_view::npos);
static_assert(std::u16string_view(kDeleteCommonDriver).find(kDriverFilePatterns[1]) !=
              std::u16string_view::npos);

void CheckDriverFiles(CheckTally& tally) {
  PrintLine("Looking for driver files...\n");
  std::vector<WString> names, folders;
  for (const char16_t* pattern : kDriverFilePatterns) {
    int32_t error = FindDriverFiles(pattern, names, folders);
    if (error != kDriverFilesOk) {
      PrintLine("\t !!! Looking FAILED : %S, error code %d\n", pattern, error);
      tally.failures.push_back("driver file search");
      return;
    }
    for (const WString& name : names) {
      PrintLine("\t Driver file : %S\n", name.c_str());
      ++tally.driverFiles;
    }
    // The cleanup never hands a directory to del.
    for (const WString& name : folders) PrintLine("\t Folder left alone : %S\n", name.c_str());
  }
}

void CheckInstallerRegistry(CheckTally& tally) {
  PrintLine("Looking for driver installer registry...\n");
  RegistryKey parent = nullptr;
  int32_t opened = RegistryOpenKeyToRead(kInstallerParentKey, &parent);
  if (opened == kRegistryNotFound) return;  // no installer left anything
  if (opened != kRegistryOk) {
    PrintLine("\t !!! Looking FAILED : %S, error code %d\n", kInstallerParentKey, opened);
    tally.failures.push_back("registry");
    return;
  }
  int32_t error = kRegistryOk;
  for (const WString& name : CollectInstallerKeys(parent, error)) {
    PrintLine("\t Registry key : %S\\%S\n", kInstallerParentKey, name.c_str());
    ++tally.installerKeys;
  }
  RegistryCloseKey(parent);
  // The keys after the point where enumeration stopped may be installers'.
  if (error != kRegistryOk) {
    PrintLine("\t !!! Looking FAILED : %S, error code %d\n", kInstallerParentKey, error);
    tally.failures.push_back("registry");
  }
}

CheckVerdict Verdict(const CheckTally& tally) {
  if (!tally.failures.empty()) return kCannotTell;
  return tally.packages + tally.driverFiles + tally.installerKeys > 0 ? kSomeLeft : kNoneLeft;
}

std::string Summary(const CheckTally& tally) {
  std::string text = "Nakora driver stack: ";
  if (!tally.failures.empty()) {
    text += "could not check (";
    for (size_t i = 0; i < tally.failures.size(); ++i) {
      text += (i ? ", " : "") + tally.failures[i];
    }
    return text + " failed)";
  }
  std::string left;
  auto add = [&left](int32_t n, const char* one, const char* many) {
    if (n > 0) left += (left.empty() ? "" : ", ") + Count(n, one, many);
  };
  add(tally.packages, "package", "packages");
  add(tally.driverFiles, "driver file", "driver files");
  add(tally.installerKeys, "registry key", "registry keys");
  return text + (left.empty() ? "none left" : left + " left");
}
