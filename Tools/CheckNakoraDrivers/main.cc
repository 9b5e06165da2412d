// CheckNakoraDrivers: lists what CleanupNakoraDrivers would act on, with the
// cleanup's own listings and decisions, and changes nothing. Takes no
// arguments. Its exit code is the verdict: 0 when none of the driver stack is
// left, 1 when some is, 2 when it could not tell.
#include "machine_check.h"
#include "print_line.h"
#include "process_setup.h"
#include "version.h"

int main(int, char**, char**) {
  SetUpProcess();
  PrintLine(kCheckBannerFormat, kVersionText);
  CheckTally tally;
  CheckDevices(tally);
  CheckAudioDevices(tally);
  CheckDriverPackages(tally);
  CheckDriverFiles(tally);
  CheckInstallerRegistry(tally);
  PrintLine("%s\n", Summary(tally).c_str());
  return Verdict(tally);
}
