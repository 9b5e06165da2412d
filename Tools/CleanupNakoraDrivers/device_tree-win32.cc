// windows.h first: setupapi.h relies on its types.
#include <windows.h>

#include <setupapi.h>

#include "device_tree.h"

DevicePresence LookUpDevice(const WString& instanceId) {
  // An empty ID would open the root of the tree, which is always there.
  if (instanceId.empty()) return DevicePresence::kUnknown;
  // A fresh list each time: an instance opened into an older list could stay
  // listed there after its removal. CM_Locate_DevNodeW would do as well on
  // Windows but is a stub under Wine.
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return DevicePresence::kUnknown;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  BOOL opened = SetupDiOpenDeviceInfoW(set, reinterpret_cast<LPCWSTR>(instanceId.c_str()), nullptr,
                                       0, &device);
  DWORD error = GetLastError();
  SetupDiDestroyDeviceInfoList(set);
  if (opened) return DevicePresence::kPresent;
  return error == static_cast<DWORD>(ERROR_NO_SUCH_DEVINST) ? DevicePresence::kAbsent
                                                            : DevicePresence::kUnknown;
}
