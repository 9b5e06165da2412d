// CleanupNakoraDrivers: removes the Nakora driver stack from this machine, then
// has Windows rescan the hardware. Takes no arguments; every phase reports on
// standard output and none can stop the run.
#include "cleanup_sink.h"
#include "print_line.h"
#include "process_setup.h"
#include "version.h"

int main(int, char**, char**) {
  SetUpProcess();
  PrintLine(kBannerFormat, kVersionText);
  CleanupSink cleanup;
  RemoveDevices(cleanup);
  RemoveAudioDevices(cleanup);
  CleanupDriverPackages(cleanup);
  RemoveDriverFiles(cleanup);
  CleanupInstallerRegistry(cleanup);
  RescanDevices();
  PrintLine("Done.\n");
  return 0;
}
