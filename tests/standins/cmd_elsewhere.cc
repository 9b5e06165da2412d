// Stands in for cmd started from a network directory, where it cannot work:
// as the real one does there, it works in %SystemRoot% instead. It hands its
// own command line to the system's cmd, started in that directory, and exits
// with its code. Laid in the run's directory as cmd.exe, it is the cmd that
// the program's bare "cmd" finds first under Wine, whose own cmd has no such
// rule.
#include "system_cmd.h"

int main(int argc, char** argv) { return RunSystemCmd(ParameterText(argc, argv), true); }
