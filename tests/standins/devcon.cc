// Stands in for devcon on a simulated machine (see tests/e2e/machine_files.h):
//   findall <pattern>      lists matching devices as devcon does; the listing
//                          comes verbatim from "findall <pattern without *>.txt"
//                          when that file exists
//   -f remove @<id>        forgets the device on success
//   -f /dp_delete <name>   forgets the driver package on success
//   rescan
// Each exits with its scripted code ("findall <pattern>", "remove <id>",
// "dp_delete <name>", "rescan"); an unknown operation exits 3, as devcon's
// syntax error does.
#include <cctype>
#include <cstdio>
#include <string>

#include "machine_files.h"

namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// devcon's patterns: '*' for any run of characters, letters in either case.
bool Matches(const char* pattern, const char* text) {
  if (*pattern == '*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  if (!*pattern) return !*text;
  return *text &&
         toupper(static_cast<unsigned char>(*pattern)) ==
             toupper(static_cast<unsigned char>(*text)) &&
         Matches(pattern + 1, text + 1);
}

int FindAll(const std::string& pattern) {
  std::string name = "findall ";
  for (char c : pattern) {
    if (c != '*') name += c;
  }
  std::string listing;
  if (!ReadMachineFile(name + ".txt", listing)) {
    int found = 0;
    for (const auto& device : ReadRecords("devices.txt")) {
      if (!Matches(pattern.c_str(), device[0].c_str())) continue;
      char id[512];
      snprintf(id, sizeof id, "%-60s: ", device[0].c_str());
      listing += id + (device.size() > 1 ? device[1] : "") + "\r\n";
      ++found;
    }
    listing += found ? std::to_string(found) + " matching device(s) found.\r\n"
                     : "No matching devices found.\r\n";
  }
  WriteStdout(listing);
  return ScriptedExitCode("findall " + pattern);
}

// On success the machine no longer has the item: drops the records whose
// first field is `key`.
int Forget(const std::string& file, const std::string& operation, const std::string& key) {
  int code = ScriptedExitCode(operation + " " + key);
  if (code == 0) {
    auto records = ReadRecords(file);
    std::vector<std::vector<std::string>> kept;
    for (const auto& record : records) {
      if (record[0] != key) kept.push_back(record);
    }
    if (kept.size() != records.size()) WriteRecords(file, kept);
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::string text = LogCall("devcon", argc, argv);
  std::string trimmed = Trim(text);
  if (trimmed.rfind("findall ", 0) == 0) return FindAll(Trim(trimmed.substr(8)));
  if (trimmed.rfind("-f remove @", 0) == 0) {
    // devcon splits at blanks, so the ID's column padding never reaches it.
    return Forget("devices.txt", "remove", trimmed.substr(11));
  }
  if (trimmed.rfind("-f /dp_delete ", 0) == 0) {
    return Forget("drivers.txt", "dp_delete", Trim(trimmed.substr(14)));
  }
  if (trimmed == "rescan") return ScriptedExitCode("rescan");
  return 3;
}
