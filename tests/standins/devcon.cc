// Stands in for devcon on a simulated machine whose device nodes are the
// host's own (device_nodes.h) and whose driver packages are drivers.txt (see
// tests/e2e/machine_files.h). It behaves as devcon was measured to:
//   findall <pattern>      lists the nodes a hardware or compatible ID of
//                          which matches; verbatim from "findall <pattern
//                          without *>.txt" instead when that file exists
//   -f remove @<id>        removes the node as scripted for "remove <id>":
//                          nothing (removed), "fail" (devcon says so and still
//                          exits 0), an exit code (the node stays; 1 is devcon's
//                          "restart needed"), or "hang" (waits for a file
//                          "release", then exits 0 with the node still there)
//   -f /dp_delete <name>   forgets the driver package, or exits with the code
//                          scripted for "dp_delete <name>"
//   rescan                 exits with the code scripted for "rescan"
// Each says what devcon says, failures on stderr under the name it was started
// by. The parameter text is split into arguments as Windows programs do; an
// unknown operation exits 3, as devcon's syntax error does.
// device_nodes.h brings windows.h, which shellapi.h needs before it.
#include "device_nodes.h"
#include "machine_files.h"

#include <shellapi.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

std::string startedAs = "devcon";  // as its failures name it

// devcon's patterns: '*' for any run of characters, letters in either case.
bool Matches(const wchar_t* pattern, const wchar_t* text) {
  if (*pattern == L'*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  if (!*pattern) return !*text;
  return *text && towupper(*pattern) == towupper(*text) && Matches(pattern + 1, text + 1);
}

bool AnyMatches(const std::wstring& pattern, const std::vector<std::wstring>& ids) {
  for (const auto& id : ids) {
    if (Matches(pattern.c_str(), id.c_str())) return true;
  }
  return false;
}

std::wstring Padded(const std::wstring& instanceId) {
  return instanceId.size() < 60 ? instanceId + std::wstring(60 - instanceId.size(), L' ')
                                : instanceId;
}

// The "C" locale's output of the legacy runtime, through a text-mode stream:
// every line feed goes out as CR LF, one in a name as much as the one ending
// the entry, other control characters as they are; a character above U+00FF
// ends the entry where it stands, line end and all.
std::string LegacyOutput(const std::wstring& entry) {
  std::string out;
  for (wchar_t c : entry) {
    if (c > 0xFF) break;
    if (c == L'\n') out += '\r';
    out += static_cast<char>(c);
  }
  return out;
}

int FindAll(const std::wstring& pattern) {
  std::string name = "findall ";
  for (char c : LogBytes(pattern)) {
    if (c != '*') name += c;
  }
  std::string listing;
  if (!ReadMachineFile(name + ".txt", listing)) {
    int found = 0;
    for (const auto& node : ListDeviceNodes()) {
      if (!AnyMatches(pattern, node.hardwareIds) && !AnyMatches(pattern, node.compatibleIds)) {
        continue;
      }
      std::wstring entry = node.instanceId;
      if (node.hasFriendlyName || node.hasDescription) {
        entry =
            Padded(entry) + L": " + (node.hasFriendlyName ? node.friendlyName : node.description);
      }
      listing += LegacyOutput(entry + L"\n");
      ++found;
    }
    listing += found ? std::to_string(found) + " matching device(s) found.\r\n"
                     : "No matching devices found.\r\n";
  }
  WriteStdout(listing);
  return ScriptedExitCode("findall " + LogBytes(pattern));
}

void Hang() {
  WriteMachineFile("hanging", "", "wb");
  std::string ignored;
  for (int waited = 0; waited < 600 && !ReadMachineFile("release", ignored); ++waited) Sleep(100);
  DeleteFileA(MachinePath("hanging").c_str());
}

int Remove(const std::wstring& instanceId) {
  std::string action = ScriptedAction("remove " + LogBytes(instanceId));
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVINFO_DATA device;
  bool found = set != INVALID_HANDLE_VALUE && OpenDeviceNode(set, instanceId, device);
  std::wstring shown = instanceId;
  if (found) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN + 1, nullptr)) shown = id;
  }
  std::string said = "No devices were removed.\r\n";
  int code = 0;
  if (found && action == "hang") {
    Hang();
    said = "";
  } else if (found && (action.empty() || action == "fail")) {
    if (action.empty() && SetupDiRemoveDevice(set, &device)) {
      said = LegacyOutput(Padded(shown) + L": Removed\n") + "1 device(s) were removed.\r\n";
    } else {
      said = LegacyOutput(Padded(shown) + L": Remove failed\n") + said;
    }
  } else if (found) {
    code = static_cast<int>(strtoul(action.c_str(), nullptr, 0));
    said = "";
  }
  if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  WriteStdout(said);
  return code;
}

int DeleteDriverPackage(const std::wstring& path) {
  std::string name = LogBytes(path.substr(path.find_last_of(L"\\/") + 1));
  int code = ScriptedExitCode("dp_delete " + name);
  if (code != 0) {
    WriteStdout("Deleting the specified driver package from the machine failed.\r\n");
    fputs((startedAs + ": command dp_delete failed\n").c_str(), stderr);
    return code;
  }
  auto records = ReadRecords("drivers.txt");
  std::vector<std::vector<std::string>> kept;
  for (const auto& record : records) {
    if (record[0] != name) kept.push_back(record);
  }
  if (kept.size() != records.size()) WriteRecords("drivers.txt", kept);
  WriteStdout("Driver package '" + name + "' deleted.\r\n");
  return 0;
}

int Rescan() {
  int code = ScriptedExitCode("rescan");
  if (code == 0) {
    WriteStdout("Scanning for new hardware.\r\nScanning completed.\r\n");
  } else {
    fputs((startedAs + ": command rescan failed\n").c_str(), stderr);
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  LogCall("devcon", argc, argv);
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (count > 0) startedAs = LogBytes(words[0]);
  std::vector<std::wstring> args(words + (count > 0 ? 1 : 0), words + count);
  LocalFree(words);
  if (!args.empty() && args[0] == L"-f") args.erase(args.begin());  // forces nothing here
  if (args.empty()) return 3;
  std::wstring operation = args[0];
  if (!operation.empty() && operation[0] == L'/') operation.erase(0, 1);
  if (operation == L"findall" && args.size() == 2) return FindAll(args[1]);
  if (operation == L"remove" && args.size() == 2 && args[1][0] == L'@') {
    return Remove(args[1].substr(1));
  }
  if (operation == L"dp_delete" && args.size() == 2) return DeleteDriverPackage(args[1]);
  if (operation == L"rescan" && args.size() == 1) return Rescan();
  return 3;
}
