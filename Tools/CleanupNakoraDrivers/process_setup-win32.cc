#include <windows.h>

#include "process_setup.h"

void SetUpProcess() {
  // A DLL planted beside the executable or in the current directory must not
  // be loaded into an elevated process: System32 only.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // No "insert a disk" or "missing DLL" box, here or in the programs we start
  // (they inherit the mode): in an unattended run nobody could close it, and
  // the run would stall instead of failing.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}
