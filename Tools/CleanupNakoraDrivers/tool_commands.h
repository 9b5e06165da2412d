// What the programs hand to cmd, devcon and dism. Every parameter string
// begins with a blank.
#pragma once

#include <cstdint>
#include <string>

#include "text.h"

constexpr const char16_t* kCmd = u"cmd";
constexpr const char16_t* kDevcon = u"devcon";

// A listing: commands that cmd runs in turn, the first writing the file and
// the next appending to it.
struct Listing {
  const char* file;  // the cleanup's; the check's has kCheckListingPrefix before it
  const char* what;  // as the check's summary names it when it fails
  const char16_t* commands[2];
};

constexpr Listing kDeviceListing = {
    "devicelist.txt", "device listing", {u"devcon findall *VID_E7A9*", u"devcon findall *QVA*"}};
constexpr Listing kAudioDeviceListing = {
    "audiodevicelist.txt", "audio device listing", {u"devcon findall *MMDEVAPI*"}};
constexpr Listing kDriverPackageListing = {
    "driverlist.txt", "driver package listing", {u"dism /online /get-drivers /format:table"}};

// The check's listings go to files of their own, so that the cleanup's, the
// record of its run, stay as they are.
constexpr const char* kCheckListingPrefix = "check-";

// How a listing's commands went.
struct MadeListing {
  const Listing* listing = nullptr;
  std::string file;      // as written, prefix included
  int32_t exitCode = 0;  // see MakeListing
  bool thisRuns = false;
};

// Discards the listing's file, runs its commands, and tells whether the file
// there now is this run's. A file missing afterwards, or an earlier one that
// could not be discarded, is not: cmd worked in another directory, as it does
// when started from a network one. With `stopAtFailure`, the commands run
// until one fails, whose exit code is the listing's; without, they all run
// and only the first one's exit code counts.
MadeListing MakeListing(const Listing& listing, const char* prefix, bool stopAtFailure);

// devcon operations; the instance ID or published name is appended as cut
// from its listing line.
constexpr const char16_t* kRemoveDevice = u" -f remove @";
constexpr const char16_t* kDeleteDriverPackage = u" -f /dp_delete ";
constexpr const char16_t* kRescan = u" rescan ";

// The kernel driver files, as del names them in %WINDIR%\system32\drivers.
// The wildcard is del's to resolve, and it matches files only; a name without
// one is handed to del only when it is no directory (IsDeletableDriverFile).
constexpr const char16_t* kDriverFiles[] = {u"NkDev_*.sys", u"NkCommon.sys"};

// The del command for one of them. /F takes read-only files too, and /A with
// no attributes selects files whatever their attributes, hidden and system
// ones included, which del alone passes over
// (https://learn.microsoft.com/windows-server/administration/windows-commands/del).
// del removes no directory, and without /S looks into none.
WString DeleteDriverFileCommand(const char16_t* driverFile);
bool IsWildcard(const char16_t* driverFile);
