// Asking the device tree whether an instance is there: devcon's exit code
// does not tell a failed removal from a done one, so the tree has the last word.
#pragma once

#include "listing.h"

enum class DevicePresence {
  kPresent,
  kAbsent,
  kUnknown,  // the tree could not be asked
};

// `instanceId` without column padding; matched as the system does, in any case.
DevicePresence LookUpDevice(const WString& instanceId);

// The same, and when the instance is there, its name as the tree holds it:
// its friendly name, else its description (empty when it has neither).
DevicePresence LookUpDeviceName(const WString& instanceId, WString& name);
