#include "fuzz_os.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <string>

#include "device_tree.h"
#include "driver_files.h"
#include "registry.h"
#include "run_command.h"

namespace {

// Runs on the first input, after libFuzzer has read its corpus paths: the
// phases read and write in the current directory and print on standard output,
// neither of which the fuzzer needs.
bool Prepare() {
  char scratch[] = "/tmp/nkfuzz-XXXXXX";
  if (!mkdtemp(scratch) || chdir(scratch) != 0) abort();
  if (!freopen("/dev/null", "w", stdout)) abort();
  return true;
}

}  // namespace

std::vector<RecordedCommand>& Recorded() {
  static std::vector<RecordedCommand> commands;
  return commands;
}

namespace {

void WriteFile(const char* name, const std::string& bytes) {
  FILE* file = fopen(name, "wb");
  if (!file) abort();
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) abort();
  fclose(file);
}

// The input waiting for the listing command that writes it.
std::map<std::string, std::string>& Pending() {
  static std::map<std::string, std::string> pending;
  return pending;
}

}  // namespace

int32_t RunCommand(const WString& program, const WString& parameters) {
  Recorded().push_back({program, parameters});
  if (program != u"cmd") return 0;
  // The phases discard a listing before its command: write it as cmd's ">" would.
  for (const auto& [name, bytes] : Pending()) {
    if (parameters.find(u"> " + Widen(name)) != WString::npos) WriteFile(name.c_str(), bytes);
  }
  return 0;
}

void ReportLaunchFailure() {}

DevicePresence LookUpDevice(const WString&) { return DevicePresence::kAbsent; }

bool FakeTreeHolds(const std::string& instanceId, TreeDevice& device) {
  device = TreeDevice();
  uint32_t hash = 2166136261u;  // FNV-1a
  for (char c : instanceId) {
    hash = (hash ^ static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c)) * 16777619u;
  }
  if (hash % 4 == 0) return false;
  static const char16_t* const kIds[] = {u"USB\\VID_E7A9&PID_0A00", u"hid\\qva_control",
                                         u"USB\\VID_046D&PID_C08B", u"usb\\vid_e7a9&pid_0001"};
  static const char16_t* const kNames[] = {u"Speakers (Nakora)", u"QVA Mic", u"Realtek Audio"};
  device.ids = {kIds[(hash >> 2) % 4], hash & 16 ? u"USB\\Class_03" : u"MMDEVAPI\\AudioEndpoints"};
  device.name = kNames[(hash >> 5) % 3];
  return true;
}

DevicePresence DescribeDevice(const WString& instanceId, TreeDevice& device) {
  std::string id;
  for (char16_t c : instanceId) id += static_cast<char>(c);
  return FakeTreeHolds(id, device) ? DevicePresence::kPresent : DevicePresence::kAbsent;
}

bool IsDeletableDriverFile(const char16_t*) { return false; }

int32_t FindDriverFiles(const char16_t*, std::vector<WString>& names,
                        std::vector<WString>& folders) {
  names.clear();
  folders.clear();
  return kDriverFilesOk;
}

int32_t RegistryOpenKey(const char16_t*, RegistryKey* key) {
  *key = nullptr;
  return kRegistryNotFound;
}
int32_t RegistryOpenKeyToRead(const char16_t*, RegistryKey* key) {
  *key = nullptr;
  return kRegistryNotFound;
}
int32_t RegistryEnumKey(RegistryKey, uint32_t, char16_t*, uint32_t) { return kRegistryNoMoreItems; }
int32_t RegistryDeleteTree(RegistryKey, const char16_t*) { return kRegistryNotFound; }
void RegistryCloseKey(RegistryKey) {}

void WriteListing(const char* name, const uint8_t* data, size_t size) {
  static const bool prepared = Prepare();
  (void)prepared;
  std::string& bytes = Pending()[name];
  bytes.assign(reinterpret_cast<const char*>(data), size);
  WriteFile(name, bytes);
}

std::vector<std::string> OracleLines(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

WString Widen(const std::string& bytes) { return WidenBytes(bytes); }

void Require(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "finding: %s\n", what);
    abort();
  }
}
