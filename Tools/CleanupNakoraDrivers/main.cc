// CleanupNakoraDrivers: removes the Nakora driver stack from this machine, then
// has Windows rescan the hardware. Takes no arguments; every phase reports on
// standard output and none can stop the run.
#include "phases.h"
#include "print_line.h"
#include "process_setup.h"
#include "version.h"

int main(int, char**, char**) {
  SetUpProcess();
  PrintLine(kBannerFormat, kVersionText);
  RemoveDevices();
  RemoveAudioDevices();
  CleanupDriverPackages();
  RemoveDriverFiles();
  CleanupInstallerRegistry();
  RescanDevices();
  PrintLine("Done.\n");
  return 0;
}
