#include "check_sink.h"

#include "driver_files.h"
#include "print_line.h"

namespace {

std::string Count(int32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

// Unlike the cleanup, the check cannot vouch for a listing that half failed.
CheckSink::CheckSink() {
  listingPrefix = kCheckListingPrefix;
  stopListingAtFailure = true;
}

void CheckSink::Begin(Phase phase) {
  static const char* const kHeadings[] = {
      "Listing devices...\n", "Listing audio devices...\n", "Listing installed drivers...\n",
      "Looking for driver files...\n", "Looking for driver installer registry...\n"};
  PrintLine(kHeadings[static_cast<int>(phase)]);
}

// A listing counts only when its commands succeeded and its file is this run's.
bool CheckSink::ListingMade(const MadeListing& made) {
  if (made.exitCode != 0) {
    PrintLine("\t !!! Listing FAILED : exit code %d\n", made.exitCode);
  } else if (!made.thisRuns) {
    PrintLine("\t !!! Listing FAILED : %s not found\n", made.file.c_str());
  } else {
    PrintLine("\t Listing made : %s\n", made.file.c_str());
    return true;
  }
  tally.failures.push_back(made.listing->what);
  return false;
}

// One that cannot be read to its end may hide anything after the point where
// reading stopped.
void CheckSink::ListingEnded(const MadeListing& made, ListingRead read) {
  if (read == ListingRead::kWhole) return;
  PrintLine(read == ListingRead::kNotOpened ? "\t !!! Listing FAILED : %s not found\n"
                                            : "\t !!! Listing FAILED : %s could not be read\n",
            made.file.c_str());
  tally.failures.push_back(made.listing->what);
}

void CheckSink::Device(const DeviceEntry& entry) {
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

void CheckSink::DriverPackage(const WString& published, const WString& original) {
  PrintLine("\t Nakora INF: %S (%S)\n", ForReport(published).c_str(), ForReport(original).c_str());
  ++tally.packages;
}

bool CheckSink::DriverFile(const char16_t* driverFile) {
  std::vector<WString> names, folders;
  int32_t error = FindDriverFiles(driverFile, names, folders);
  if (error != kDriverFilesOk) {
    PrintLine("\t !!! Looking FAILED : %S, error code %d\n", driverFile, error);
    tally.failures.push_back("driver file search");
    return false;
  }
  for (const WString& name : names) {
    PrintLine("\t Driver file : %S\n", name.c_str());
    ++tally.driverFiles;
  }
  // The cleanup never hands a directory to del.
  for (const WString& name : folders) PrintLine("\t Folder left alone : %S\n", name.c_str());
  return true;
}

// Read only: nothing can be deleted through this key.
int32_t CheckSink::OpenInstallerParent(RegistryKey* parent) {
  return RegistryOpenKeyToRead(kInstallerParentKey, parent);
}

void CheckSink::InstallerParentNotOpened(int32_t error) {
  if (error == kRegistryNotFound) return;  // no installer left anything
  PrintLine("\t !!! Looking FAILED : %S, error code %d\n", kInstallerParentKey, error);
  tally.failures.push_back("registry");
}

void CheckSink::InstallerKey(RegistryKey, const WString& name) {
  PrintLine("\t Registry key : %S\\%S\n", kInstallerParentKey, name.c_str());
  ++tally.installerKeys;
}

void CheckSink::InstallerKeysCutShort(int32_t error) {
  PrintLine("\t !!! Looking FAILED : %S, error code %d\n", kInstallerParentKey, error);
  tally.failures.push_back("registry");
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
