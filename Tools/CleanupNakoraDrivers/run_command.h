// Starting outside programs: hidden, one whole parameter string, waited for
// without limit.
#pragma once

#include <cstdint>

#include "text.h"

// Returns the program's exit code (a code at or above 2^31 reads negative), or
// -1 when it could not be started or the name started no program, after
// reporting why.
int32_t RunCommand(const WString& program, const WString& parameters);

// Prints the launch-failure line for the last error of this thread; call it
// straight after the failed launch.
void ReportLaunchFailure();

// The launch-failure line, shared by both platforms.
constexpr const char* kLaunchFailureFormat = "\t %s Error Code %d: %S\n";
constexpr const char* kLaunchFailurePrefix = "\t Failed to launch process";
// The launch "succeeded" but gave no process: there is no error code to show.
constexpr const char* kNoProcessFormat = "\t %s: no program was started for %S\n";
