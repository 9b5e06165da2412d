// The host's own device tree, read and changed through SetupAPI, for the devcon
// stand-in and the harness's device tool. Wine keeps it in its prefix's
// registry and reports instance IDs in upper case.
#pragma once

// windows.h first: setupapi.h relies on its types.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>
#include <vector>

struct DeviceNode {
  std::wstring instanceId;
  std::vector<std::wstring> hardwareIds;
  std::vector<std::wstring> compatibleIds;
  bool hasDescription = false;
  std::wstring description;
  bool hasFriendlyName = false;
  std::wstring friendlyName;
};

inline std::wstring WidenUtf8(const std::string& text) {
  if (text.empty()) return L"";
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

inline std::string NarrowUtf8(const std::wstring& text) {
  if (text.empty()) return "";
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n,
                      nullptr, nullptr);
  return narrow;
}

// The property's data as wide characters, up to its terminating NUL (or, for
// a REG_MULTI_SZ, up to the NUL that ends the list); false when it is not set.
inline bool ReadDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property,
                               std::wstring& value) {
  DWORD size = 0;
  SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()), size, nullptr)) {
    return false;
  }
  value.assign(buffer.data(), buffer.size() - 2);
  return true;
}

inline std::vector<std::wstring> SplitMultiSz(const std::wstring& data) {
  std::vector<std::wstring> items;
  for (size_t at = 0; at < data.size() && data[at];) {
    size_t end = data.find(L'\0', at);
    if (end == std::wstring::npos) end = data.size();
    items.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  return items;
}

inline std::wstring JoinMultiSz(const std::vector<std::wstring>& items) {
  std::wstring data;
  for (const auto& item : items) data += item + L'\0';
  return data + L'\0';
}

// Every device node, present or not, in the tree's own order.
inline std::vector<DeviceNode> ListDeviceNodes() {
  std::vector<DeviceNode> nodes;
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return nodes;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN + 1, nullptr)) continue;
    DeviceNode node;
    node.instanceId = id;
    std::wstring data;
    if (ReadDeviceProperty(set, device, SPDRP_HARDWAREID, data)) {
      node.hardwareIds = SplitMultiSz(data);
    }
    if (ReadDeviceProperty(set, device, SPDRP_COMPATIBLEIDS, data)) {
      node.compatibleIds = SplitMultiSz(data);
    }
    node.hasDescription = ReadDeviceProperty(set, device, SPDRP_DEVICEDESC, data);
    if (node.hasDescription) node.description = data.c_str();
    node.hasFriendlyName = ReadDeviceProperty(set, device, SPDRP_FRIENDLYNAME, data);
    if (node.hasFriendlyName) node.friendlyName = data.c_str();
    nodes.push_back(node);
  }
  SetupDiDestroyDeviceInfoList(set);
  return nodes;
}

// Opens one instance, present or not, into `set`; the ID's case does not matter.
inline bool OpenDeviceNode(HDEVINFO set, const std::wstring& instanceId, SP_DEVINFO_DATA& device) {
  device = {};
  device.cbSize = sizeof device;
  return SetupDiOpenDeviceInfoW(set, instanceId.c_str(), nullptr, 0, &device) != FALSE;
}

// Removes one instance; false when there is none or it stays.
inline bool RemoveDeviceNode(const std::wstring& instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device;
  bool removed = OpenDeviceNode(set, instanceId, device) && SetupDiRemoveDevice(set, &device);
  SetupDiDestroyDeviceInfoList(set);
  return removed;
}

inline bool DeviceNodeExists(const std::wstring& instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device;
  bool exists = OpenDeviceNode(set, instanceId, device);
  SetupDiDestroyDeviceInfoList(set);
  return exists;
}
