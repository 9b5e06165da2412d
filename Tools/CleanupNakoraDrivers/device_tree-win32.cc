// windows.h first: setupapi.h relies on its types.
#include <windows.h>

#include <setupapi.h>

#include "device_tree.h"

namespace {

// A string property of an open device; empty when it has none.
WString DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[1024] = {};
  // One character short of the buffer: the text stays terminated.
  const DWORD size = static_cast<DWORD>(sizeof(text) - sizeof(text[0]));
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                         reinterpret_cast<BYTE*>(text), size, nullptr) ||
      type != REG_SZ) {
    return WString();
  }
  return reinterpret_cast<const char16_t*>(text);
}

}  // namespace

DevicePresence LookUpDeviceName(const WString& instanceId, WString& name) {
  name.clear();
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
  if (opened) {
    name = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
    if (name.empty()) name = DeviceProperty(set, device, SPDRP_DEVICEDESC);
  }
  SetupDiDestroyDeviceInfoList(set);
  if (opened) return DevicePresence::kPresent;
  return error == static_cast<DWORD>(ERROR_NO_SUCH_DEVINST) ? DevicePresence::kAbsent
                                                            : DevicePresence::kUnknown;
}

DevicePresence LookUpDevice(const WString& instanceId) {
  WString name;
  return LookUpDeviceName(instanceId, name);
}
