// Stands in for cmd where a scenario must see what the program has cmd do:
// it logs each start as the other stand-ins do (see tests/e2e/machine_files.h),
// then hands its command line to the system's cmd in the same directory and
// exits with its code. Laid in the run's directory as cmd.exe, it is the cmd
// that the program's bare "cmd" finds first.
#include "machine_files.h"
#include "system_cmd.h"

int main(int argc, char** argv) {
  LogCall("cmd", argc, argv);
  return RunSystemCmd(ParameterText(argc, argv), false);
}
