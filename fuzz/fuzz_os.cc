#include "fuzz_os.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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

int32_t RunCommand(const WString& program, const WString& parameters) {
  Recorded().push_back({program, parameters});
  return 0;
}

void ReportLaunchFailure() {}

DevicePresence LookUpDevice(const WString&) { return DevicePresence::kAbsent; }

int32_t FindDriverFiles(const char16_t*, std::vector<WString>& names) {
  names.clear();
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
  FILE* file = fopen(name, "wb");
  if (!file) abort();
  if (size && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
}

std::vector<std::string> OracleLines(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\x1A'));
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
