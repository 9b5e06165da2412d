#include "phases.h"
#include "print_line.h"
#include "run_command.h"

void RemoveDriverFiles(Sink& sink) {
  sink.Begin(Phase::kDriverFiles);
  for (const char16_t* driverFile : kDriverFiles) {
    if (!sink.DriverFile(driverFile)) return;
  }
}

void RescanDevices() {
  PrintLine("Rescanning...\n");
  RunCommand(kDevcon, kRescan);
}
