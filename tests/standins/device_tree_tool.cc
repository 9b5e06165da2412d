// Lays out, lists and removes device nodes in the host's own device tree for
// the end-to-end harness (tests/e2e/simulated_machine.py):
//   add <file>      creates the nodes the file describes, one a line in UTF-8:
//                   "<instance ID>\t<hardware IDs>\t<compatible IDs>\t
//                   <description>\t<friendly name>", lists split at '|', an
//                   empty name left unset. When any of them already exists it
//                   prints "exists\t<ID>" for each, creates none and exits 2.
//   list            prints every instance ID in the tree, UTF-8, one a line
//   remove <file>   removes the instances named one a line, where present
// In both files "%XX" (two hex digits) stands for the character of that code,
// so that a name can hold a tab, a line feed or any other control character,
// as one a device chose may; '%' itself is "%25".
// Exits 1 when SetupAPI refuses a step.
#include <cstdio>
#include <string>
#include <vector>

#include "device_nodes.h"
#include "machine_files.h"

namespace {

// Any class will do for nodes that no driver serves.
const GUID kUnknownClass = {
    0x4d36e97e, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::wstring Unescaped(const std::wstring& field) {
  std::wstring text;
  for (size_t at = 0; at < field.size(); ++at) {
    if (field[at] == L'%' && at + 2 < field.size() && HexValue(field[at + 1]) >= 0 &&
        HexValue(field[at + 2]) >= 0) {
      text += static_cast<wchar_t>(HexValue(field[at + 1]) * 16 + HexValue(field[at + 2]));
      at += 2;
    } else {
      text += field[at];
    }
  }
  return text;
}

std::vector<std::wstring> SplitList(const std::wstring& text) {
  std::vector<std::wstring> items;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(L'|', at);
    if (end == std::wstring::npos) end = text.size();
    if (end > at) items.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return items;
}

bool ReadFileBytes(const char* path, std::string& bytes) {
  FILE* file = fopen(path, "rb");
  if (!file) return false;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
  fclose(file);
  return true;
}

std::vector<std::vector<std::wstring>> ReadLines(const char* path) {
  std::vector<std::vector<std::wstring>> lines;
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return lines;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::vector<std::wstring> fields;
    std::string line = bytes.substr(start, end - start);
    for (size_t at = 0;;) {
      size_t tab = line.find('\t', at);
      fields.push_back(Unescaped(WidenUtf8(line.substr(at, tab - at))));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (!fields[0].empty()) lines.push_back(fields);
    start = end + 1;
  }
  return lines;
}

bool SetProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, const std::wstring& data) {
  return SetupDiSetDeviceRegistryPropertyW(
             set, &device, property, reinterpret_cast<const BYTE*>(data.c_str()),
             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) != FALSE;
}

int Add(const char* path) {
  auto records = ReadLines(path);
  int existing = 0;
  for (const auto& record : records) {
    if (DeviceNodeExists(record[0])) {
      WriteStdout("exists\t" + NarrowUtf8(record[0]) + "\n");
      ++existing;
    }
  }
  if (existing) return 2;
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return 1;
  int code = 0;
  for (auto record : records) {
    record.resize(5);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    // The step that failed is named: whether Windows takes nodes under
    // enumerators other than ROOT is learnt from this line.
    const char* failed = nullptr;
    if (!SetupDiCreateDeviceInfoW(set, record[0].c_str(), &kUnknownClass, nullptr, nullptr, 0,
                                  &device)) {
      failed = "SetupDiCreateDeviceInfo";
    }
    auto hardwareIds = SplitList(record[1]), compatibleIds = SplitList(record[2]);
    if (!failed && !hardwareIds.empty() &&
        !SetProperty(set, device, SPDRP_HARDWAREID, JoinMultiSz(hardwareIds))) {
      failed = "setting the hardware IDs";
    }
    if (!failed && !compatibleIds.empty() &&
        !SetProperty(set, device, SPDRP_COMPATIBLEIDS, JoinMultiSz(compatibleIds))) {
      failed = "setting the compatible IDs";
    }
    if (!failed && !record[3].empty() && !SetProperty(set, device, SPDRP_DEVICEDESC, record[3])) {
      failed = "setting the description";
    }
    if (!failed && !record[4].empty() && !SetProperty(set, device, SPDRP_FRIENDLYNAME, record[4])) {
      failed = "setting the friendly name";
    }
    if (!failed && !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
      failed = "SetupDiRegisterDeviceInfo";
    }
    if (failed) {
      DWORD error = GetLastError();
      fprintf(stderr, "%s: %s failed, error 0x%08lX\n", NarrowUtf8(record[0]).c_str(), failed,
              error);
      code = 1;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return code;
}

int List() {
  std::string out;
  for (const auto& node : ListDeviceNodes()) out += NarrowUtf8(node.instanceId) + "\n";
  WriteStdout(out);
  return 0;
}

int Remove(const char* path) {
  int code = 0;
  for (const auto& record : ReadLines(path)) {
    if (DeviceNodeExists(record[0]) && !RemoveDeviceNode(record[0])) {
      fprintf(stderr, "%s: error 0x%08lX\n", NarrowUtf8(record[0]).c_str(), GetLastError());
      code = 1;
    }
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "add" && argc == 3) return Add(argv[2]);
  if (command == "list" && argc == 2) return List();
  if (command == "remove" && argc == 3) return Remove(argv[2]);
  fprintf(stderr, "usage: nkdevtree add <file> | list | remove <file>\n");
  return 3;
}
