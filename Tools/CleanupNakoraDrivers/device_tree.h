// Asking the device tree about an instance. A listing only nominates: devcon
// prints whatever name a device gave itself, so the tree confirms an entry
// before anything acts on it, and has the last word on whether a removal was
// done, since devcon's exit code does not tell.
#pragma once

#include <vector>

#include "text.h"

enum class DevicePresence {
  kPresent,
  kAbsent,
  kUnknown,  // the tree could not be asked
};

// What the tree holds of an instance.
struct TreeDevice {
  WString name;              // friendly name, else description; empty when neither
  std::vector<WString> ids;  // hardware IDs, then compatible IDs
};

// `instanceId` without column padding; matched as the system does, in any case.
DevicePresence LookUpDevice(const WString& instanceId);

// The same, and when the instance is there, what the tree holds of it.
DevicePresence DescribeDevice(const WString& instanceId, TreeDevice& device);
