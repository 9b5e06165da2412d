// Stands in for dism on a simulated machine (see tests/e2e/machine_files.h):
// "/online /get-drivers /format:table" prints the driver table built from
// drivers.txt, or "dism table.txt" verbatim when that file exists, and exits
// with the code scripted for "get-drivers". Anything else exits 87, as dism
// does for a bad argument.
#include <algorithm>
#include <string>
#include <vector>

#include "machine_files.h"

namespace {

std::string DriverTable() {
  std::vector<std::vector<std::string>> rows = {{"Published Name", "Original File Name", "Inbox",
                                                 "Class Name", "Provider Name", "Date", "Version"}};
  for (const auto& record : ReadRecords("drivers.txt")) rows.push_back(record);
  for (auto& row : rows) row.resize(7);
  size_t width[7] = {};
  for (const auto& row : rows) {
    for (size_t i = 0; i < 7; ++i) width[i] = std::max(width[i], row[i].size());
  }
  auto line = [&](const std::vector<std::string>& row) {
    std::string out;
    for (size_t i = 0; i < 7; ++i) {
      out += row[i];
      if (i < 6) out += std::string(width[i] - row[i].size(), ' ') + " | ";
    }
    return out + "\r\n";
  };
  std::string rule;
  for (size_t i = 0; i < 7; ++i) rule += std::string(width[i], '-') + (i < 6 ? " | " : "\r\n");

  std::string table =
      "\r\nDeployment Image Servicing and Management tool\r\nVersion: 10.0.19041.3636\r\n\r\n"
      "Image Version: 10.0.19045.4046\r\n\r\n"
      "Obtaining list of 3rd party drivers from the driver store...\r\n\r\n"
      "Driver packages listing:\r\n\r\n";
  table += line(rows[0]) + rule;
  for (size_t i = 1; i < rows.size(); ++i) table += line(rows[i]);
  return table + "\r\nThe operation completed successfully.\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string text = LogCall("dism", argc, argv);
  if (text.find("/get-drivers") == std::string::npos) return 87;
  std::string table;
  if (!ReadMachineFile("dism table.txt", table)) table = DriverTable();
  WriteStdout(table);
  return ScriptedExitCode("get-drivers");
}
