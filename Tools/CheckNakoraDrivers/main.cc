// CheckNakoraDrivers: lists what CleanupNakoraDrivers would act on, with the
// cleanup's own phases and a sink that changes nothing. Takes no arguments.
// Its exit code is the verdict: 0 when none of the driver stack is left, 1
// when some is, 2 when it could not tell.
#include "check_sink.h"
#include "print_line.h"
#include "process_setup.h"
#include "version.h"

int main(int, char**, char**) {
  SetUpProcess();
  PrintLine(kCheckBannerFormat, kVersionText);
  CheckSink check;
  RemoveDevices(check);
  RemoveAudioDevices(check);
  CleanupDriverPackages(check);
  RemoveDriverFiles(check);
  CleanupInstallerRegistry(check);
  PrintLine("%s\n", Summary(check.tally).c_str());
  return Verdict(check.tally);
}
