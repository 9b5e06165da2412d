#include "process_setup.h"

// Nothing on POSIX: there is no error box to suppress, and the loader never
// looks in the current directory.
void SetUpProcess() {}
