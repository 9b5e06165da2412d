// windows.h first: setupapi.h relies on its types.
#include <windows.h>

#include <setupapi.h>
#include <wchar.h>

#include "device_tree.h"

namespace {

// A string or multi-string property of an open device, as its strings; none
// when it has no such property or a longer one than IDs and names can be.
std::vector<WString> DeviceStrings(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[4096] = {};
  // Two characters short of the buffer: the text stays doubly terminated.
  const DWORD size = static_cast<DWORD>(sizeof(text) - 2 * sizeof(text[0]));
  DWORD type = 0;
  std::vector<WString> strings;
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                         reinterpret_cast<BYTE*>(text), size, nullptr) ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    return strings;
  }
  for (const wchar_t* at = text; *at; at += wcslen(at) + 1) {
    strings.push_back(reinterpret_cast<const char16_t*>(at));
    if (type == REG_SZ) break;
  }
  return strings;
}

WString DeviceText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  std::vector<WString> strings = DeviceStrings(set, device, property);
  return strings.empty() ? WString() : strings[0];
}

}  // namespace

DevicePresence DescribeDevice(const WString& instanceId, TreeDevice& found) {
  found = TreeDevice();
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
    found.name = DeviceText(set, device, SPDRP_FRIENDLYNAME);
    if (found.name.empty()) found.name = DeviceText(set, device, SPDRP_DEVICEDESC);
    found.ids = DeviceStrings(set, device, SPDRP_HARDWAREID);
    for (WString& id : DeviceStrings(set, device, SPDRP_COMPATIBLEIDS)) found.ids.push_back(id);
  }
  SetupDiDestroyDeviceInfoList(set);
  if (opened) return DevicePresence::kPresent;
  return error == static_cast<DWORD>(ERROR_NO_SUCH_DEVINST) ? DevicePresence::kAbsent
                                                            : DevicePresence::kUnknown;
}

DevicePresence LookUpDevice(const WString& instanceId) {
  TreeDevice device;
  return DescribeDevice(instanceId, device);
}
