// What the program hands to cmd, devcon and dism, and how it reads a device
// listing line. Every parameter string begins with a blank.
#pragma once

#include <cstdint>
#include <functional>
#include <set>

#include "device_tree.h"
#include "listing.h"
#include "print_line.h"

constexpr const char16_t* kCmd = u"cmd";
constexpr const char16_t* kDevcon = u"devcon";

// Listings, each run by cmd so that the output lands in a file.
constexpr const char16_t* kListMakerDevices = u" /C devcon findall *VID_E7A9* > devicelist.txt";
constexpr const char16_t* kListBrandDevices = u" /C devcon findall *QVA* >> devicelist.txt";
constexpr const char16_t* kListAudioDevices =
    u" /C devcon findall *MMDEVAPI* > audiodevicelist.txt";
constexpr const char16_t* kListDriverPackages =
    u" /C dism /online /get-drivers /format:table > driverlist.txt";
constexpr const char* kDeviceListFile = "devicelist.txt";
constexpr const char* kAudioDeviceListFile = "audiodevicelist.txt";
constexpr const char* kDriverListFile = "driverlist.txt";

// The same listings for the read-only check, into files of its own so that
// the cleanup's listings, the record of its run, stay as they are.
constexpr const char16_t* kCheckListMakerDevices =
    u" /C devcon findall *VID_E7A9* > check-devicelist.txt";
constexpr const char16_t* kCheckListBrandDevices =
    u" /C devcon findall *QVA* >> check-devicelist.txt";
constexpr const char16_t* kCheckListAudioDevices =
    u" /C devcon findall *MMDEVAPI* > check-audiodevicelist.txt";
constexpr const char16_t* kCheckListDriverPackages =
    u" /C dism /online /get-drivers /format:table > check-driverlist.txt";
constexpr const char* kCheckDeviceListFile = "check-devicelist.txt";
constexpr const char* kCheckAudioDeviceListFile = "check-audiodevicelist.txt";
constexpr const char* kCheckDriverListFile = "check-driverlist.txt";

// Reads a listing that this run's command has just written, after the file
// was discarded before it. A file missing afterwards, or an earlier one that
// could not be discarded, is not this run's: cmd worked in another directory,
// as it does when started from a network one. Nothing is read from it then,
// and the report says so.
// A listing that fails part-way is reported too: what it did not reach
// stays on the machine.
template <typename OnLine>
void ReadRunListing(bool discarded, const char* fileName, OnLine onLine) {
  ListingRead read = discarded ? ForEachListingLine(fileName, onLine) : ListingRead::kNotOpened;
  if (read == ListingRead::kNotOpened) {
    PrintLine("\t !!! Listing not found : %s\n", fileName);
  } else if (read == ListingRead::kCutShort) {
    PrintLine("\t !!! Listing cut short : %s\n", fileName);
  }
}

// devcon operations; the instance ID or published name is appended as cut
// from its listing line.
constexpr const char16_t* kRemoveDevice = u" -f remove @";
constexpr const char16_t* kDeleteDriverPackage = u" -f /dp_delete ";
constexpr const char16_t* kRescan = u" rescan ";

// Driver files, deleted by cmd; the wildcard is del's to resolve. /F takes
// read-only files too, and /A with no attributes selects files whatever their
// attributes, hidden and system ones included, which del alone passes over
// (https://learn.microsoft.com/windows-server/administration/windows-commands/del).
// del removes no directory, and without /S looks into none.
constexpr const char16_t* kDeleteDeviceDrivers =
    u" /C del /F /A %WINDIR%\\system32\\drivers\\NkDev_*.sys ";
constexpr const char16_t* kDeleteCommonDriver =
    u" /C del /F /A %WINDIR%\\system32\\drivers\\NkCommon.sys ";

// Cuts a device listing line at the colon devcon writes after the instance
// ID: the first one followed by a blank, since an ID may hold colons (a USB
// serial number) but never a blank. A line without ": " is cut at its first
// colon, unless it is a nameless device's bare ID, whose colons are its own.
// Neither side is trimmed. False for a line without a colon, and for a bare ID.
bool SplitDeviceLine(const WString& line, WString& instanceId, WString& description);

// The characters Windows allows in a device instance ID.
bool IsInstanceIdChar(char16_t c);

// devcon lists a device that has no name as its bare instance ID, without a
// colon: one token of instance-ID characters that holds a backslash.
bool IsBareInstanceId(const WString& line);

// devcon's legacy runtime ends an entry at the first character it cannot
// write, line end included, so the next entry runs onto the same line. Such a
// description holds another instance ID, then its padding, if any, and ": ",
// or ends in one: the bare ID of a device that has no name.
bool HoldsFurtherEntry(const WString& description);

// Only what Windows allows in an instance ID reaches devcon, less what devcon
// reads otherwise: '*' is its wildcard, a quote changes how its parameters
// split, and an ID that begins with '\'', '@' or '=' names something else to
// devcon than to the tree. An empty ID would name the root of the device tree.
// Trailing blanks are column padding and harmless.
bool IsSafeInstanceId(const WString& instanceId);

// What a device phase makes of one entry of its listing.
struct DeviceEntry {
  enum Action {
    kPassOver,  // names no device of ours: no output
    kKeep,      // exempt: its node stays
    kRemove,
    kRefuse,  // cannot be removed safely: reported as failed, devcon never sees it
  };
  Action action = kPassOver;
  WString instanceId;   // as cut from the line, padding included
  WString description;  // as the report shows it
};

// Instances the device tree has confirmed during one phase: their IDs without
// padding, in upper case, as the tree matches them.
using ConfirmedInstances = std::set<WString>;

// What the tree makes of the instance that an entry names: kKeep when its IDs
// there name an exempt product, whatever the line says; kRemove when it holds
// the instance and `holds` accepts what it holds there; otherwise, or when it
// cannot be asked, kRefuse. An instance confirmed earlier in the phase counts
// without asking again: a device that both device listings name is gone after
// its first entry, and its second entry follows the first.
DeviceEntry::Action AskTree(const WString& instanceId, ConfirmedInstances& confirmed,
                            const std::function<bool(const TreeDevice&)>& holds);

// Removes a kRemove entry through devcon, or reports a kRefuse entry as
// failed. "Removed" only when devcon succeeded and the tree says the instance
// is gone: one it cannot be asked about has not been seen to go.
void ActOnDeviceEntry(const DeviceEntry& entry);
