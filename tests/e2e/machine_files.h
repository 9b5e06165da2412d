// The simulated machine as the devcon and dism stand-ins see it: plain files in
// the directory named by NKSIM (a Windows path).
//   calls.log     every start of a stand-in: its name, its parameter text, LF
//   codes.txt     "<operation>\t<exit code or word>" lines; an operation not listed
//                 exits 0
//   drivers.txt   "<published>\t<original>\t<inbox>\t<class>\t<provider>\t<date>\t<version>"
// Device nodes live in the host's own device tree (see device_nodes.h). A
// listing can also be given verbatim, byte for byte (see each stand-in).
#pragma once

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "parameter_text.h"

inline std::string MachinePath(const std::string& name) {
  const char* dir = getenv("NKSIM");
  return std::string(dir ? dir : ".") + "\\" + name;
}

inline bool ReadMachineFile(const std::string& name, std::string& bytes) {
  FILE* file = fopen(MachinePath(name).c_str(), "rb");
  if (!file) return false;
  bytes.clear();
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
  fclose(file);
  return true;
}

inline void WriteMachineFile(const std::string& name, const std::string& bytes, const char* mode) {
  if (FILE* file = fopen(MachinePath(name).c_str(), mode)) {
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
}

// The lines of a machine file, each split at its tabs.
inline std::vector<std::vector<std::string>> ReadRecords(const std::string& name) {
  std::vector<std::vector<std::string>> records;
  std::string bytes;
  if (!ReadMachineFile(name, bytes)) return records;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::vector<std::string> fields;
    for (size_t at = start;;) {
      size_t tab = bytes.find('\t', at);
      if (tab == std::string::npos || tab > end) {
        fields.push_back(bytes.substr(at, end - at));
        break;
      }
      fields.push_back(bytes.substr(at, tab - at));
      at = tab + 1;
    }
    records.push_back(fields);
    start = end + 1;
  }
  return records;
}

inline void WriteRecords(const std::string& name,
                         const std::vector<std::vector<std::string>>& records) {
  std::string bytes;
  for (const auto& fields : records) {
    for (size_t i = 0; i < fields.size(); ++i) bytes += (i ? "\t" : "") + fields[i];
    bytes += '\n';
  }
  WriteMachineFile(name, bytes, "wb");
}

// Logs this start and returns the parameter text as bytes.
inline std::string LogCall(const char* program, int argc, char** argv) {
  std::string text = LogBytes(ParameterText(argc, argv));
  WriteMachineFile("calls.log", program + ("\t" + text) + "\n", "ab");
  return text;
}

// What codes.txt scripts for `operation`: an exit code, or a word some
// operations know; "" when nothing is scripted.
inline std::string ScriptedAction(const std::string& operation) {
  for (const auto& fields : ReadRecords("codes.txt")) {
    if (fields.size() == 2 && fields[0] == operation) return fields[1];
  }
  return "";
}

inline int ScriptedExitCode(const std::string& operation) {
  return static_cast<int>(strtoul(ScriptedAction(operation).c_str(), nullptr, 0));
}

// What the stand-ins print goes out byte for byte, CR LF written where meant.
inline void WriteStdout(const std::string& bytes) {
  _setmode(_fileno(stdout), _O_BINARY);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
}
