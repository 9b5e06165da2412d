#include "driver_files.h"
#include "phases.h"
#include "print_line.h"
#include "run_command.h"
#include "tool_commands.h"

void RemoveDriverFiles() {
  PrintLine("Removing driver files...\n");
  // del reports nothing we could use: missing files are the usual case.
  // The wildcard passes over directories: del matches files only. The named
  // file is handed over only when it is no directory.
  RunCommand(kCmd, kDeleteDeviceDrivers);
  if (IsDeletableDriverFile(kDriverFilePatterns[1])) RunCommand(kCmd, kDeleteCommonDriver);
}

void RescanDevices() {
  PrintLine("Rescanning...\n");
  RunCommand(kDevcon, kRescan);
}
