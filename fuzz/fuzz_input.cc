#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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

void StartInput(const char* name, const uint8_t* data, size_t size) {
  static const bool prepared = Prepare();
  (void)prepared;
  Fake() = FakeOs();
  Fake().describe = [](const WString& instanceId, TreeDevice& device) {
    return FakeTreeHolds(N(instanceId), device);
  };
  std::string& bytes = Fake().listings[name];
  bytes.assign(reinterpret_cast<const char*>(data), size);
  FILE* file = fopen(name, "wb");
  if (!file) abort();
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) abort();
  fclose(file);
}

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

void Require(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "finding: %s\n", what);
    abort();
  }
}
