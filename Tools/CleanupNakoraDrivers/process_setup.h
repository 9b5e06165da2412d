// What every run does to its own process before anything else: settings that
// an unattended run needs and that programs it starts inherit.
#pragma once

// Call first in main, before any output or any program is started.
void SetUpProcess();
