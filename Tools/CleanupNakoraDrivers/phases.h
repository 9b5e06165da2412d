// The phases both programs run, in this order, and the decisions they take on
// listing lines and key names. Each phase lists what is there, judges it, and
// hands the outcome to a sink: the cleanup's acts on it and reports, the
// check's reports it and counts, and changes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "device_tree.h"
#include "listing.h"
#include "registry.h"
#include "text.h"
#include "tool_commands.h"

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

enum class Phase { kDevices, kAudioDevices, kDriverPackages, kDriverFiles, kInstallerRegistry };

class Sink {
 public:
  virtual ~Sink() = default;
  // The phase's heading.
  virtual void Begin(Phase phase) = 0;
  // What the listing's commands came to; false when it is not to be read.
  virtual bool ListingMade(const MadeListing& made) = 0;
  // How reading it went: what a failed read did not reach stays unjudged.
  virtual void ListingEnded(const MadeListing& made, ListingRead read) = 0;
  virtual void Device(const DeviceEntry& entry) = 0;
  virtual void DriverPackage(const WString& published, const WString& original) = 0;
  // One of kDriverFiles; false when the phase can go no further.
  virtual bool DriverFile(const char16_t* driverFile) = 0;
  virtual int32_t OpenInstallerParent(RegistryKey* parent) = 0;
  virtual void InstallerParentNotOpened(int32_t error) = 0;
  virtual void InstallerKey(RegistryKey parent, const WString& name) = 0;
  // The keys after the point where enumeration stopped may be installers'.
  virtual void InstallerKeysCutShort(int32_t error) = 0;

  // The sink's listings: their files' prefix, and whether a listing whose
  // later command failed can be read (see MakeListing).
  const char* listingPrefix = "";
  bool stopListingAtFailure = false;
};

void RemoveDevices(Sink& sink);             // device nodes of the maker's vendor ID and brand word
void RemoveAudioDevices(Sink& sink);        // audio endpoints naming the maker or brand
void CleanupDriverPackages(Sink& sink);     // the maker's packages in the driver store
void RemoveDriverFiles(Sink& sink);         // kernel driver files
void CleanupInstallerRegistry(Sink& sink);  // installer keys under HKLM\Software\Nakora
void RescanDevices();                       // the cleanup's hardware rescan, always last

// Makes the phase's listing for the sink and, when the sink takes it, hands
// each of its lines to `onLine`.
template <typename OnLine>
void ReadPhaseListing(Sink& sink, const Listing& listing, OnLine onLine) {
  MadeListing made = MakeListing(listing, sink.listingPrefix, sink.stopListingAtFailure);
  if (!sink.ListingMade(made)) return;
  sink.ListingEnded(made, ForEachListingLine(made.file.c_str(), onLine));
}

// The product ID after "PID_" at `at`, read as a "%04X" scan would read it;
// 0 when no number is there.
int32_t ReadProductId(const WString& line, size_t at);
bool IsExemptProductId(int32_t productId);
// Whether one of the tree's IDs for a node holds "VID_E7A9&PID_" in any case
// and an exempt product ID after it: such a node stays, whatever its line says.
bool NamesExemptProduct(const TreeDevice& device);

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

// What the device phase does with one line of its listing. An entry is
// removed only when the tree confirms it: it holds the instance, with a
// hardware or compatible ID that the listings' patterns match, and none that
// names an exempt product.
DeviceEntry JudgeDeviceLine(const WString& line, ConfirmedInstances& confirmed);

// Does an audio endpoint line name the maker or its audio brand?
bool HasEndpointWord(const WString& line);
// The endpoint entries of one line of the endpoint listing that the audio
// phase acts on, in line order; run-together entries each get their own. An
// entry is removed only when its ID is an endpoint's and the tree confirms it:
// it holds the instance, with a hardware ID holding "MMDEVAPI", none that
// names an exempt product, and a name holding an endpoint word that the
// entry's text holds.
void JudgeEndpointLine(const WString& line, ConfirmedInstances& confirmed,
                       std::vector<DeviceEntry>& entries);

// Does a driver package's provider name the maker, its brand or its chip maker?
bool HasProviderWord(const WString& provider);
// Does an original INF file name belong to the maker?
bool IsVendorInfName(const WString& infName);
extern const WString VendorInfNames[4];

// Is a driver table line one of the maker's packages? Gives its published and
// original file names when it is.
bool JudgeDriverTableLine(const WString& line, WString& published, WString& original);

// Does an installer subkey's name mark it as a driver installer's?
bool IsInstallerKeyName(const WString& name);
constexpr const char16_t* kInstallerParentKey = u"Software\\Nakora";
// The installer subkeys of an open parent key, in enumeration order. `error`
// is kRegistryOk, or the code that stopped the enumeration before its end.
std::vector<WString> CollectInstallerKeys(RegistryKey parent, int32_t& error);
