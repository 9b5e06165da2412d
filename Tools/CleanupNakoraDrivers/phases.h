// The six cleanup phases, run by main in this order, and the decisions they
// take on listing lines and key names.
#pragma once

#include <cstdint>

#include <vector>

#include "listing.h"
#include "registry.h"
#include "tool_commands.h"

void RemoveDevices();             // device nodes of the maker's vendor ID and brand word
void RemoveAudioDevices();        // audio endpoints naming the maker or brand
void CleanupDriverPackages();     // the maker's packages in the driver store
void RemoveDriverFiles();         // kernel driver files
void CleanupInstallerRegistry();  // installer keys under HKLM\Software\Nakora
void RescanDevices();             // hardware rescan, always last

// The product ID after "PID_" at `at`, read as a "%04X" scan would read it;
// 0 when no number is there.
int32_t ReadProductId(const WString& line, size_t at);
bool IsExemptProductId(int32_t productId);
// Whether one of the tree's IDs for a node holds "VID_E7A9&PID_" in any case
// and an exempt product ID after it: such a node stays, whatever its line says.
bool NamesExemptProduct(const TreeDevice& device);
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

// The driver files, as the deletion commands name them in %WINDIR%\system32\drivers.
constexpr const char16_t* kDriverFilePatterns[] = {u"NkDev_*.sys", u"NkCommon.sys"};

// Does an installer subkey's name mark it as a driver installer's?
bool IsInstallerKeyName(const WString& name);
constexpr const char16_t* kInstallerParentKey = u"Software\\Nakora";
// The installer subkeys of an open parent key, in enumeration order. `error`
// is kRegistryOk, or the code that stopped the enumeration before its end.
std::vector<WString> CollectInstallerKeys(RegistryKey parent, int32_t& error);
